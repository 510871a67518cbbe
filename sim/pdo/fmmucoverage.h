/*
 * The FMMU half of a slave's PRE-OP -> SAFE-OP rule: process data only flow when every byte of
 * every process data SyncManager is reachable through an FMMU of the right direction. The
 * SyncManager half (start, length, enable as the SII or the object dictionary says) is the
 * device's own rule; `withFmmuCoverage` puts the two together.
 *
 *   slave.hooks().checkTransition = sim::pdo::withFmmuCoverage(sim::standardProcessDataRules());
 *
 * A slave whose master could not give it enough FMMUs therefore stays in PRE-OP with AL status
 * code 0x001D (outputs) or 0x001E (inputs), as a real device refuses a configuration it cannot
 * work with.
 */
#ifndef SIM_PDO_FMMUCOVERAGE_H
#define SIM_PDO_FMMUCOVERAGE_H

#include "core/slave.h"

#include <cstdint>
#include <functional>

namespace sim {
namespace pdo {

using TransitionRule = std::function<std::uint16_t(Slave&, AlState, AlState)>;

/* 0 when every enabled buffered SyncManager's area is covered byte for byte by active FMMUs that
 * write it (master-to-slave SyncManagers) or read it (slave-to-master ones); else the AL status
 * code of the first direction found short. */
std::uint16_t fmmuCoverage(const Slave& slave);

/* `rule` with the FMMU check in front of it on PRE-OP -> SAFE-OP. An empty `rule` grants the
 * rest. */
TransitionRule withFmmuCoverage(TransitionRule rule);

} // namespace pdo
} // namespace sim

#endif
