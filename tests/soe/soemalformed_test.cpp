// Drive answers whose lengths lie: a scripted drive answers with headers that claim more than its
// read mailbox carries, or an error answer too short to hold its code. Each ends in packet error 1
// and result 0, with nothing copied.
#include "soebus.h"

#include <deque>

namespace {

class Scripted : public sim::MailboxHandler
{
public:
    void onMessage(const sim::Bytes &, sim::MailboxReplies &out) override
    {
        if (replies.empty())
            return;
        out.post(replies.front());
        replies.pop_front();
    }
    std::deque<sim::Bytes> replies;
};

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
        script = std::make_shared<Scripted>();
        bus->slave(Slave).mailbox().setHandler(script, {sim::AlState::PreOp});
    }

    void expectPacketError(uint16 code)
    {
        auto e = onlyError();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Etype, EC_ERR_TYPE_PACKET_ERROR);
        EXPECT_EQ(e->ErrorCode, code);
    }

    std::shared_ptr<Scripted> script;
};

TEST_F(SoeMalformed, ReadAnswerLongerThanTheMailbox)
{
    script->replies.push_back(soeMessage(1000, 0x02, EC_SOE_VALUE_B, 47));
    std::vector<uint8> buffer(1024, 0xEE);
    int size = int(buffer.size());
    EXPECT_EQ(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 47, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE), 1024);
    expectPacketError(1);
}

TEST_F(SoeMalformed, EmptyFragmentThatIsNotTheLastEndsTheRead)
{
    for (int i = 0; i < 5; ++i)
        script->replies.push_back(soeMessage(4, 0x02 | 0x08, EC_SOE_VALUE_B, 47));
    uint32 value = 0;
    int size = sizeof(value);
    EXPECT_EQ(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 47, &size, &value, EC_TIMEOUT_MBXRX), 0);
    expectPacketError(1);
}

TEST_F(SoeMalformed, ErrorAnswerWithoutRoomForItsCode)
{
    script->replies.push_back(soeMessage(4, 0x02 | 0x10, EC_SOE_VALUE_B, 47));
    uint32 value = 0;
    int size = sizeof(value);
    EXPECT_EQ(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 47, &size, &value, EC_TIMEOUT_MBXRX), 0);
    expectPacketError(1);
}

TEST_F(SoeMalformed, AnswerForAnotherElementIsUnexpected)
{
    script->replies.push_back(soeMessage(8, 0x02, EC_SOE_ATTRIBUTE_B, 47));
    uint32 value = 0;
    int size = sizeof(value);
    EXPECT_EQ(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 47, &size, &value, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(value, 0u);
    expectPacketError(1);
}

TEST_F(SoeMalformed, WriteAnsweredWithAReadResponseIsUnexpected)
{
    script->replies.push_back(soeMessage(4, 0x02, EC_SOE_VALUE_B, 47));
    uint32 value = 0;
    EXPECT_EQ(ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, 47, sizeof(value), &value, EC_TIMEOUT_MBXRX), 0);
    expectPacketError(1);
}

} // namespace
