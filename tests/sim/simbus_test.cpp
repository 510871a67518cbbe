/*
 * SimBus: the master's link and clock seams driven through the virtual bus.
 */
#include "simbus.h"

#include "eclink.h"
#include "ethercatbase.h"
#include "nicdrv.h"

#include <gtest/gtest.h>

namespace {

std::uint64_t secondsOf(const sim::Clock &clock)
{
    return clock.nowUs() / 1000000u;
}

TEST(SimBus, OnlyRegisteredInterfacesOpen)
{
    SimBus bus(SimBus::plainChain(3));
    EXPECT_EQ(ec_init("nosuchif"), 0);
    EXPECT_EQ(ec_init(""), 0);
    EXPECT_EQ(bus.openHandles(), 0);
    ASSERT_GT(ec_init(SimBus::Primary), 0);
    EXPECT_EQ(bus.openHandles(), 1);
    ec_close();
    EXPECT_EQ(bus.openHandles(), 0);
    // A name the test adds, as a window test does for the interface the operator picks.
    EXPECT_EQ(ec_init("eth7"), 0);
    bus.addInterface("eth7");
    ASSERT_GT(ec_init("eth7"), 0);
    std::uint16_t w = 0;
    EXPECT_EQ(ec_BRD(0, 0x0000, 2, &w, 20000), 3);
    ec_close();
}

TEST(SimBus, SleepsAdvanceTheVirtualClock)
{
    SimBus bus(SimBus::plainChain(1));
    const std::uint64_t before = bus.clock().nowUs();
    ec_clock_sleep(2500000);
    EXPECT_EQ(bus.clock().nowUs() - before, 2500000u);
    struct timeval tv;
    ec_clock_now(&tv);
    EXPECT_EQ(std::uint64_t(tv.tv_usec), bus.clock().nowUs() % 1000000u);
    EXPECT_EQ(std::uint64_t(tv.tv_sec) % 1000u, (1700000000u + secondsOf(bus.clock())) % 1000u);
}

} // namespace
