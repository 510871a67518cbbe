// The axis bus bring-up against the virtual robot: counting of the controllers, the way to
// OPERATIONAL with its one process data cycle, and the failure texts.
#include "controller/controllerlayouts.h"
#include "simbus.h"

#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"
#include "zuvianbringup.h"

#include "pdoslaves.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using pdotest::chainOf;
using pdotest::makeIoSlave;

namespace {

class Bringup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::memset(&info, 0, sizeof info);
        info.ifname = ifname;
    }
    void TearDown() override
    {
        ec_close();
        bus.reset();
    }
    // Bring the bus up and keep what it printed.
    int bringUp()
    {
        ::testing::internal::CaptureStdout();
        int result = init_ethercatMaster(&info);
        printed = ::testing::internal::GetCapturedStdout();
        return result;
    }
    // All slaves, platform controllers, arm controllers.
    std::vector<uint32> counts() const
    {
        return {info.allslavecnt, info.platformslavecnt, info.armslavecnt};
    }

    char ifname[8] = "sim0";
    EtherCat_Info info;
    std::unique_ptr<SimBus> bus;
    std::string printed;
};

TEST_F(Bringup, RobotGoesOperationalWithFourPlatformAndFiveArmControllers)
{
    bus = std::make_unique<SimBus>(sim::robotBus());
    EXPECT_EQ(bringUp(), 0);
    EXPECT_EQ(counts(), (std::vector<uint32>{11, 4, 5}));
    EXPECT_EQ(info.status, 8u);
    EXPECT_EQ(info.error, nullptr);
    for (std::size_t n = 1; n <= 11; n++)
        EXPECT_EQ(bus->slave(n).state(), sim::AlState::Op) << n;

    // The inputs carry a controller's position and error flags; the outputs reach it.
    bus->controller(9).interpreter().parameters().setAxis(209, 0x01020304);
    bus->controller(9).interpreter().setErrorFlags(0x0200);
    const std::uint8_t velocity[4] = {0x10, 0x20, 0x30, 0x40};
    std::memcpy(ec_slave[9].outputs, velocity, sizeof velocity);
    for (int cycle = 0; cycle < 2; cycle++) {
        ec_send_processdata();
        ec_receive_processdata(500);
    }
    const std::uint8_t expected[10] = {0x04, 0x03, 0x02, 0x01, 0x10, 0x20, 0x30, 0x40, 0x00, 0x02};
    EXPECT_EQ(0, std::memcmp(expected, ec_slave[9].inputs, sizeof expected));
}

TEST_F(Bringup, OnlyExactNamesWithProcessDataBothWaysAreCounted)
{
    bus = std::make_unique<SimBus>(chainOf(makeIoSlave("TMCM-174", 32, 32),
        makeIoSlave("TMCM-1632", 1, 1), makeIoSlave("TMCM-1610", 32, 0),
        makeIoSlave("TMCM-174X", 32, 32), makeIoSlave("tmcm-1632", 32, 32),
        makeIoSlave("TMCM-ZQ-841", 8, 8), makeIoSlave("TMCM-ZQ-84", 8, 8)));
    EXPECT_EQ(bringUp(), 0);
    EXPECT_EQ(counts(), (std::vector<uint32>{7, 2, 1}));
}

TEST_F(Bringup, SlaveStayingInSafeOpFailsWithValidCounts)
{
    bus = std::make_unique<SimBus>("robot");
    bus->slave(9).alFaults().ignore = sim::AlState::Op;
    info.status = 3;
    EXPECT_EQ(bringUp(), -1);
    EXPECT_STREQ(info.error, "ERROR:Not all slaves reached operational state");
    EXPECT_EQ(printed, "Not all slaves reached operational state.\n");
    EXPECT_EQ(counts(), (std::vector<uint32>{11, 4, 5}));
    EXPECT_EQ(info.status, 3u);
    // Every slave's state was read back.
    EXPECT_EQ(ec_slave[9].state, EC_STATE_SAFE_OP);
    EXPECT_EQ(ec_slave[8].state, EC_STATE_OPERATIONAL);
}

TEST_F(Bringup, EmptyBusReportsNoSlaves)
{
    bus = std::make_unique<SimBus>(sim::Chain());
    info.allslavecnt = 5;
    EXPECT_EQ(bringUp(), 0);
    EXPECT_EQ(printed, "No slaves found\n");
    EXPECT_STREQ(info.error, "ERROR: No slaves found!");
    EXPECT_EQ(counts(), (std::vector<uint32>{0, 0, 0}));
    EXPECT_EQ(bus->openHandles(), 1);
}

TEST_F(Bringup, PortThatDoesNotOpenLeavesNoText)
{
    bus = std::make_unique<SimBus>("arm");
    std::strcpy(ifname, "nosuch");
    info.allslavecnt = 5;
    info.armslavecnt = 5;
    EXPECT_EQ(bringUp(), 0);
    EXPECT_EQ(counts(), (std::vector<uint32>{0, 0, 0}));
    EXPECT_EQ(info.error, nullptr);
    EXPECT_EQ(info.status, 0u);
    EXPECT_EQ(printed, "");
}

TEST_F(Bringup, EveryBringUpStartsWithAnEmptyParameterListAndNoSineAxes)
{
    bus = std::make_unique<SimBus>("arm");
    for (ParamInfo& p : info.params)
        p = {3, 42, 7, nullptr};
    std::memset(initSineAxis, 9, sizeof initSineAxis);
    EXPECT_EQ(bringUp(), 0);
    for (const ParamInfo& p : info.params)
        ASSERT_EQ(p.type, 0);
    for (std::uint8_t a : initSineAxis)
        EXPECT_EQ(a, 0);
}

TEST_F(Bringup, CountingNeverLooksPastTheSlaveTable)
{
    bus = std::make_unique<SimBus>("arm");
    ASSERT_EQ(bringUp(), 0);
    info.armslavecnt = 0;
    EXPECT_EQ(getSlavesWithIO(100000, &info), 0);
    EXPECT_EQ(info.armslavecnt, 5u);
    EXPECT_EQ(getSlavesWithIO(3, &info), 0);
    EXPECT_EQ(info.armslavecnt, 2u);
}

TEST_F(Bringup, SafeOpCheckTellsWhetherTheWholeBusIsInSafeOp)
{
    bus = std::make_unique<SimBus>("arm");
    ASSERT_EQ(bringUp(), 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(checkOPState(nullptr), -1);
    EXPECT_EQ(
        ::testing::internal::GetCapturedStdout(), "Not all slaves reached safe operational state.");
    EXPECT_EQ(ec_slave[2].state, EC_STATE_OPERATIONAL);

    ec_slave[0].state = EC_STATE_SAFE_OP;
    ec_writestate(0);
    std::uint8_t unused = 0;
    EXPECT_EQ(checkOPState(&unused), 0);
}

} // namespace
