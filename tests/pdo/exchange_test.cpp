// Process data cycles against the virtual bus: what the slaves receive, what comes back into the
// image, and the working counter against expectedWKC.
#include "pdoslaves.h"

#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"

using namespace pdotest;

namespace {

using Bytes = std::vector<std::uint8_t>;

class Exchange : public PdoBusTest {
protected:
    int cycle()
    {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUT_FRAME);
    }
};

TEST_F(Exchange, BitOrientedSlavesGetTheirOwnBits)
{
    ASSERT_EQ(configure(chainOf(makeIoSlave("B1", 2, 3), makeIoSlave("B2", 2, 3), makeIoSlave("B3", 2, 3))), 3);
    bus->slave(1).setInputs(3, {0x05});
    bus->slave(2).setInputs(3, {0x02});
    bus->slave(3).setInputs(3, {0x07});
    image[0] = 0x39; // 00 11 10 01: slave 1 gets 01, slave 2 10, slave 3 11

    EXPECT_EQ(cycle(), ec_group[0].expectedWKC);
    EXPECT_EQ(slaveOutputs(1, 2), Bytes{0x01});
    EXPECT_EQ(slaveOutputs(2, 2), Bytes{0x02});
    EXPECT_EQ(slaveOutputs(3, 2), Bytes{0x03});
    // Inputs of 3 bits each from bit 0 of byte 1: 101, 010, 111.
    EXPECT_EQ(ec_slave[1].inputs, image + 1);
    EXPECT_EQ(image[1], 0x05 | (0x02 << 3) | ((0x07 & 0x03) << 6));
    EXPECT_EQ(image[2] & 0x01, 0x01);
}

TEST_F(Exchange, SeveralSegmentsGoInSeveralFramesAndAllComeBack)
{
    PdSlaveOptions big;
    big.sms = {{2, 0x1100, 8000, true}, {3, 0x1800, 32, false}};
    ASSERT_EQ(configure(chainOf(makePdSlave(big), makePdSlave(big), makePdSlave(big))), 3);
    for (int n = 1; n <= 3; n++) {
        std::fill(ec_slave[n].outputs, ec_slave[n].outputs + 1000, std::uint8_t(n));
        bus->slave(std::size_t(n)).setInputs(3, Bytes(4, std::uint8_t(0x10 * n)));
    }
    std::uint64_t before = bus->chain().frames();
    EXPECT_EQ(cycle(), ec_group[0].expectedWKC);
    EXPECT_EQ(bus->chain().frames() - before, 3u);
    for (int n = 1; n <= 3; n++) {
        SCOPED_TRACE(n);
        EXPECT_EQ(slaveOutputs(std::size_t(n), 2), Bytes(1000, std::uint8_t(n)));
        EXPECT_EQ(Bytes(ec_slave[n].inputs, ec_slave[n].inputs + 4), Bytes(4, std::uint8_t(0x10 * n)));
    }
}

