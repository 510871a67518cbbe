/*
 * Logical addressing through the FMMUs of several slaves, buffered SyncManagers and their
 * working counters.
 */
#include "simtest.h"

#include <gtest/gtest.h>

using namespace simtest;
using sim::Command;

namespace {

/* Two slaves with 2 output bytes (SM2 at 0x1100) and 2 input bytes (SM3 at 0x1180), mapped as
 * outputs at logical 0 and 2, inputs at 4 and 6, taken to SAFE-OP. */
class LogicalBus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 2; ++i)
            chain.add(sim::Slave(sim::SiiBuilder().identity(1, 2, 3).build()));
        addressAll(chain);
        for (std::size_t n = 1; n <= 2; ++n) {
            const std::uint32_t o = std::uint32_t(2 * (n - 1));
            exchange(chain, Command::Fpwr, station(n), 0x0810, smBlock(0x1100, 2, 0x24, 0x01));
            exchange(chain, Command::Fpwr, station(n), 0x0818, smBlock(0x1180, 2, 0x20, 0x01));
            exchange(chain, Command::Fpwr, station(n), 0x0600, fmmuBlock(o, 2, 0x1100, 2));
            exchange(chain, Command::Fpwr, station(n), 0x0610, fmmuBlock(4 + o, 2, 0x1180, 1));
            requestState(chain, n, 0x02);
        }
    }
    void safeOp()
    {
        for (std::size_t n = 1; n <= 2; ++n)
            ASSERT_EQ(requestState(chain, n, 0x04), 0x0004);
    }

    sim::Chain chain;
};

TEST_F(LogicalBus, ProcessDataIsOutOfReachBeforeSafeOp)
{
    auto r = exchange(chain, Command::Lrw, 0, 0, sim::Bytes{1, 2, 3, 4, 0, 0, 0, 0});
    EXPECT_EQ(r->wkc, 0);
}

TEST_F(LogicalBus, LrwThroughAReadWriteFmmuHandsBackWhatTheMemoryHeldBefore)
{
    exchange(chain, Command::Fpwr, station(1), 0x1400, sim::Bytes{0x11, 0x22});
    exchange(chain, Command::Fpwr, station(1), 0x0620, fmmuBlock(0x100, 2, 0x1400, 3));
    auto r = exchange(chain, Command::Lrw, 0x100, 0, sim::Bytes{0x55, 0x66});
    EXPECT_EQ(r->wkc, 3);
    EXPECT_EQ(r->data, (sim::Bytes{0x11, 0x22}));
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0x1400, 2)->data, (sim::Bytes{0x55, 0x66}));
}

TEST_F(LogicalBus, BufferedInputsCannotBeWrittenByTheMaster)
{
    safeOp();
    chain.slave(1).setInputs(3, {1, 2});
    EXPECT_EQ(exchange(chain, Command::Fpwr, station(1), 0x1180, sim::Bytes{9, 9})->wkc, 0);
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0x1180, 2)->data, (sim::Bytes{1, 2}));
}

TEST(LogicalBits, InactiveOrForeignFmmusMapNothing)
{
    sim::Chain chain;
    chain.add(sim::Slave(sim::SiiBuilder().identity(1, 2, 3).build()));
    addressAll(chain);
    sim::Bytes block = fmmuBlock(0, 2, 0x0F00, 1);
    block[12] = 0;
    exchange(chain, Command::Fpwr, station(1), 0x0600, block);
    EXPECT_EQ(exchange(chain, Command::Lrd, 0, 0, 2)->wkc, 0);
    // A read FMMU does not take writes.
    exchange(chain, Command::Fpwr, station(1), 0x0600, fmmuBlock(0, 2, 0x0F00, 1));
    EXPECT_EQ(exchange(chain, Command::Lwr, 0, 0, 2)->wkc, 0);
    // A physical window at the end of the address space is cut there, not wrapped.
    exchange(chain, Command::Fpwr, station(1), 0x0600, fmmuBlock(0, 4, 0xFFFE, 2));
    EXPECT_EQ(exchange(chain, Command::Lwr, 0, 0, sim::Bytes{1, 2, 3, 4})->wkc, 1);
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0xFFFE, 2)->data, (sim::Bytes{1, 2}));
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0x0000, 1)->data[0], 0x11);
}

TEST(LogicalBits, SyncManagerGuardsOutputsBelowProcessMemory)
{
    // A simple output slave: SM0 buffered over the output byte at 0x0F00.
    sim::Chain chain;
    chain.add(sim::Slave(sim::SiiBuilder().identity(1, 2, 3).build()));
    addressAll(chain);
    exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x0F00, 1, 0x44, 0x01));
    exchange(chain, Command::Fpwr, station(1), 0x0600, fmmuBlock(0, 1, 0x0F00, 2));
    requestState(chain, 1, 0x02);
    EXPECT_EQ(exchange(chain, Command::Lwr, 0, 0, sim::Bytes{0x5A})->wkc, 0); // not before SAFE-OP
    ASSERT_EQ(requestState(chain, 1, 0x04), 0x0004);
    EXPECT_EQ(exchange(chain, Command::Lwr, 0, 0, sim::Bytes{0x5A})->wkc, 1);
    EXPECT_EQ(chain.slave(1).outputs(0), (sim::Bytes{0x5A}));
}

} // namespace
