// SDO download: every size class read back with the layout of one-byte and segmented writes,
// complete access and a mailbox too small. (Refusals are in the upload tests' table.)
#include "coebus.h"

#include "coe/demodictionary.h"

namespace demo = sim::coe::demo;

namespace {

class SdoDownload : public CoeBus
{
protected:
    void SetUp() override { start(); }
};

// Each size class written and read back whole, nothing behind it. One byte goes in a normal
// initiate that announces its size; longer data follows in segments of 119 bytes whose toggle bit
// alternates, the last one saying how many of its seven bytes are unused.
TEST_F(SdoDownload, EverySizeIsStoredAndReadBack)
{
    const struct
    {
        uint16 index;
        size_t size;
        size_t segments;
    } cases[] = {
        {demo::ByteObject, 1, 0},
        {demo::WordObject, 2, 0},
        {demo::DwordObject, 4, 0},
        {demo::LongObject, 8, 0},
        {demo::LargeObject, 112 + 119 + 3, 2},
        {demo::LargeObject, 3000, 25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<uint8> data(c.size);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8(i * 13 + c.size);
        const size_t before = received().size();
        ASSERT_GT(
            ec_SDOwrite(Slave, c.index, 0, FALSE, int(c.size), data.data(), EC_TIMEOUT_MBXRX), 0);
        const std::vector<sim::Bytes> sent(received().begin() + long(before), received().end());
        ASSERT_EQ(sent.size(), 1 + c.segments);
        if (c.size == 1) {
            EXPECT_EQ(sent[0][8], 0x21);
            EXPECT_EQ(sim::getLe32(&sent[0][12]), 1u);
            EXPECT_EQ(sent[0][16], data[0]);
        }
        if (c.segments > 0) {
            EXPECT_EQ(sim::getLe32(&sent[0][12]), uint32(c.size));
            for (size_t k = 1; k < sent.size(); ++k)
                EXPECT_EQ(sent[k][8] & 0x10, (k - 1) % 2 ? 0x10 : 0) << "segment " << k;
            const size_t last = c.size - 112 - 119 * (c.segments - 1);
            EXPECT_EQ(sent.back()[8] & 0x0F, 0x01 + (last < 7 ? (7 - last) << 1 : 0));
            EXPECT_EQ(sim::getLe16(&sent.back()[0]), 3 + std::max<size_t>(last, 7));
        }
        std::vector<uint8> back(4096, 0xEE);
        int size = int(back.size());
        ASSERT_GT(ec_SDOread(Slave, c.index, 0, FALSE, &size, back.data(), EC_TIMEOUT_MBXRX), 0);
        EXPECT_EQ(back[size_t(size)], 0xEE) << "a byte behind the value";
        back.resize(size_t(size));
        EXPECT_EQ(back, data);
    }
    EXPECT_TRUE(errors().empty());
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
    ASSERT_GT(
        ec_SDOwrite(Slave, 0x7000, 3, TRUE, sizeof(entriesOnly), entriesOnly, EC_TIMEOUT_MBXRX), 0);
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
    EXPECT_EQ(std::vector<uint8>(in, in + size), (std::vector<uint8>{9, 8, 7}));
    EXPECT_EQ(server->lastRxPdo(), (sim::Bytes{1, 2, 3, 4}));

    uint8 tiny[2] = {0xAA, 0xAA};
    size = sizeof(tiny);
    EXPECT_EQ(ec_TxPDO(Slave, 0x1A00, &size, tiny, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(tiny[0], 0xAA);
    EXPECT_TRUE(onlyPacketError(3));
}

} // namespace
