/*
 * The body shared by the test slaves that describe their process data only through a mailbox
 * protocol (the CoE-only slave, the SoE-only drive): an SII whose standard mailbox offers that
 * protocol alone, with the four SyncManagers at fixed places but the process data lengths left out
 * and no PDO categories; the protocol's server in PRE-OP, SAFE-OP and OP; and a PRE-OP -> SAFE-OP
 * rule that wants SM2 and SM3 enabled at their start with the lengths the protocol reports.
 *
 *   auto server = std::make_shared<MyServer>(...);
 *   sim::Slave slave = sim::pdo::makeProtocolSlave({"Name", productCode, sim::mbxproto::CoE, general,
 *                                                    128, outputBytes, inputBytes}, server);
 */
#ifndef SIM_PDO_PROTOCOLSLAVE_H
#define SIM_PDO_PROTOCOLSLAVE_H

#include "core/siibuilder.h"
#include "core/slave.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sim {
namespace pdo {

constexpr std::uint32_t TestVendorId = 0x00000A5A;
constexpr std::uint16_t MailboxOut = 0x1000;
constexpr std::uint16_t MailboxIn = 0x1080;
constexpr std::uint16_t OutputsStart = 0x1100;
constexpr std::uint16_t InputsStart = 0x1180;

struct ProtocolSlaveSpec
{
    std::string name;
    std::uint32_t productCode = 0;
    std::uint16_t protocols = 0; /* sim::mbxproto bits */
    SiiGeneral general;
    std::uint16_t mailboxSize = 128;
    int outputBytes = 0; /* as the protocol reports them; 0: no outputs to check */
    int inputBytes = 0;
};

/* The slave, with `server` answering its mailbox in PRE-OP, SAFE-OP and OP. */
Slave makeProtocolSlave(const ProtocolSlaveSpec& spec, std::shared_ptr<MailboxHandler> server);

/* The SAFE-OP rule of these slaves: SM `sm` enabled at `start` with `bytes` bytes (a zero size
 * needs nothing). 0 when so, else `code`. */
std::uint16_t processDataSmReady(
    const Slave& slave, int sm, std::uint16_t start, int bytes, std::uint16_t code);

} // namespace pdo
} // namespace sim

#endif
