// The controller model wired into its emulated slave: mailbox handlers per AL state, process data
// rules, firmware received in BOOT, and what a power cycle keeps.
#include "controller/motorcontroller.h"
#include "pdo/fmmucoverage.h"

#include <utility>

namespace sim {

namespace cl = controller_layout;

std::shared_ptr<MotorController> MotorController::addTo(Chain& chain, ControllerModel model,
    const std::string& firmwareVersion, std::uint32_t serialBase)
{
    auto controller = std::make_shared<MotorController>(model, firmwareVersion);
    controller->serial_ = serialBase + std::uint32_t(chain.size() + 1);
    Slave& slave = chain.add(Slave(controllerSii(model, controller->serial_)));
    controller->attach(slave, controller);
    return controller;
}

MotorController::MotorController(ControllerModel model, const std::string& firmwareVersion)
    : model_(model)
    , info_(modelInfo(model))
    , interpreter_(std::make_shared<CommandInterpreter>(firmwareVersion))
    , commands_(std::make_shared<CommandMailbox>(interpreter_))
    , foe_(std::make_shared<FoeServer>(
          FoeServer::Mailboxes{cl::BootMailboxSize, cl::BootMailboxSize}))
{}

void MotorController::attach(Slave& slave, const std::shared_ptr<MotorController>& self)
{
    slave_ = &slave;
    slave.mailbox().setHandler(commands_, {AlState::PreOp, AlState::SafeOp, AlState::Op});
    setBootHandler(foe_);

    const std::string accepted = info_.firmwareFile;
    foe_->setWriteAcceptor([accepted](const std::string& fileName, std::uint32_t) {
        return fileName == accepted ? FoeVerdict::accept()
                                    : FoeVerdict::refuse(foe_error::NotFound, "File not found");
    });
    // weak: the FoE server belongs to the controller and must not keep it alive
    std::weak_ptr<MotorController> weak = self;
    foe_->setWriteCompletion([weak](const std::string&, const std::vector<std::uint8_t>& file) {
        if (auto controller = weak.lock())
            controller->installFirmware(file);
    });

    // the slave's hooks keep the controller alive for as long as the slave exists
    SlaveHooks& hooks = slave.hooks();
    // like the real modules, refuse SAFE-OP unless the FMMUs reach the process data SyncManagers
    hooks.checkTransition = pdo::withFmmuCoverage(standardProcessDataRules());
    hooks.stateChanged
        = [self](Slave&, AlState from, AlState to) { self->onStateChanged(from, to); };
    hooks.afterFrame = [self](Slave&) { self->afterFrame(); };
    hooks.powerCycled = [self](Slave&) { self->onPowerCycle(); };
}

void MotorController::setBootHandler(std::shared_ptr<MailboxHandler> handler)
{
    slave_->mailbox().setHandler(std::move(handler), {AlState::Boot});
}

void MotorController::installFirmware(std::vector<std::uint8_t> image)
{
    interpreter_->firmware().install(std::move(image));
    if (applicationLost_) {
        applicationLost_ = false;
        slave_->alFaults().refuse.reset();
    }
}

void MotorController::loseApplication()
{
    interpreter_->firmware().erase();
    applicationLost_ = true;
    slave_->alFaults().refuse = AlState::PreOp;
    slave_->alFaults().refuseCode = alcode::NoValidFirmware;
}

const std::vector<std::uint8_t>& MotorController::receivedImage() const
{
    return interpreter_->firmware().receivedImage();
}

void MotorController::powerCycle()
{
    slave_->powerCycle();
}

void MotorController::onPowerCycle()
{
    interpreter_->powerCycle();
    foe_->reset();
}

void MotorController::onStateChanged(AlState from, AlState to)
{
    // a transfer broken off by leaving BOOT is not resumed
    if (from == AlState::Boot)
        foe_->reset();
    const bool bootSwitch = (from == AlState::Init && to == AlState::Boot)
        || (from == AlState::Boot && to == AlState::Init);
    if (bootSwitch && faults_.restartUs > 0)
        slave_->goOffline(slave_->lastFrameUs() + faults_.restartUs);
    if (to == AlState::PreOp && std::exchange(faults_.staleEmergency, false))
        slave_->mailbox().post(CommandMailbox::emergency());
}

// Power fails between frames, never inside one: what the frame did stands.
void MotorController::afterFrame()
{
    const std::size_t room = cl::BootMailboxSize - kFoeOverhead;
    if (faults_.powerLossAtByte > 0 && foe_->transferInProgress()
        && std::size_t(foe_->packetsReceived()) * room >= faults_.powerLossAtByte) {
        faults_.powerLossAtByte = 0;
        loseApplication();
        slave_->powerCycle();
        return;
    }
    if (commands_->takePowerLoss()) {
        slave_->powerCycle();
        return;
    }
    updateInputs();
}

// Inputs as the controller reports them: the position it holds, the velocity it was told, and
// its error flags as status word.
void MotorController::updateInputs()
{
    // In place, without copies: this runs for every controller after every frame.
    std::size_t outputLength = 0;
    const std::uint8_t* outputs = slave_->outputData(2, outputLength);
    const std::uint32_t velocity = outputLength >= 4 ? getLe32(outputs) : 0;
    std::uint8_t inputs[cl::InputBytes] = {};
    putLe32(&inputs[0], interpreter_->parameters().axis(209));
    putLe32(&inputs[4], velocity);
    putLe16(&inputs[8], std::uint16_t(interpreter_->errorFlags()));
    slave_->setInputs(3, inputs, sizeof inputs);
}

} // namespace sim
