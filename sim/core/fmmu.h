/*
 * FMMU records of an emulated slave (16 bytes each at 0x0600 + 16 n) and the translation of a
 * logical datagram onto physical memory bit by bit.
 */
#ifndef SIM_CORE_FMMU_H
#define SIM_CORE_FMMU_H

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sim {

struct Fmmu
{
    std::uint32_t logicalStart = 0;
    std::uint16_t length = 0;
    std::uint8_t logicalStartBit = 0;
    std::uint8_t logicalEndBit = 7;
    std::uint16_t physicalStart = 0;
    std::uint8_t physicalStartBit = 0;
    std::uint8_t type = 0; /* bit 0: read, bit 1: write */
    bool active = false;

    /* Decode the 16-byte register block. */
    static Fmmu fromRegisters(const std::uint8_t* block);

    bool reads() const { return active && (type & 0x01) != 0; }
    bool writes() const { return active && (type & 0x02) != 0; }
};

/* Visit every bit that the FMMU maps from the logical window [address, address + length) of a
 * datagram: `visit(datagramByte, datagramBit, physicalAddress, physicalBit)`. Returns the number
 * of bits visited (0 when the windows do not overlap). */
std::size_t fmmuForEachBit(const Fmmu& fmmu, std::uint32_t address, std::uint16_t length,
    const std::function<void(std::size_t, int, std::uint16_t, int)>& visit);

} // namespace sim

#endif
