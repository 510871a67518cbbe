// Distributed clocks against the virtual bus: delays and offsets from the latched receive times,
// the chain of clock slaves, the clock datagram pulling the clocks together, and the SYNC unit.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "busfixture.h"
#include "controller/controllerlayouts.h"
#include "core/layouts.h"
#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatdc.h"
#include "ethercatprocessdata.h"

namespace {

uint8 IOmap[4096];

// Each halving of a loop time loses up to half a nanosecond, and every clock counts whole
// nanoseconds at its own speed: per clock slave on the way from the reference this much.
constexpr std::int64_t kNsPerHop = 2;

// The robot with clocks of its own: started at different moments, some fast, some slow, and
// cables of different lengths.
sim::Chain robotWithClocks()
{
    sim::Chain chain = sim::robotBus().chain;
    for (std::size_t n = 1; n <= chain.size(); ++n) {
        chain.setCableDelayNs(n, std::uint32_t(7 * n));
        if (sim::DcUnit* dc = chain.slave(n).esc().dc())
            dc->setClock({n * 1000000000ull + n * 12345, std::int32_t(n % 3) * 15000 - 15000});
    }
    return chain;
}

class DcBus : public BusTest
{
protected:
    void start(sim::Chain chain)
    {
        BusTest::start(std::move(chain));
        ASSERT_EQ(ec_config_init(FALSE), int(bus_->chain().size()));
    }

    sim::DcUnit* dc(std::size_t n) { return bus_->slave(n).esc().dc(); }

    // Bus time at which frames reach slave n, counted from when they reach slave 1.
    std::int64_t arrivalOffset(std::size_t n)
    {
        return std::int64_t(*bus_->chain().lastArrival(n, 0) - *bus_->chain().lastArrival(1, 0));
    }

    // The clock slaves in bus order, as the virtual bus was built.
    std::vector<uint16> clockSlaves()
    {
        std::vector<uint16> out;
        for (std::size_t n = 1; n <= bus_->chain().size(); ++n)
            if (dc(n))
                out.push_back(uint16(n));
        return out;
    }
};

struct MeasureCase
{
    const char* name;
    sim::Chain (*build)();
    // A junction whose 32-bit receive time crosses `crossing` while the latch frame goes round
    // its branches (0: none).
    std::size_t wrapSlave;
    std::uint64_t crossing;
};

TEST_F(DcBus, DelaysAndOffsetsMatchTheBusAsBuilt)
{
    const MeasureCase cases[] = {
        {"robot", robotWithClocks, 0, 0},
        {"branched", sim::branchedChain, 0, 0},
        {"branched, slave 4 crossing 2^31", sim::branchedChain, 4, 0x80000000ull},
        {"branched, slave 1 crossing 2^32", sim::branchedChain, 1, 0x100000000ull},
    };
    for (const MeasureCase& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.build());
        const std::vector<uint16> clocks = clockSlaves();
        std::uint64_t latchAt = 0;
        if (c.wrapSlave) {
            // When the latch frame is sent, set the junction's clock to cross just after the frame
            // reached its port 0: the link moves the clock on by one frame time, then the chain
            // takes the frame.
            bus_->link().setRule([&](const sim::Bytes& frame, std::uint64_t) {
                const bool latch = frame.size() > 22 && frame[16] == std::uint8_t(sim::Command::Bwr)
                    && sim::getLe16(&frame[20]) == 0x0900;
                if (latch) {
                    latchAt = bus_->clock().nowNs() + bus_->link().timing().frameUs * 1000u
                        + std::uint64_t(arrivalOffset(c.wrapSlave));
                    dc(c.wrapSlave)->setLocalTime(latchAt, c.crossing - 10);
                }
                return sim::FrameFate{};
            });
        }

        ASSERT_TRUE(ec_configdc());
        if (c.wrapSlave) {
            ASSERT_EQ(dc(c.wrapSlave)->latchedAt(), latchAt);
            bus_->link().setRule({});
        }

        const uint16 ref = clocks.front();
        EXPECT_TRUE(ec_slave[0].hasdc);
        EXPECT_TRUE(ec_group[0].hasdc);
        EXPECT_EQ(ec_slave[0].DCnext, ref);
        EXPECT_EQ(ec_group[0].DCnext, ref);
        EXPECT_EQ(ec_slave[ref].pdelay, 0);
        uint16 previous = 0;
        for (std::size_t k = 0; k < clocks.size(); ++k) {
            const uint16 n = clocks[k];
            SCOPED_TRACE(testing::Message() << "slave " << n);
            EXPECT_EQ(ec_slave[n].DCprevious, previous);
            EXPECT_EQ(ec_slave[previous].DCnext, n);
            EXPECT_EQ(ec_slave[n].entryport, 0);
            previous = n;

            const std::int64_t delay = arrivalOffset(n) - arrivalOffset(ref);
            EXPECT_NEAR(ec_slave[n].pdelay, delay, double(kNsPerHop * std::int64_t(k)));
            sim::DcUnit& unit = *dc(n);
            // The slave holds the delay, and its system time started when the latch reached it:
            // there it is behind the reference's by just that delay.
            const std::uint64_t latched = *unit.latchedAt();
            EXPECT_EQ(unit.systemTimeAt(latched), 0u);
            const std::int64_t behind
                = std::int64_t(dc(ref)->systemTimeAt(latched) - unit.systemTimeAt(latched));
            EXPECT_NEAR(behind, ec_slave[n].pdelay, double(kNsPerHop * std::int64_t(k)));
        }
        EXPECT_EQ(ec_slave[previous].DCnext, 0);
        TearDown();
    }
}

