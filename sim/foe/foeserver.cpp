// The FoE server's transfer logic: one transfer at a time, answered packet by packet.
#include "foe/foeserver.h"

#include <algorithm>

namespace sim {

namespace {
constexpr std::size_t kFileRoom = 256 * 1024;
} // namespace

FoeServer::FoeServer(Mailboxes mailboxes)
    : mailboxes_(mailboxes)
{}

void FoeServer::breakOffAfterPacket(uint32_t packet, uint32_t code, std::string text)
{
    breakOffAfter_ = packet;
    breakOffCode_ = code;
    breakOffText_ = std::move(text);
}

void FoeServer::clearFaults()
{
    stallAfter_.reset();
    breakOffAfter_.reset();
    busyAnswers_ = 0;
}

void FoeServer::reset()
{
    mode_ = Mode::Idle;
    file_.clear();
    readOffset_ = 0;
    lastReadPacketSent_ = false;
}

std::size_t FoeServer::receiveRoom() const
{
    return mailboxRoom(mailboxes_.receiveMailboxSize, kFoeOverhead);
}

std::size_t FoeServer::sendRoom() const
{
    return mailboxRoom(mailboxes_.sendMailboxSize, kFoeOverhead);
}

std::optional<Bytes> FoeServer::handle(const Bytes& mailbox)
{
    std::optional<FoeMessage> message = FoeMessage::parse(mailbox);
    if (!message)
        return std::nullopt;
    if (message->op == FoeOp::Error) {
        reset();
        return std::nullopt;
    }
    if (busyAnswers_ > 0) {
        --busyAnswers_;
        return send(FoeMessage::busy(lastPacket_));
    }
    std::optional<FoeMessage> answer;
    switch (message->op) {
    case FoeOp::Write:
        answer = onWriteRequest(*message);
        break;
    case FoeOp::Data:
        answer = onData(*message);
        break;
    case FoeOp::Read:
        answer = onReadRequest(*message);
        break;
    case FoeOp::Ack:
        answer = onAck(*message);
        break;
    default:
        answer = fail(foe_error::Illegal, "Illegal");
        break;
    }
    if (!answer)
        return std::nullopt;
    return send(std::move(*answer));
}

void FoeServer::onMessage(const Bytes& message, MailboxReplies& out)
{
    if (std::optional<Bytes> answer = handle(message))
        out.post(std::move(*answer));
}

std::optional<FoeMessage> FoeServer::onWriteRequest(const FoeMessage& request)
{
    reset();
    lastPacket_ = 0;
    const std::string name = request.payloadText();
    FoeVerdict verdict = acceptor_ ? acceptor_(name, request.field)
                                   : FoeVerdict::refuse(foe_error::NotFound, "Not found");
    if (!verdict.accepted)
        return fail(verdict.errorCode, verdict.errorText);
    mode_ = Mode::Writing;
    fileName_ = name;
    // Room for a firmware image at once, so that the packets do not grow the file piece by piece
    // (each growth a copy of all received so far, while the master waits for the acknowledge).
    file_.reserve(kFileRoom);
    return FoeMessage::ack(0);
}

std::optional<FoeMessage> FoeServer::onData(const FoeMessage& packet)
{
    if (mode_ != Mode::Writing)
        return fail(foe_error::Illegal, "No write in progress");
    if (packet.field != lastPacket_ + 1)
        return fail(foe_error::PacketNumberWrong, "Packet number wrong");
    if (stallAfter_ && packet.field > *stallAfter_)
        return std::nullopt;
    if (breakOffAfter_ && packet.field > *breakOffAfter_)
        return fail(breakOffCode_, breakOffText_);
    if (packet.payload.size() > receiveRoom())
        return fail(foe_error::Illegal, "Packet too long");
    file_.insert(file_.end(), packet.payload.begin(), packet.payload.end());
    lastPacket_ = packet.field;
    if (packet.payload.size() < receiveRoom()) {
        mode_ = Mode::Idle;
        ++completedWrites_;
        if (completion_)
            completion_(fileName_, file_);
    }
    return FoeMessage::ack(packet.field);
}

std::optional<FoeMessage> FoeServer::onReadRequest(const FoeMessage& request)
{
    reset();
    lastPacket_ = 0;
    const std::string name = request.payloadText();
    if (!provider_)
        return fail(foe_error::NotFound, "Not found");
    FoeFile served = provider_(name, request.field);
    if (!served.verdict.accepted)
        return fail(served.verdict.errorCode, served.verdict.errorText);
    if (sendRoom() == 0)
        return fail(foe_error::Illegal, "Mailbox too small");
    mode_ = Mode::Reading;
    fileName_ = name;
    file_ = std::move(served.content);
    return nextReadPacket();
}

std::optional<FoeMessage> FoeServer::onAck(const FoeMessage& ack)
{
    if (mode_ != Mode::Reading)
        return fail(foe_error::Illegal, "No read in progress");
    if (ack.field != lastPacket_)
        return fail(foe_error::PacketNumberWrong, "Packet number wrong");
    if (lastReadPacketSent_) {
        reset();
        ++completedReads_;
        return std::nullopt;
    }
    return nextReadPacket();
}

FoeMessage FoeServer::nextReadPacket()
{
    const std::size_t length = std::min(sendRoom(), file_.size() - readOffset_);
    auto from = file_.begin() + static_cast<std::ptrdiff_t>(readOffset_);
    Bytes chunk(from, from + static_cast<std::ptrdiff_t>(length));
    readOffset_ += length;
    lastReadPacketSent_ = length < sendRoom();
    return FoeMessage::data(++lastPacket_, std::move(chunk));
}

FoeMessage FoeServer::fail(uint32_t code, const std::string& text)
{
    reset();
    lastErrorCode_ = code;
    lastErrorText_ = text;
    return FoeMessage::error(code, text.substr(0, sendRoom()));
}

Bytes FoeServer::send(FoeMessage message)
{
    // The slave's own mailbox counter runs 1..7 like the master's.
    counter_ = static_cast<uint8_t>(counter_ % 7 + 1);
    message.counter = counter_;
    return message.encode();
}

} // namespace sim
