// Parameter values in use and in permanent memory.
#include "controller/parametermemory.h"

namespace sim {

void ParameterMemory::setAxisDefault(uint8_t type, uint32_t value)
{
    axisInUse_[type] = value;
    axisStored_[type] = value;
}

ParameterMemory::GlobalKey ParameterMemory::key(uint8_t bank, uint8_t type)
{
    return static_cast<GlobalKey>((bank << 8) | type);
}

uint32_t ParameterMemory::lookup(const std::map<GlobalKey, uint32_t>& values, GlobalKey k)
{
    const auto it = values.find(k);
    return it == values.end() ? 0 : it->second;
}

uint32_t ParameterMemory::global(uint8_t bank, uint8_t type) const
{
    return lookup(globalInUse_, key(bank, type));
}

uint32_t ParameterMemory::storedGlobal(uint8_t bank, uint8_t type) const
{
    return lookup(globalStored_, key(bank, type));
}

void ParameterMemory::setGlobal(uint8_t bank, uint8_t type, uint32_t value)
{
    globalInUse_[key(bank, type)] = value;
}

void ParameterMemory::storeGlobal(uint8_t bank, uint8_t type)
{
    globalStored_[key(bank, type)] = global(bank, type);
}

void ParameterMemory::powerCycle()
{
    axisInUse_ = axisStored_;
    globalInUse_ = globalStored_;
}

} // namespace sim
