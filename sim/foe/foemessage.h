// FoE messages as they travel through a mailbox: a 6-byte mailbox header, a 6-byte FoE header
// (operation code, reserved byte, one 32-bit field) and up to one mailbox of payload. This file
// only turns bytes into messages and back; what a message means is the server's business.
#pragma once

#include "core/mailboxheader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class FoeOp : uint8_t {
    Read = 1,
    Write = 2,
    Data = 3,
    Ack = 4,
    Error = 5,
    Busy = 6,
};

// Error codes a slave sends in an FoE error message (EtherCAT standard values).
namespace foe_error {
constexpr uint32_t NotDefined = 0x8000;
constexpr uint32_t NotFound = 0x8001;
constexpr uint32_t AccessDenied = 0x8002;
constexpr uint32_t DiskFull = 0x8003;
constexpr uint32_t Illegal = 0x8004;
constexpr uint32_t PacketNumberWrong = 0x8005;
constexpr uint32_t AlreadyExists = 0x8006;
constexpr uint32_t NoUser = 0x8007;
constexpr uint32_t BootstrapOnly = 0x8008;
constexpr uint32_t NotBootstrap = 0x8009;
constexpr uint32_t NoRights = 0x800A;
constexpr uint32_t ProgramError = 0x800B;
} // namespace foe_error

constexpr std::size_t kFoeHeaderSize = 6;
// Bytes in front of the payload: mailbox header plus FoE header.
constexpr std::size_t kFoeOverhead = MailboxHeader::Size + kFoeHeaderSize;

struct FoeMessage
{
    FoeOp op = FoeOp::Data;
    // Password (read and write request), packet number (data, ack), error code (error), or for a
    // busy message the progress value.
    uint32_t field = 0;
    // File name, data or error text.
    Bytes payload;
    // Mailbox counter, bits 4..6 of the mailbox type byte.
    uint8_t counter = 0;

    // The message in `mailbox`, or nothing when the bytes are not an FoE message: too short for
    // the two headers, another mailbox type, or a header length that runs past the bytes given.
    static std::optional<FoeMessage> parse(const Bytes& mailbox);

    // The message as mailbox bytes: header length = 6 + payload size, station address and
    // priority 0.
    Bytes encode() const;

    // The payload as text (file name or error text).
    std::string payloadText() const;

    static FoeMessage request(FoeOp op, uint32_t password, const std::string& fileName);
    static FoeMessage data(uint32_t packet, Bytes bytes);
    static FoeMessage ack(uint32_t packet);
    static FoeMessage error(uint32_t code, const std::string& text);
    static FoeMessage busy(uint32_t progress);
};

} // namespace sim
