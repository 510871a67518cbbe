/*
 * FMMU decoding and bitwise logical-to-physical translation.
 */
#include "core/fmmu.h"

#include "core/frame.h"

#include <algorithm>

namespace sim {

Fmmu Fmmu::fromRegisters(const std::uint8_t* block)
{
    Fmmu f;
    f.logicalStart = getLe32(block);
    f.length = getLe16(block + 4);
    f.logicalStartBit = block[6] & 0x07;
    f.logicalEndBit = block[7] & 0x07;
    f.physicalStart = getLe16(block + 8);
    f.physicalStartBit = block[10] & 0x07;
    f.type = block[11];
    f.active = (block[12] & 0x01) != 0;
    return f;
}

std::size_t fmmuForEachBit(const Fmmu& fmmu, std::uint32_t address, std::uint16_t length,
    const std::function<void(std::size_t, int, std::uint16_t, int)>& visit)
{
    if (!fmmu.active || fmmu.length == 0 || length == 0)
        return 0;
    // Bit numbers on the logical address line; 64 bits wide because logical addresses use all 32.
    const std::uint64_t mapFirst = std::uint64_t(fmmu.logicalStart) * 8 + fmmu.logicalStartBit;
    const std::uint64_t mapLast
        = (std::uint64_t(fmmu.logicalStart) + fmmu.length - 1) * 8 + fmmu.logicalEndBit;
    const std::uint64_t dgFirst = std::uint64_t(address) * 8;
    const std::uint64_t dgLast = (std::uint64_t(address) + length) * 8 - 1;
    const std::uint64_t first = std::max(mapFirst, dgFirst);
    const std::uint64_t last = std::min(mapLast, dgLast);
    if (mapLast < mapFirst || first > last)
        return 0;
    const std::uint64_t physFirst = std::uint64_t(fmmu.physicalStart) * 8 + fmmu.physicalStartBit;
    std::size_t visited = 0;
    for (std::uint64_t b = first; b <= last; ++b) {
        const std::uint64_t phys = physFirst + (b - mapFirst);
        if (phys / 8 > 0xFFFF)
            break; // the physical window ends with the address space
        visit(std::size_t((b - dgFirst) / 8), int(b % 8), std::uint16_t(phys / 8), int(phys % 8));
        ++visited;
    }
    return visited;
}

} // namespace sim
