// The CoE-only test slave.
#include "coe/coeslave.h"

#include "core/siibuilder.h"

namespace sim {
namespace coe {

namespace {
constexpr std::uint16_t InvalidOutputConfiguration = 0x001D;
constexpr std::uint16_t InvalidInputConfiguration = 0x001E;
} // namespace

PdoLayout standardCoeLayout()
{
    PdoLayout layout;
    layout.outputs = {{0x1600, {{0x7000, 1, 16}, {0x7000, 2, 32}}}};
    layout.inputs = {{0x1A00, {{0x6000, 1, 16}, {0x6000, 2, 32}, {0x6000, 3, 8}}}};
    return layout;
}

std::uint16_t processDataSmReady(const Slave &slave, int sm, std::uint16_t start, int bytes, std::uint16_t code)
{
    if (bytes == 0)
        return 0;
    const SyncManager &s = slave.esc().syncManagers().at(sm);
    bool ready = s.start == start && s.length == bytes && (s.activate & 0x01) != 0;
    return ready ? 0 : code;
}

CoeSlave makeCoeSlave(const CoeSlaveOptions &options)
{
    auto mbx = std::uint16_t(options.mailboxSize);
    SiiGeneral general;
    general.coeDetails = std::uint8_t(0x01 | 0x02 | (options.completeAccess ? 0x20 : 0x00));
    Bytes sii = SiiBuilder()
                    .identity(TestVendorId, CoeSlaveProductCode, 1, 1)
                    .name(options.name)
                    .standardMailbox(MailboxOut, mbx, MailboxIn, mbx)
                    .mailboxProtocols(mbxproto::CoE)
                    .general(general)
                    .fmmus({1, 2, 3})
                    .syncManagers({{MailboxOut, mbx, 0x26, 0, 1, 1},
                                   {MailboxIn, mbx, 0x22, 0, 1, 2},
                                   {OutputsStart, 0, 0x24, 0, 1, 3},
                                   {InputsStart, 0, 0x20, 0, 1, 4}})
                    .build();
    Identity identity{TestVendorId, CoeSlaveProductCode, 1, 1};
    auto server = std::make_shared<CoeServer>(demoDictionary(identity, options.layout), options.mailboxSize,
                                              options.mailboxSize);
    Slave slave(sii);
    slave.mailbox().setHandler(server, {AlState::PreOp, AlState::SafeOp, AlState::Op});
    int outBytes = (options.layout.outputBits() + 7) / 8;
    int inBytes = (options.layout.inputBits() + 7) / 8;
    auto standard = standardProcessDataRules();
    slave.hooks().checkTransition = [=](Slave &s, AlState from, AlState to) -> std::uint16_t {
        if (to == AlState::SafeOp && from == AlState::PreOp) {
            if (auto code = processDataSmReady(s, 2, OutputsStart, outBytes, InvalidOutputConfiguration))
                return code;
            if (auto code = processDataSmReady(s, 3, InputsStart, inBytes, InvalidInputConfiguration))
                return code;
        }
        return standard(s, from, to);
    };
    return CoeSlave{std::move(slave), server};
}

} // namespace coe
} // namespace sim
