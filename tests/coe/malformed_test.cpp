// Replies that cannot be trusted: headers that claim more bytes than the 128-byte read mailbox
// carries, or too few, or another object or protocol. Each ends in result 0 and packet error 1.
#include "coebus.h"

#include "coe/coeprotocol.h"

namespace {

sim::Bytes sdoResponse(uint16 length, uint8 command, uint16 index, uint32 word)
{
    sim::Bytes m = sim::coe::coeMessage(length, sim::coe::Service::SdoResponse);
    m.resize(std::max<size_t>(m.size(), 16));
    m[8] = command;
    sim::putLe16(&m[9], index);
    sim::putLe32(&m[12], word);
    return m;
}

// A segment whose header claims `length` data bytes, padded to the mailbox size.
sim::Bytes segment(uint16 length)
{
    sim::Bytes m = sim::coe::coeMessage(length + 3, sim::coe::Service::SdoResponse);
    m[8] = 0x00;
    return m;
}

class Malformed : public CoeBus
{
protected:
    void SetUp() override
    {
        start();
        script = scriptReplies();
    }

    // Uploads 0x2100 into a buffer of `size` bytes 0xEE: the result and the bytes left untouched.
    std::pair<int, long> upload(int size)
    {
        buffer.assign(size_t(size), 0xEE);
        int result = ec_SDOread(Slave, 0x2100, 0, FALSE, &size, buffer.data(), EC_TIMEOUT_MBXRX);
        return {result, long(std::count(buffer.begin(), buffer.end(), 0xEE))};
    }

    std::shared_ptr<ScriptedMailbox> script;
    std::vector<uint8> buffer;
};

TEST_F(Malformed, UploadsWhoseAnswersOverrunTheMailboxCopyNothingBeyondIt)
{
    script->replies.push_back(sdoResponse(1000, 0x41, 0x2100, 900));
    EXPECT_EQ(upload(1024), std::make_pair(0, 1024L));
    EXPECT_TRUE(onlyPacketError(1));

    // Announces 300 bytes, carries 112, then a segment that claims 500.
    script->replies.push_back(sdoResponse(10 + 112, 0x41, 0x2100, 300));
    sim::Bytes tooLong = segment(500);
    tooLong.resize(128);
    script->replies.push_back(tooLong);
    EXPECT_EQ(upload(300), std::make_pair(0, 300L - 112));
    EXPECT_TRUE(onlyPacketError(1));
}

TEST_F(Malformed, EmptySegmentThatIsNotTheLastEndsTheTransfer)
{
    script->replies.push_back(sdoResponse(10 + 112, 0x41, 0x2100, 300));
    for (int i = 0; i < 5; ++i)
        script->replies.push_back(segment(0));
    EXPECT_EQ(upload(300).first, 0);
    EXPECT_EQ(script->replies.size(), 4u);
    EXPECT_TRUE(onlyPacketError(1));
}

TEST_F(Malformed, AnswersTooShortForAnotherObjectOrOfAnotherProtocolAreRefused)
{
    script->replies.push_back(sdoResponse(4, 0x43, 0x2000, 0x11));
    uint8 b = 0;
    int size = 1;
    EXPECT_EQ(ec_SDOread(Slave, 0x2000, 0, FALSE, &size, &b, EC_TIMEOUT_MBXRX), 0);
    EXPECT_TRUE(onlyPacketError(1));

    // An expedited answer for another object.
    script->replies.push_back(sdoResponse(10, 0x4F, 0x2001, 0x11));
    EXPECT_EQ(ec_SDOread(Slave, 0x2000, 0, FALSE, &size, &b, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(b, 0);
    EXPECT_TRUE(onlyPacketError(1));

    sim::Bytes soe(16, 0);
    soe[0] = 10;
    soe[5] = 5;
    soe[8] = 0x80;
    script->replies.push_back(soe);
    uint32 l = 0;
    size = 4;
    EXPECT_EQ(ec_SDOread(Slave, 0x2002, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_TRUE(onlyPacketError(1));
}

TEST_F(Malformed, TxPdoAndObjectListAnswersLongerThanTheMailbox)
{
    sim::Bytes pdo = sim::coe::coeMessage(900, sim::coe::Service::TxPdo);
    pdo.resize(128);
    script->replies.push_back(pdo);
    std::vector<uint8> out(1024, 0xEE);
    int size = int(out.size());
    EXPECT_EQ(ec_TxPDO(Slave, 1, &size, out.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0xEE), 1024);
    EXPECT_TRUE(onlyPacketError(1));

    sim::Bytes list = sim::coe::coeMessage(1000, sim::coe::Service::SdoInformation);
    list.resize(128);
    list[8] = 0x02;
    script->replies.push_back(list);
    auto od = std::make_unique<ec_ODlistt>();
    EXPECT_EQ(ec_readODlist(Slave, od.get()), 0);
    EXPECT_EQ(od->Entries, 0);
    EXPECT_TRUE(onlyPacketError(1));
}

} // namespace