TEST_F(DcBus, ProcessDataCycleBringsTheClocksTogether)
{
    start(robotWithClocks());
    ASSERT_GT(ec_config_map(IOmap), 0);
    ASSERT_TRUE(ec_configdc());
    const std::vector<uint16> clocks = clockSlaves();
    const uint16 ref = clocks.front();

    auto worst = [&] {
        const std::uint64_t now = bus_->clock().nowNs();
        std::int64_t w = 0;
        for (uint16 n : clocks) {
            const std::int64_t d
                = std::int64_t(dc(n)->systemTimeAt(now) - dc(ref)->systemTimeAt(now));
            w = std::max(w, d < 0 ? -d : d);
        }
        return w;
    };
    // Right after the measurement each clock lags the reference by its delay.
    EXPECT_GT(worst(), 1000);

    // Between two cycles of 1 ms the clocks drift apart by up to 30 ppm; the slaves correct at
    // most 100 ns per ms, which makes up the delays within a few dozen cycles.
    const std::int64_t cycleUs = 1000;
    const std::int64_t allowed = 30 * cycleUs / 1000 + kNsPerHop * std::int64_t(clocks.size());
    for (int i = 0; i < 60; ++i) {
        bus_->clock().advance(std::uint64_t(cycleUs));
        ec_send_processdata();
        ec_receive_processdata(EC_TIMEOUT_FRAME);
        // The clock datagram brings back the reference's time as the frame passed it.
        const std::uint64_t passed = *bus_->chain().lastArrival(ref, 0);
        ASSERT_EQ(std::uint64_t(ec_DCtime), dc(ref)->systemTimeAt(passed));
    }
    EXPECT_LE(worst(), allowed);
}

TEST_F(DcBus, BusWithoutClocksIsLeftAsItWas)
{
    sim::Chain plain;
    for (std::size_t n = 1; n <= 3; ++n)
        plain.add(sim::makePlainSlave(n, false));
    start(std::move(plain));
    std::vector<ec_slavet> slaves(ec_slave, ec_slave + 4);
    const ec_groupt group = ec_group[0];

    EXPECT_FALSE(ec_configdc());
    for (uint16 n = 0; n <= 3; ++n) {
        slaves[n].consumedports = ec_slave[n].consumedports; // the walk's scratch field
        EXPECT_EQ(0, std::memcmp(&slaves[n], &ec_slave[n], sizeof(ec_slavet))) << "slave " << n;
    }
    EXPECT_EQ(0, std::memcmp(&group, &ec_group[0], sizeof group));
    EXPECT_FALSE(ec_group[0].hasdc);
}

struct SyncCase
{
    bool both;
    boolean act;
    uint32 cycle0;
    uint32 cycle1;
    uint32 shift;
    std::uint8_t activation;
};

