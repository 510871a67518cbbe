// Answers to the controller commands: get, set and store of axis and global parameters, firmware
// version, stop, with the parameter password guarding every setting.
#include "controller/commandinterpreter.h"

namespace sim {

CommandInterpreter::CommandInterpreter(const std::string& firmwareVersion)
    : firmware_(firmwareVersion)
{}

CommandReply CommandInterpreter::handle(const CommandRequest& request)
{
    switch (request.command) {
    case command::GetAxisParameter:
        return answer(request, readAxis(request.type));
    case command::SetAxisParameter:
        return setAxis(request);
    case command::StoreAxisParameter:
        return storeAxis(request);
    case command::SetGlobalParameter:
        return setGlobal(request);
    case command::StoreGlobalParameter:
        return storeGlobal(request);
    case command::FirmwareVersion:
        return answer(request, firmware_.versionValue());
    case command::Stop:
        return stop(request);
    default:
        return answer(request, 0, reply_status::UnknownCommand);
    }
}

void CommandInterpreter::powerCycle()
{
    parameters_.powerCycle();
    firmware_.powerCycle();
    unlocked_ = false;
    sineStarted_ = false;
}

CommandReply CommandInterpreter::answer(
    const CommandRequest& request, uint32_t value, uint8_t status) const
{
    CommandReply reply;
    reply.moduleAddress = request.address;
    reply.status = status;
    reply.command = request.command;
    reply.value = value;
    return reply;
}

CommandReply CommandInterpreter::refuse(const CommandRequest& request, uint8_t status) const
{
    return answer(request, ~request.value, status);
}

uint32_t CommandInterpreter::readAxis(uint8_t type) const
{
    if (type == kErrorFlagsParameter)
        return errorFlags_;
    return parameters_.axis(type);
}

CommandReply CommandInterpreter::setAxis(const CommandRequest& request)
{
    if (request.type == kPasswordParameter) {
        if (request.value != kPassword)
            return refuse(request, reply_status::Locked);
        unlocked_ = true;
        return answer(request, request.value);
    }
    if (request.type == kSineStartParameter) {
        parameters_.setAxis(request.type, request.value);
        sineStarted_ = sineStarted_ || request.value == 1;
        return answer(request, request.value);
    }
    if (request.type == kErrorFlagsParameter)
        return refuse(request, reply_status::ReadOnly);
    if (!unlocked_)
        return refuse(request, reply_status::Locked);
    parameters_.setAxis(request.type, request.value);
    return answer(request, request.value);
}

CommandReply CommandInterpreter::storeAxis(const CommandRequest& request)
{
    if (!unlocked_)
        return refuse(request, reply_status::Locked);
    if (request.type == kPasswordParameter || request.type == kErrorFlagsParameter)
        return refuse(request, reply_status::ReadOnly);
    parameters_.storeAxis(request.type);
    return answer(request, request.value);
}

CommandReply CommandInterpreter::setGlobal(const CommandRequest& request)
{
    if (!unlocked_)
        return refuse(request, reply_status::Locked);
    parameters_.setGlobal(request.motor, request.type, request.value);
    return answer(request, request.value);
}

CommandReply CommandInterpreter::storeGlobal(const CommandRequest& request)
{
    if (!unlocked_)
        return refuse(request, reply_status::Locked);
    parameters_.storeGlobal(request.motor, request.type);
    return answer(request, request.value);
}

CommandReply CommandInterpreter::stop(const CommandRequest& request)
{
    ++stopCount_;
    return answer(request, request.value);
}

} // namespace sim
