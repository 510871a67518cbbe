// SoE headers, attributes and IDN lists.
#include "soe/soeprotocol.h"

#include <algorithm>

namespace sim {
namespace soe {

std::uint32_t attribute(std::uint8_t lengthCode, bool list)
{
    return (std::uint32_t(lengthCode & 0x03) << 16) | (list ? (1u << 18) : 0u) | 1u;
}

Bytes idnList(const std::vector<std::uint16_t>& idns)
{
    Bytes value(4 + 2 * idns.size());
    putLe16(&value[0], std::uint16_t(2 * idns.size()));
    putLe16(&value[2], std::uint16_t(2 * idns.size()));
    for (std::size_t i = 0; i < idns.size(); ++i)
        putLe16(&value[4 + 2 * i], idns[i]);
    return value;
}

std::optional<SoeHeader> SoeHeader::parse(const Bytes& mailbox)
{
    auto mailboxHeader = MailboxHeader::parse(mailbox, mbxtype::Soe, SoeHeaderSize);
    if (!mailboxHeader)
        return std::nullopt;
    SoeHeader h;
    h.length = mailboxHeader->length;
    std::uint8_t flags = mailbox[6];
    h.op = static_cast<Op>(flags & 0x07);
    h.incomplete = (flags & 0x08) != 0;
    h.error = (flags & 0x10) != 0;
    h.driveNo = std::uint8_t(flags >> 5);
    h.elements = mailbox[7];
    h.idn = getLe16(&mailbox[8]);
    return h;
}

Bytes SoeHeader::encode(const Bytes& data) const
{
    Bytes message = mailboxMessage(mbxtype::Soe, SoeHeaderSize + data.size());
    message[6] = std::uint8_t((static_cast<std::uint8_t>(op) & 0x07) | (incomplete ? 0x08 : 0)
        | (error ? 0x10 : 0) | ((driveNo & 0x07) << 5));
    message[7] = elements;
    putLe16(&message[8], idn);
    std::copy(data.begin(), data.end(), message.begin() + HeaderSize);
    return message;
}

} // namespace soe
} // namespace sim