TEST_F(DcBus, SyncUnitGetsStartCycleAndActivation)
{
    start(sim::branchedChain());
    ASSERT_TRUE(ec_configdc());
    const SyncCase cases[] = {
        {false, TRUE, 1000000, 0, 0, 0x03},
        {false, TRUE, 1000000, 0, 250000, 0x03},
        {false, FALSE, 500000, 0, 0, 0x00},
        {false, TRUE, 0, 0, 20000, 0x03},
        {true, TRUE, 2000000, 1000000, 0, 0x07},
        {true, FALSE, 2000000, 500000, 100, 0x00},
    };
    const uint16 slave = 5;
    sim::DcUnit& unit = *dc(slave);
    const std::uint64_t lead = 100000000;
    for (const SyncCase& c : cases) {
        SCOPED_TRACE(testing::Message()
            << "cycle " << c.cycle0 << " shift " << c.shift << " act " << int(c.act));
        const std::uint64_t before = unit.systemTimeAt(bus_->clock().nowNs());
        if (c.both)
            ec_dcsync01(slave, c.act, c.cycle0, c.cycle1, c.shift);
        else
            ec_dcsync0(slave, c.act, c.cycle0, c.shift);
        const std::uint64_t after = unit.systemTimeAt(bus_->clock().nowNs());

        const sim::SyncSettings s = unit.sync();
        EXPECT_EQ(s.activation, c.activation);
        EXPECT_EQ(s.cycle0Ns, c.cycle0);
        EXPECT_EQ(s.cycle1Ns, c.both ? c.cycle1 : s.cycle1Ns);
        const std::uint64_t first = s.startNs - c.shift;
        // The first whole cycle at least the lead time after the time read, which lies between
        // `before` and `after`.
        EXPECT_GT(first + (c.cycle0 ? 0 : 1), before + lead);
        EXPECT_LE(first, after + lead + c.cycle0);
        EXPECT_EQ(c.cycle0 ? first % c.cycle0 : 0u, 0u);

        EXPECT_EQ(unit.sync0Pulses(bus_->clock().nowNs()), 0u);
        const std::uint64_t untilStart = s.startNs - unit.systemTimeAt(bus_->clock().nowNs());
        bus_->clock().advance((untilStart + c.cycle0 * 5 / 2) / 1000 + 1);
        const std::uint64_t expected = !c.act ? 0 : c.cycle0 ? 3 : 1;
        EXPECT_EQ(unit.sync0Pulses(bus_->clock().nowNs()), expected);
    }
    // Slave numbers beyond the bus are refused without a frame.
    const std::uint64_t frames = bus_->chain().frames();
    ec_dcsync0(0, TRUE, 1000000, 0);
    ec_dcsync01(uint16(ec_slavecount + 1), TRUE, 1000000, 1000000, 0);
    EXPECT_EQ(bus_->chain().frames(), frames);
}

struct PortCase
{
    uint8 active;
    uint8 port;
    uint8 previous;
};

// The branched bus opens only some port combinations; every row of the pass order is held here.
TEST(DcPorts, PreviousPortFollowsThePassOrderOverOpenPorts)
{
    const PortCase cases[] = {
        {0x03, 0, 1}, {0x03, 1, 0}, // a drop in a line
        {0x01, 0, 0}, // an end: nothing else open
        {0x09, 0, 3}, {0x09, 3, 0}, // ports 0 and 3
        {0x0B, 0, 1}, {0x0B, 1, 3}, {0x0B, 3, 0}, // a junction on 0, 3 and 1
        {0x0F, 0, 2}, {0x0F, 2, 1}, {0x0F, 1, 3}, {0x0F, 3, 0}, // all four
        {0x05, 0, 2}, {0x05, 2, 0}, // ports 0 and 2
        {0x0E, 1, 3}, {0x0E, 3, 2}, // port 0 closed
        {0x0F, 7, 7}, // no such port
    };
    for (const PortCase& c : cases) {
        ec_slave[1].activeports = c.active;
        EXPECT_EQ(ec_prevport(1, c.port), c.previous)
            << "open 0x" << std::hex << int(c.active) << " port " << std::dec << int(c.port);
    }
    EXPECT_EQ(ec_prevport(EC_MAXSLAVE, 1), 1);
}

} // namespace
