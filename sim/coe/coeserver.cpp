// Dispatch of an emulated slave's CoE messages to its SDO and SDO information servers.
#include "coe/coeserver.h"

#include <algorithm>

namespace sim {
namespace coe {

CoeServer::CoeServer(
    ObjectDictionary dictionary, std::size_t receiveMailboxSize, std::size_t sendMailboxSize)
    : dictionary_(std::move(dictionary))
    , receiveMailboxSize_(receiveMailboxSize)
    , sdo_(dictionary_, sendMailboxSize)
    , info_(dictionary_, sendMailboxSize)
{}

void CoeServer::emergencyBeforeNextReply(
    std::uint16_t errorCode, std::uint8_t errorRegister, const std::uint8_t (&data)[5])
{
    emergencies_.push_back(emergency(errorCode, errorRegister, data));
}

void CoeServer::answer(std::vector<Bytes> replies, MailboxReplies& out)
{
    if (replies.empty())
        return;
    while (!emergencies_.empty()) {
        out.post(std::move(emergencies_.front()));
        emergencies_.pop_front();
    }
    for (auto& reply : replies)
        out.post(std::move(reply));
}

void CoeServer::onMessage(const Bytes& message, MailboxReplies& out)
{
    // Only what the write mailbox can hold is looked at, however long the buffer handed in.
    Bytes mailbox(
        message.begin(), message.begin() + long(std::min(message.size(), receiveMailboxSize_)));
    auto frame = CoeFrame::parse(mailbox);
    if (!frame)
        return;
    ++taken_;
    switch (frame->service) {
    case Service::SdoRequest:
        if (auto reply = sdo_.handle(mailbox, *frame))
            answer({std::move(*reply)}, out);
        return;
    case Service::SdoInformation:
        answer(info_.handle(mailbox, *frame), out);
        return;
    case Service::TxPdoRemoteRequest: {
        Bytes reply = coeMessage(std::uint16_t(2 + txPdo_.size()), Service::TxPdo, frame->number);
        std::copy(txPdo_.begin(), txPdo_.end(), reply.begin() + 8);
        answer({std::move(reply)}, out);
        return;
    }
    case Service::RxPdo:
        rxPdo_.assign(mailbox.begin() + 8, mailbox.begin() + 6 + frame->length);
        return;
    default:
        return;
    }
}

} // namespace coe
} // namespace sim
