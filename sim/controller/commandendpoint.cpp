// Requests in, replies out when due, with the faults a test asked for.
#include "controller/commandendpoint.h"

namespace sim {

void CommandEndpoint::receive(const std::vector<uint8_t> &mailbox, std::uint64_t nowUs)
{
    const auto request = CommandRequest::parse(mailbox);
    if (!request)
        return;
    requests_.push_back(*request);
    CommandReply reply = interpreter_.handle(*request);
    if (!answers())
        return;
    if (faults_.wrongEcho)
        reply.value ^= 1u;
    const auto bytes = reply.encode();
    pending_.push_back({nowUs + faults_.replyDelayUs, {bytes.begin(), bytes.end()}});
}

bool CommandEndpoint::answers()
{
    ++counted_;
    if (faults_.noReply)
        return false;
    if (faults_.answerEveryNth <= 1)
        return true;
    return counted_ % faults_.answerEveryNth == 0;
}

std::optional<std::vector<uint8_t>> CommandEndpoint::takeReply(std::uint64_t nowUs)
{
    if (pending_.empty() || pending_.front().dueUs > nowUs)
        return std::nullopt;
    auto bytes = std::move(pending_.front().bytes);
    pending_.pop_front();
    return bytes;
}

std::optional<std::uint64_t> CommandEndpoint::nextReplyDue() const
{
    if (pending_.empty())
        return std::nullopt;
    return pending_.front().dueUs;
}

} // namespace sim
