// CoE on the wire, from the slave's side: the codes of the EtherCAT standard (services, SDO
// command specifiers, SDO information operations, abort codes, data types) and the reading and
// writing of the mailbox and CoE headers. Repeated here, not taken from the master, so that the
// two sides check each other.
#pragma once

#include "core/frame.h"
#include "core/mailboxheader.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sim {
namespace coe {

// Services in bits 12..15 of the CoE header.
enum class Service : std::uint8_t {
    Emergency = 1,
    SdoRequest = 2,
    SdoResponse = 3,
    TxPdo = 4,
    RxPdo = 5,
    TxPdoRemoteRequest = 6,
    RxPdoRemoteRequest = 7,
    SdoInformation = 8,
};

// SDO information operations (bits 0..6; bit 7 says more fragments follow).
enum class InfoOp : std::uint8_t {
    ListRequest = 1,
    ListResponse = 2,
    ObjectRequest = 3,
    ObjectResponse = 4,
    EntryRequest = 5,
    EntryResponse = 6,
    Error = 7,
};
constexpr std::uint8_t InfoIncomplete = 0x80;

// SDO abort codes.
namespace abort {
constexpr std::uint32_t ToggleNotChanged = 0x05030000;
constexpr std::uint32_t CommandUnknown = 0x05040001;
constexpr std::uint32_t UnsupportedAccess = 0x06010000;
constexpr std::uint32_t WriteOnly = 0x06010001;
constexpr std::uint32_t ReadOnly = 0x06010002;
constexpr std::uint32_t NoObject = 0x06020000;
constexpr std::uint32_t LengthMismatch = 0x06070010;
constexpr std::uint32_t LengthTooHigh = 0x06070012;
constexpr std::uint32_t LengthTooLow = 0x06070013;
constexpr std::uint32_t NoSubIndex = 0x06090011;
constexpr std::uint32_t General = 0x08000000;
} // namespace abort

// CoE data types of the object dictionary.
namespace datatype {
constexpr std::uint16_t Boolean = 0x0001;
constexpr std::uint16_t Integer8 = 0x0002;
constexpr std::uint16_t Integer16 = 0x0003;
constexpr std::uint16_t Integer32 = 0x0004;
constexpr std::uint16_t Unsigned8 = 0x0005;
constexpr std::uint16_t Unsigned16 = 0x0006;
constexpr std::uint16_t Unsigned32 = 0x0007;
constexpr std::uint16_t VisibleString = 0x0009;
constexpr std::uint16_t OctetString = 0x000A;
constexpr std::uint16_t Domain = 0x000F;
constexpr std::uint16_t Integer64 = 0x0015;
constexpr std::uint16_t Unsigned64 = 0x001B;
} // namespace datatype

// Object codes of the SDO information service.
namespace objectcode {
constexpr std::uint8_t Variable = 7;
constexpr std::uint8_t Array = 8;
constexpr std::uint8_t Record = 9;
} // namespace objectcode

// Access bits of an entry as the SDO information service reports them (read and write in
// PRE-OP, SAFE-OP and OP).
namespace access {
constexpr std::uint16_t ReadAll = 0x0007;
constexpr std::uint16_t WriteAll = 0x0038;
constexpr std::uint16_t ReadWrite = ReadAll | WriteAll;
} // namespace access

// The parts of a received CoE message every service needs; nothing when the bytes are not a
// well-formed CoE message (too short, another mailbox type, a length that runs past the bytes).
struct CoeFrame
{
    std::uint16_t length = 0; // mailbox header length: bytes after the 6-byte header
    std::uint8_t counter = 0;
    Service service = Service::SdoRequest;
    std::uint16_t number = 0; // bits 0..8 of the CoE header (PDO number)

    static std::optional<CoeFrame> parse(const Bytes& mailbox);
};

// A message of `length` bytes after the mailbox header with the CoE header filled in.
Bytes coeMessage(std::uint16_t length, Service service, std::uint16_t number = 0);

// An SDO abort transfer for index/sub-index.
Bytes sdoAbort(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code);

// An emergency message: error code, error register and five manufacturer bytes.
Bytes emergency(std::uint16_t errorCode, std::uint8_t errorRegister, const std::uint8_t (&data)[5]);

} // namespace coe
} // namespace sim
