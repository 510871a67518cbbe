// Drive answers that cannot be trusted: too long for the mailbox, an error without room for its
// code, an answer for another element or operation. Each ends in result 0 and packet error 1.
#include "soebus.h"

namespace {

// An SoE message whose header says `length` whatever bytes follow.
sim::Bytes soeMessage(uint16 length, uint8 flags, uint8 elements, uint16 idn)
{
    sim::Bytes m(128, 0);
    sim::putLe16(&m[0], length);
    m[5] = 5;
    m[6] = flags;
    m[7] = elements;
    sim::putLe16(&m[8], idn);
    return m;
}

class SoeMalformed : public SoeBus
{
protected:
    void SetUp() override
    {
        start();
        script = scriptReplies();
    }

    // Reads the value of IDN 47 into four bytes after `replies`: the result.
    int readAfter(std::initializer_list<sim::Bytes> replies)
    {
        script->replies.assign(replies);
        value = 0;
        int size = sizeof(value);
        return ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 47, &size, &value, EC_TIMEOUT_MBXRX);
    }

    std::shared_ptr<ScriptedMailbox> script;
    uint32 value = 0;
};

TEST_F(SoeMalformed, AnswersThatCannotBeTrustedAreRefused)
{
    EXPECT_EQ(readAfter({soeMessage(1000, 0x02, EC_SOE_VALUE_B, 47)}), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(onlyPacketError(1)) << "answer longer than the mailbox";

    sim::Bytes emptyFragment = soeMessage(4, 0x02 | 0x08, EC_SOE_VALUE_B, 47);
    EXPECT_EQ(
        readAfter({emptyFragment, emptyFragment, emptyFragment, emptyFragment, emptyFragment}), 0);
    EXPECT_TRUE(onlyPacketError(1)) << "empty fragment that is not the last";

    EXPECT_EQ(readAfter({soeMessage(4, 0x02 | 0x10, EC_SOE_VALUE_B, 47)}), 0);
    EXPECT_TRUE(onlyPacketError(1)) << "error answer without room for its code";

    EXPECT_EQ(readAfter({soeMessage(8, 0x02, EC_SOE_ATTRIBUTE_B, 47)}), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(onlyPacketError(1)) << "answer for another element";

    script->replies.assign({soeMessage(4, 0x02, EC_SOE_VALUE_B, 47)});
    EXPECT_EQ(
        ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, 47, sizeof(value), &value, EC_TIMEOUT_MBXRX), 0);
    EXPECT_TRUE(onlyPacketError(1)) << "write answered with a read response";
}

} // namespace
