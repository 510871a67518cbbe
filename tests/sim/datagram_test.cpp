/*
 * The emulated slaves at the byte level: addressing modes, working counters, broadcast OR,
 * read-only registers, several datagrams per frame, malformed frames.
 */
#include "simtest.h"

#include "core/layouts.h"

#include <gtest/gtest.h>

#include <random>

using namespace simtest;
using sim::Command;

namespace {

sim::Chain plainChain(std::size_t n)
{
    return *sim::layouts().build("generic:" + std::to_string(n));
}

TEST(Datagram, BroadcastReadOrsDifferentValues)
{
    sim::Chain chain = plainChain(3);
    addressAll(chain);
    // Station addresses 0x1001, 0x1002, 0x1003 ORed together.
    auto r = exchange(chain, Command::Brd, 0, 0x0010, 2);
    ASSERT_TRUE(r);
    EXPECT_EQ(word(r->data), 0x1003);
    EXPECT_EQ(r->wkc, 3);
    // Request data is ORed with, not replaced.
    r = exchange(chain, Command::Brd, 0, 0x0010, le16(0x8000));
    ASSERT_TRUE(r);
    EXPECT_EQ(word(r->data), 0x9003);
}

TEST(Datagram, AutoIncrementAdvancesAdpPerSlave)
{
    sim::Chain chain = plainChain(5);
    sim::FrameBuilder f;
    f.add(Command::Aprd, 0xFFFE, 0x0000, 2);
    auto out = chain.process(f.frame(), sim::Port::Primary);
    ASSERT_TRUE(out);
    // Five slaves each added one: -2 + 5 = 3.
    EXPECT_EQ(sim::getLe16(&out->frame[18]), 3);
}

TEST(Datagram, ReadWriteCountsThreeAndReturnsTheOldValue)
{
    sim::Chain chain = plainChain(2);
    addressAll(chain);
    exchange(chain, Command::Fpwr, station(1), 0x0F00, le16(0x1111));
    auto r = exchange(chain, Command::Fprw, station(1), 0x0F00, le16(0x2222));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->wkc, 3);
    EXPECT_EQ(word(r->data), 0x1111);
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0F00, 2)->data), 0x2222);
    r = exchange(chain, Command::Aprw, 0xFFFF, 0x0F00, le16(0x3333));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->wkc, 3);
    EXPECT_EQ(word(exchange(chain, Command::Aprd, 0xFFFF, 0x0F00, 2)->data), 0x3333);
    // Broadcast read-write: every slave reads and writes.
    r = exchange(chain, Command::Brw, 0, 0x0F00, le16(0x0004));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->wkc, 6);
    EXPECT_EQ(word(r->data), 0x2222 | 0x3333 | 0x0004);
}

TEST(Datagram, ReadOnlyRegistersStayButTheWriteCounts)
{
    sim::Chain chain = plainChain(1);
    addressAll(chain);
    auto w = exchange(chain, Command::Bwr, 0, 0x0000, sim::Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22, 0x33});
    EXPECT_EQ(w->wkc, 1);
    auto r = exchange(chain, Command::Fprd, station(1), 0x0000, 10);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data[0], 0x11); // type
    EXPECT_EQ(r->data[4], 8); // FMMUs
    EXPECT_EQ(r->data[5], 8); // SyncManagers
    EXPECT_EQ(r->data[7], 0x0F); // port descriptor
    EXPECT_EQ(word(r->data, 8) & 0x0004, 0x0004); // distributed clocks
    // AL Status and the DL Status cannot be written either.
    exchange(chain, Command::Fpwr, station(1), 0x0130, le16(0x0008));
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0130, 2)->data), 0x0001);
}

TEST(Datagram, StationAliasAddressingOnlyWhenEnabled)
{
    sim::Chain chain;
    chain.add(sim::Slave(sim::SiiBuilder().identity(1, 2, 3).alias(0x4242).build()));
    addressAll(chain);
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0012, 2)->data), 0x4242);
    EXPECT_EQ(exchange(chain, Command::Fprd, 0x4242, 0x0012, 2)->wkc, 0);
    exchange(chain, Command::Fpwr, station(1), 0x0103, sim::Bytes{0x01});
    EXPECT_EQ(exchange(chain, Command::Fprd, 0x4242, 0x0012, 2)->wkc, 1);
}

