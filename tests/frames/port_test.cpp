/*
 * The network port against a scripted link: opening and closing, index allocation, dispatch of
 * replies that belong to other indexes, malformed frames and length refusals, each with frames
 * delivered byte for byte. (Retries, the redundant ring and the bus itself are tested on the
 * virtual bus.)
 */
#include <gtest/gtest.h>

#include <cstring>

#include "ethercatbase.h"
#include "nicdrv.h"
#include "scriptedlink.h"

namespace {

class Port : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(1, ec_init("scripted0"));
        for (int i = 0; i < EC_MAXBUF; i++)
            ec_setbufstat(uint8(i), EC_BUF_EMPTY);
    }
    void TearDown() override { ec_close(); }

    /* Take an index and put a one-datagram request of `length` bytes into its buffer. */
    uint8 request(uint8 command, uint16 length)
    {
        uint8 idx = ec_getindex();
        std::vector<std::uint8_t> data(length, 0);
        ec_setupdatagram(ec_txbuf[idx], command, idx, 0, 0, length, data.data());
        return idx;
    }

    ScriptedLink link;
};

// A port that cannot be opened leaves nothing open (a redundant pair neither of its two); opening
// an open port closes the earlier handle first.
TEST_F(Port, OpeningLeavesExactlyTheNewPortOpen)
{
    const struct
    {
        const char *what;
        bool openBefore;
        const char *primary;
        const char *secondary; // nullptr: a single port
        int result;
        size_t closes;
    } cases[] = {
        {"no such interface", false, "nosuchif0", nullptr, 0, 0},
        {"no name", false, nullptr, nullptr, 0, 0},
        {"opened again", true, "scripted0", nullptr, 1, 1},
        {"redundant pair, secondary missing", false, "scripted0", "nosuchif0", 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ec_close();
        if (c.openBefore) {
            ASSERT_EQ(1, ec_init("scripted0"));
        }
        const int earlier = sockhandle;
        const size_t closed = link.closed.size();
        EXPECT_EQ(c.result, c.secondary ? ec_init_redundant(c.primary, c.secondary) : ec_init(c.primary));
        ASSERT_EQ(closed + c.closes, link.closed.size());
        if (c.openBefore) {
            EXPECT_EQ(earlier, link.closed.back());
        }
        if (c.result == 0) {
            EXPECT_EQ(-1, sockhandle);
            EXPECT_EQ(-1, sockhandle2);
            EXPECT_EQ(ECT_RED_NONE, ec_redstate);
        }
    }
    ASSERT_EQ(1, ec_init("scripted0"));
}

TEST_F(Port, ClosingTwiceClosesOnceAndAClosedPortNeitherSendsNorReads)
{
    const int handle = sockhandle;
    const size_t closed = link.closed.size();
    ec_close();
    ec_close();
    ASSERT_EQ(closed + 1, link.closed.size());
    EXPECT_EQ(handle, link.closed.back());
    EXPECT_EQ(-1, sockhandle);
    uint8 idx = request(EC_CMD_BRD, 2);
    EXPECT_EQ(-1, ec_outframe(idx, 0));
    EXPECT_TRUE(link.sent[0].empty());
    EXPECT_EQ(EC_NOFRAME, ec_inframe(idx, 0));
    ASSERT_EQ(1, ec_init("scripted0"));
}

TEST_F(Port, IndexesGoRoundRobinAndAreHandedOutEvenWhenAllAreBusy)
{
    // A busy index is skipped.
    const uint8 busy = uint8((ec_lastidx + 1) % EC_MAXBUF);
    ec_setbufstat(busy, EC_BUF_TX);
    EXPECT_EQ((busy + 1) % EC_MAXBUF, ec_getindex());

    for (int i = 0; i < EC_MAXBUF; i++)
        ec_setbufstat(uint8(i), EC_BUF_ALLOC);
    uint8 last = ec_lastidx;
    uint8 taken = ec_getindex();
    EXPECT_EQ((last + 1) % EC_MAXBUF, taken);
    EXPECT_EQ(EC_BUF_ALLOC, ec_rxbufstat[taken]);
    EXPECT_EQ(EC_BUF_ALLOC, ec_rxbufstat2[taken]);
}

TEST_F(Port, ForeignReplyIsStoredAndReturnedLaterWithoutSocketRead)
{
    uint8 a = request(EC_CMD_APRD, 2);
    uint8 b = request(EC_CMD_APRD, 2);
    ec_outframe(a, 0);
    ec_outframe(b, 0);
    link.incoming[0].push_back(replyFrame(b, EC_CMD_APRD, {0x34, 0x12}, 1));
    link.incoming[0].push_back(replyFrame(a, EC_CMD_APRD, {0x78, 0x56}, 3));

    EXPECT_EQ(EC_OTHERFRAME, ec_inframe(a, 0));
    EXPECT_EQ(EC_BUF_RCVD, ec_rxbufstat[b]);
    EXPECT_EQ(3, ec_inframe(a, 0));
    EXPECT_EQ(EC_BUF_COMPLETE, ec_rxbufstat[a]);
    EXPECT_EQ(0x78, ec_rxbuf[a][12]);

    int reads = link.receives[0];
    EXPECT_EQ(1, ec_inframe(b, 0));
    EXPECT_EQ(reads, link.receives[0]) << "the stored reply needs no socket read";
    EXPECT_EQ(EC_BUF_COMPLETE, ec_rxbufstat[b]);
    EXPECT_EQ(0x34, ec_rxbuf[b][12]);
    EXPECT_EQ(0x0101, ec_rxsa[b]);
}

TEST_F(Port, LateReplyToAnEarlierUseOfTheIndexIsNotTakenForTheCurrentOne)
{
    uint8 idx = request(EC_CMD_FPRD, 2);
    ec_outframe(idx, 0);
    Frame otherCommand = replyFrame(idx, EC_CMD_APRD, {0xDE, 0xC0}, 1);
    Frame otherStation = replyFrame(idx, EC_CMD_FPRD, {0xDE, 0xC0}, 1);
    otherStation[14 + 4] = 0x03; // station 0x0003 instead of the 0x0000 asked
    Frame otherRegister = replyFrame(idx, EC_CMD_FPRD, {0xDE, 0xC0}, 1);
    otherRegister[14 + 6] = 0x30; // register 0x0030 instead of 0x0000
    link.incoming[0].push_back(otherCommand);
    link.incoming[0].push_back(otherStation);
    link.incoming[0].push_back(otherRegister);
    link.incoming[0].push_back(replyFrame(idx, EC_CMD_FPRD, {0x34, 0x12}, 1));

    for (int stale = 0; stale < 3; ++stale)
        EXPECT_EQ(EC_OTHERFRAME, ec_inframe(idx, 0));
    EXPECT_EQ(EC_BUF_TX, ec_rxbufstat[idx]);
    EXPECT_EQ(1, ec_inframe(idx, 0));
    EXPECT_EQ(0x34, ec_rxbuf[idx][12]);
}

TEST_F(Port, FramesThatAreNotWellFormedRepliesAreDroppedUncopied)
{
    uint8 idx = request(EC_CMD_FPRD, 4);
    ec_outframe(idx, 0);
    std::memset(ec_rxbuf[idx], 0xEE, EC_BUFSIZE);

    Frame good = replyFrame(idx, EC_CMD_FPRD, {1, 2, 3, 4}, 1);
    Frame elengthTooLong = good;
    elengthTooLong[14] = 0x20; // elength 0x1020: more bytes than arrived
    Frame dlengthTooLong = good;
    dlengthTooLong[14 + 8] = 0x40; // the datagram runs past elength
    Frame chainBroken = good;
    chainBroken[14 + 9] = 0x80; // says another datagram follows, but none is there
    Frame elengthPastDatagrams = good;
    elengthPastDatagrams[14] = std::uint8_t(elengthPastDatagrams[14] + 4); // claims 4 bytes no datagram has
    elengthPastDatagrams.insert(elengthPastDatagrams.end(), {0, 0, 0, 0});
    Frame truncated(good.begin(), good.begin() + 20);
    Frame notEthercat = good;
    notEthercat[12] = 0x08;
    notEthercat[13] = 0x00;
    Frame badIndex = good;
    badIndex[14 + 3] = 16;

    for (const Frame &f : {elengthTooLong, dlengthTooLong, chainBroken, elengthPastDatagrams, truncated, notEthercat,
                           badIndex})
        link.incoming[0].push_back(f);
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(EC_OTHERFRAME, ec_inframe(idx, 0)) << "frame " << i;
    EXPECT_EQ(EC_BUF_TX, ec_rxbufstat[idx]);
    for (int i = 0; i < EC_BUFSIZE; i++)
        ASSERT_EQ(0xEE, ec_rxbuf[idx][i]) << "byte " << i;
    for (int i = 0; i < EC_MAXBUF; i++)
        EXPECT_NE(EC_BUF_RCVD, ec_rxbufstat[i]);

    EXPECT_EQ(EC_NOFRAME, ec_inframe(idx, 0));

    // Ethernet padding behind a well-formed frame is fine.
    Frame padded = good;
    padded.resize(60, 0);
    link.incoming[0].push_back(padded);
    EXPECT_EQ(1, ec_inframe(idx, 0));
    EXPECT_EQ(3, ec_rxbuf[idx][14]);
}

TEST_F(Port, ReplyOfAnotherLengthIsNeverTakenOrCopied)
{
    uint8 idx = request(EC_CMD_FPRD, 8);
    ec_outframe(idx, 0);
    std::memset(ec_rxbuf[idx], 0xEE, EC_BUFSIZE);
    // A reply has its request's length; a shorter one under the index answers something else.
    link.incoming[0].push_back(replyFrame(idx, EC_CMD_FPRD, {1, 2}, 1));
    EXPECT_EQ(EC_OTHERFRAME, ec_inframe(idx, 0));
    EXPECT_EQ(EC_BUF_TX, ec_rxbufstat[idx]);
    EXPECT_EQ(0xEE, ec_rxbuf[idx][13]);

    // A reply longer than any buffer (the link truncates it) fails the length checks.
    uint8 idx2 = request(EC_CMD_FPRD, 8);
    ec_outframe(idx2, 0);
    Frame huge = replyFrame(idx2, EC_CMD_FPRD, Frame(1600, 1), 1);
    link.incoming[0].push_back(huge);
    EXPECT_EQ(EC_OTHERFRAME, ec_inframe(idx2, 0));
    EXPECT_EQ(EC_BUF_TX, ec_rxbufstat[idx2]);
}

TEST_F(Port, StoredReplyIsCheckedBeforeItsCounterIsRead)
{
    uint8 idx = request(EC_CMD_FPRD, 2);
    ec_rxbuf[idx][0] = 0xFF; // elength 0x0FFF would point behind the buffer
    ec_rxbuf[idx][1] = 0x1F;
    ec_rxbufstat[idx] = EC_BUF_RCVD;
    EXPECT_EQ(EC_NOFRAME, ec_inframe(idx, 0));
}

TEST_F(Port, WaitWithTimeoutFreesTheIndexOnlyWhenNothingCame)
{
    uint8 idx = request(EC_CMD_BRD, 2);
    ec_outframe(idx, 0);
    EXPECT_EQ(EC_NOFRAME, ec_waitinframe(idx, 20000));
    EXPECT_EQ(EC_BUF_EMPTY, ec_rxbufstat[idx]);

    idx = request(EC_CMD_BRD, 2);
    ec_outframe(idx, 0);
    link.incoming[0].push_back(replyFrame(idx, EC_CMD_BRD, {0, 0}, 7));
    EXPECT_EQ(7, ec_waitinframe(idx, EC_TIMEOUT_FRAME));
    EXPECT_EQ(EC_BUF_COMPLETE, ec_rxbufstat[idx]);
}

} // namespace

