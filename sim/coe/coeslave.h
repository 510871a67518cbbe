// A test-only slave that describes its process data only through CoE: its SII has a standard
// mailbox offering CoE alone, a SyncManager category with the process data SMs at fixed places but
// no lengths, and no PDO categories, so the master must read the layout from the object
// dictionary (0x1C00, 0x1C12/0x1C13, 0x1600/0x1A00).
//
// Process data of the default layout:
//   outputs (SM2 at 0x1100): PDO 0x1600 = 0x7000:01 16 bits + 0x7000:02 32 bits = 48 bits, 6 bytes
//   inputs  (SM3 at 0x1180): PDO 0x1A00 = 0x6000:01 16 bits + 0x6000:02 32 bits + 0x6000:03 8 bits
//                            = 56 bits, 7 bytes
// Mailboxes: 128 bytes each at 0x1000 (write) and 0x1080 (read).
//
// SAFE-OP is granted only when SM2 and SM3 are enabled at their start with the lengths the
// dictionary gives (else AL status code 0x001D for outputs, 0x001E for inputs); OP only after the
// outputs were written once.
//
//   auto coe = sim::coe::makeCoeSlave();        // or makeCoeSlave({.completeAccess = true})
//   auto server = coe.server;                    // keep to switch faults or look at the dictionary
//   chain.add(std::move(coe.slave));
#pragma once

#include "coe/coeserver.h"
#include "coe/demodictionary.h"
#include "core/slave.h"
#include "pdo/protocolslave.h"

#include <memory>
#include <string>

namespace sim {
namespace coe {

constexpr std::uint32_t TestVendorId = pdo::TestVendorId;
constexpr std::uint32_t CoeSlaveProductCode = 0x0000C0E1;
constexpr int CoeSlaveOutputBits = 48;
constexpr int CoeSlaveInputBits = 56;

// The default layout described above.
PdoLayout standardCoeLayout();

struct CoeSlaveOptions
{
    std::string name = "CoE Test Slave";
    // The SII general category offers complete access (CoE details bit 0x20).
    bool completeAccess = false;
    std::size_t mailboxSize = 128;
    PdoLayout layout = standardCoeLayout();
};

struct CoeSlave
{
    Slave slave;
    std::shared_ptr<CoeServer> server;
};

CoeSlave makeCoeSlave(const CoeSlaveOptions& options = {});

} // namespace coe
} // namespace sim
