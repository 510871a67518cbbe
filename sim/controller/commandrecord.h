// The motor controllers' 8-byte command records as they stand at offset 0 of a mailbox: request
// (address, command, type, motor or bank, value) and reply (reply address, module address, status,
// command, value). Values travel most significant byte first. This file only turns bytes into
// records and back.
#pragma once

#include "core/bytes.h"

#include <array>
#include <cstdint>
#include <optional>

namespace sim {

constexpr std::size_t kCommandRecordSize = 8;

// Command codes the controllers understand.
namespace command {
constexpr uint8_t Stop = 3;
constexpr uint8_t SetAxisParameter = 5;
constexpr uint8_t GetAxisParameter = 6;
constexpr uint8_t StoreAxisParameter = 7;
constexpr uint8_t SetGlobalParameter = 9;
constexpr uint8_t StoreGlobalParameter = 11;
constexpr uint8_t FirmwareVersion = 136;
} // namespace command

// Status byte of a reply.
namespace reply_status {
constexpr uint8_t Ok = 100;
constexpr uint8_t UnknownCommand = 2;
constexpr uint8_t ReadOnly = 3;
constexpr uint8_t Locked = 5;
} // namespace reply_status

struct CommandRequest
{
    uint8_t address = 0;
    uint8_t command = 0;
    uint8_t type = 0;
    uint8_t motor = 0;
    uint32_t value = 0;

    // The request at the start of `mailbox`, or nothing when fewer than eight bytes came.
    static std::optional<CommandRequest> parse(const Bytes& mailbox);
    std::array<uint8_t, kCommandRecordSize> encode() const;
};

struct CommandReply
{
    uint8_t replyAddress = 2; // the host address the controllers answer to
    uint8_t moduleAddress = 0;
    uint8_t status = reply_status::Ok;
    uint8_t command = 0;
    uint32_t value = 0;

    static std::optional<CommandReply> parse(const Bytes& mailbox);
    std::array<uint8_t, kCommandRecordSize> encode() const;
};

} // namespace sim
