// One motor controller on the virtual bus: the device model behind an emulated slave. It answers
// the command mailbox in PRE-OP, SAFE-OP and OP, serves FoE through the bootstrap mailbox in BOOT
// (taking only its own model's firmware file), keeps process data moving, and survives power
// cycles as a real controller does.
//
//   sim::Chain chain;
//   auto axis = sim::MotorController::addTo(chain, sim::ControllerModel::Tmcm1610);
//   axis->interpreter().setErrorFlags(0x0C01);
//   sim::CommandFaults silent;
//   silent.noReply = true;
//   axis->commands().setFaults(silent);
//
// The controller lives as long as its slave (the slave's hooks hold it); the slave lives in the
// chain, so the controller's slave() must not be used after the chain is gone.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "controller/commandinterpreter.h"
#include "controller/commandmailbox.h"
#include "controller/controllermodel.h"
#include "core/chain.h"
#include "foe/foeserver.h"

namespace sim {

// Faults of the controller as a whole, in force until cleared.
struct ControllerFaults
{
    // Power fails once this many bytes of an image have arrived in BOOT (0: never). The download
    // is lost, and the bootloader finds no application: the controller refuses PRE-OP with AL
    // status 0x0014 (and so answers no command) until a complete image is written.
    std::size_t powerLossAtByte = 0;
    // After INIT->BOOT and after BOOT->INIT the controller restarts: it is off the bus for this
    // long (µs of bus time) and comes back with its station address cleared.
    std::uint64_t restartUs = 0;
    // The next PRE-OP finds a stale emergency waiting in the read mailbox.
    bool staleEmergency = false;
};

class MotorController
{
public:
    // Appends a slave of `model` to `chain`, with the controller model attached. Its EEPROM holds
    // the serial number `serialBase` + its bus position, as a maker numbers its modules.
    static std::shared_ptr<MotorController> addTo(Chain& chain, ControllerModel model,
        const std::string& firmwareVersion = "1.48", std::uint32_t serialBase = 250000);

    MotorController(ControllerModel model, const std::string& firmwareVersion);

    ControllerModel model() const { return model_; }
    const ModelInfo& info() const { return info_; }
    // The serial number its EEPROM holds.
    std::uint32_t serial() const { return serial_; }
    Slave& slave() { return *slave_; }

    CommandInterpreter& interpreter() { return *interpreter_; }
    CommandMailbox& commands() { return *commands_; }
    FoeServer& foe() { return *foe_; }

    // Replaces what answers the bootstrap mailbox in BOOT (by default the FoE server).
    void setBootHandler(std::shared_ptr<MailboxHandler> handler);

    // Keeps an image as received; its version runs after the next power cycle.
    void installFirmware(std::vector<std::uint8_t> image);
    const std::vector<std::uint8_t>& receivedImage() const;
    std::string firmwareVersion() const { return interpreter_->firmware().version(); }

    ControllerFaults& faults() { return faults_; }

    // Power off and on: the slave back to INIT, stored parameters back, password forgotten,
    // received firmware running.
    void powerCycle();

private:
    void attach(Slave& slave, const std::shared_ptr<MotorController>& self);
    void onPowerCycle();
    void onStateChanged(AlState from, AlState to);
    void updateInputs();
    void afterFrame();
    void loseApplication();

    ControllerModel model_;
    ModelInfo info_;
    std::uint32_t serial_ = 0;
    Slave* slave_ = nullptr;
    std::shared_ptr<CommandInterpreter> interpreter_;
    std::shared_ptr<CommandMailbox> commands_;
    std::shared_ptr<FoeServer> foe_;
    ControllerFaults faults_;
    bool applicationLost_ = false;
};

} // namespace sim