namespace {

/* A reply of the scripted link: every datagram's working counter set to `wkc`. */
std::function<bool(Frame &)> answerWith(std::uint16_t wkc, std::uint8_t newCommand = 0)
{
    return [wkc, newCommand](Frame &f) {
        std::size_t off = 16;
        for (;;)
        {
            if (newCommand != 0 && off == 16)
                f[off] = newCommand;
            std::uint16_t dl = std::uint16_t(f[off + 6] | (f[off + 7] << 8));
            std::size_t wkcAt = off + 10 + (dl & 0x7FF);
            f[wkcAt] = std::uint8_t(wkc);
            f[wkcAt + 1] = std::uint8_t(wkc >> 8);
            if (!(dl & 0x8000))
                return true;
            off = wkcAt + 2;
        }
    };
}

TEST_F(Port, LogicalReadCopiesOnlyWhenTheReplyStillCarriesItsCommand)
{
    std::uint8_t data[4] = {1, 2, 3, 4};
    link.answer = answerWith(2, EC_CMD_NOP);
    EXPECT_EQ(2, ec_LRW(0x10000, sizeof data, data, EC_TIMEOUT_FRAME));
    EXPECT_EQ(1, data[0]) << "a reply under another command is not copied";
    EXPECT_EQ(2, ec_LRD(0x10000, sizeof data, data, EC_TIMEOUT_FRAME));
    EXPECT_EQ(1, data[0]);

    link.answer = [](Frame &f) {
        f[26] = 0x42;
        f[30] = 1;
        return true;
    };
    EXPECT_EQ(1, ec_LRD(0x10000, sizeof data, data, EC_TIMEOUT_FRAME));
    EXPECT_EQ(0x42, data[0]);
}

TEST_F(Port, PrimitivesRefuseOversizedDataWithoutSending)
{
    static std::uint8_t data[EC_BUFSIZE];
    link.answer = answerWith(1);
    EXPECT_EQ(EC_ERR_LENGTH, ec_FPWR(0x1001, 0x1000, EC_MAXDATA + 1, data, EC_TIMEOUT_FRAME));
    EXPECT_EQ(EC_ERR_LENGTH, ec_LRD(0, EC_MAXDATA + 1, data, EC_TIMEOUT_FRAME));
    int64 dctime = 0;
    EXPECT_EQ(EC_ERR_LENGTH, ec_LRWDC(0, EC_MAXLRWDCDATA + 1, data, 0x1001, &dctime, EC_TIMEOUT_FRAME));
    EXPECT_TRUE(link.sent[0].empty());
    for (int i = 0; i < EC_MAXBUF; i++)
        EXPECT_EQ(EC_BUF_EMPTY, ec_rxbufstat[i]) << "no index stays taken";

    // The largest datagrams still go, and their replies are copied whole.
    EXPECT_EQ(1, ec_FPRD(0x1001, 0x1000, EC_MAXDATA, data, EC_TIMEOUT_FRAME));
    EXPECT_EQ(size_t(EC_BUFSIZE), link.sent[0].back().size());
    EXPECT_EQ(1, ec_LRWDC(0, EC_MAXLRWDCDATA, data, 0x1001, &dctime, EC_TIMEOUT_FRAME));
    EXPECT_EQ(size_t(EC_BUFSIZE), link.sent[0].back().size());
}

} // namespace
