// The datagram primitives end to end on the virtual bus: read-modify-write, logical access, the
// clock datagram, lost frames sent again until the deadline, and the redundant ring.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ethercatbase.h"
#include "nicdrv.h"
#include "simbus.h"

namespace {

const uint16 ProcessRam = 0x1000;

/* Station address the tests give slave n (as the enumeration would). */
uint16 station(int n)
{
    return uint16(0x1000 + n);
}

/* A bus of n plain slaves with the port open and station addresses set by position. */
class Bus : public ::testing::Test
{
protected:
    explicit Bus(std::size_t n = 4)
        : bus(SimBus::plainChain(n))
        , count(int(n))
    {}

    void SetUp() override
    {
        ASSERT_EQ(1, ec_init(SimBus::Primary));
        for (int n = 1; n <= count; n++)
            ASSERT_EQ(1, ec_APWRw(uint16(1 - n), ECT_REG_STADR, station(n), EC_TIMEOUT_FRAME));
    }
    void TearDown() override { ec_close(); }

    std::uint8_t* memory(int n, uint16 address)
    {
        return &bus.slave(std::size_t(n)).esc().memory()[address];
    }

    /* Map `bytes` bytes of logical space at `logical` onto process RAM at `physical` of slave n
     * through FMMU `fmmu`, written by the master as the mapping does. */
    void mapFmmu(int n, int fmmu, uint32 logical, uint16 bytes, uint16 physical, uint8 type)
    {
        ec_fmmut f = {};
        f.LogStart = logical;
        f.LogLength = bytes;
        f.LogEndbit = 7;
        f.PhysStart = physical;
        f.FMMUtype = type;
        f.FMMUactive = 1;
        ASSERT_EQ(1,
            ec_FPWR(station(n), uint16(ECT_REG_FMMU0 + 16 * fmmu), sizeof f, &f, EC_TIMEOUT_FRAME));
    }

