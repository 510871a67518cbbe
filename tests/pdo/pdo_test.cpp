// The mapping (image layout, FMMU and SyncManager programming, in the master's tables and the
// slaves' registers) and process data cycles: what the slaves get, what comes back, the counter.
#include "pdoslaves.h"

#include "coe/coeslave.h"
#include "soe/soeslave.h"

#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"

using namespace pdotest;

namespace {

using Mapping = PdoBusTest;

TEST_F(Mapping, ByteOrientedSlavesPutAllOutputsBeforeAllInputs)
{
    ASSERT_EQ(open(chainOf(makeIoSlave("A", 16, 16), makeIoSlave("B", 16, 16))), 2);
    EXPECT_EQ(ec_config_map(image), 8);

    EXPECT_EQ(ec_slave[1].outputs, image + 0);
    EXPECT_EQ(ec_slave[2].outputs, image + 2);
    EXPECT_EQ(ec_slave[1].inputs, image + 4);
    EXPECT_EQ(ec_slave[2].inputs, image + 6);
    EXPECT_EQ(ec_slave[2].Obytes, 2u);
    EXPECT_EQ(ec_group[0].Obytes, 4u);
    EXPECT_EQ(ec_group[0].Ibytes, 4u);
    EXPECT_EQ(ec_group[0].nsegments, 1);
    EXPECT_EQ(ec_group[0].IOsegment[0], 8u);
    EXPECT_EQ(ec_group[0].expectedWKC, 6);
    EXPECT_EQ(ec_slave[0].outputs, image);
    EXPECT_EQ(ec_slave[0].inputs, image + 4);
    EXPECT_EQ(ec_slave[0].Ibytes, 4u);

    // What the second slave was told: outputs at logical 2 from SM2, inputs at logical 6 into SM3.
    sim::Fmmu out = slaveFmmu(2, 0);
    EXPECT_EQ(out.logicalStart, 2u);
    EXPECT_EQ(out.length, 2);
    EXPECT_EQ(out.physicalStart, 0x1100);
    EXPECT_EQ(out.type, 2);
    EXPECT_TRUE(out.active);
    sim::Fmmu in = slaveFmmu(2, 1);
    EXPECT_EQ(in.logicalStart, 6u);
    EXPECT_EQ(in.physicalStart, 0x1180);
    EXPECT_EQ(in.type, 1);
    EXPECT_EQ(bus->slave(2).esc().syncManagers().at(2).length, 2);

    // Every slave was asked for SAFE-OP and, being set up as its SII says, got there.
    EXPECT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_SAFE_OP);
}

