/*
 * Slaves for the enumeration tests, built in code from SII descriptions: motor controllers and
 * boards as the robot has them, and chains of any SII images.
 */
#ifndef TESTS_ENUM_TESTCHAINS_H
#define TESTS_ENUM_TESTCHAINS_H

#include "core/chain.h"
#include "core/layouts.h"
#include "core/siibuilder.h"

#include <string>
#include <vector>

namespace enumtest {

constexpr std::uint32_t ControllerVendor = 0x00000286;
constexpr std::uint32_t BoardVendor = 0x00000A5A;

/* Process data SyncManagers of every controller. */
constexpr std::uint16_t OutputsStart = 0x1100;
constexpr std::uint16_t InputsStart = 0x1180;

/* The SII description of a motor controller: standard and bootstrap mailbox, CoE and FoE,
 * four SyncManagers, three FMMUs, one PDO per direction. */
sim::SiiBuilder controllerSii(const std::string &name, std::uint32_t product);
/* A board that is no axis: no mailbox, a name and a general category. */
sim::SiiBuilder boardSii(const std::string &name, std::uint32_t product);

/* A chain of the given SII images, one slave each. */
sim::Chain chainOf(const std::vector<sim::Bytes> &images);

/* The simulator's "arm" layout: a board, then five controllers. */
inline sim::Chain armChain()
{
    return *sim::layouts().build("arm");
}

} // namespace enumtest

#endif
