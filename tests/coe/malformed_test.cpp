// Replies whose lengths lie: a scripted slave answers with headers that claim more bytes than its
// 128-byte read mailbox carries. Each must end in an error result, never in a copy.
#include "coebus.h"

#include "coe/coeprotocol.h"

#include <deque>

namespace {

// Answers every message with the next scripted reply.
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

sim::Bytes sdoResponse(uint16 length, uint8 command, uint16 index, uint32 word)
{
    sim::Bytes m = sim::coe::coeMessage(length, sim::coe::Service::SdoResponse);
    m.resize(std::max<size_t>(m.size(), 16));
    m[8] = command;
    sim::putLe16(&m[9], index);
    sim::putLe32(&m[12], word);
    return m;
}

class Malformed : public CoeBus
{
protected:
    void SetUp() override
    {
        start();
        script = std::make_shared<Scripted>();
        bus->slave(Slave).mailbox().setHandler(script, {sim::AlState::PreOp});
    }

    // The single error must be packet error `code`.
    void expectPacketError(uint16 code)
    {
        auto e = onlyError();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Etype, EC_ERR_TYPE_PACKET_ERROR);
        EXPECT_EQ(e->ErrorCode, code);
    }

    std::shared_ptr<Scripted> script;
};

TEST_F(Malformed, UploadAnswerLongerThanTheMailbox)
{
    script->replies.push_back(sdoResponse(1000, 0x41, 0x2100, 900));
    std::vector<uint8> buffer(1024, 0xEE);
    int size = int(buffer.size());
    EXPECT_EQ(ec_SDOread(Slave, 0x2100, 0, FALSE, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE), 1024);
    expectPacketError(1);
}

TEST_F(Malformed, SegmentLongerThanTheMailbox)
{
    // Announces 300 bytes, carries 112, then a segment that claims 500.
    script->replies.push_back(sdoResponse(10 + 112, 0x41, 0x2100, 300));
    sim::Bytes segment = sim::coe::coeMessage(500 + 3, sim::coe::Service::SdoResponse);
    segment.resize(128);
    segment[8] = 0x00;
    script->replies.push_back(segment);
    std::vector<uint8> buffer(300, 0xEE);
    int size = int(buffer.size());
    EXPECT_EQ(ec_SDOread(Slave, 0x2100, 0, FALSE, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::count(buffer.begin() + 112, buffer.end(), 0xEE), 300 - 112);
    expectPacketError(1);
}

TEST_F(Malformed, EmptySegmentThatIsNotTheLastEndsTheTransfer)
{
    script->replies.push_back(sdoResponse(10 + 112, 0x41, 0x2100, 300));
    sim::Bytes segment = sim::coe::coeMessage(3, sim::coe::Service::SdoResponse);
    segment[8] = 0x00;
    for (int i = 0; i < 5; ++i)
        script->replies.push_back(segment);
    std::vector<uint8> buffer(300, 0xEE);
    int size = int(buffer.size());
    EXPECT_EQ(ec_SDOread(Slave, 0x2100, 0, FALSE, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(script->replies.size(), 4u);
    expectPacketError(1);
}

TEST_F(Malformed, AnswerTooShortForAnSdoResponse)
{
    script->replies.push_back(sdoResponse(4, 0x43, 0x2000, 0x11));
    uint8 b = 0;
    int size = 1;
    EXPECT_EQ(ec_SDOread(Slave, 0x2000, 0, FALSE, &size, &b, EC_TIMEOUT_MBXRX), 0);
    expectPacketError(1);
}

TEST_F(Malformed, TxPdoLongerThanTheMailbox)
{
    sim::Bytes m = sim::coe::coeMessage(900, sim::coe::Service::TxPdo);
    m.resize(128);
    script->replies.push_back(m);
    std::vector<uint8> buffer(1024, 0xEE);
    int size = int(buffer.size());
    EXPECT_EQ(ec_TxPDO(Slave, 1, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE), 1024);
    expectPacketError(1);
}

TEST_F(Malformed, ObjectListAnswerLongerThanTheMailbox)
{
    sim::Bytes m = sim::coe::coeMessage(1000, sim::coe::Service::SdoInformation);
    m.resize(128);
    m[8] = 0x02;
    script->replies.push_back(m);
    auto list = std::make_unique<ec_ODlistt>();
    EXPECT_EQ(ec_readODlist(Slave, list.get()), 0);
    EXPECT_EQ(list->Entries, 0);
    expectPacketError(1);
}

TEST_F(Malformed, AnswerOfAnotherProtocolIsUnexpected)
{
    sim::Bytes m(16, 0);
    m[0] = 10;
    m[5] = 5; // SoE
    m[8] = 0x80;
    script->replies.push_back(m);
    uint32 l = 0;
    int size = 4;
    EXPECT_EQ(ec_SDOread(Slave, 0x2002, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
    expectPacketError(1);
}

} // namespace
