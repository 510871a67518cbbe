/*
 * The chain's cabling (line, ring, broken ring, a slave off the bus), frame losses and the
 * in-process link with its virtual clock.
 */
#include "simtest.h"

#include "core/inprocesslink.h"
#include "core/layouts.h"

#include <gtest/gtest.h>

using namespace simtest;
using sim::Command;
using sim::Port;

namespace {

sim::Chain plainChain(std::size_t n)
{
    return *sim::layouts().build("generic:" + std::to_string(n));
}

/* A BRD of the type register sent on `port`: the port it comes back on and its working counter. */
std::optional<std::pair<Port, std::uint16_t>> count(sim::Chain &chain, Port port)
{
    sim::FrameBuilder f;
    f.add(Command::Brd, 0, 0x0000, 2);
    auto out = chain.process(f.frame(), port);
    if (!out)
        return std::nullopt;
    return std::make_pair(out->port, sim::datagramResult(out->frame, 0)->workingCounter);
}

TEST(Chain, BrokenRingServesEachSideFromItsOwnPort)
{
    sim::Chain chain = plainChain(5);
    chain.setRing(true);
    chain.breakAfter(2);
    EXPECT_EQ(count(chain, Port::Primary), std::make_pair(Port::Primary, std::uint16_t(2)));
    EXPECT_EQ(count(chain, Port::Secondary), std::make_pair(Port::Secondary, std::uint16_t(3)));
    // Positions count from the first slave each side reaches: position 0 seen from the
    // secondary side is slave 3.
    sim::FrameBuilder f;
    f.add(Command::Apwr, 0, 0x0010, le16(0x3333));
    chain.process(f.frame(), Port::Secondary);
    chain.repair();
    EXPECT_EQ(word(exchange(chain, Command::Aprd, std::uint16_t(-2), 0x0010, 2)->data), 0x3333);
    EXPECT_EQ(count(chain, Port::Primary), std::make_pair(Port::Secondary, std::uint16_t(5)));
}

TEST(Chain, SlaveOffTheBusEndsTheChainInFrontOfIt)
{
    sim::Chain chain = plainChain(4);
    chain.slave(3).setOnline(false);
    EXPECT_EQ(count(chain, Port::Primary), std::make_pair(Port::Primary, std::uint16_t(2)));
    addressAll(chain);
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(2), 0x0110, 2)->data) & 0x0F00, 0x0600);
    chain.slave(1).setOnline(false);
    EXPECT_FALSE(count(chain, Port::Primary));
    chain.slave(1).setOnline(true);
    chain.slave(3).setOnline(true);
    EXPECT_EQ(count(chain, Port::Primary)->second, 4);
    EXPECT_THROW(chain.slave(5), std::out_of_range);
    EXPECT_THROW(chain.slave(0), std::out_of_range);
}

TEST(Chain, EveryNthFrameIsLostOnRequest)
{
    sim::Chain chain = plainChain(2);
    chain.faults().dropEvery = 3;
    int lost = 0;
    for (int i = 0; i < 9; ++i)
        lost += count(chain, Port::Primary) ? 0 : 1;
    EXPECT_EQ(lost, 3);
}

TEST(Chain, DistributedClockLatchFollowsTheHops)
{
    sim::Chain chain = plainChain(3);
    chain.setHopDelayNs(100);
    addressAll(chain);
    chain.clock().advance(5);
    exchange(chain, Command::Bwr, 0, 0x0900, 4);
    std::uint32_t t[3][2];
    for (std::size_t n = 1; n <= 3; ++n) {
        auto r = exchange(chain, Command::Fprd, station(n), 0x0900, 8);
        t[n - 1][0] = sim::getLe32(&r->data[0]);
        t[n - 1][1] = sim::getLe32(&r->data[4]);
    }
    EXPECT_EQ(t[0][0], 5000u);
    EXPECT_EQ(t[1][0], 5100u);
    EXPECT_EQ(t[2][0], 5200u);
    // The frame returns through port 1 after the slaves behind have looped it back.
    EXPECT_EQ(t[0][1] - t[0][0], 400u);
    EXPECT_EQ(t[1][1] - t[1][0], 200u);
    // System time counts from power-up plus the offset the master writes.
    sim::Bytes offset(8, 0);
    sim::putLe32(&offset[0], 1000);
    exchange(chain, Command::Fpwr, station(2), 0x0920, offset);
    const std::uint64_t now = chain.clock().nowNs();
    auto r = exchange(chain, Command::Fprd, station(2), 0x0910, 8);
    EXPECT_EQ(sim::getLe32(&r->data[0]), std::uint32_t(now + 1000));
}

TEST(InProcessLink, RepliesQueueOnTheirPortAndTimeAdvances)
{
    sim::Chain chain = plainChain(2);
    chain.setRing(true);
    sim::InProcessLink link(chain, {10, 3});
    sim::FrameBuilder f;
    f.add(Command::Brd, 0, 0, 2);
    link.send(Port::Primary, f.frame());
    link.send(Port::Secondary, f.frame());
    EXPECT_EQ(chain.clock().nowUs(), 20u);
    EXPECT_EQ(link.waiting(Port::Primary), 1u);
    EXPECT_EQ(link.waiting(Port::Secondary), 1u);
    auto onSecondary = link.receive(Port::Secondary);
    ASSERT_TRUE(onSecondary);
    EXPECT_EQ(sim::datagramResult(*onSecondary, 0)->workingCounter, 2);
    EXPECT_EQ(sim::datagramResult(*link.receive(Port::Primary), 0)->workingCounter, 0);
    EXPECT_EQ(chain.clock().nowUs(), 20u);
    EXPECT_FALSE(link.receive(Port::Primary));
    EXPECT_EQ(chain.clock().nowUs(), 23u);
    chain.faults().loseNext = 1;
    link.send(Port::Primary, f.frame());
    EXPECT_EQ(link.waiting(Port::Secondary), 0u);
}

TEST(Layouts, GenericLayoutsAndUnknownNames)
{
    const sim::LayoutRegistry registry = sim::layouts();
    EXPECT_EQ(registry.build("generic:7")->size(), 7u);
    EXPECT_FALSE(registry.build("generic:"));
    EXPECT_FALSE(registry.build("generic:0"));
    EXPECT_FALSE(registry.build("generic:1001"));
    EXPECT_FALSE(registry.build("generic:3x"));
    EXPECT_FALSE(registry.build("nosuchlayout"));
    bool listed = false;
    for (const auto &entry : registry.list())
        listed = listed || entry.first == "generic:N";
    EXPECT_TRUE(listed);
}

} // namespace
