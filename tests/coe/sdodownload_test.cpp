// SDO download against the CoE test slave: every size class read back, the message layout of a
// one-byte write and of a segmented write, refusals, complete access and a mailbox too small.
#include "coebus.h"

#include "coe/demodictionary.h"

namespace demo = sim::coe::demo;

namespace {

class SdoDownload : public CoeBus
{
protected:
    void SetUp() override { start(); }

    template <typename T> T readBack(uint16 index)
    {
        T value{};
        int size = sizeof(value);
        EXPECT_GT(ec_SDOread(Slave, index, 0, FALSE, &size, &value, EC_TIMEOUT_MBXRX), 0);
        EXPECT_EQ(size, int(sizeof(value)));
        return value;
    }
};

TEST_F(SdoDownload, EverySizeClassIsStoredAndReadBack)
{
    uint8 b = 0x5A;
    uint16 w = 0xBEEF;
    uint32 l = 0xCAFEF00D;
    uint64 q = 0x0123456789ABCDEFull;
    EXPECT_GT(ec_SDOwrite(Slave, demo::ByteObject, 0, FALSE, sizeof(b), &b, EC_TIMEOUT_MBXRX), 0);
    EXPECT_GT(ec_SDOwrite(Slave, demo::WordObject, 0, FALSE, sizeof(w), &w, EC_TIMEOUT_MBXRX), 0);
    EXPECT_GT(ec_SDOwrite(Slave, demo::DwordObject, 0, FALSE, sizeof(l), &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_GT(ec_SDOwrite(Slave, demo::LongObject, 0, FALSE, sizeof(q), &q, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(readBack<uint8>(demo::ByteObject), b);
    EXPECT_EQ(readBack<uint16>(demo::WordObject), w);
    EXPECT_EQ(readBack<uint32>(demo::DwordObject), l);
    EXPECT_EQ(readBack<uint64>(demo::LongObject), q);
    EXPECT_TRUE(errors().empty());
}

TEST_F(SdoDownload, OneByteGoesAsANormalInitiate)
{
    uint8 b = 0x77;
    ASSERT_GT(ec_SDOwrite(Slave, demo::ByteObject, 0, FALSE, 1, &b, EC_TIMEOUT_MBXRX), 0);
    const sim::Bytes &m = received().back();
    EXPECT_EQ(sim::getLe16(&m[0]), 11);
    EXPECT_EQ(m[5] & 0x0F, 3);
    EXPECT_EQ(sim::getLe16(&m[6]), 0x2000);
    EXPECT_EQ(m[8], 0x21);
    EXPECT_EQ(sim::getLe16(&m[9]), demo::ByteObject);
    EXPECT_EQ(sim::getLe32(&m[12]), 1u);
    EXPECT_EQ(m[16], 0x77);
}

TEST_F(SdoDownload, LongDataFollowsInToggledSegmentsWithAShortLastOne)
{
    // 112 bytes in the initiate, 119 in a full segment, 3 in the last one.
    std::vector<uint8> data(112 + 119 + 3);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8(255 - i);
    size_t before = received().size();
    ASSERT_GT(ec_SDOwrite(Slave, demo::LargeObject, 0, FALSE, int(data.size()), data.data(), EC_TIMEOUT_MBXRX), 0);
    std::vector<sim::Bytes> sent(received().begin() + long(before), received().end());
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sim::getLe16(&sent[0][0]), 10 + 112);
    EXPECT_EQ(sim::getLe32(&sent[0][12]), uint32(data.size()));
    EXPECT_EQ(sent[1][8], 0x00);
    EXPECT_EQ(sim::getLe16(&sent[1][0]), 119 + 3);
    EXPECT_EQ(sent[2][8], 0x01 + (4 << 1) + 0x10);
    EXPECT_EQ(sim::getLe16(&sent[2][0]), 10);

    std::vector<uint8> back(4096);
    int size = int(back.size());
    ASSERT_GT(ec_SDOread(Slave, demo::LargeObject, 0, FALSE, &size, back.data(), EC_TIMEOUT_MBXRX), 0);
    back.resize(size_t(size));
    EXPECT_EQ(back, data);
    EXPECT_TRUE(errors().empty());
}

TEST_F(SdoDownload, LargeObjectRoundTripsThroughManySegments)
{
    std::vector<uint8> data(3000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8(i * 13);
    ASSERT_GT(ec_SDOwrite(Slave, demo::LargeObject, 0, FALSE, int(data.size()), data.data(), EC_TIMEOUT_MBXRX), 0);
    std::vector<uint8> back(4096);
    int size = int(back.size());
    ASSERT_GT(ec_SDOread(Slave, demo::LargeObject, 0, FALSE, &size, back.data(), EC_TIMEOUT_MBXRX), 0);
    back.resize(size_t(size));
    EXPECT_EQ(back, data);
}

TEST_F(SdoDownload, RefusalsCarryTheSlavesAbortCode)
{
    uint32 l = 1;
    uint16 w = 1;
    EXPECT_EQ(ec_SDOwrite(Slave, demo::ReadOnlyObject, 0, FALSE, sizeof(l), &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(ec_SDOwrite(Slave, demo::MissingObject, 0, FALSE, sizeof(l), &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(ec_SDOwrite(Slave, demo::DwordObject, 0, FALSE, sizeof(w), &w, EC_TIMEOUT_MBXRX), 0);
    auto list = errors();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(uint32(list[0].AbortCode), 0x06010002u);
    EXPECT_EQ(list[0].Index, demo::ReadOnlyObject);
    EXPECT_EQ(uint32(list[1].AbortCode), 0x06020000u);
    EXPECT_EQ(uint32(list[2].AbortCode), 0x06070013u);
    for (const auto &e : list)
        EXPECT_EQ(e.Etype, EC_ERR_TYPE_SDO_ERROR);
    EXPECT_EQ(readBack<uint32>(demo::ReadOnlyObject), 0x12345678u);
}

TEST_F(SdoDownload, CompleteAccessWritesAWholeRecord)
{
    // 0x7000 holds the outputs' mapped entries: 2 and 4 bytes.
    uint8 image[2 + 6] = {2, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    ASSERT_GT(ec_SDOwrite(Slave, 0x7000, 0, TRUE, sizeof(image), image, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(received().back()[8], 0x31);
    uint8 back[8] = {};
    int size = sizeof(back);
    ASSERT_GT(ec_SDOread(Slave, 0x7000, 0, TRUE, &size, back, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(std::vector<uint8>(back, back + 8), std::vector<uint8>(image, image + 8));

    // From sub-index 1 the image holds the entries alone; a request for 3 goes out as 1.
    uint8 entriesOnly[6] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    ASSERT_GT(ec_SDOwrite(Slave, 0x7000, 3, TRUE, sizeof(entriesOnly), entriesOnly, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(received().back()[11], 1);
    uint16 second = 0;
    size = sizeof(second);
    ASSERT_GT(ec_SDOread(Slave, 0x7000, 1, FALSE, &size, &second, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(second, 0xA2A1);
}

TEST_F(SdoDownload, MailboxTooSmallForAnInitiateSendsNothing)
{
    ec_slave[Slave].mbx_l = 15;
    size_t before = received().size();
    uint8 b = 1;
    EXPECT_EQ(ec_SDOwrite(Slave, demo::ByteObject, 0, FALSE, 1, &b, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(received().size(), before);
    EXPECT_TRUE(onlyPacketError(3));
}

TEST_F(SdoDownload, RxPdoAndTxPdoTravelThroughTheMailbox)
{
    uint8 out[4] = {1, 2, 3, 4};
    EXPECT_GT(ec_RxPDO(Slave, 0x1600, sizeof(out), out), 0);
    // The slave takes the message with the next exchange.
    server->setTxPdo({9, 8, 7});
    uint8 in[8] = {};
    int size = sizeof(in);
    EXPECT_GT(ec_TxPDO(Slave, 0x1A00, &size, in, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(in[0], 9);
    EXPECT_EQ(in[2], 7);
    EXPECT_EQ(server->lastRxPdo(), (sim::Bytes{1, 2, 3, 4}));

    uint8 tiny[2] = {0xAA, 0xAA};
    size = sizeof(tiny);
    EXPECT_EQ(ec_TxPDO(Slave, 0x1A00, &size, tiny, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(tiny[0], 0xAA);
    auto e = onlyError();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 3);
}

} // namespace
