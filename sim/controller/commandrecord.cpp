// Encoding and decoding of the 8-byte command records; the value is big-endian on the wire.
#include "controller/commandrecord.h"

namespace sim {
namespace {

// Requests and replies alike: four single bytes, then the value.
std::array<uint8_t, kCommandRecordSize> record(
    uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint32_t value)
{
    std::array<uint8_t, kCommandRecordSize> b{b0, b1, b2, b3, 0, 0, 0, 0};
    putBe32(&b[4], value);
    return b;
}

} // namespace

std::optional<CommandRequest> CommandRequest::parse(const Bytes& mailbox)
{
    if (mailbox.size() < kCommandRecordSize)
        return std::nullopt;
    CommandRequest r;
    r.address = mailbox[0];
    r.command = mailbox[1];
    r.type = mailbox[2];
    r.motor = mailbox[3];
    r.value = getBe32(&mailbox[4]);
    return r;
}

std::array<uint8_t, kCommandRecordSize> CommandRequest::encode() const
{
    return record(address, command, type, motor, value);
}

std::optional<CommandReply> CommandReply::parse(const Bytes& mailbox)
{
    if (mailbox.size() < kCommandRecordSize)
        return std::nullopt;
    CommandReply r;
    r.replyAddress = mailbox[0];
    r.moduleAddress = mailbox[1];
    r.status = mailbox[2];
    r.command = mailbox[3];
    r.value = getBe32(&mailbox[4]);
    return r;
}

std::array<uint8_t, kCommandRecordSize> CommandReply::encode() const
{
    return record(replyAddress, moduleAddress, status, command, value);
}

} // namespace sim