    SimBus bus;
    int count;
};

TEST_F(Bus, ReadMultipleWriteCopiesOneSlavesValueToTheSlavesBehindIt)
{
    const std::uint8_t value[4] = {9, 8, 7, 6};
    std::memcpy(memory(1, ProcessRam + 0x40), value, sizeof value);
    std::uint8_t data[4] = {};
    EXPECT_GT(ec_ARMW(0, ProcessRam + 0x40, sizeof data, data, EC_TIMEOUT_FRAME), 0);
    EXPECT_EQ(0, std::memcmp(data, value, sizeof value));
    for (int n = 2; n <= count; n++)
        EXPECT_EQ(0, std::memcmp(memory(n, ProcessRam + 0x40), value, sizeof value))
            << "slave " << n;

    const std::uint8_t other[4] = {0x10, 0x20, 0x30, 0x40};
    std::memcpy(memory(2, ProcessRam + 0x50), other, sizeof other);
    std::memset(data, 0, sizeof data);
    EXPECT_GT(ec_FRMW(station(2), ProcessRam + 0x50, sizeof data, data, EC_TIMEOUT_FRAME), 0);
    EXPECT_EQ(0, std::memcmp(data, other, sizeof other));
    for (int n = 3; n <= count; n++)
        EXPECT_EQ(0, std::memcmp(memory(n, ProcessRam + 0x50), other, sizeof other))
            << "slave " << n;
}

TEST_F(Bus, LogicalAccessGoesThroughTheFmmusOfSeveralSlaves)
{
    // Slaves 1..3: two output bytes at 0x10000 + 2 (n - 1), two input bytes at 0x10010 + 2 (n - 1).
    for (int n = 1; n <= 3; n++) {
        mapFmmu(n, 0, 0x10000 + 2 * (n - 1), 2, ProcessRam + 0x100, 2);
        mapFmmu(n, 1, 0x10010 + 2 * (n - 1), 2, ProcessRam + 0x200, 1);
        memory(n, ProcessRam + 0x200)[0] = std::uint8_t(0xA0 + n);
        memory(n, ProcessRam + 0x200)[1] = std::uint8_t(0xB0 + n);
    }

    std::uint8_t image[0x20] = {};
    for (int i = 0; i < 6; i++)
        image[i] = std::uint8_t(0x10 + i);
    // Each slave writes its outputs and reads its inputs.
    EXPECT_EQ(3 * 3, ec_LRW(0x10000, sizeof image, image, EC_TIMEOUT_FRAME));
    for (int n = 1; n <= 3; n++) {
        EXPECT_EQ(0x10 + 2 * (n - 1), memory(n, ProcessRam + 0x100)[0]) << "slave " << n;
        EXPECT_EQ(0x11 + 2 * (n - 1), memory(n, ProcessRam + 0x100)[1]) << "slave " << n;
        EXPECT_EQ(0xA0 + n, image[0x10 + 2 * (n - 1)]);
        EXPECT_EQ(0xB0 + n, image[0x11 + 2 * (n - 1)]);
    }
    EXPECT_EQ(0, *memory(4, ProcessRam + 0x100)) << "slave 4 has no FMMU";

    std::uint8_t inputs[6] = {};
    EXPECT_EQ(3, ec_LRD(0x10010, sizeof inputs, inputs, EC_TIMEOUT_FRAME));
    EXPECT_EQ(0xA2, inputs[2]);

    std::uint8_t outputs[2] = {0x77, 0x66};
    EXPECT_EQ(1, ec_LWR(0x10004, sizeof outputs, outputs, EC_TIMEOUT_FRAME));
    EXPECT_EQ(0x77, memory(3, ProcessRam + 0x100)[0]);

    // Nothing mapped at that address: the frame returns uncounted and nothing is copied.
    std::uint8_t nothing[2] = {0x5A, 0x5A};
    EXPECT_EQ(0, ec_LRD(0x50000, sizeof nothing, nothing, EC_TIMEOUT_FRAME));
    EXPECT_EQ(0x5A, nothing[0]);
}

TEST_F(Bus, ProcessDataWithTheReferenceClockTime)
{
    for (int n = 1; n <= 2; n++) {
        mapFmmu(n, 0, 0x20000 + 2 * (n - 1), 2, ProcessRam + 0x100, 2);
        mapFmmu(n, 1, 0x20004 + 2 * (n - 1), 2, ProcessRam + 0x200, 1);
    }
    memory(2, ProcessRam + 0x200)[0] = 0x42;

    bus.clock().advance(5000);
    int64 before = 0;
    ASSERT_EQ(1, ec_FPRD(station(1), ECT_REG_DCSYSTIME, sizeof before, &before, EC_TIMEOUT_FRAME));
    int64 dctime = 0;
    std::uint8_t image[8] = {1, 2, 3, 4, 0, 0, 0, 0};
    EXPECT_EQ(2 * 3, ec_LRWDC(0x20000, sizeof image, image, station(1), &dctime, EC_TIMEOUT_FRAME))
        << "the LRW's own counter, not the clock datagram's";
    EXPECT_EQ(0x42, image[6]);
    EXPECT_EQ(1, memory(1, ProcessRam + 0x100)[0]);
    EXPECT_EQ(3, memory(2, ProcessRam + 0x100)[0]);
    EXPECT_GT(before, 0);
    EXPECT_GE(dctime, before) << "the reference clock's time came back";
    int64 after = 0;
    ec_FPRD(station(1), ECT_REG_DCSYSTIME, sizeof after, &after, EC_TIMEOUT_FRAME);
    EXPECT_LE(dctime, after);

    // Without an answer nothing is copied and the clock value stays.
    bus.faults().loseNext = 1000;
    int64 kept = dctime;
    std::uint8_t untouched[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_LT(
        ec_LRWDC(0x20000, sizeof untouched, untouched, station(1), &dctime, EC_TIMEOUT_FRAME), 0);
    EXPECT_EQ(9, untouched[6]);
    EXPECT_EQ(kept, dctime);
}

TEST_F(Bus, LostFrameIsSentAgainAndTheWaitEndsAtTheDeadline)
{
    bus.faults().loseNext = 1;
    std::uint64_t sent = bus.chain().frames();
    uint16 type = 0;
    EXPECT_EQ(count, ec_BRD(0, ECT_REG_TYPE, sizeof type, &type, EC_TIMEOUT_SAFE));
    EXPECT_EQ(sent + 2, bus.chain().frames()) << "one lost, one answered";

    // A reply lost after a write: the write is sent again and confirmed.
    bus.faults().loseNextReplies = 1;
    EXPECT_EQ(1, ec_FPWRw(station(2), ProcessRam, 0x0A0B, EC_TIMEOUT_SAFE));
    EXPECT_EQ(0x0B, *memory(2, ProcessRam));

    // The datagram time-out is the resend interval, not the end of the exchange: a lost frame
    // is sent again; only a time-out marked as one attempt is sent once.
    bus.faults().loseNext = 1;
    sent = bus.chain().frames();
    EXPECT_EQ(count, ec_BRD(0, ECT_REG_TYPE, sizeof type, &type, EC_TIMEOUT_FRAME));
    EXPECT_EQ(sent + 2, bus.chain().frames());
    bus.faults().loseNext = 1;
    sent = bus.chain().frames();
    EXPECT_EQ(EC_NOFRAME,
        ec_BRD(0, ECT_REG_TYPE, sizeof type, &type, EC_ONEATTEMPT(EC_TIMEOUT_FRAME - 1)));
    EXPECT_EQ(sent + 1, bus.chain().frames());

    // Nothing ever comes back: attempts every 500 us until the exchange's patience has passed.
    bus.faults().loseNext = 1000000;
    sent = bus.chain().frames();
    std::uint64_t start = bus.clock().nowUs();
    type = 0x5A5A;
    EXPECT_EQ(EC_NOFRAME, ec_BRD(0, ECT_REG_TYPE, sizeof type, &type, EC_TIMEOUT_SAFE));
    std::uint64_t took = bus.clock().nowUs() - start;
    std::uint64_t attempts = bus.chain().frames() - sent;
    EXPECT_GE(took, std::uint64_t(EC_TIMEOUT_REPLY));
    EXPECT_LT(took, std::uint64_t(EC_TIMEOUT_REPLY + 1000));
    EXPECT_GE(attempts, took / 600);
    EXPECT_LE(attempts, took / 500 + 1);
    EXPECT_EQ(0x5A5A, type) << "no reply, no copy";
    for (int i = 0; i < EC_MAXBUF; i++)
        EXPECT_EQ(EC_BUF_EMPTY, ec_rxbufstat[i]) << "the index was freed";
}

class RedundantBus : public Bus
{
protected:
    RedundantBus()
        : Bus(5)
    {}
    void SetUp() override
    {
        bus.chain().setRing(true);
        ASSERT_GT(ec_init_redundant(SimBus::Primary, SimBus::Secondary), 0);
        EXPECT_EQ(2, bus.openHandles());
        for (int n = 1; n <= count; n++)
            ASSERT_EQ(1, ec_APWRw(uint16(1 - n), ECT_REG_STADR, station(n), EC_TIMEOUT_FRAME));
    }

    void expectWholeBus()
    {
        uint16 type = 0;
        EXPECT_EQ(count, ec_BRD(0, ECT_REG_TYPE, sizeof type, &type, EC_TIMEOUT_FRAME));
        for (int n = 1; n <= count; n++) {
            EXPECT_EQ(station(n), ec_APRDw(uint16(1 - n), ECT_REG_STADR, EC_TIMEOUT_FRAME))
                << "slave " << n;
            EXPECT_EQ(1, ec_FPWRw(station(n), ProcessRam, uint16(0x100 + n), EC_TIMEOUT_FRAME));
            EXPECT_EQ(0x100 + n, ec_FPRDw(station(n), ProcessRam, EC_TIMEOUT_FRAME));
        }
    }
};

TEST_F(RedundantBus, IntactOrBrokenRingReachesEverySlave)
{
    expectWholeBus();
    bus.chain().breakAfter(2);
    expectWholeBus();
    bus.chain().breakAfter(0);
    expectWholeBus();
    bus.chain().repair();
    expectWholeBus();
}

TEST(ClosedPort, ExchangesEndAtTheirDeadlineOnTheVirtualClock)
{
    SimBus bus(SimBus::plainChain(1));
    ec_close();
    EXPECT_EQ(0, ec_FPRDw(0x1001, ECT_REG_ALSTAT, EC_TIMEOUT_STATECHANGE));
    uint8 idx = ec_getindex();
    EXPECT_LT(ec_waitinframe(idx, EC_TIMEOUT_SAFE), 0);
}

} // namespace