// Bit-oriented outputs share bytes in bus order, as the master's tables and the slaves' FMMU
// registers both say; a slave that does not fit the rest of a byte runs into the next one, and a
// byte-oriented slave or the inputs start on the next whole byte.
TEST_F(Mapping, BitOrientedSlavesAreLaidOutBitByBit)
{
    struct Place
    {
        int slave, byte, startBit, logLength, endBit;
    };
    const struct
    {
        const char* what;
        std::vector<int> outBits; // one output slave each, then one of 8 input bits
        int imageBytes, obytes;
        std::vector<Place> places;
    } cases[] = {
        {"three of 2 bits share a byte", {2, 2, 2}, 2, 1,
            {{1, 0, 0, 1, 1}, {2, 0, 2, 1, 3}, {3, 0, 4, 1, 5}}},
        {"6 bits, then 5 running into the next byte", {6, 5}, 3, 2, {{2, 0, 6, 2, 2}}},
        {"a byte slave after a bit slave", {3, 16}, 4, 3, {{2, 1, 0, 2, 7}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Chain chain;
        for (int bits : c.outBits)
            chain.add(makeIoSlave("Out", bits, 0));
        chain.add(makeIoSlave("In", 0, 8));
        const int inputs = int(c.outBits.size()) + 1;
        ASSERT_EQ(open(std::move(chain)), inputs);
        EXPECT_EQ(ec_config_map(image), c.imageBytes);
        EXPECT_EQ(ec_group[0].Obytes, std::uint32_t(c.obytes));
        EXPECT_EQ(ec_slave[inputs].inputs, image + c.obytes) << "the inputs start on a whole byte";
        EXPECT_EQ(ec_group[0].expectedWKC, 2 * int(c.outBits.size()) + 1);
        for (const Place& p : c.places) {
            SCOPED_TRACE(p.slave);
            const ec_fmmut& f = ec_slave[p.slave].FMMU[0];
            EXPECT_EQ(ec_slave[p.slave].outputs, image + p.byte);
            EXPECT_EQ(ec_slave[p.slave].Ostartbit, p.startBit);
            EXPECT_EQ(std::uint32_t(f.LogStart), std::uint32_t(p.byte));
            EXPECT_EQ(int(f.LogLength), p.logLength);
            EXPECT_EQ(int(f.LogStartbit), p.startBit);
            EXPECT_EQ(int(f.LogEndbit), p.endBit);
            EXPECT_EQ(slaveFmmu(std::size_t(p.slave), 0).logicalStartBit, p.startBit);
        }
        TearDown();
    }
}

TEST_F(Mapping, AdjacentSyncManagersShareOneFmmuOthersGetTheirOwn)
{
    PdSlaveOptions adjacent;
    adjacent.sms = {{2, 0x1100, 16, true}, {4, 0x1102, 16, true}};
    PdSlaveOptions apart;
    apart.sms = {{2, 0x1100, 16, true}, {4, 0x1200, 16, true}, {6, 0x1300, 16, true}};
    ASSERT_EQ(open(chainOf(makePdSlave(adjacent), makePdSlave(apart))), 2);
    EXPECT_EQ(ec_config_map(image), 10);

    EXPECT_EQ(int(ec_slave[1].FMMU[0].LogLength), 4);
    EXPECT_EQ(ec_slave[1].FMMUunused, 1);
    // Each of three separate SyncManagers gets exactly its own two bytes, one after the other.
    for (int k = 0; k < 3; k++) {
        SCOPED_TRACE(k);
        EXPECT_EQ(std::uint32_t(ec_slave[2].FMMU[k].LogStart), 4u + 2u * std::uint32_t(k));
        EXPECT_EQ(int(ec_slave[2].FMMU[k].LogLength), 2);
        EXPECT_EQ(int(ec_slave[2].FMMU[k].PhysStart), 0x1100 + 0x100 * k);
    }
    EXPECT_EQ(ec_group[0].expectedWKC, 2 + 3 * 2);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_SAFE_OP);
}

TEST_F(Mapping, NoFmmuBeyondTheFourth)
{
    PdSlaveOptions greedy;
    greedy.name = "Greedy";
    greedy.sms = {{2, 0x1100, 16, true}, {4, 0x1200, 16, true}, {6, 0x1300, 16, true},
        {3, 0x1180, 16, false}, {5, 0x1280, 16, false}};
    ASSERT_EQ(open(chainOf(makePdSlave(greedy), makeIoSlave("Fine", 8, 8))), 2);
    ec_config_map(image);

    EXPECT_EQ(ec_slave[1].FMMUunused, 4);
    EXPECT_EQ(int(ec_slave[1].FMMU[3].PhysStart), 0x1180);
    // The fifth FMMU register block of the controller was never written.
    for (int b = 0; b < 16; b++)
        EXPECT_EQ(bus->slave(1).esc().memory()[0x0640 + b], 0) << b;
    // Only what got an FMMU is in the image and the working counter.
    EXPECT_EQ(ec_group[0].Obytes, 6u + 1u);
    EXPECT_EQ(ec_group[0].Ibytes, 2u + 1u);
    EXPECT_EQ(ec_group[0].expectedWKC, 3 * 2 + 1 + 2 + 1);
    EXPECT_EQ(ec_slave[2].outputs, image + 6);

    // The short-changed slave refuses SAFE-OP; its neighbour is unharmed.
    EXPECT_NE(ec_statecheck(1, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_SAFE_OP);
    EXPECT_EQ(ec_slave[1].ALstatuscode, 0x001E);
    EXPECT_EQ(ec_statecheck(2, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_SAFE_OP);
}

TEST_F(Mapping, SlaveWithoutProcessDataGetsNoFmmuButIsAskedForSafeOp)
{
    ASSERT_EQ(open(chainOf(makeIoSlave("Empty", 0, 0), makeIoSlave("IO", 16, 8))), 2);
    EXPECT_EQ(ec_config_map(image), 3);
    EXPECT_EQ(ec_slave[1].FMMUunused, 0);
    EXPECT_EQ(ec_slave[1].outputs, nullptr);
    EXPECT_FALSE(slaveFmmu(1, 0).active);
    EXPECT_EQ(ec_slave[2].outputs, image);
    EXPECT_EQ(ec_group[0].expectedWKC, 3);
    EXPECT_EQ(ec_statecheck(1, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_SAFE_OP);
}

TEST_F(Mapping, SyncManagerWithoutLengthIsWrittenDisabled)
{
    PdSlaveOptions options;
    options.sms = {{2, 0x1100, 16, true}, {4, 0x1300, 0, true}};
    ASSERT_EQ(open(chainOf(makePdSlave(options))), 1);
    ec_config_map(image);
    const sim::SyncManager& sm = bus->slave(1).esc().syncManagers().at(4);
    EXPECT_EQ(sm.start, 0x1300);
    EXPECT_EQ(sm.activate & 0x01, 0);
    EXPECT_EQ(std::uint32_t(ec_slave[1].SM[4].SMflags & 0x00010000u), 0u);
    EXPECT_EQ(ec_slave[1].FMMUunused, 1);
}

TEST_F(Mapping, WrongGroupOrEmptyBusMapsNothing)
{
    ASSERT_EQ(open(chainOf(makeIoSlave("A", 16, 16))), 1);
    EXPECT_EQ(ec_config_map_group(image, 8), 0);
    EXPECT_EQ(ec_slave[1].FMMUunused, 0);
    EXPECT_EQ(ec_config_map_group(nullptr, 0), 0);
    EXPECT_EQ(ec_slave[1].FMMUunused, 0);
    ec_slavecount = 0;
    EXPECT_EQ(ec_config_map(image), 0);
}

using Bytes = std::vector<std::uint8_t>;

class Exchange : public PdoBusTest
{
protected:
    int cycle()
    {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUT_FRAME);
    }
};

TEST_F(Exchange, BitOrientedSlavesGetTheirOwnBits)
{
    ASSERT_EQ(configure(chainOf(
                  makeIoSlave("B1", 2, 3), makeIoSlave("B2", 2, 3), makeIoSlave("B3", 2, 3))),
        3);
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
        EXPECT_EQ(
            Bytes(ec_slave[n].inputs, ec_slave[n].inputs + 4), Bytes(4, std::uint8_t(0x10 * n)));
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

// Slaves that describe their process data only through CoE or only through SoE are mapped from
// what the master reads out of their mailboxes, next to a slave described by its SII.
TEST_F(Exchange, CoeSoeAndSiiSlavesAreMappedAndExchangeData)
{
    sim::coe::CoeSlaveOptions ca;
    ca.name = "CoE CA";
    ca.completeAccess = true;
    ASSERT_EQ(configure(chainOf(sim::coe::makeCoeSlave().slave, sim::coe::makeCoeSlave(ca).slave,
                  sim::soe::makeSoeSlave().slave, makeIoSlave("SII", 16, 8))),
        4);

    for (int n = 1; n <= 2; n++) {
        EXPECT_EQ(ec_slave[n].Obits, sim::coe::CoeSlaveOutputBits) << n;
        EXPECT_EQ(ec_slave[n].Ibits, sim::coe::CoeSlaveInputBits) << n;
    }
    EXPECT_EQ(ec_slave[3].Obits, sim::soe::SoeSlaveOutputBits);
    EXPECT_EQ(ec_slave[3].Ibits, sim::soe::SoeSlaveInputBits);
    EXPECT_EQ(int(ec_slave[3].SM[2].SMlength), 10);
    EXPECT_EQ(int(ec_slave[3].SM[3].SMlength), 8);
    EXPECT_EQ(ec_group[0].Obytes, 6u + 6u + 10u + 2u);
    EXPECT_EQ(ec_group[0].Ibytes, 7u + 7u + 8u + 1u);
    EXPECT_EQ(ec_group[0].expectedWKC, 4 * 3);

    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_SAFE_OP);
    const Bytes coe = {1, 2, 3, 4, 5, 6};
    const Bytes soe = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    std::copy(coe.begin(), coe.end(), ec_slave[1].outputs);
    std::copy(soe.begin(), soe.end(), ec_slave[3].outputs);
    bus->slave(3).setInputs(3, Bytes(8, 0x5A));

    EXPECT_EQ(cycle(), ec_group[0].expectedWKC);
    EXPECT_EQ(slaveOutputs(1, 2), coe);
    EXPECT_EQ(slaveOutputs(3, 2), soe);
    EXPECT_EQ(Bytes(ec_slave[3].inputs, ec_slave[3].inputs + 8), Bytes(8, 0x5A));

    ec_slave[0].state = EC_STATE_OPERATIONAL;
    ec_writestate(0);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_OPERATIONAL, EC_TIMEOUT_STATECHANGE), EC_STATE_OPERATIONAL);
}

} // namespace
