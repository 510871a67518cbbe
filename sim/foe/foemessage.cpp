// Encoding and decoding of FoE mailbox messages; all fields little-endian.
#include "foe/foemessage.h"

namespace sim {
namespace {

uint16_t readU16(const std::vector<uint8_t> &b, std::size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t readU32(const std::vector<uint8_t> &b, std::size_t at)
{
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

void putU16(std::vector<uint8_t> &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(std::vector<uint8_t> &b, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        b.push_back(static_cast<uint8_t>(v >> shift));
}

} // namespace

std::optional<FoeMessage> FoeMessage::parse(const std::vector<uint8_t> &mailbox)
{
    if (mailbox.size() < kFoeOverhead)
        return std::nullopt;
    if ((mailbox[5] & 0x0F) != kMailboxTypeFoe)
        return std::nullopt;
    const std::size_t length = readU16(mailbox, 0);
    if (length < kFoeHeaderSize || kMailboxHeaderSize + length > mailbox.size())
        return std::nullopt;
    FoeMessage m;
    m.op = static_cast<FoeOp>(mailbox[6]);
    m.field = readU32(mailbox, 8);
    m.counter = static_cast<uint8_t>((mailbox[5] >> 4) & 0x07);
    m.payload.assign(mailbox.begin() + kFoeOverhead, mailbox.begin() + kMailboxHeaderSize + length);
    return m;
}

std::vector<uint8_t> FoeMessage::encode() const
{
    std::vector<uint8_t> out;
    out.reserve(kFoeOverhead + payload.size());
    putU16(out, static_cast<uint16_t>(kFoeHeaderSize + payload.size()));
    putU16(out, 0);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(kMailboxTypeFoe | ((counter & 0x07) << 4)));
    out.push_back(static_cast<uint8_t>(op));
    out.push_back(0);
    putU32(out, field);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::string FoeMessage::payloadText() const
{
    return std::string(payload.begin(), payload.end());
}

FoeMessage FoeMessage::request(FoeOp op, uint32_t password, const std::string &fileName)
{
    FoeMessage m;
    m.op = op;
    m.field = password;
    m.payload.assign(fileName.begin(), fileName.end());
    return m;
}

FoeMessage FoeMessage::data(uint32_t packet, std::vector<uint8_t> bytes)
{
    FoeMessage m;
    m.op = FoeOp::Data;
    m.field = packet;
    m.payload = std::move(bytes);
    return m;
}

FoeMessage FoeMessage::ack(uint32_t packet)
{
    FoeMessage m;
    m.op = FoeOp::Ack;
    m.field = packet;
    return m;
}

FoeMessage FoeMessage::error(uint32_t code, const std::string &text)
{
    FoeMessage m;
    m.op = FoeOp::Error;
    m.field = code;
    m.payload.assign(text.begin(), text.end());
    return m;
}

FoeMessage FoeMessage::busy(uint32_t progress)
{
    FoeMessage m;
    m.op = FoeOp::Busy;
    m.field = progress;
    return m;
}

} // namespace sim
