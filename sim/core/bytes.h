/*
 * Byte strings and the integer layouts the emulated slaves read and write in them.
 *
 * EtherCAT and its mailbox protocols are little-endian throughout; only the motor controllers'
 * command records carry their value most significant byte first. The pointer helpers do not
 * check bounds: callers check the length first, as every parser in the simulator does.
 */
#ifndef SIM_CORE_BYTES_H
#define SIM_CORE_BYTES_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

/* The value stored at `p`. */
std::uint16_t getLe16(const std::uint8_t* p);
std::uint32_t getLe32(const std::uint8_t* p);
std::uint32_t getBe32(const std::uint8_t* p);

/* Store `v` at `p`. */
void putLe16(std::uint8_t* p, std::uint16_t v);
void putLe32(std::uint8_t* p, std::uint32_t v);
void putBe32(std::uint8_t* p, std::uint32_t v);

/* Append `v` to `out`. */
void appendLe16(Bytes& out, std::uint16_t v);
void appendLe32(Bytes& out, std::uint32_t v);

/* A value as its little-endian bytes, a text as its characters (no terminator). */
Bytes u8(std::uint8_t v);
Bytes u16(std::uint16_t v);
Bytes u32(std::uint32_t v);
Bytes u64(std::uint64_t v);
Bytes text(const std::string& s);

} // namespace sim

#endif
