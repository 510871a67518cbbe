/*
 * The 6-byte header in front of every mailbox message (CoE, SoE, FoE): the length of what follows
 * it, station address, channel and priority, and the type byte (protocol in bits 0..3, counter in
 * bits 4..6). The protocol servers read and write it here so that every one of them refuses a
 * short or overlong message in the same way.
 */
#ifndef SIM_CORE_MAILBOXHEADER_H
#define SIM_CORE_MAILBOXHEADER_H

#include "core/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sim {

/* Protocol numbers in bits 0..3 of the type byte. */
namespace mbxtype {
constexpr std::uint8_t Coe = 3;
constexpr std::uint8_t Foe = 4;
constexpr std::uint8_t Soe = 5;
} // namespace mbxtype

struct MailboxHeader
{
    static constexpr std::size_t Size = 6;

    std::uint16_t length = 0; /* bytes after the header */
    std::uint8_t type = 0;
    std::uint8_t counter = 0;

    /* The header of a `type` message whose length is at least `minLength`, or nothing when the
     * bytes are not one: shorter than the header, another type, a length below `minLength` or
     * one that runs past the bytes given. */
    static std::optional<MailboxHeader> parse(
        const Bytes& mailbox, std::uint8_t type, std::uint16_t minLength);
};

/* Bytes a mailbox of `mailboxSize` bytes carries behind `headerBytes` bytes of headers; 0 when
 * the headers alone do not fit. */
constexpr std::size_t mailboxRoom(std::size_t mailboxSize, std::size_t headerBytes)
{
    return mailboxSize > headerBytes ? mailboxSize - headerBytes : 0;
}

/* A `type` message of `length` zero bytes behind its header (address and priority 0). */
Bytes mailboxMessage(std::uint8_t type, std::size_t length, std::uint8_t counter = 0);

} // namespace sim

#endif
