// Encoding and decoding of the 8-byte command records; the value is big-endian on the wire.
#include "controller/commandrecord.h"

namespace sim {

std::optional<CommandRequest> CommandRequest::parse(const Bytes &mailbox)
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
    std::array<uint8_t, kCommandRecordSize> b{address, command, type, motor, 0, 0, 0, 0};
    putBe32(&b[4], value);
    return b;
}

std::optional<CommandReply> CommandReply::parse(const Bytes &mailbox)
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
    std::array<uint8_t, kCommandRecordSize> b{replyAddress, moduleAddress, status, command,
                                              0, 0, 0, 0};
    putBe32(&b[4], value);
    return b;
}

} // namespace sim
