#include "pdoslaves.h"

#include "ethercatconfigmap.h"
#include "ethercatconfig.h"
#include "nicdrv.h"

#include "core/siibuilder.h"
#include "pdo/fmmucoverage.h"

#include <algorithm>

namespace pdotest {

namespace {

constexpr std::uint8_t OutputControl = 0x24; // buffered, master writes, watchdog on
constexpr std::uint8_t InputControl = 0x20; // buffered, master reads
constexpr std::uint8_t SmUsageOutputs = 3;
constexpr std::uint8_t SmUsageInputs = 4;

// A PDO of `bits` bits assigned to SyncManager `sm`, in entries of at most 255 bits.
sim::SiiPdo pdoFor(std::uint16_t index, int sm, int bits)
{
    sim::SiiPdo pdo;
    pdo.index = index;
    pdo.syncManager = std::uint8_t(sm);
    std::uint8_t sub = 1;
    for (int left = bits; left > 0; left -= 255)
        pdo.entries.push_back(
            {std::uint16_t(index + 0x5000), sub++, 0, 0, std::uint8_t(std::min(left, 255)), 0});
    return pdo;
}

} // namespace

sim::Slave makePdSlave(const PdSlaveOptions& options)
{
    std::vector<sim::SiiSyncManager> sms(2); // SM0, SM1 unused: no mailbox
    for (const PdSm& sm : options.sms) {
        if (sms.size() <= std::size_t(sm.number))
            sms.resize(std::size_t(sm.number) + 1);
        sms[std::size_t(sm.number)]
            = {sm.start, std::uint16_t((sm.bits + 7) / 8), sm.output ? OutputControl : InputControl,
                0, 1, sm.output ? SmUsageOutputs : SmUsageInputs};
    }
    sim::SiiGeneral general;
    general.flags = options.blockLrw ? sim::SiiFlagBlockLrw : 0;
    sim::SiiBuilder sii;
    sii.identity(0x00000A5A, 0x0000B0D0, 1).name(options.name).general(general).syncManagers(sms);
    std::uint16_t rx = 0x1600, tx = 0x1A00;
    for (const PdSm& sm : options.sms) {
        if (sm.output)
            sii.rxPdo(pdoFor(rx++, sm.number, sm.bits));
        else
            sii.txPdo(pdoFor(tx++, sm.number, sm.bits));
    }
    sim::Slave slave(sii.build());
    slave.hooks().checkTransition = sim::pdo::withFmmuCoverage(sim::standardProcessDataRules());
    return slave;
}

sim::Slave makeIoSlave(const std::string& name, int outBits, int inBits)
{
    PdSlaveOptions options;
    options.name = name;
    if (outBits)
        options.sms.push_back({2, 0x1100, outBits, true});
    if (inBits)
        options.sms.push_back({3, 0x1180, inBits, false});
    return makePdSlave(options);
}

void PdoBusTest::TearDown()
{
    ec_close();
    bus.reset();
}

int PdoBusTest::open(sim::Chain chain)
{
    bus = std::make_unique<SimBus>(std::move(chain));
    if (ec_init(SimBus::Primary) <= 0)
        return -1;
    return ec_config_init(0);
}

int PdoBusTest::configure(sim::Chain chain)
{
    bus = std::make_unique<SimBus>(std::move(chain));
    if (ec_init(SimBus::Primary) <= 0)
        return -1;
    return ec_config(0, image);
}

std::vector<std::uint8_t> PdoBusTest::slaveOutputs(std::size_t n, int sm)
{
    return bus->slave(n).outputs(sm);
}

sim::Fmmu PdoBusTest::slaveFmmu(std::size_t n, int k)
{
    return sim::Fmmu::fromRegisters(&bus->slave(n).esc().memory()[0x0600 + 16 * std::size_t(k)]);
}

} // namespace pdotest
