/*
 * The master's error list: first in, first out, the newest 64 kept when more arrive unread. (The
 * fields of each kind of entry are checked where the bus leaves them; the mailbox counter by every
 * mailbox test, whose slaves drop a repeated counter.)
 */
#include <gtest/gtest.h>

#include "errorlist.h"
#include "ethercatmain.h"

namespace {

class ErrorRing : public ::testing::Test
{
protected:
    void SetUp() override { drain(); }
    void TearDown() override { drain(); }

    static int drain() { return int(popErrors().size()); }

    static void pushSlave(uint16 slave)
    {
        ec_errort e = {};
        e.Slave = slave;
        e.Etype = EC_ERR_TYPE_SDO_ERROR;
        e.AbortCode = 0x06020000 + slave;
        ec_pusherror(&e);
    }
};

// First in, first out over many wrap-arounds; when more than 64 arrive unread, the oldest go.
TEST_F(ErrorRing, OrderSurvivesWrapAroundsAndTheNewestSixtyFourAreKept)
{
    uint16 next = 0;
    uint16 expected = 0;
    ec_errort e;
    for (int round = 0; round < 100; round++)
    {
        for (int i = 0; i < 3; i++)
            pushSlave(next++);
        for (int i = 0; i < 3; i++)
        {
            ASSERT_TRUE(ec_poperror(&e));
            ASSERT_EQ(e.Slave, expected++);
        }
    }
    EXPECT_FALSE(ec_iserror());
    for (int i = 0; i < 70; i++)
        pushSlave(next++);
    ASSERT_TRUE(ec_poperror(&e));
    EXPECT_EQ(e.Slave, next - 64) << "the 6 oldest of 70 overwritten";
    EXPECT_EQ(e.AbortCode, 0x06020000u + e.Slave);
    EXPECT_EQ(drain(), 63);
}

TEST_F(ErrorRing, FlagFollowsPushAndEmptyPop)
{
    EXPECT_FALSE(EcatError);
    pushSlave(7);
    EXPECT_TRUE(EcatError);
    ec_errort e;
    EXPECT_TRUE(ec_poperror(&e));
    EXPECT_TRUE(EcatError) << "cleared only by a pop that finds the ring empty";
    EXPECT_FALSE(ec_poperror(&e));
    EXPECT_FALSE(EcatError);
}

} // namespace
