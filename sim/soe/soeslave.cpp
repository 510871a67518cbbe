// The SoE-only test drive.
#include "soe/soeslave.h"

#include "pdo/protocolslave.h"

namespace sim {
namespace soe {

namespace {
constexpr std::uint8_t Bits16 = 1;
constexpr std::uint8_t Bits32 = 2;

Idn value(const std::string& name, std::uint8_t lengthCode, bool writable = false)
{
    return Idn{name, attribute(lengthCode), Bytes(std::size_t(1) << lengthCode, 0), writable};
}
} // namespace

void addTestDriveIdns(SoeServer& server)
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

SoeSlave makeSoeSlave(const SoeSlaveOptions& options)
{
    SiiGeneral general;
    general.soeChannels = 1;
    auto server = std::make_shared<SoeServer>(options.mailboxSize, options.mailboxSize);
    addTestDriveIdns(*server);
    Slave slave = pdo::makeProtocolSlave(
        {options.name, SoeSlaveProductCode, mbxproto::SoE, general,
            std::uint16_t(options.mailboxSize), SoeSlaveOutputBits / 8, SoeSlaveInputBits / 8},
        server);
    return SoeSlave{std::move(slave), server};
}

} // namespace soe
} // namespace sim
