// The SoE-only test drive.
#include "soe/soeslave.h"

#include "coe/coeslave.h"
#include "core/siibuilder.h"

namespace sim {
namespace soe {

namespace {
constexpr std::uint16_t MailboxOut = 0x1000;
constexpr std::uint16_t MailboxIn = 0x1080;
constexpr std::uint16_t OutputsStart = 0x1100;
constexpr std::uint16_t InputsStart = 0x1180;
constexpr std::uint16_t InvalidOutputConfiguration = 0x001D;
constexpr std::uint16_t InvalidInputConfiguration = 0x001E;
constexpr std::uint8_t Bits16 = 1;
constexpr std::uint8_t Bits32 = 2;

Idn value(const std::string &name, std::uint8_t lengthCode, bool writable = false)
{
    return Idn{name, attribute(lengthCode), Bytes(std::size_t(1) << lengthCode, 0), writable};
}
} // namespace

void addTestDriveIdns(SoeServer &server)
{
    server.add(24, Idn{"MDT configuration", attribute(Bits16, true), idnList({47, 36}), false});
    server.add(16, Idn{"AT configuration", attribute(Bits16, true), idnList({51, 84}), false});
    server.add(47, value("Position command value", Bits32));
    server.add(36, value("Velocity command value", Bits32));
    server.add(51, value("Position feedback value", Bits32));
    server.add(84, value("Torque feedback value", Bits16));
    server.add(ScratchIdn, Idn{"Scratch buffer", attribute(0, true), {}, true});
    server.add(ParameterIdn, value("Test parameter", Bits32, true));
}

SoeSlave makeSoeSlave(const SoeSlaveOptions &options)
{
    auto mbx = std::uint16_t(options.mailboxSize);
    SiiGeneral general;
    general.soeChannels = 1;
    Bytes sii = SiiBuilder()
                    .identity(coe::TestVendorId, SoeSlaveProductCode, 1, 1)
                    .name(options.name)
                    .standardMailbox(MailboxOut, mbx, MailboxIn, mbx)
                    .mailboxProtocols(mbxproto::SoE)
                    .general(general)
                    .fmmus({1, 2, 3})
                    .syncManagers({{MailboxOut, mbx, 0x26, 0, 1, 1},
                                   {MailboxIn, mbx, 0x22, 0, 1, 2},
                                   {OutputsStart, 0, 0x24, 0, 1, 3},
                                   {InputsStart, 0, 0x20, 0, 1, 4}})
                    .build();
    auto server = std::make_shared<SoeServer>(options.mailboxSize, options.mailboxSize);
    addTestDriveIdns(*server);
    Slave slave(sii);
    slave.mailbox().setHandler(server, {AlState::PreOp, AlState::SafeOp, AlState::Op});
    auto standard = standardProcessDataRules();
    slave.hooks().checkTransition = [standard](Slave &s, AlState from, AlState to) -> std::uint16_t {
        if (to == AlState::SafeOp && from == AlState::PreOp) {
            if (auto code = coe::processDataSmReady(s, 2, OutputsStart, SoeSlaveOutputBits / 8,
                                                    InvalidOutputConfiguration))
                return code;
            if (auto code = coe::processDataSmReady(s, 3, InputsStart, SoeSlaveInputBits / 8,
                                                    InvalidInputConfiguration))
                return code;
        }
        return standard(s, from, to);
    };
    return SoeSlave{std::move(slave), server};
}

} // namespace soe
} // namespace sim
