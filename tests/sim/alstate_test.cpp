/*
 * The AL state machine of the emulated slave as the master drives it through AL Control.
 */
#include "simtest.h"

#include <gtest/gtest.h>

using namespace simtest;
using sim::Command;

namespace {

class AlBus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        chain.add(sim::Slave(mailboxSii()));
        addressAll(chain);
    }
    std::uint16_t code() { return word(exchange(chain, Command::Fprd, station(1), 0x0134, 2)->data); }
    std::uint16_t request(std::uint16_t state) { return requestState(chain, 1, state); }
    void bootstrapMailbox()
    {
        exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x1400, 0x100, 0x26, 0x01));
        exchange(chain, Command::Fpwr, station(1), 0x0808, smBlock(0x1600, 0x100, 0x22, 0x01));
    }

    sim::Chain chain;
};

TEST_F(AlBus, PreOpNeedsTheStandardMailboxInSyncManagers)
{
    // Nothing set up: refused with an error flag and code 0x0016, still INIT.
    EXPECT_EQ(request(0x02), 0x0011);
    EXPECT_EQ(code(), 0x0016);
    exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x1000, 0x80, 0x26, 0x01));
    exchange(chain, Command::Fpwr, station(1), 0x0808, smBlock(0x1080, 0x80, 0x22, 0x01));
    // A request without acknowledge is ignored while the error stands.
    EXPECT_EQ(request(0x02), 0x0011);
    EXPECT_EQ(code(), 0x0016);
    EXPECT_EQ(request(0x12), 0x0002);
    EXPECT_EQ(code(), 0);
}

TEST_F(AlBus, PreOpRefusedWhenMailboxDiffersFromTheSii)
{
    exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x1000, 0x40, 0x26, 0x01)); // wrong length
    exchange(chain, Command::Fpwr, station(1), 0x0808, smBlock(0x1080, 0x80, 0x22, 0x01));
    EXPECT_EQ(request(0x12), 0x0011);
    exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x1000, 0x80, 0x22, 0x01)); // wrong direction
    EXPECT_EQ(request(0x12), 0x0011);
    exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x1000, 0x80, 0x26, 0x00)); // not enabled
    EXPECT_EQ(request(0x12), 0x0011);
    exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x1000, 0x80, 0x26, 0x01));
    EXPECT_EQ(request(0x12), 0x0002);
}

TEST_F(AlBus, ValidAndInvalidTransitions)
{
    EXPECT_EQ(request(0x04), 0x0011); // INIT -> SAFE-OP skips PRE-OP
    EXPECT_EQ(code(), 0x0011);
    EXPECT_EQ(request(0x18), 0x0011); // INIT -> OP, acknowledged but still invalid
    EXPECT_EQ(request(0x11), 0x0001); // acknowledge in INIT clears the error
    EXPECT_EQ(toPreOp(chain, 1), 0x0002);
    EXPECT_EQ(request(0x08), 0x0012); // PRE-OP -> OP
    EXPECT_EQ(request(0x14), 0x0004);
    EXPECT_EQ(request(0x08), 0x0008);
    EXPECT_EQ(request(0x04), 0x0004); // down from OP
    EXPECT_EQ(request(0x02), 0x0002);
    EXPECT_EQ(request(0x03), 0x0012); // BOOT only from INIT
    EXPECT_EQ(code(), 0x0011);
    EXPECT_EQ(request(0x11), 0x0001);
    EXPECT_EQ(request(0x07), 0x0011); // no such state
    EXPECT_EQ(code(), 0x0012);
}

TEST_F(AlBus, BootNeedsTheBootstrapMailbox)
{
    // The standard mailbox is not the bootstrap one.
    toPreOp(chain, 1);
    request(0x01);
    EXPECT_EQ(request(0x03), 0x0011);
    EXPECT_EQ(code(), 0x0015);
    // In INIT the mailbox SyncManagers are out of use and can be set up anew.
    bootstrapMailbox();
    EXPECT_EQ(request(0x13), 0x0003);
    EXPECT_EQ(request(0x02), 0x0013); // BOOT leads only back to INIT
    EXPECT_EQ(request(0x11), 0x0001);
}

TEST_F(AlBus, BootWithoutBootstrapSupportIsRefused)
{
    sim::Chain plain;
    plain.add(sim::Slave(sim::SiiBuilder().identity(1, 2, 3).standardMailbox(0x1000, 0x80, 0x1080, 0x80).build()));
    addressAll(plain);
    EXPECT_EQ(requestState(plain, 1, 0x03), 0x0011);
    EXPECT_EQ(word(exchange(plain, Command::Fprd, station(1), 0x0134, 2)->data), 0x0013);
}

TEST(AlStandardRules, ProcessDataSyncManagersAndValidOutputs)
{
    sim::Chain chain;
    sim::Slave &slave = chain.add(sim::Slave(sim::SiiBuilder()
                                                 .identity(1, 2, 3)
                                                 .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
                                                 .syncManagers({{0x1000, 0x80, 0x26, 0, 1, 1},
                                                                {0x1080, 0x80, 0x22, 0, 1, 2},
                                                                {0x1100, 4, 0x24, 0, 1, 3},
                                                                {0x1180, 2, 0x20, 0, 1, 4}})
                                                 .build()));
    slave.hooks().checkTransition = sim::standardProcessDataRules();
    addressAll(chain);
    toPreOp(chain, 1);
    EXPECT_EQ(requestState(chain, 1, 0x04), 0x0012);
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0134, 2)->data), 0x001D);
    exchange(chain, Command::Fpwr, station(1), 0x0810, smBlock(0x1100, 4, 0x24, 0x01));
    EXPECT_EQ(requestState(chain, 1, 0x14), 0x0012);
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0134, 2)->data), 0x001E);
    exchange(chain, Command::Fpwr, station(1), 0x0818, smBlock(0x1180, 2, 0x20, 0x01));
    EXPECT_EQ(requestState(chain, 1, 0x14), 0x0004);
    // OP only after the outputs were written once in SAFE-OP.
    EXPECT_EQ(requestState(chain, 1, 0x08), 0x0014);
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0134, 2)->data), 0x0019);
    EXPECT_EQ(exchange(chain, Command::Fpwr, station(1), 0x1100, sim::Bytes{1, 2, 3, 4})->wkc, 1);
    EXPECT_EQ(requestState(chain, 1, 0x18), 0x0008);
    EXPECT_EQ(slave.outputs(2), (sim::Bytes{1, 2, 3, 4}));
}

TEST_F(AlBus, PowerCycleReturnsToInitWithoutAddress)
{
    toPreOp(chain, 1);
    chain.slave(1).powerCycle();
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0x0130, 2)->wkc, 0);
    EXPECT_EQ(word(exchange(chain, Command::Aprd, 0, 0x0130, 2)->data), 0x0001);
    EXPECT_EQ(word(exchange(chain, Command::Aprd, 0, 0x0010, 2)->data), 0x0000);
}

} // namespace
