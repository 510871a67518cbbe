/*
 * Chains for the enumeration tests, built in code from SII descriptions: the robot's boards and
 * motor controllers, plus helpers to start the master on a SimBus.
 */
#ifndef TESTS_ENUM_TESTCHAINS_H
#define TESTS_ENUM_TESTCHAINS_H

#include "core/chain.h"
#include "core/siibuilder.h"

#include <string>
#include <vector>

namespace enumtest {

constexpr std::uint32_t ControllerVendor = 0x00000286;
constexpr std::uint32_t BoardVendor = 0x00000A5A;

/* Process data SyncManagers and FMMU uses of every controller. */
constexpr std::uint16_t OutputsStart = 0x1100;
constexpr std::uint16_t InputsStart = 0x1180;

/* The SII description of a motor controller: standard and bootstrap mailbox, CoE and FoE,
 * four SyncManagers, three FMMUs, one PDO per direction. */
sim::SiiBuilder controllerSii(const std::string &name, std::uint32_t product);
/* A board that is no axis: no mailbox, a name and a general category. */
sim::SiiBuilder boardSii(const std::string &name, std::uint32_t product);

/* The two layouts of the robot, equivalent to the sim's "robot" (11 slaves) and "arm" (6). */
sim::Chain robotChain();
sim::Chain armChain();
/* The names of those chains in bus order. */
std::vector<std::string> robotNames();
std::vector<std::string> armNames();

/* A chain of the given SII images, one slave each. */
sim::Chain chainOf(const std::vector<sim::Bytes> &images);

} // namespace enumtest

#endif
