// Requests in, replies out, with the faults a test asked for.
#include "controller/commandmailbox.h"

namespace sim {

void CommandMailbox::onMessage(const Bytes &message, MailboxReplies &out)
{
    const auto request = CommandRequest::parse(message);
    if (!request)
        return;
    requests_.push_back(*request);
    CommandReply reply = interpreter_->handle(*request);
    if (!answers())
        return;
    if (faults_.wrongEcho)
        reply.value ^= 1u;
    const auto bytes = reply.encode();
    out.post(Bytes(bytes.begin(), bytes.end()));
}

void CommandMailbox::setFaults(const CommandFaults &faults)
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
