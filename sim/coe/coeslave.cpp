// The CoE-only test slave.
#include "coe/coeslave.h"

namespace sim {
namespace coe {

PdoLayout standardCoeLayout()
{
    PdoLayout layout;
    layout.outputs = {{0x1600, {{0x7000, 1, 16}, {0x7000, 2, 32}}}};
    layout.inputs = {{0x1A00, {{0x6000, 1, 16}, {0x6000, 2, 32}, {0x6000, 3, 8}}}};
    return layout;
}

CoeSlave makeCoeSlave(const CoeSlaveOptions& options)
{
    SiiGeneral general;
    general.coeDetails = std::uint8_t(0x01 | 0x02 | (options.completeAccess ? 0x20 : 0x00));
    Identity identity{TestVendorId, CoeSlaveProductCode, 1, 1};
    auto server = std::make_shared<CoeServer>(
        demoDictionary(identity, options.layout), options.mailboxSize, options.mailboxSize);
    Slave slave = pdo::makeProtocolSlave(
        {options.name, CoeSlaveProductCode, mbxproto::CoE, general,
            std::uint16_t(options.mailboxSize), (options.layout.outputBits() + 7) / 8,
            (options.layout.inputBits() + 7) / 8},
        server);
    return CoeSlave{std::move(slave), server};
}

} // namespace coe
} // namespace sim
