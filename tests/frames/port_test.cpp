/*
 * The frame builders' limits, and the network port against a scripted link that delivers frames
 * byte for byte. (Retries, the redundant ring and the bus itself are tested on the virtual bus.)
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "eclink.h"
#include "ethercatbase.h"
#include "nicdrv.h"

namespace {

using Frame = std::vector<std::uint8_t>;

/* Records every frame the master sends and hands back the frames the test queued. Its clock moves
 * one microsecond per reading, so every wait ends after a known number of polls. */
class ScriptedLink
{
public:
    ScriptedLink()
    {
        ec_linkt link = {this, open, send, recv, close, nullptr};
        ec_clockt clock = {this, now, sleep};
        ec_setlink(&link);
        ec_setclock(&clock);
    }
    ~ScriptedLink()
    {
        ec_setlink(nullptr);
        ec_setclock(nullptr);
    }

    /* Per port: frames sent, frames the next receives return, receive calls made. */
    std::vector<Frame> sent[2];
    std::deque<Frame> incoming[2];
    int receives[2] = {0, 0};
    std::vector<int> closed;
    /* When set, every frame sent is handed to it and, when it returns true, comes back at once
     * as it was changed. */
    std::function<bool(Frame&)> answer;

private:
    static ScriptedLink& self(void* ctx) { return *static_cast<ScriptedLink*>(ctx); }

    static int open(void* ctx, const char* ifname, int port)
    {
        if (ifname == nullptr || std::strcmp(ifname, "nosuchif0") == 0)
            return -1;
        return self(ctx).nextHandle_++ * 2 + port;
    }
    static int send(void* ctx, int handle, const void* frame, int len)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(frame);
        self(ctx).sent[handle & 1].emplace_back(bytes, bytes + len);
        Frame reply(bytes, bytes + len);
        if (self(ctx).answer && self(ctx).answer(reply))
            self(ctx).incoming[handle & 1].push_back(reply);
        return len;
    }
    static int recv(void* ctx, int handle, void* buf, int size)
    {
        const int port = handle & 1;
        self(ctx).receives[port]++;
        std::deque<Frame>& queue = self(ctx).incoming[port];
        if (queue.empty())
            return 0;
        Frame frame = queue.front();
        queue.pop_front();
        std::memcpy(buf, frame.data(), std::min(frame.size(), size_t(size)));
        return int(frame.size());
    }
    static void close(void* ctx, int handle) { self(ctx).closed.push_back(handle); }
    static std::int64_t now(void* ctx) { return ++self(ctx).nowUs_; }

public:
    std::int64_t nowUs() const { return nowUs_; }
    void advance(std::int64_t us) { nowUs_ += us; }

private:
    static void sleep(void* ctx, uint32_t usec) { self(ctx).nowUs_ += usec; }

    std::int64_t nowUs_ = 0;
    int nextHandle_ = 10;
};

/* A raw reply frame of one datagram from source address sa1, with `data` and counter `wkc`. */
Frame replyFrame(std::uint8_t index, std::uint8_t command, const Frame& data, std::uint16_t wkc,
    std::uint16_t sa1 = 0x0101)
{
    Frame f = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, std::uint8_t(sa1 >> 8),
        std::uint8_t(sa1), 0x01, 0x01, 0x88, 0xA4};
    std::uint16_t elength = std::uint16_t(0x1000 + 12 + data.size());
    f.push_back(std::uint8_t(elength));
    f.push_back(std::uint8_t(elength >> 8));
    f.insert(f.end(),
        {command, index, 0, 0, 0, 0, std::uint8_t(data.size()), std::uint8_t(data.size() >> 8), 0,
            0});
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(std::uint8_t(wkc));
    f.push_back(std::uint8_t(wkc >> 8));
    return f;
}

