// Encoding and decoding of the 8-byte command records; the value is big-endian on the wire.
#include "controller/commandrecord.h"

namespace sim {
namespace {

uint32_t readValue(const std::vector<uint8_t> &b)
{
    return (static_cast<uint32_t>(b[4]) << 24) | (static_cast<uint32_t>(b[5]) << 16) |
           (static_cast<uint32_t>(b[6]) << 8) | static_cast<uint32_t>(b[7]);
}

void putValue(std::array<uint8_t, kCommandRecordSize> &b, uint32_t v)
{
    b[4] = static_cast<uint8_t>(v >> 24);
    b[5] = static_cast<uint8_t>(v >> 16);
    b[6] = static_cast<uint8_t>(v >> 8);
    b[7] = static_cast<uint8_t>(v);
}

} // namespace

std::optional<CommandRequest> CommandRequest::parse(const std::vector<uint8_t> &mailbox)
{
    if (mailbox.size() < kCommandRecordSize)
        return std::nullopt;
    CommandRequest r;
    r.address = mailbox[0];
    r.command = mailbox[1];
    r.type = mailbox[2];
    r.motor = mailbox[3];
    r.value = readValue(mailbox);
    return r;
}

std::array<uint8_t, kCommandRecordSize> CommandRequest::encode() const
{
    std::array<uint8_t, kCommandRecordSize> b{address, command, type, motor, 0, 0, 0, 0};
    putValue(b, value);
    return b;
}

std::optional<CommandReply> CommandReply::parse(const std::vector<uint8_t> &mailbox)
{
    if (mailbox.size() < kCommandRecordSize)
        return std::nullopt;
    CommandReply r;
    r.replyAddress = mailbox[0];
    r.moduleAddress = mailbox[1];
    r.status = mailbox[2];
    r.command = mailbox[3];
    r.value = readValue(mailbox);
    return r;
}

std::array<uint8_t, kCommandRecordSize> CommandReply::encode() const
{
    std::array<uint8_t, kCommandRecordSize> b{replyAddress, moduleAddress, status, command,
                                              0, 0, 0, 0};
    putValue(b, value);
    return b;
}

} // namespace sim
