// A test-only drive that describes its process data only through SoE: its SII has a standard
// mailbox offering SoE alone, a SyncManager category with the process data SMs at fixed places but
// no lengths, and no PDO categories, so the master must read the sizes from IDN 24 (outputs) and
// IDN 16 (inputs) and the attributes of the IDNs they list.
//
// IDNs of the drive (drive number 0):
//   24  output list {47, 36}: 16 bits of list + 32 (position command) + 32 (velocity command)
//       = 80 bits, 10 bytes in SM2 at 0x1100
//   16  input list {51, 84}: 16 bits of list + 32 (position feedback) + 16 (torque feedback)
//       = 64 bits, 8 bytes in SM3 at 0x1180
//   47, 36, 51 (32 bits), 84 (16 bits): read-only values
//   ScratchIdn (0x8000): a writable list that takes any length, for fragmented writes
//   ParameterIdn (0x8001): a writable 32-bit value
// Mailboxes: 128 bytes each at 0x1000 (write) and 0x1080 (read).
//
// SAFE-OP is granted only when SM2 and SM3 are enabled at their start with those lengths (else AL
// status code 0x001D / 0x001E); OP only after the outputs were written once.
#pragma once

#include "core/slave.h"
#include "soe/soeserver.h"

#include <memory>
#include <string>

namespace sim {
namespace soe {

constexpr std::uint32_t SoeSlaveProductCode = 0x00005DE1;
constexpr std::uint16_t ScratchIdn = 0x8000;
constexpr std::uint16_t ParameterIdn = 0x8001;
constexpr int SoeSlaveOutputBits = 80;
constexpr int SoeSlaveInputBits = 64;

struct SoeSlaveOptions
{
    std::string name = "SoE Test Drive";
    std::size_t mailboxSize = 128;
};

struct SoeSlave
{
    Slave slave;
    std::shared_ptr<SoeServer> server;
};

SoeSlave makeSoeSlave(const SoeSlaveOptions& options = {});

// Fill `server` with the IDNs listed above.
void addTestDriveIdns(SoeServer& server);

} // namespace soe
} // namespace sim
