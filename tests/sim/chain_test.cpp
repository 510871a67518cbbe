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

TEST(Chain, FrameReachesThePortsOfABranchedBusInWalkOrder)
{
    sim::Chain chain = sim::branchedChain();
    addressAll(chain);
    chain.clock().advance(5);
    const std::uint64_t t0 = chain.clock().nowNs();
    exchange(chain, Command::Bwr, 0, 0x0900, 4);
    // Forwarding 100 ns per port passed, cables 0, 15, 40, 25, 10, 55, 20, 30 ns in front of
    // slaves 1..8: the frame goes 1 -> (port 3) 2 -> 1 -> (port 1) 3 -> 4 -> (port 3) 5 -> 6 -> 7
    // -> 6 -> 5 -> 4 -> (port 1) 8 -> 4 -> 3 -> 1.
    struct Case
    {
        std::size_t slave;
        int port;
        std::optional<std::uint64_t> afterNs;
    };
    const Case cases[] = {
        {1, 0, 0},    {1, 3, 230},  {1, 1, 1790}, {1, 2, std::nullopt}, {2, 0, 115},
        {2, 1, std::nullopt},       {3, 0, 370},  {3, 1, 1650},         {4, 0, 495},
        {4, 3, 1265}, {4, 1, 1525}, {5, 0, 605},  {5, 1, 1155},         {6, 0, 760},
        {6, 1, 1000}, {7, 0, 880},  {8, 0, 1395}, {8, 1, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "slave " << c.slave << " port " << c.port);
        const auto at = chain.lastArrival(c.slave, c.port);
        ASSERT_EQ(at.has_value(), c.afterNs.has_value());
        if (!at)
            continue;
        EXPECT_EQ(*at - t0, *c.afterNs);
        // The latch holds the slave's own clock at that moment; slaves 2 and 6 have none.
        auto r = exchange(chain, Command::Fprd, station(c.slave),
                          std::uint16_t(0x0900 + 4 * c.port), 4);
        const sim::DcUnit *dc = chain.slave(c.slave).esc().dc();
        const std::uint32_t expected = dc ? std::uint32_t(dc->localTimeAt(*at)) : 0u;
        EXPECT_EQ(sim::getLe32(r->data.data()), expected);
    }
    // Links follow the cabling: the junctions have ports 0, 1 and 3 open, port 2 closed.
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(4), 0x0110, 2)->data) & 0xFF00, 0x9A00);
}

TEST(Chain, SlavesAreAddedInBusOrderOnly)
{
    sim::Chain chain = plainChain(1);
    chain.attach(sim::makePlainSlave(2), 1, 3);
    chain.add(sim::makePlainSlave(3));
    // Slave 1's port 3 is taken; slave 2's port 3 comes before its port 1 that slave 3 uses;
    // port 0 leads back up.
    EXPECT_THROW(chain.attach(sim::makePlainSlave(4), 1, 3), std::invalid_argument);
    EXPECT_THROW(chain.attach(sim::makePlainSlave(4), 2, 3), std::invalid_argument);
    EXPECT_THROW(chain.attach(sim::makePlainSlave(4), 3, 0), std::invalid_argument);
    chain.attach(sim::makePlainSlave(4), 1, 1);
    // Slave 2's branches are finished once the frame went on to slave 1's port 1.
    EXPECT_THROW(chain.attach(sim::makePlainSlave(5), 2, 2), std::invalid_argument);
    EXPECT_EQ(chain.size(), 4u);
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
