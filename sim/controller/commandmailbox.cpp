// Requests in, replies out, with the faults a test asked for.
#include "controller/commandmailbox.h"

namespace sim {

void CommandMailbox::onMessage(const Bytes& message, MailboxReplies& out)
{
    const auto request = CommandRequest::parse(message);
    if (!request)
        return;
    requests_.push_back(*request);
    if (faults_.emergenciesOnly) {
        out.post(emergency());
        return;
    }
    const bool store = request->command == command::StoreAxisParameter
        || request->command == command::StoreGlobalParameter;
    if (store && faults_.powerLossOnStore) {
        faults_.powerLossOnStore = false;
        powerLost_ = true;
        return;
    }
    const bool keepOld = faults_.setNotKept && request->command == command::SetAxisParameter
        && request->type != CommandInterpreter::kPasswordParameter
        && (faults_.setNotKeptType < 0 || faults_.setNotKeptType == request->type);
    const uint32_t old = interpreter_->parameters().axis(request->type);
    CommandReply reply = interpreter_->handle(*request);
    if (keepOld)
        interpreter_->parameters().setAxis(request->type, old);
    if (!answers())
        return;
    if (faults_.wrongEcho)
        reply.value ^= 1u;
    const auto bytes = reply.encode();
    out.post(Bytes(bytes.begin(), bytes.end()));
}

Bytes CommandMailbox::emergency()
{
    // Mailbox header (length 10, CoE), CoE header (emergency), error code 0xFF00 (device
    // specific), error register 0x80 and five bytes of the maker's own.
    return Bytes{0x0A, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x10, 0x00, 0xFF, 0x80, 0x01, 0x02, 0x03,
        0x04, 0x05};
}

void CommandMailbox::setFaults(const CommandFaults& faults)
{
    faults_ = faults;
    counted_ = 0;
}

bool CommandMailbox::answers()
{
    ++counted_;
    if (faults_.noReply)
        return false;
    if (faults_.answerEveryNth <= 1)
        return true;
    return counted_ % faults_.answerEveryNth == 0;
}

} // namespace sim
