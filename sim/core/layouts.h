/*
 * Named bus layouts: the chains that zuvian-sim can serve and that tests can ask for by name.
 *
 * Registration is explicit, never by static initialisers (whose objects the linker may drop from a
 * static library): `layouts()` builds a fresh registry and calls each registration function listed
 * in layouts.cpp. A component that adds layouts declares its function here and adds the call
 * there.
 *
 * Built in: "generic:N", a line of N plain slaves without mailbox ("generic:3"), and "branched"
 * (see branchedChain). The motor controller models add "arm" and "robot".
 */
#ifndef SIM_CORE_LAYOUTS_H
#define SIM_CORE_LAYOUTS_H

#include "core/chain.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class LayoutRegistry
{
public:
    using Builder = std::function<Chain()>;

    /* Register (or replace) layout `name`. */
    void add(const std::string& name, const std::string& description, Builder builder);
    /* The chain of layout `name`, or nothing for an unknown name. "generic:N" (N from 1 to 1000)
     * is always known. */
    std::optional<Chain> build(const std::string& name) const;
    /* Names and descriptions, sorted by name, "generic:N" included. */
    std::vector<std::pair<std::string, std::string>> list() const;

private:
    struct Entry
    {
        std::string description;
        Builder builder;
    };
    std::map<std::string, Entry> entries_;
};

/* Every layout known to the simulator. */
LayoutRegistry layouts();

/* A plain slave without mailbox, named "Plain Slave <number>", vendor 0x00000A5A, product 1; with
 * a distributed clock unless `withClock` is false. */
Slave makePlainSlave(std::size_t number, bool withClock = true);

/* "branched", a bus that forks twice; slaves without mailbox, all but the plain slaves 2 and 6
 * with clocks that started at different moments and run at different speeds:
 *
 *   master - 1 Junction (ports 0, 3, 1)
 *              port 3: 2 Plain Slave (no clock, end)
 *              port 1: 3 Clock Slave - 4 Junction (ports 0, 3, 1)
 *                          port 3: 5 Clock Slave - 6 Plain Slave (no clock) - 7 Clock Slave (end)
 *                          port 1: 8 Clock Slave (end)
 *
 * Cables in front of slaves 1..8: 0, 15, 40, 25, 10, 55, 20, 30 ns. The layouts of whole
 * robots have clocks in every slave. */
Chain branchedChain();

/* Registration functions, called by layouts(). */
void registerCoreLayouts(LayoutRegistry& registry);
/* "arm" and "robot", the robot's buses with their motor controllers (sim/controller). */
void registerControllerLayouts(LayoutRegistry& registry);
/* "robot+protocols": the robot followed by a slave whose process data only CoE describes and one
 * whose process data only SoE describes (sim/pdo); "robot+files": the robot followed by a slave
 * that stores the files it is sent by FoE in BOOT (sim/foe/filestore.h). */
void registerProtocolLayouts(LayoutRegistry& registry);

} // namespace sim

#endif
