/*
 * SII EEPROM access (ownership, word reads and writes, refused commands, both read widths), the
 * byte cache and AL state control, against enumerated slaves. (The category parsers are held to
 * what the enumeration and the mapping make of them.)
 */
#include "busfixture.h"
#include "testchains.h"

#include "core/slave.h"

#include "ethercatconfig.h"
#include "ethercatmain.h"

#include <cstring>

namespace {

using namespace enumtest;

class SiiState : public BusTest
{
protected:
    /* Slave 1 a board, slave 2 a controller, slave 3 a controller with an 8-byte interface. */
    void SetUp() override
    {
        sim::Chain chain;
        chain.add(sim::Slave(boardSii("Board", 0x40).build()));
        chain.add(sim::Slave(controllerSii("TMCM-1610", 0x64A).build()));
        sim::EscOptions wide;
        wide.eightByteEepromReads = true;
        chain.add(sim::Slave(controllerSii("TMCM-174", 0xAE).build(), wide));
        start(std::move(chain));
        ASSERT_EQ(ec_config_init(0), 3);
    }
};

TEST_F(SiiState, WordReadsInBothWidthsAndByPosition)
{
    EXPECT_EQ(ec_slave[2].eep_8byte, 0);
    EXPECT_EQ(ec_slave[3].eep_8byte, 1);
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_ID, EC_TIMEOUT_SAFE), 0x64Au);
    uint64 wide = ec_readeepromFP(0x1003, ECT_SII_MANUF, EC_TIMEOUT_SAFE);
    EXPECT_EQ(wide, (uint64(0xAE) << 32) | ControllerVendor);
    uint64 narrow = ec_readeepromFP(0x1002, ECT_SII_MANUF, EC_TIMEOUT_SAFE);
    EXPECT_EQ(narrow, uint64(ControllerVendor)) << "upper half 0 on a 4-byte interface";
    EXPECT_EQ(ec_readeepromAP(0xFFFF, ECT_SII_ID, EC_TIMEOUT_SAFE), 0x64Au) << "position 2";
    EXPECT_EQ(ec_readeepromFP(0x1009, ECT_SII_ID, EC_TIMEOUT_SAFE), 0u) << "nobody at 0x1009";
}

TEST_F(SiiState, WriteThenReadBack)
{
    EXPECT_EQ(ec_writeeeprom(2, 0x0300, 0xBEEF, EC_TIMEOUT_SAFE), 1);
    EXPECT_EQ(bus().slave(2).esc().eeprom().word(0x0300), 0xBEEF);
    EXPECT_EQ(ec_readeeprom(2, 0x0300, EC_TIMEOUT_SAFE) & 0xFFFF, 0xBEEFu);
    EXPECT_EQ(ec_writeeepromAP(0xFFFE, 0x0301, 0x1234, EC_TIMEOUT_SAFE), 1) << "position 3";
    EXPECT_EQ(bus().slave(3).esc().eeprom().word(0x0301), 0x1234);
}

TEST_F(SiiState, RefusedCommandsAreRepeatedUpToThreeTimes)
{
    bus().slave(2).eepromFaults().refuseCommands = 2;
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_ID, EC_TIMEOUT_SAFE), 0x64Au);
    bus().slave(2).eepromFaults().refuseCommands = 3;
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_ID, EC_TIMEOUT_SAFE), 0u);
    bus().slave(2).eepromFaults().refuseCommands = 3;
    EXPECT_EQ(ec_writeeeprom(2, 0x0300, 0x5555, EC_TIMEOUT_SAFE), 0);
    bus().slave(2).eepromFaults().refuseCommands = 0;
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_REV, EC_TIMEOUT_SAFE), 0x00010002u) << "error bits cleared";
}

TEST_F(SiiState, SplitReadThatIsRefusedDoesNotReturnTheWordBefore)
{
    ec_readeeprom1(2, ECT_SII_MANUF);
    EXPECT_EQ(ec_readeeprom2(2, EC_TIMEOUT_SAFE), ControllerVendor);
    bus().slave(2).eepromFaults().refuseCommands = 1;
    ec_readeeprom1(2, ECT_SII_ID);
    EXPECT_EQ(ec_readeeprom2(2, EC_TIMEOUT_SAFE), 0x64Au);
}

