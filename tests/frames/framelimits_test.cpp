/*
 * The Ethernet header of every frame, and the limits beyond which the frame builders refuse to
 * write. (The layout of the datagrams they write is checked by every bus test: the virtual
 * slaves destroy a frame whose lengths do not add up.)
 */
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ethercatbase.h"
#include "nicdrv.h"

namespace {

TEST(FrameLayout, EthernetHeaderIsBroadcastFromPrimaryWithEthercatType)
{
    // The virtual bus does not look at the source address, but the redundant ring tells the
    // ports' frames apart by it.
    std::uint8_t frame[EC_BUFSIZE] = {};
    ec_setupheader(frame);
    const std::uint8_t expected[14] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                                       0x01, 0x01, 0x01, 0x01, 0x01, 0x88, 0xA4};
    EXPECT_EQ(0, std::memcmp(frame, expected, sizeof expected));
}

TEST(FrameLayout, BuildersRefuseWhatWouldNotFitAndWriteNothing)
{
    static std::uint8_t data[EC_BUFSIZE];
    std::memset(data, 0x5A, sizeof data);

    // The largest datagram fills the buffer to its last byte.
    ASSERT_EQ(0, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, EC_MAXDATA, data));
    EXPECT_EQ(EC_BUFSIZE, ec_txbuflength[6]);

    std::vector<std::uint8_t> before(ec_txbuf[6], ec_txbuf[6] + EC_BUFSIZE);
    EXPECT_EQ(EC_ERR_LENGTH,
              ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, EC_MAXDATA + 1, data));
    EXPECT_EQ(EC_ERR_LENGTH, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, 0xFFFF, data));
    EXPECT_EQ(EC_ERR_LENGTH, ec_adddatagram(ec_txbuf[6], EC_CMD_LWR, 6, FALSE, 0, 0, 0, nullptr))
        << "even an empty datagram does not fit behind a full one";
    EXPECT_EQ(EC_BUFSIZE, ec_txbuflength[6]);
    EXPECT_EQ(before, std::vector<std::uint8_t>(ec_txbuf[6], ec_txbuf[6] + EC_BUFSIZE));

    // An appended datagram may end exactly at the buffer's end, not one byte later.
    ec_setupdatagram(ec_txbuf[7], EC_CMD_LRW, 7, 0, 0, 100, data);
    int room = EC_BUFSIZE - (28 + 100) - 12;
    EXPECT_EQ(EC_ERR_LENGTH,
              ec_adddatagram(ec_txbuf[7], EC_CMD_FRMW, 7, FALSE, 0, 0, uint16(room + 1), data));
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
