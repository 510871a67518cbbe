// SoE on the wire, from the drive's side: operation codes, element flags, error codes of the
// EtherCAT standard, IDN attributes and lists, and the reading and writing of the SoE header
// (mailbox header, then one byte of operation code and flags, the element flags and the IDN or
// the number of fragments still to come).
#pragma once

#include "core/frame.h"
#include "core/mailboxheader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {
namespace soe {

constexpr std::size_t SoeHeaderSize = 4;
constexpr std::size_t HeaderSize = MailboxHeader::Size + SoeHeaderSize;

enum class Op : std::uint8_t {
    ReadRequest = 1,
    ReadResponse = 2,
    WriteRequest = 3,
    WriteResponse = 4,
    Notification = 5,
    Emergency = 6,
};

namespace element {
constexpr std::uint8_t Name = 0x02;
constexpr std::uint8_t Attribute = 0x04;
constexpr std::uint8_t Value = 0x40;
} // namespace element

namespace error {
constexpr std::uint16_t NoIdn = 0x1001;
constexpr std::uint16_t InvalidElement = 0x1009;
constexpr std::uint16_t DataTooShort = 0x7002;
constexpr std::uint16_t DataTooLong = 0x7003;
constexpr std::uint16_t ReadOnly = 0x7004;
constexpr std::uint16_t InvalidDrive = 0x800A;
} // namespace error

// The 32-bit attribute of an IDN: data length code (0: 8 bits .. 3: 64 bits) and the list flag;
// the other fields stay zero in the test drives.
std::uint32_t attribute(std::uint8_t lengthCode, bool list = false);
// The value of an IDN list: current length and maximum length in bytes, then the IDNs.
Bytes idnList(const std::vector<std::uint16_t>& idns);

struct SoeHeader
{
    Op op = Op::ReadRequest;
    bool incomplete = false;
    bool error = false;
    std::uint8_t driveNo = 0;
    std::uint8_t elements = 0;
    std::uint16_t idn = 0; // or fragments left
    std::uint16_t length = 0; // mailbox header length: 4 + data bytes

    // The header of an SoE message, or nothing for bytes that are not one (too short, another
    // mailbox type, a length that runs past the bytes given).
    static std::optional<SoeHeader> parse(const Bytes& mailbox);
    // A message with this header (length taken from `data`) and the data behind it.
    Bytes encode(const Bytes& data) const;
};

} // namespace soe
} // namespace sim
