// Layout of the process image and the FMMU and SyncManager programming of the mapping, checked in
// the master's tables and in the registers of the emulated slaves.
#include "pdoslaves.h"

#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"

using namespace pdotest;

namespace {

class Mapping : public PdoBusTest {
};

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
        const char *what;
        std::vector<int> outBits; // one output slave each, then one of 8 input bits
        int imageBytes, obytes;
        std::vector<Place> places;
    } cases[] = {
        {"three of 2 bits share a byte", {2, 2, 2}, 2, 1, {{1, 0, 0, 1, 1}, {2, 0, 2, 1, 3}, {3, 0, 4, 1, 5}}},
        {"6 bits, then 5 running into the next byte", {6, 5}, 3, 2, {{2, 0, 6, 2, 2}}},
        {"a byte slave after a bit slave", {3, 16}, 4, 3, {{2, 1, 0, 2, 7}}},
    };
    for (const auto &c : cases) {
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
        for (const Place &p : c.places) {
            SCOPED_TRACE(p.slave);
            const ec_fmmut &f = ec_slave[p.slave].FMMU[0];
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
    const sim::SyncManager &sm = bus->slave(1).esc().syncManagers().at(4);
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

} // namespace
