// What a motor controller remembers: axis parameters 0..255 and global parameters by bank, each
// with the value in use and the value in permanent memory. A power cycle brings back the permanent
// values; a value that was only set is gone after it.
#pragma once

#include <array>
#include <cstdint>
#include <map>

namespace sim {

class ParameterMemory
{
public:
    uint32_t axis(uint8_t type) const { return axisInUse_[type]; }
    uint32_t storedAxis(uint8_t type) const { return axisStored_[type]; }
    void setAxis(uint8_t type, uint32_t value) { axisInUse_[type] = value; }
    // Copies the value in use into permanent memory.
    void storeAxis(uint8_t type) { axisStored_[type] = axisInUse_[type]; }

    // Sets both values at once, as the factory does.
    void setAxisDefault(uint8_t type, uint32_t value);

    // Globals never set read as 0.
    uint32_t global(uint8_t bank, uint8_t type) const;
    uint32_t storedGlobal(uint8_t bank, uint8_t type) const;
    void setGlobal(uint8_t bank, uint8_t type, uint32_t value);
    void storeGlobal(uint8_t bank, uint8_t type);

    void powerCycle();

private:
    using GlobalKey = uint16_t; // bank in the high byte, type in the low byte
    static GlobalKey key(uint8_t bank, uint8_t type);
    static uint32_t lookup(const std::map<GlobalKey, uint32_t>& values, GlobalKey k);

    std::array<uint32_t, 256> axisInUse_{};
    std::array<uint32_t, 256> axisStored_{};
    std::map<GlobalKey, uint32_t> globalInUse_;
    std::map<GlobalKey, uint32_t> globalStored_;
};

} // namespace sim
