// The object dictionary of the CoE test slaves: identity, sync manager types (0x1C00), PDO
// assignment (0x1C12, 0x1C13) and mapping (0x1600.., 0x1A00..) objects built from a PDO layout,
// plain objects of every size, a large object that needs segmented transfer, a read-only and a
// write-only object. Index 0x2300 is deliberately absent.
#pragma once

#include "coe/objectdictionary.h"

#include <cstdint>
#include <vector>

namespace sim {
namespace coe {

namespace demo {
constexpr std::uint16_t ByteObject = 0x2000; // unsigned 8, read-write, 0x11
constexpr std::uint16_t WordObject = 0x2001; // unsigned 16, read-write, 0x2222
constexpr std::uint16_t DwordObject = 0x2002; // unsigned 32, read-write, 0x33333333
constexpr std::uint16_t LongObject = 0x2003; // unsigned 64, read-write, 0x4444444455555555
constexpr std::uint16_t TextObject = 0x2004; // visible string up to 64 bytes, read-write, "zuvian"
constexpr std::uint16_t LargeObject = 0x2100; // domain up to 4096 bytes, read-write, 1500 bytes
constexpr std::uint16_t ReadOnlyObject = 0x2200; // unsigned 32, read-only, 0x12345678
constexpr std::uint16_t WriteOnlyObject = 0x2201; // unsigned 32, write-only
constexpr std::uint16_t MissingObject = 0x2300; // not in the dictionary
constexpr std::size_t LargeObjectSize = 1500;
// Byte i of the large object's initial content.
inline std::uint8_t largeObjectByte(std::size_t i)
{
    return std::uint8_t(i * 7 + 3);
}
} // namespace demo

struct PdoMappingEntry
{
    std::uint16_t index;
    std::uint8_t subIndex;
    std::uint8_t bitLength;
};

struct PdoMapping
{
    std::uint16_t index; // 0x1600.. for outputs, 0x1A00.. for inputs
    std::vector<PdoMappingEntry> entries;
};

struct PdoLayout
{
    std::vector<PdoMapping> outputs; // assigned to SM `outputsSm`
    std::vector<PdoMapping> inputs; // assigned to SM `inputsSm`
    // Content of 0x1C00: the use of SM 0, 1, 2, ... (1 mailbox out, 2 mailbox in, 3 outputs,
    // 4 inputs); a slave may report more SMs than it has, or number the types one too low.
    std::vector<std::uint8_t> smTypes = {1, 2, 3, 4};
    int outputsSm = 2;
    int inputsSm = 3;

    int outputBits() const;
    int inputBits() const;
};

struct Identity
{
    std::uint32_t vendorId = 0;
    std::uint32_t productCode = 0;
    std::uint32_t revision = 0;
    std::uint32_t serial = 0;
};

// Put the sync manager, assignment and mapping objects of `layout` into `od`, and the objects the
// mapping entries point to (0x6000.., 0x7000..) with zero values.
void addPdoObjects(ObjectDictionary& od, const PdoLayout& layout);

// The whole dictionary of a test slave.
ObjectDictionary demoDictionary(const Identity& identity, const PdoLayout& layout);

} // namespace coe
} // namespace sim
