/*
 * Registry of named bus layouts. Registration functions are called explicitly from `layouts()`,
 * so that a layout defined in another file of the static library is always linked in.
 */
#include "core/layouts.h"

#include "core/siibuilder.h"

#include <cstdlib>

namespace sim {

namespace {
constexpr const char* GenericPrefix = "generic:";
constexpr std::size_t GenericMax = 1000;

/* N of "generic:N", or 0 when the name is not of that form. */
std::size_t genericCount(const std::string& name)
{
    const std::string prefix = GenericPrefix;
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size())
        return 0;
    std::size_t n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + std::size_t(name[i] - '0');
        if (n > GenericMax)
            return 0;
    }
    return n;
}
} // namespace

void LayoutRegistry::add(const std::string& name, const std::string& description, Builder builder)
{
    entries_[name] = Entry{description, std::move(builder)};
}

std::optional<Chain> LayoutRegistry::build(const std::string& name) const
{
    if (const std::size_t n = genericCount(name)) {
        Chain chain;
        for (std::size_t i = 1; i <= n; ++i)
            chain.add(makePlainSlave(i));
        return chain;
    }
    const auto it = entries_.find(name);
    if (it == entries_.end())
        return std::nullopt;
    return it->second.builder();
}

std::vector<std::pair<std::string, std::string>> LayoutRegistry::list() const
{
    std::vector<std::pair<std::string, std::string>> out;
    bool genericListed = false;
    for (const auto& e : entries_) {
        if (!genericListed && e.first > "generic:N") {
            out.push_back({"generic:N", "a line of N plain slaves without mailbox (N = 1..1000)"});
            genericListed = true;
        }
        out.push_back({e.first, e.second.description});
    }
    if (!genericListed)
        out.push_back({"generic:N", "a line of N plain slaves without mailbox (N = 1..1000)"});
    return out;
}

Slave makePlainSlave(std::size_t number, bool withClock)
{
    EscOptions hw;
    hw.distributedClocks = withClock;
    return Slave(SiiBuilder()
                     .identity(0x00000A5A, 0x00000001, 0x00000001, std::uint32_t(number))
                     .name("Plain Slave " + std::to_string(number))
                     .build(),
        hw);
}

namespace {
/* A plain slave with a distributed clock that read `startNs` when the bus clock began and runs
 * `driftPpb` fast; a junction has all four ports, a drop ports 0 and 1. */
Slave makeClockSlave(
    std::size_t number, bool junction, std::uint64_t startNs, std::int32_t driftPpb)
{
    EscOptions hw;
    hw.portDescriptor = junction ? 0xFF : 0x0F;
    hw.dcClock = DcClockSettings{startNs, driftPpb};
    const std::string kind = junction ? "Junction " : "Clock Slave ";
    return Slave(SiiBuilder()
                     .identity(0x00000A5A, junction ? 0x00000003 : 0x00000002, 0x00000001,
                         std::uint32_t(number))
                     .name(kind + std::to_string(number))
                     .build(),
        hw);
}
} // namespace

Chain branchedChain()
{
    Chain chain;
    chain.add(makeClockSlave(1, true, 7000000000ull, 20000));
    chain.attach(makePlainSlave(2, false), 1, 3);
    chain.attach(makeClockSlave(3, false, 123456789ull, -15000), 1, 1);
    chain.add(makeClockSlave(4, true, 4000000000ull, 5000));
    chain.attach(makeClockSlave(5, false, 42ull, 0), 4, 3);
    chain.add(makePlainSlave(6, false));
    chain.add(makeClockSlave(7, false, 3000000000000ull, -30000));
    chain.attach(makeClockSlave(8, false, 2100000000ull, 10000), 4, 1);
    const std::uint32_t cables[] = {0, 15, 40, 25, 10, 55, 20, 30};
    for (std::size_t n = 1; n <= chain.size(); ++n)
        chain.setCableDelayNs(n, cables[n - 1]);
    return chain;
}

void registerCoreLayouts(LayoutRegistry& registry)
{
    // "generic:N" is parameterised and answered by LayoutRegistry::build itself.
    registry.add("branched",
        "two junctions with distributed clocks, drops with clocks of their own start "
        "and drift, and two plain slaves without clock (8 slaves)",
        [] { return branchedChain(); });
}

LayoutRegistry layouts()
{
    LayoutRegistry registry;
    registerCoreLayouts(registry);
    registerControllerLayouts(registry);
    registerProtocolLayouts(registry);
    return registry;
}

} // namespace sim
