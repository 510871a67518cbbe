/*
 * SII, mailbox and SAFE-OP rule of the test slaves whose process data only a mailbox protocol
 * describes.
 */
#include "pdo/protocolslave.h"

namespace sim {
namespace pdo {

std::uint16_t processDataSmReady(
    const Slave& slave, int sm, std::uint16_t start, int bytes, std::uint16_t code)
{
    if (bytes == 0)
        return 0;
    const SyncManager& s = slave.esc().syncManagers().at(sm);
    bool ready = s.start == start && s.length == bytes && (s.activate & 0x01) != 0;
    return ready ? 0 : code;
}

Slave makeProtocolSlave(const ProtocolSlaveSpec& spec, std::shared_ptr<MailboxHandler> server)
{
    const std::uint16_t mbx = spec.mailboxSize;
    Bytes sii
        = SiiBuilder()
              .identity(TestVendorId, spec.productCode, 1, 1)
              .name(spec.name)
              .standardMailbox(MailboxOut, mbx, MailboxIn, mbx)
              .mailboxProtocols(spec.protocols)
              .general(spec.general)
              .fmmus({1, 2, 3})
              .syncManagers({{MailboxOut, mbx, 0x26, 0, 1, 1}, {MailboxIn, mbx, 0x22, 0, 1, 2},
                  {OutputsStart, 0, 0x24, 0, 1, 3}, {InputsStart, 0, 0x20, 0, 1, 4}})
              .build();
    Slave slave(sii);
    slave.mailbox().setHandler(std::move(server), {AlState::PreOp, AlState::SafeOp, AlState::Op});
    // The SII leaves the process data lengths out, so the standard rule cannot check them: the
    // lengths the protocol reports are checked here first.
    const int outBytes = spec.outputBytes;
    const int inBytes = spec.inputBytes;
    auto standard = standardProcessDataRules();
    slave.hooks().checkTransition = [=](Slave& s, AlState from, AlState to) -> std::uint16_t {
        if (to == AlState::SafeOp && from == AlState::PreOp) {
            if (auto code = processDataSmReady(
                    s, 2, OutputsStart, outBytes, alcode::InvalidOutputConfiguration))
                return code;
            if (auto code
                = processDataSmReady(s, 3, InputsStart, inBytes, alcode::InvalidInputConfiguration))
                return code;
        }
        if (to == AlState::Op && outBytes > 0 && s.outputWritesSinceSafeOp(2) == 0)
            return alcode::NoValidOutputs;
        return standard(s, from, to);
    };
    return slave;
}

} // namespace pdo
} // namespace sim
