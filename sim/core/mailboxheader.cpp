/*
 * Reading and writing the mailbox header.
 */
#include "core/mailboxheader.h"

namespace sim {

std::optional<MailboxHeader> MailboxHeader::parse(
    const Bytes& mailbox, std::uint8_t type, std::uint16_t minLength)
{
    if (mailbox.size() < Size)
        return std::nullopt;
    MailboxHeader h;
    h.length = getLe16(&mailbox[0]);
    h.type = mailbox[5] & 0x0F;
    h.counter = (mailbox[5] >> 4) & 0x07;
    if (h.type != type || h.length < minLength || Size + h.length > mailbox.size())
        return std::nullopt;
    return h;
}

Bytes mailboxMessage(std::uint8_t type, std::size_t length, std::uint8_t counter)
{
    Bytes message(MailboxHeader::Size + length, 0);
    putLe16(&message[0], std::uint16_t(length));
    message[5] = std::uint8_t((type & 0x0F) | ((counter & 0x07) << 4));
    return message;
}

} // namespace sim