TEST_F(SiiState, OwnershipMovesBetweenMasterAndPdi)
{
    EXPECT_EQ(ec_slave[2].eep_pdi, 0);
    EXPECT_FALSE(bus().slave(2).esc().eeprom().pdiOwns());
    EXPECT_EQ(ec_eeprom2master(2), 1) << "nothing to do";
    EXPECT_GT(ec_eeprom2pdi(2), 0);
    EXPECT_TRUE(bus().slave(2).esc().eeprom().pdiOwns());
    EXPECT_EQ(ec_eeprom2pdi(2), 1) << "nothing to do";

    /* A cached parse takes it for the master and hands it back. */
    EXPECT_EQ(ec_siifind(2, 99), 0);
    EXPECT_EQ(ec_slave[2].eep_pdi, 1);
    EXPECT_TRUE(bus().slave(2).esc().eeprom().pdiOwns());

    /* A plain read leaves it with the master. */
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_ID, EC_TIMEOUT_SAFE), 0x64Au);
    EXPECT_EQ(ec_slave[2].eep_pdi, 0);
    EXPECT_FALSE(bus().slave(2).esc().eeprom().pdiOwns());
}

TEST_F(SiiState, CacheReadsEachWordGroupOnce)
{
    ec_siigetbyte(1, 0x80);
    uint64_t before = bus().chain().frames();
    uint8 b0 = ec_siigetbyte(2, 0x10);
    uint64_t afterFirst = bus().chain().frames();
    uint8 b3 = ec_siigetbyte(2, 0x13);
    EXPECT_GT(afterFirst, before);
    EXPECT_EQ(bus().chain().frames(), afterFirst) << "same group of 4 bytes, served from the cache";
    EXPECT_EQ(b0, ControllerVendor & 0xFF);
    EXPECT_EQ(b3, (ControllerVendor >> 24) & 0xFF);

    ec_siigetbyte(3, 0x10);
    EXPECT_EQ(ec_siigetbyte(3, 0x14), 0xAE) << "8-byte interface cached both words";
    uint64_t mark = bus().chain().frames();
    EXPECT_EQ(ec_siigetbyte(3, 0x17), 0x00);
    EXPECT_EQ(bus().chain().frames(), mark);

    EXPECT_EQ(ec_siigetbyte(3, 4096), 0xFF);
    EXPECT_EQ(ec_siigetbyte(3, 0xFFFF), 0xFF);
    EXPECT_EQ(bus().chain().frames(), mark) << "no EEPROM access above the cache";
}

TEST_F(SiiState, StringNumbers)
{
    char str[EC_MAXNAME + 1];
    ec_siistring(str, 2, 1);
    EXPECT_STREQ(str, "TMCM-1610");
    strcpy(str, "x");
    ec_siistring(str, 2, 0);
    EXPECT_STREQ(str, "");
    strcpy(str, "x");
    ec_siistring(str, 2, 9);
    EXPECT_STREQ(str, "");
}

TEST_F(SiiState, DumpStartsAtTheFirstCategory)
{
    static uint8 dump[EC_MAXEEPBUF];
    memset(dump, 0xAA, sizeof dump);
    ec_esidump(2, dump, 0);
    const sim::Eeprom &eeprom = bus().slave(2).esc().eeprom();
    for (uint16 w = 0; w < 16; w++)
        EXPECT_EQ(dump[2 * w] | (dump[2 * w + 1] << 8), eeprom.word(0x40 + w)) << w;
}

TEST_F(SiiState, StateRequestsAndChecks)
{
    EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
    uint64_t mark = bus().chain().frames();
    EXPECT_EQ(ec_statecheck(4, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), 0);
    EXPECT_EQ(ec_statecheck(EC_MAXSLAVE + 5, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), 0);
    EXPECT_EQ(bus().chain().frames(), mark) << "no bus access for a slave above the count";

    ec_slave[2].state = EC_STATE_INIT;
    EXPECT_EQ(ec_writestate(2), 0);
    EXPECT_EQ(ec_statecheck(2, EC_STATE_INIT, EC_TIMEOUT_STATECHANGE), EC_STATE_INIT);
    EXPECT_EQ(ec_readstate(), EC_STATE_INIT);
    EXPECT_EQ(ec_slave[1].state, EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[2].state, EC_STATE_INIT);

    ec_slave[0].state = EC_STATE_INIT;
    ec_writestate(0);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_INIT, EC_TIMEOUT_STATECHANGE), EC_STATE_INIT);
    for (size_t n = 1; n <= 3; n++)
        EXPECT_EQ(bus().slave(n).state(), sim::AlState::Init);
}

TEST_F(SiiState, StateCheckGivesUpAtItsDeadline)
{
    bus().slave(2).alFaults().ignore = sim::AlState::SafeOp;
    ec_slave[2].state = EC_STATE_SAFE_OP;
    ec_writestate(2);
    uint64_t before = bus().clock().nowUs();
    EXPECT_EQ(ec_statecheck(2, EC_STATE_SAFE_OP, 50000), EC_STATE_PRE_OP);
    uint64_t spent = bus().clock().nowUs() - before;
    EXPECT_GE(spent, 50000u);
    EXPECT_LT(spent, 60000u);
}

} // namespace
