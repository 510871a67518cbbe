/*
 * Layout of the frames the master builds: the Ethernet header, one datagram, appended datagrams,
 * and the limits beyond which a builder refuses to write.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ethercatbase.h"
#include "nicdrv.h"

namespace {

std::uint16_t le16(const std::uint8_t *p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

TEST(FrameLayout, EthernetHeaderIsBroadcastFromPrimaryWithEthercatType)
{
    std::uint8_t frame[EC_BUFSIZE] = {};
    ec_setupheader(frame);
    const std::uint8_t expected[14] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                                       0x01, 0x01, 0x01, 0x01, 0x01, 0x88, 0xA4};
    EXPECT_EQ(0, std::memcmp(frame, expected, sizeof expected));
}

TEST(FrameLayout, OneDatagramFrameLengthsAndFields)
{
    ec_setupheader(ec_txbuf[3]);
    std::uint8_t two[2] = {0xAB, 0xCD};
    ASSERT_EQ(0, ec_setupdatagram(ec_txbuf[3], EC_CMD_FPWR, 3, 0x1001, 0x0120, 2, two));
    EXPECT_EQ(30, ec_txbuflength[3]);
    const std::uint8_t *ecat = ec_txbuf[3] + ETH_HEADERSIZE;
    EXPECT_EQ(0x100E, le16(ecat));
    EXPECT_EQ(EC_CMD_FPWR, ecat[2]);
    EXPECT_EQ(3, ecat[3]);
    EXPECT_EQ(0x1001, le16(ecat + 4));
    EXPECT_EQ(0x0120, le16(ecat + 6));
    EXPECT_EQ(2, le16(ecat + 8));
    EXPECT_EQ(0xAB, ec_txbuf[3][26]);
    EXPECT_EQ(0xCD, ec_txbuf[3][27]);
    EXPECT_EQ(0, le16(ec_txbuf[3] + 28)) << "working counter goes out as 0";

    ec_txbuf[4][ETH_HEADERSIZE + 12] = 0x55; // a stale byte where a working counter will go
    ec_txbuf[4][ETH_HEADERSIZE + 13] = 0x55;
    ASSERT_EQ(0, ec_setupdatagram(ec_txbuf[4], EC_CMD_BRD, 4, 0, 0, 0, nullptr));
    EXPECT_EQ(28, ec_txbuflength[4]);
    EXPECT_EQ(0x100C, le16(ec_txbuf[4] + ETH_HEADERSIZE));
    EXPECT_EQ(0, le16(ec_txbuf[4] + ETH_HEADERSIZE + 12));
}

TEST(FrameLayout, AppendedDatagramsChainAndReportReplyOffset)
{
    std::uint8_t a[4] = {1, 2, 3, 4};
    std::uint8_t b[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    std::uint8_t c[2] = {7, 7};
    ec_setupdatagram(ec_txbuf[5], EC_CMD_LRW, 5, 0x0000, 0x0001, sizeof a, a);
    int off = ec_adddatagram(ec_txbuf[5], EC_CMD_FRMW, 5, TRUE, 0x1001, 0x0910, sizeof b, b);
    // First frame is 28 + 4 = 32 bytes; the new data start 10 bytes further, minus the Ethernet
    // header in the receive buffer.
    EXPECT_EQ(32 + 10 - 14, off);
    int off2 = ec_adddatagram(ec_txbuf[5], EC_CMD_NOP, 5, FALSE, 0, 0, sizeof c, c);
    EXPECT_EQ(32 + 20 + 10 - 14, off2);
    EXPECT_EQ(32 + 20 + 14, ec_txbuflength[5]);

    const std::uint8_t *ecat = ec_txbuf[5] + ETH_HEADERSIZE;
    EXPECT_EQ(0x1000 + 16 + 20 + 14, le16(ecat)) << "elength counts every datagram";
    EXPECT_EQ(0x8000 | 4, le16(ecat + 8)) << "first datagram says another follows";
    const std::uint8_t *second = ecat + off - 10;
    EXPECT_EQ(EC_CMD_FRMW, second[0]);
    EXPECT_EQ(5, second[1]);
    EXPECT_EQ(0x1001, le16(second + 2));
    EXPECT_EQ(0x0910, le16(second + 4));
    EXPECT_EQ(0x8000 | 8, le16(second + 6)) << "more = TRUE marks the second one";
    EXPECT_EQ(9, ecat[off]);
    EXPECT_EQ(0, le16(ecat + off + 8));
    EXPECT_EQ(2, le16(ecat + off2 - 10 + 6)) << "the last one has no follow bit";
    EXPECT_EQ(7, ecat[off2]);
}

TEST(FrameLayout, BuildersRefuseWhatWouldNotFitAndWriteNothing)
{
    static std::uint8_t data[EC_BUFSIZE];
    std::memset(data, 0x5A, sizeof data);

    // The largest datagram fills the buffer to its last byte.
    ASSERT_EQ(0, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, EC_MAXDATA, data));
    EXPECT_EQ(EC_BUFSIZE, ec_txbuflength[6]);

    std::vector<std::uint8_t> before(ec_txbuf[6], ec_txbuf[6] + EC_BUFSIZE);
    EXPECT_EQ(EC_ERR_LENGTH, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, EC_MAXDATA + 1, data));
    EXPECT_EQ(EC_ERR_LENGTH, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, 0xFFFF, data));
    EXPECT_EQ(EC_ERR_LENGTH, ec_adddatagram(ec_txbuf[6], EC_CMD_LWR, 6, FALSE, 0, 0, 0, nullptr))
        << "even an empty datagram does not fit behind a full one";
    EXPECT_EQ(EC_BUFSIZE, ec_txbuflength[6]);
    EXPECT_EQ(before, std::vector<std::uint8_t>(ec_txbuf[6], ec_txbuf[6] + EC_BUFSIZE));

    // An appended datagram may end exactly at the buffer's end, not one byte later.
    ec_setupdatagram(ec_txbuf[7], EC_CMD_LRW, 7, 0, 0, 100, data);
    int room = EC_BUFSIZE - (28 + 100) - 12;
    EXPECT_EQ(EC_ERR_LENGTH, ec_adddatagram(ec_txbuf[7], EC_CMD_FRMW, 7, FALSE, 0, 0, uint16(room + 1), data));
    EXPECT_EQ(28 + 100, ec_txbuflength[7]);
    EXPECT_GT(ec_adddatagram(ec_txbuf[7], EC_CMD_FRMW, 7, FALSE, 0, 0, uint16(room), data), 0);
    EXPECT_EQ(EC_BUFSIZE, ec_txbuflength[7]);

    // Bad index, missing data, no first datagram.
    EXPECT_EQ(EC_ERR_LENGTH, ec_setupdatagram(ec_txbuf[0], EC_CMD_BRD, EC_MAXBUF, 0, 0, 2, data));
    EXPECT_EQ(EC_ERR_LENGTH, ec_setupdatagram(ec_txbuf[0], EC_CMD_BRD, 0, 0, 0, 2, nullptr));
    ec_txbuflength[8] = 0;
    EXPECT_EQ(EC_ERR_LENGTH, ec_adddatagram(ec_txbuf[8], EC_CMD_BRD, 8, FALSE, 0, 0, 2, data));
}

} // namespace
