// Reading and writing CoE headers for the emulated slaves' CoE server.
#include "coe/coeprotocol.h"

namespace sim {
namespace coe {

std::optional<CoeFrame> CoeFrame::parse(const Bytes& mailbox)
{
    auto mailboxHeader = MailboxHeader::parse(mailbox, mbxtype::Coe, 2);
    if (!mailboxHeader)
        return std::nullopt;
    CoeFrame frame;
    frame.length = mailboxHeader->length;
    frame.counter = mailboxHeader->counter;
    std::uint16_t header = getLe16(&mailbox[6]);
    frame.service = static_cast<Service>(header >> 12);
    frame.number = header & 0x01FF;
    return frame;
}

Bytes coeMessage(std::uint16_t length, Service service, std::uint16_t number)
{
    Bytes message = mailboxMessage(mbxtype::Coe, length);
    putLe16(&message[6],
        std::uint16_t((static_cast<std::uint16_t>(service) << 12) | (number & 0x01FF)));
    return message;
}

Bytes sdoAbort(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code)
{
    Bytes message = coeMessage(10, Service::SdoRequest);
    message[8] = 0x80;
    putLe16(&message[9], index);
    message[11] = subIndex;
    putLe32(&message[12], code);
    return message;
}

Bytes emergency(std::uint16_t errorCode, std::uint8_t errorRegister, const std::uint8_t (&data)[5])
{
    Bytes message = coeMessage(10, Service::Emergency);
    putLe16(&message[8], errorCode);
    message[10] = errorRegister;
    for (int i = 0; i < 5; ++i)
        message[11 + i] = data[i];
    return message;
}

} // namespace coe
} // namespace sim
