// The controller's side of the command mailbox: it takes one 8-byte request and answers it from
// the controller's parameters, error flags and firmware version.
//
// Sets and stores are accepted only after the parameter password was set into axis parameter 248
// in this power cycle; until then they are refused by not echoing the value (the reply carries the
// value's complement, so no caller can mistake it for a confirmation). Parameter 15 (start the sine
// commutation) and the stop command are motion commands, not settings, and need no password. The
// password itself is never stored, and parameter 156 (error flags) cannot be set.
#pragma once

#include <cstdint>

#include "controller/commandrecord.h"
#include "controller/firmwareslot.h"
#include "controller/parametermemory.h"

namespace sim {

class CommandInterpreter
{
public:
    static constexpr uint32_t kPassword = 47193856;
    static constexpr uint8_t kPasswordParameter = 248;
    static constexpr uint8_t kErrorFlagsParameter = 156;
    static constexpr uint8_t kSineStartParameter = 15;

    explicit CommandInterpreter(const std::string& firmwareVersion = "1.48");

    CommandReply handle(const CommandRequest& request);

    // Power off and on: values in use fall back to permanent memory, the password is forgotten,
    // the motor stands, and received firmware takes over.
    void powerCycle();

    ParameterMemory& parameters() { return parameters_; }
    const ParameterMemory& parameters() const { return parameters_; }
    FirmwareSlot& firmware() { return firmware_; }
    const FirmwareSlot& firmware() const { return firmware_; }

    void setErrorFlags(uint32_t flags) { errorFlags_ = flags; }
    uint32_t errorFlags() const { return errorFlags_; }
    bool unlocked() const { return unlocked_; }
    bool sineStarted() const { return sineStarted_; }
    int stopCount() const { return stopCount_; }

private:
    CommandReply answer(
        const CommandRequest& request, uint32_t value, uint8_t status = reply_status::Ok) const;
    CommandReply refuse(const CommandRequest& request, uint8_t status) const;
    CommandReply setAxis(const CommandRequest& request);
    CommandReply storeAxis(const CommandRequest& request);
    CommandReply setGlobal(const CommandRequest& request);
    CommandReply storeGlobal(const CommandRequest& request);
    CommandReply stop(const CommandRequest& request);
    uint32_t readAxis(uint8_t type) const;

    ParameterMemory parameters_;
    FirmwareSlot firmware_;
    uint32_t errorFlags_ = 0;
    bool unlocked_ = false;
    bool sineStarted_ = false;
    int stopCount_ = 0;
};

} // namespace sim
