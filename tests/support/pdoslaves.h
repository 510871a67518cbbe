// Slaves with process data described in their SII, built in code for the mapping and exchange
// tests, and a fixture that opens the master on a chain of them.
#pragma once

#include "simbus.h"

#include "core/fmmu.h"
#include "core/slave.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pdotest {

// One process data SyncManager: where it sits, how many bits it carries and which way.
struct PdSm
{
    int number; // SyncManager 2..7 (0 and 1 too for a slave without mailbox)
    std::uint16_t start; // physical start address
    int bits;
    bool output; // master to slave
};

struct PdSlaveOptions
{
    std::string name = "PD Slave";
    std::vector<PdSm> sms;
    bool blockLrw = false;
};

// A slave without mailbox whose SII SM and PDO categories describe `sms`. It takes SAFE-OP only
// with those SyncManagers set up and reachable through FMMUs, and OP only after outputs arrived.
sim::Slave makePdSlave(const PdSlaveOptions& options);

// Shorthands: a slave with one output SM (SM2 at 0x1100) and one input SM (SM3 at 0x1180).
sim::Slave makeIoSlave(const std::string& name, int outBits, int inBits);

// A chain of the given slaves, in bus order.
template <typename... Slaves>
sim::Chain chainOf(Slaves&&... slaves)
{
    sim::Chain chain;
    (chain.add(std::move(slaves)), ...);
    return chain;
}

// Opens the master on a chain, owns the process image, closes the master afterwards.
class PdoBusTest : public ::testing::Test
{
protected:
    void TearDown() override;
    // Open the port on `chain` and enumerate it (no mapping yet): the slave count.
    int open(sim::Chain chain);
    // Open, enumerate and map into `image`: ec_config's result.
    int configure(sim::Chain chain);
    // Bytes the slave behind bus position `n` last got in SyncManager `sm`.
    std::vector<std::uint8_t> slaveOutputs(std::size_t n, int sm);
    // FMMU `k` as the slave at bus position `n` holds it in its registers.
    sim::Fmmu slaveFmmu(std::size_t n, int k);

    std::unique_ptr<SimBus> bus;
    alignas(8) std::uint8_t image[4096] = {};
};

} // namespace pdotest
