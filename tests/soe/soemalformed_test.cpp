// Drive answers whose lengths lie: headers that claim more than the read mailbox carries, or an
// error answer too short to hold its code. Each ends in result 0 and packet error 1, nothing copied.
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

TEST_F(SoeMalformed, ReadAnswerLongerThanTheMailbox)
{
    script->replies.push_back(soeMessage(1000, 0x02, EC_SOE_VALUE_B, 47));
    std::vector<uint8> buffer(1024, 0xEE);
    int size = int(buffer.size());
    EXPECT_EQ(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 47, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE), 1024);
    EXPECT_TRUE(onlyPacketError(1));
}

TEST_F(SoeMalformed, ReadAnswersThatCannotBeTrustedAreRefused)
{
    sim::Bytes emptyFragment = soeMessage(4, 0x02 | 0x08, EC_SOE_VALUE_B, 47);
    EXPECT_EQ(readAfter({emptyFragment, emptyFragment, emptyFragment, emptyFragment, emptyFragment}), 0);
    EXPECT_TRUE(onlyPacketError(1)) << "empty fragment that is not the last";

    EXPECT_EQ(readAfter({soeMessage(4, 0x02 | 0x10, EC_SOE_VALUE_B, 47)}), 0);
    EXPECT_TRUE(onlyPacketError(1)) << "error answer without room for its code";

    EXPECT_EQ(readAfter({soeMessage(8, 0x02, EC_SOE_ATTRIBUTE_B, 47)}), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(onlyPacketError(1)) << "answer for another element";
}

TEST_F(SoeMalformed, WriteAnsweredWithAReadResponseIsUnexpected)
{
    script->replies.push_back(soeMessage(4, 0x02, EC_SOE_VALUE_B, 47));
    uint32 v = 0;
    EXPECT_EQ(ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, 47, sizeof(v), &v, EC_TIMEOUT_MBXRX), 0);
    EXPECT_TRUE(onlyPacketError(1));
}

} // namespace