/* A reply of the scripted link: every datagram's working counter set to `wkc`. */
std::function<bool(Frame&)> answerWith(std::uint16_t wkc, std::uint8_t newCommand = 0)
{
    return [wkc, newCommand](Frame& f) {
        std::size_t off = 16;
        for (;;) {
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

TEST(FrameLayout, EthernetHeaderIsBroadcastFromPrimaryWithEthercatType)
{
    // The virtual bus does not look at the source address, but the redundant ring tells the
    // ports' frames apart by it.
    std::uint8_t frame[EC_BUFSIZE] = {};
    ec_setupheader(frame);
    EXPECT_EQ(Frame(frame, frame + 14),
        (Frame{
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x88, 0xA4}));
}

TEST(FrameLayout, BuildersRefuseWhatWouldNotFitAndWriteNothing)
{
    static std::uint8_t data[EC_BUFSIZE];
    std::memset(data, 0x5A, sizeof data);

    // The largest datagram fills the buffer to its last byte.
    ASSERT_EQ(0, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, EC_MAXDATA, data));
    EXPECT_EQ(EC_BUFSIZE, ec_txbuflength[6]);

    Frame before(ec_txbuf[6], ec_txbuf[6] + EC_BUFSIZE);
    EXPECT_EQ(
        EC_ERR_LENGTH, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, EC_MAXDATA + 1, data));
    EXPECT_EQ(EC_ERR_LENGTH, ec_setupdatagram(ec_txbuf[6], EC_CMD_LWR, 6, 0, 0, 0xFFFF, data));
    EXPECT_EQ(EC_ERR_LENGTH, ec_adddatagram(ec_txbuf[6], EC_CMD_LWR, 6, FALSE, 0, 0, 0, nullptr))
        << "even an empty datagram does not fit behind a full one";
    EXPECT_EQ(EC_BUFSIZE, ec_txbuflength[6]);
    EXPECT_EQ(before, Frame(ec_txbuf[6], ec_txbuf[6] + EC_BUFSIZE));

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
        const char* what;
        bool openBefore;
        const char* primary;
        const char* secondary; // nullptr: a single port
        int result;
        size_t closes;
    } cases[] = {
        {"no such interface", false, "nosuchif0", nullptr, 0, 0},
        {"no name", false, nullptr, nullptr, 0, 0},
        {"opened again", true, "scripted0", nullptr, 1, 1},
        {"redundant pair, secondary missing", false, "scripted0", "nosuchif0", 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ec_close();
        if (c.openBefore) {
            ASSERT_EQ(1, ec_init("scripted0"));
        }
        const int earlier = sockhandle;
        const size_t closed = link.closed.size();
        EXPECT_EQ(
            c.result, c.secondary ? ec_init_redundant(c.primary, c.secondary) : ec_init(c.primary));
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

TEST_F(Port, IndexesGoRoundRobinAndNoneIsHandedOutWhileAllAreBusy)
{
    // A busy index is skipped.
    const uint8 busy = uint8((ec_lastidx + 1) % EC_MAXBUF);
    ec_setbufstat(busy, EC_BUF_TX);
    EXPECT_EQ((busy + 1) % EC_MAXBUF, ec_getindex());

    // With all 16 in use nothing is handed out, and a primitive sends nothing.
    for (int i = 0; i < EC_MAXBUF; i++)
        ec_setbufstat(uint8(i), EC_BUF_ALLOC);
    const ec_portstatst before = *ec_portstats();
    EXPECT_EQ(EC_MAXBUF, ec_getindex());
    std::uint16_t word = 0;
    link.answer = answerWith(1);
    EXPECT_EQ(EC_NOFRAME, ec_BRD(0, 0, sizeof word, &word, EC_TIMEOUT_FRAME));
    EXPECT_TRUE(link.sent[0].empty());
    EXPECT_EQ(2u, ec_portstats()->busy - before.busy);
}

/* The index byte of a sent frame: its tag. */
std::uint8_t tagOf(const Frame& f)
{
    return f[17];
}

/* One exchange of each kind whose late replies must never be taken for a later request's: the
 * logical read-write of a process data cycle and the read of a mailbox. Each writes `marker` into
 * the first data byte, and its reply is expected to bring `marker + 1` back. */
struct LateCase
{
    const char* name;
    int (*exchange)(std::uint8_t marker, std::uint8_t* answer);
};

int lrwExchange(std::uint8_t marker, std::uint8_t* answer)
{
    std::uint8_t image[8] = {marker};
    int wkc = ec_LRW(0x10000, sizeof image, image, EC_ONEATTEMPT(EC_TIMEOUT_FRAME));
    *answer = image[0];
    return wkc;
}

int mailboxExchange(std::uint8_t marker, std::uint8_t* answer)
{
    std::uint8_t mailbox[32] = {marker};
    int wkc = ec_FPRD(0x1001, 0x1080, sizeof mailbox, mailbox, EC_ONEATTEMPT(EC_TIMEOUT_FRAME));
    *answer = mailbox[0];
    return wkc;
}

const LateCase lateCases[]
    = {{"LRW of process data", lrwExchange}, {"mailbox read", mailboxExchange}};

/* Each request is answered with its first data byte plus one; the first request is lost and its
 * reply, otherwise the same as every later one's, is handed back once `release` says so, in front
 * of the reply of a request that went out under the same buffer. */
struct LateReply
{
    Frame kept;
    bool delivered = false;
    bool lost = false;
    std::function<bool(int exchanges, std::int64_t nowUs)> release;
    int exchanges = 0;
};

// A reply that comes seconds late, or after more exchanges than there are tags, answers nothing:
// every later request of the same shape gets its own reply, and the late one is counted as late.
TEST_F(Port, ALateReplyNeverAnswersALaterRequest)
{
    struct Timing
    {
        const char* name;
        int exchangesBefore; // exchanges after the lost one before the reply may come
        std::int64_t lateUs; // and how late it is at least
    };
    const Timing timings[] = {{"2 s late", 20, 2000000}, {"after 300 exchanges", 300, 0}};
    for (const LateCase& kind : lateCases) {
        for (const Timing& timing : timings) {
            SCOPED_TRACE(std::string(kind.name) + ", " + timing.name);
            ec_close();
            ASSERT_EQ(1, ec_init("scripted0"));
            const ec_portstatst before = *ec_portstats();
            LateReply late;
            std::int64_t lostAt = 0;
            link.answer = [&](Frame& f) {
                f[26] = std::uint8_t(f[26] + 1); // data byte 0 of the one datagram
                f[f.size() - 2] = 1;
                if (!late.lost) {
                    late.lost = true;
                    late.kept = f;
                    return false;
                }
                // Its own tag, should it ever be sent again, else its buffer once every tag has
                // had its turn.
                const bool sameTag = tagOf(f) == tagOf(late.kept);
                const bool sameBuffer = (tagOf(f) & 0x0F) == (tagOf(late.kept) & 0x0F);
                if (!late.delivered && late.exchanges >= timing.exchangesBefore
                    && link.nowUs() - lostAt >= timing.lateUs
                    && (sameTag
                        || (sameBuffer && late.exchanges >= timing.exchangesBefore + 256))) {
                    late.delivered = true;
                    link.incoming[0].push_back(late.kept);
                }
                return true;
            };
            std::uint8_t answer = 0;
            lostAt = link.nowUs();
            EXPECT_GT(0, kind.exchange(0x10, &answer));
            link.advance(timing.lateUs);
            for (int i = 0; i < 700 && !late.delivered; i++, late.exchanges++) {
                const std::uint8_t marker = std::uint8_t(0x20 + i % 64);
                ASSERT_EQ(1, kind.exchange(marker, &answer)) << "exchange " << i;
                ASSERT_EQ(marker + 1, answer)
                    << "exchange " << i << " took another request's reply";
            }
            ASSERT_TRUE(late.delivered);
            // The request that met the late reply still got its own.
            EXPECT_EQ(1, kind.exchange(0x70, &answer));
            EXPECT_EQ(0x71, answer);
            EXPECT_EQ(1u, ec_portstats()->late - before.late);
            EXPECT_EQ(0u, ec_portstats()->unexpected - before.unexpected);
        }
    }
}

// Lost frames never block the port: after 16 and after 1000 of them in a row every exchange works
// and every buffer is free again; opening the port anew forgets every reply still owed.
TEST_F(Port, LostRepliesNeverExhaustThePort)
{
    for (int lost : {16, 1000}) {
        SCOPED_TRACE(lost);
        ec_close();
        ASSERT_EQ(1, ec_init("scripted0"));
        const ec_portstatst before = *ec_portstats();
        link.answer = nullptr;
        std::uint16_t word = 0;
        for (int i = 0; i < lost; i++)
            ASSERT_EQ(EC_NOFRAME, ec_BRD(0, 0, sizeof word, &word, EC_ONEATTEMPT(10)));
        EXPECT_EQ(std::uint32_t(lost), ec_portstats()->unanswered - before.unanswered);
        link.answer = answerWith(3);
        for (int i = 0; i < 300; i++)
            ASSERT_EQ(3, ec_BRD(0, 0, sizeof word, &word, EC_TIMEOUT_FRAME)) << "exchange " << i;
        for (int i = 0; i < EC_MAXBUF; i++)
            EXPECT_EQ(EC_BUF_EMPTY, ec_rxbufstat[i]) << "buffer " << i;
        // 256 tags: only past them is a tag that is still owed a reply taken again.
        EXPECT_EQ(lost > 256, ec_portstats()->reclaimed > before.reclaimed);
    }
    ec_close();
    ASSERT_EQ(1, ec_init("scripted0"));
    const std::uint32_t reclaimed = ec_portstats()->reclaimed;
    std::uint16_t word = 0;
    for (int i = 0; i < 300; i++)
        ASSERT_EQ(3, ec_BRD(0, 0, sizeof word, &word, EC_TIMEOUT_FRAME));
    EXPECT_EQ(reclaimed, ec_portstats()->reclaimed) << "a new port owes nothing";
}

TEST_F(Port, ForeignReplyIsStoredAndReturnedLaterWithoutSocketRead)
{
    uint8 a = request(EC_CMD_APRD, 2);
    uint8 b = request(EC_CMD_APRD, 2);
    ec_outframe(a, 0);
    ec_outframe(b, 0);
    link.incoming[0].push_back(replyFrame(ec_wireindex(b), EC_CMD_APRD, {0x34, 0x12}, 1));
    link.incoming[0].push_back(replyFrame(ec_wireindex(a), EC_CMD_APRD, {0x78, 0x56}, 3));

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

/* `f` with byte `at` set to `value`. */
Frame patched(Frame f, std::size_t at, std::uint8_t value)
{
    f[at] = value;
    return f;
}

// Late replies to an earlier use of the index, replies of another length and frames that are no
// well-formed reply are neither taken nor copied, nor stored for another index.
TEST_F(Port, FramesThatAreNotTheReplyAreDroppedUncopied)
{
    uint8 idx = request(EC_CMD_FPRD, 4);
    ec_outframe(idx, 0);
    std::memset(ec_rxbuf[idx], 0xEE, EC_BUFSIZE);

    const Frame good = replyFrame(ec_wireindex(idx), EC_CMD_FPRD, {1, 2, 3, 4}, 1);
    Frame elengthPastDatagrams = patched(good, 14, std::uint8_t(good[14] + 4));
    elengthPastDatagrams.insert(elengthPastDatagrams.end(), {0, 0, 0, 0});
    const struct
    {
        const char* what;
        Frame frame;
    } cases[] = {
        {"another command", replyFrame(ec_wireindex(idx), EC_CMD_APRD, {1, 2, 3, 4}, 1)},
        {"another station", patched(good, 14 + 4, 0x03)},
        {"another register", patched(good, 14 + 6, 0x30)},
        {"shorter than the request", replyFrame(ec_wireindex(idx), EC_CMD_FPRD, {1, 2}, 1)},
        {"longer than any buffer", replyFrame(ec_wireindex(idx), EC_CMD_FPRD, Frame(1600, 1), 1)},
        {"elength past the frame's end", patched(good, 14, 0x20)},
        {"datagram runs past elength", patched(good, 14 + 8, 0x40)},
        {"announces a datagram that is not there", patched(good, 14 + 9, 0x80)},
        {"elength past the datagrams", elengthPastDatagrams},
        {"truncated", Frame(good.begin(), good.begin() + 20)},
        {"not EtherCAT", patched(patched(good, 12, 0x08), 13, 0x00)},
        {"another generation of its buffer",
            patched(good, 14 + 3, std::uint8_t(ec_wireindex(idx) ^ 0x10))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        link.incoming[0].push_back(c.frame);
        EXPECT_EQ(EC_OTHERFRAME, ec_inframe(idx, 0));
        EXPECT_EQ(EC_BUF_TX, ec_rxbufstat[idx]);
        EXPECT_EQ(Frame(EC_BUFSIZE, 0xEE), Frame(ec_rxbuf[idx], ec_rxbuf[idx] + EC_BUFSIZE));
        for (int i = 0; i < EC_MAXBUF; i++)
            EXPECT_NE(EC_BUF_RCVD, ec_rxbufstat[i]) << "index " << i;
    }
    EXPECT_EQ(EC_NOFRAME, ec_inframe(idx, 0));

    // Ethernet padding behind a well-formed frame is fine.
    Frame padded = good;
    padded.resize(60, 0);
    link.incoming[0].push_back(padded);
    EXPECT_EQ(1, ec_inframe(idx, 0));
    EXPECT_EQ(3, ec_rxbuf[idx][14]);
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
    link.incoming[0].push_back(replyFrame(ec_wireindex(idx), EC_CMD_BRD, {0, 0}, 7));
    EXPECT_EQ(7, ec_waitinframe(idx, EC_TIMEOUT_FRAME));
    EXPECT_EQ(EC_BUF_COMPLETE, ec_rxbufstat[idx]);
}

TEST_F(Port, LogicalReadCopiesOnlyWhenTheReplyStillCarriesItsCommand)
{
    std::uint8_t data[4] = {1, 2, 3, 4};
    link.answer = answerWith(2, EC_CMD_NOP);
    EXPECT_EQ(2, ec_LRW(0x10000, sizeof data, data, EC_TIMEOUT_FRAME));
    EXPECT_EQ(1, data[0]) << "a reply under another command is not copied";
    EXPECT_EQ(2, ec_LRD(0x10000, sizeof data, data, EC_TIMEOUT_FRAME));
    EXPECT_EQ(1, data[0]);

    link.answer = [](Frame& f) {
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
    EXPECT_EQ(
        EC_ERR_LENGTH, ec_LRWDC(0, EC_MAXLRWDCDATA + 1, data, 0x1001, &dctime, EC_TIMEOUT_FRAME));
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