TEST(Datagram, DlStatusShowsTheOpenPorts)
{
    sim::Chain chain = plainChain(3);
    addressAll(chain);
    // Slaves 1 and 2: ports 0 and 1 open (binary 10 in their loop/communication pairs).
    const std::uint16_t middle = word(exchange(chain, Command::Fprd, station(2), 0x0110, 2)->data);
    EXPECT_EQ(middle & 0x0F00, 0x0A00);
    const std::uint16_t last = word(exchange(chain, Command::Fprd, station(3), 0x0110, 2)->data);
    EXPECT_EQ(last & 0x0F00, 0x0600);
}

TEST(Datagram, SeveralDatagramsPassEachSlaveInOrder)
{
    sim::Chain chain = plainChain(3);
    sim::FrameBuilder f;
    // Address all slaves and read the addresses back in one frame: each slave sees the write
    // before the read.
    f.add(Command::Apwr, 0, 0x0010, le16(0x2001), 1);
    f.add(Command::Apwr, 0xFFFF, 0x0010, le16(0x2002), 1);
    f.add(Command::Apwr, 0xFFFE, 0x0010, le16(0x2003), 1);
    f.add(Command::Brd, 0, 0x0010, 2, 1);
    f.add(Command::Nop, 0, 0x0010, le16(0x5555), 1);
    auto out = chain.process(f.frame(), sim::Port::Primary);
    ASSERT_TRUE(out);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(sim::datagramResult(out->frame, i)->workingCounter, 1);
    EXPECT_EQ(sim::datagramResult(out->frame, 3)->workingCounter, 3);
    EXPECT_EQ(word(sim::datagramResult(out->frame, 3)->data), 0x2003);
    EXPECT_EQ(sim::datagramResult(out->frame, 4)->workingCounter, 0);
    EXPECT_EQ(word(sim::datagramResult(out->frame, 4)->data), 0x5555);
}

TEST(Frame, MalformedFramesAreDestroyed)
{
    sim::Chain chain = plainChain(2);
    sim::FrameBuilder f;
    f.add(Command::Brd, 0, 0, 2);

    sim::Bytes truncated = f.frame();
    truncated.resize(truncated.size() - 3);
    EXPECT_FALSE(chain.process(truncated, sim::Port::Primary));

    sim::Bytes tooLong = f.frame();
    sim::putLe16(&tooLong[22], 0x0200); // datagram claims 512 data bytes
    EXPECT_FALSE(chain.process(tooLong, sim::Port::Primary));

    sim::Bytes moreThanThere = f.frame();
    moreThanThere[23] |= 0x80; // "more follows" with nothing behind
    EXPECT_FALSE(chain.process(moreThanThere, sim::Port::Primary));

    sim::Bytes wrongType = f.frame();
    wrongType[15] = 0x20;
    EXPECT_FALSE(chain.process(wrongType, sim::Port::Primary));

    sim::Bytes headerOnly(f.frame().begin(), f.frame().begin() + 15);
    EXPECT_FALSE(chain.process(headerOnly, sim::Port::Primary));

    // Ethernet padding behind the declared length is fine.
    sim::Bytes padded = f.frame();
    padded.resize(60, 0);
    auto out = chain.process(padded, sim::Port::Primary);
    ASSERT_TRUE(out);
    EXPECT_EQ(sim::datagramResult(out->frame, 0)->workingCounter, 2);

    // Another EtherType passes untouched.
    sim::Bytes other = f.frame();
    other[13] = 0x00;
    out = chain.process(other, sim::Port::Primary);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->frame, other);
}

TEST(Frame, GarbledFramesNeverReachOutsideTheFrame)
{
    // Valid frames cut to random lengths with random bytes changed: the chain refuses those whose
    // lengths no longer fit, processes the rest in place, and never touches a byte outside.
    sim::Chain chain = *sim::layouts().build("generic:3");
    chain.slave(2).esc().memory()[0x0600 + 12] = 1; // an active FMMU to walk through
    std::mt19937 random(12345);
    sim::FrameBuilder f;
    f.add(Command::Lrw, 0, 0, 8);
    f.add(Command::Fprw, 0x1002, 0x0800, 16);
    f.add(Command::Brd, 0, 0x0FF0, 40);
    int returned = 0;
    for (int round = 0; round < 5000; ++round) {
        sim::Bytes frame = f.frame();
        frame.resize(std::size_t(random() % (frame.size() + 8)), 0);
        for (int k = 0; k < 3 && !frame.empty(); ++k)
            frame[random() % frame.size()] = std::uint8_t(random());
        const std::size_t size = frame.size();
        auto out = chain.process(frame, sim::Port::Primary);
        if (out) {
            ++returned;
            EXPECT_EQ(out->frame.size(), size);
        }
    }
    EXPECT_GT(returned, 0);
    EXPECT_LT(returned, 5000);
}

} // namespace