TEST_F(Exchange, SlaveThatCannotTakeLrwGetsSeparateReadsAndWrites)
{
    PdSlaveOptions noLrw;
    noLrw.name = "NoLRW";
    noLrw.blockLrw = true;
    noLrw.sms = {{2, 0x1100, 16, true}, {3, 0x1180, 16, false}};
    ASSERT_EQ(configure(chainOf(makePdSlave(noLrw), makeIoSlave("B", 8, 8))), 2);
    EXPECT_EQ(ec_group[0].blockLRW, 1);
    ec_slave[1].outputs[0] = 0x12;
    ec_slave[1].outputs[1] = 0x34;
    ec_slave[2].outputs[0] = 0x56;
    bus->slave(1).setInputs(3, {0xAB, 0xCD});
    bus->slave(2).setInputs(3, {0xEF});

    std::uint64_t before = bus->chain().frames();
    // Only the reads count: one per input FMMU.
    EXPECT_EQ(cycle(), 2);
    EXPECT_EQ(bus->chain().frames() - before, 2u);
    EXPECT_EQ(slaveOutputs(1, 2), (Bytes{0x12, 0x34}));
    EXPECT_EQ(slaveOutputs(2, 2), Bytes{0x56});
    EXPECT_EQ(Bytes(ec_slave[1].inputs, ec_slave[1].inputs + 2), (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(ec_slave[2].inputs[0], 0xEF);
}

TEST_F(Exchange, ClockDatagramRidesInTheFirstFrameWithoutSpoilingTheCount)
{
    ASSERT_EQ(configure(chainOf(makeIoSlave("A", 16, 16), makeIoSlave("B", 8, 8))), 2);
    // No operation of this system sets up the clocks; do by hand what their set-up would leave.
    ec_group[0].hasdc = TRUE;
    ec_group[0].DCnext = 1;
    ec_DCtime = 0;
    bus->slave(2).setInputs(3, {0x42});

    EXPECT_EQ(cycle(), ec_group[0].expectedWKC);
    EXPECT_EQ(ec_slave[2].inputs[0], 0x42);
    EXPECT_EQ(ec_DCl, 6);
    EXPECT_EQ(ec_DCtO, 12 + 6 + 2 + 10);
    EXPECT_GT(ec_DCtime, 0);
    EXPECT_LE(std::uint64_t(ec_DCtime), bus->clock().nowNs());
}

TEST_F(Exchange, LostFrameAddsNothingAndLeavesTheInputsAlone)
{
    ASSERT_EQ(configure(chainOf(makeIoSlave("A", 16, 16))), 1);
    bus->slave(1).setInputs(3, {0x01, 0x02});
    EXPECT_EQ(cycle(), 3);
    bus->slave(1).setInputs(3, {0x03, 0x04});
    bus->faults().loseNext = 1;
    EXPECT_EQ(cycle(), 0);
    EXPECT_EQ(ec_slave[1].inputs[0], 0x01);
    // The index was given back: the next cycle works again.
    EXPECT_EQ(cycle(), 3);
    EXPECT_EQ(ec_slave[1].inputs[0], 0x03);
}

TEST_F(Exchange, EmptyImageSendsNothing)
{
    ASSERT_EQ(configure(chainOf(makeIoSlave("Empty", 0, 0))), 1);
    std::uint64_t before = bus->chain().frames();
    EXPECT_EQ(ec_send_processdata(), 0);
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUT_FRAME), 0);
    EXPECT_EQ(bus->chain().frames(), before);
    EXPECT_EQ(ec_send_processdata_group(8), 0);
    EXPECT_EQ(ec_receive_processdata_group(8, EC_TIMEOUT_FRAME), 0);
}

TEST_F(Exchange, ImageLargerThanTheBufferIsRefusedBeforeAnythingIsSent)
{
    PdSlaveOptions big;
    big.sms = {{2, 0x1100, 1400 * 8, true}};
    ASSERT_EQ(configure(chainOf(makePdSlave(big), makePdSlave(big), makePdSlave(big))), 3);
    // 4200 bytes do not fit the 4096-byte image: nothing points into it, nothing is exchanged.
    EXPECT_EQ(ec_group[0].Obytes, 4200u);
    EXPECT_EQ(ec_group[0].outputs, nullptr);
    EXPECT_EQ(ec_slave[0].outputs, nullptr);
    for (int n = 1; n <= 3; n++)
        EXPECT_EQ(ec_slave[n].outputs, nullptr) << n;
    std::uint64_t before = bus->chain().frames();
    EXPECT_EQ(ec_send_processdata(), 0);
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUT_FRAME), 0);
    EXPECT_EQ(bus->chain().frames(), before);
}

TEST_F(Exchange, ImageIsCheckedAgainstTheSizeTheCallerGives)
{
    ASSERT_EQ(open(chainOf(makeIoSlave("A", 16, 16), makeIoSlave("B", 16, 16))), 2);
    std::uint8_t small[7] = {};
    EXPECT_EQ(ec_config_map_group_size(small, sizeof small, 0), 0);
    EXPECT_EQ(ec_send_processdata(), 0);

    ASSERT_EQ(ec_config_init(0), 2);
    std::uint8_t exact[8] = {};
    EXPECT_EQ(ec_config_map_group_size(exact, sizeof exact, 0), 8);
    EXPECT_EQ(ec_slave[2].inputs, exact + 6);
    EXPECT_EQ(ec_send_processdata(), 1);
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUT_FRAME), 6);
}

} // namespace
