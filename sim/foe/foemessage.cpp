// Encoding and decoding of FoE mailbox messages; all fields little-endian.
#include "foe/foemessage.h"

#include <algorithm>

namespace sim {

std::optional<FoeMessage> FoeMessage::parse(const Bytes& mailbox)
{
    const auto header = MailboxHeader::parse(mailbox, mbxtype::Foe, kFoeHeaderSize);
    if (!header)
        return std::nullopt;
    FoeMessage m;
    m.op = static_cast<FoeOp>(mailbox[6]);
    m.field = getLe32(&mailbox[8]);
    m.counter = header->counter;
    m.payload.assign(
        mailbox.begin() + kFoeOverhead, mailbox.begin() + MailboxHeader::Size + header->length);
    return m;
}

Bytes FoeMessage::encode() const
{
    Bytes out = mailboxMessage(mbxtype::Foe, kFoeHeaderSize + payload.size(), counter);
    out[6] = static_cast<uint8_t>(op);
    putLe32(&out[8], field);
    std::copy(payload.begin(), payload.end(), out.begin() + kFoeOverhead);
    return out;
}

std::string FoeMessage::payloadText() const
{
    return std::string(payload.begin(), payload.end());
}

FoeMessage FoeMessage::request(FoeOp op, uint32_t password, const std::string& fileName)
{
    return FoeMessage{op, password, text(fileName)};
}

FoeMessage FoeMessage::data(uint32_t packet, Bytes bytes)
{
    return FoeMessage{FoeOp::Data, packet, std::move(bytes)};
}

FoeMessage FoeMessage::ack(uint32_t packet)
{
    return FoeMessage{FoeOp::Ack, packet, {}};
}

FoeMessage FoeMessage::error(uint32_t code, const std::string& errorText)
{
    return FoeMessage{FoeOp::Error, code, text(errorText)};
}

FoeMessage FoeMessage::busy(uint32_t progress)
{
    return FoeMessage{FoeOp::Busy, progress, {}};
}

} // namespace sim
