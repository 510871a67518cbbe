/*
 * Enumeration of buses of slaves built in code from SII descriptions: what the slave entries take
 * from the SII, buses with something wrong, the built-in table; SII EEPROM access and AL states.
 */
#include "busfixture.h"

#include "core/chain.h"
#include "core/layouts.h"
#include "core/siibuilder.h"
#include "core/slave.h"

#include "ethercatbase.h"
#include "ethercatconfig.h"
#include "ethercatconfiglist.h"
#include "ethercatmain.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t ControllerVendor = 0x00000286;
constexpr std::uint32_t BoardVendor = 0x00000A5A;

sim::SiiPdo pdo(std::uint16_t index, std::uint8_t sm, std::uint8_t bits)
{
    sim::SiiPdo p;
    p.index = index;
    p.syncManager = sm;
    sim::SiiPdoEntry e;
    e.index = 0x6000;
    e.subIndex = 1;
    e.bitLength = bits;
    p.entries = {e, e};
    return p;
}

/* A motor controller: standard and bootstrap mailbox, CoE and FoE, four SyncManagers, three
 * FMMUs, one PDO per direction. */
sim::SiiBuilder controllerSii(const std::string& name, std::uint32_t product)
{
    sim::SiiGeneral general;
    general.coeDetails = 0x23;
    general.foeDetails = 0x01;
    general.ebusCurrent = 120;
    sim::SiiBuilder b;
    b.identity(ControllerVendor, product, 0x00010002)
        .name(name)
        .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
        .bootstrapMailbox(0x1000, 0x200, 0x1200, 0x200)
        .mailboxProtocols(sim::mbxproto::CoE | sim::mbxproto::FoE)
        .general(general)
        .fmmus({1, 2, 3})
        .syncManagers({{0x1000, 0x80, 0x26, 0, 1, 1}, {0x1080, 0x80, 0x22, 0, 1, 2},
            {0x1100, 8, 0x64, 0, 1, 3}, {0x1180, 8, 0x20, 0, 1, 4}})
        .rxPdo(pdo(0x1600, 2, 32))
        .txPdo(pdo(0x1A00, 3, 32));
    return b;
}

/* A board that is no axis: no mailbox, a name and a general category. */
sim::SiiBuilder boardSii(const std::string& name, std::uint32_t product)
{
    sim::SiiGeneral general;
    general.ebusCurrent = 40;
    sim::SiiBuilder b;
    b.identity(BoardVendor, product, 1).name(name).general(general).syncManagers({});
    return b;
}

sim::Chain chainOf(const std::vector<sim::Bytes>& images)
{
    sim::Chain chain;
    for (const auto& image : images)
        chain.add(sim::Slave(image));
    return chain;
}

/* The simulator's "arm" layout: a board, then five controllers. */
sim::Chain armChain()
{
    return *sim::layouts().build("arm");
}

using Enum = BusTest;

TEST_F(Enum, GeneralAndFmmuCategoriesFillEveryEntry)
{
    start(chainOf({boardSii("Zuvian Arm Board", 0x16).build(),
        controllerSii("TMCM-ZQ-841", 0x107).build(), controllerSii("TMCM-1610", 0x10A).build()}));
    ASSERT_EQ(ec_config_init(0), 3);
    EXPECT_EQ(ec_slave[1].mbx_proto, 0);
    EXPECT_EQ(ec_slave[1].Ebuscurrent, 40);
    for (uint16 n : {2, 3}) {
        SCOPED_TRACE(n);
        const ec_slavet& s = ec_slave[n];
        EXPECT_EQ(s.mbx_proto, sim::mbxproto::CoE | sim::mbxproto::FoE);
        EXPECT_EQ(s.CoEdetails, 0x23);
        EXPECT_EQ(s.FoEdetails, 0x01);
        EXPECT_EQ(s.Ebuscurrent, 120);
        EXPECT_EQ((std::vector<int>{s.FMMU0func, s.FMMU1func, s.FMMU2func, s.FMMU3func}),
            (std::vector<int>{1, 2, 3, 0}));
    }
    EXPECT_EQ(ec_slave[0].Ebuscurrent, 2 * 120 + 40);
}

TEST_F(Enum, SlaveThatRefusesPreOpStaysInInitWithItsCode)
{
    start(armChain());
    bus().slave(3).alFaults().refuse = sim::AlState::PreOp;
    ASSERT_EQ(ec_config_init(0), 6);
    EXPECT_EQ(ec_statecheck(3, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_INIT);
    EXPECT_EQ(ec_slave[3].state, EC_STATE_INIT | EC_STATE_ERROR);
    EXPECT_EQ(ec_slave[3].ALstatuscode, sim::alcode::InvalidStateChange);
    for (uint16 n : {1, 2, 4, 5, 6})
        EXPECT_EQ(ec_statecheck(n, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP) << n;

    ec_readstate();
    EXPECT_EQ(ec_slave[3].state, EC_STATE_INIT | EC_STATE_ERROR);
    EXPECT_EQ(ec_slave[0].ALstatuscode, sim::alcode::InvalidStateChange);
    EXPECT_EQ(ec_slave[2].ALstatuscode, 0);

    /* The error is acknowledged with the next request, once the slave accepts PRE-OP again. */
    bus().slave(3).alFaults().refuse.reset();
    ec_slave[3].state = EC_STATE_PRE_OP | EC_STATE_ACK;
    ec_writestate(3);
    EXPECT_EQ(ec_statecheck(3, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[3].state, EC_STATE_PRE_OP);
}

TEST_F(Enum, EepromThatStaysBusyFailsTheEnumerationWithoutStallingTheBus)
{
    start(armChain());
    bus().slave(2).eepromFaults().stayBusy = true;
    uint64_t before = bus().clock().nowUs();
    /* What could not be read stands in the table as zeros, so the bus is refused as a whole. */
    ASSERT_EQ(ec_config_init(0), EC_SIIFAILED);
    for (uint16 n = 1; n <= 6; n++)
        EXPECT_EQ(esifailed[n], n == 2 ? 1 : 0) << n;
    EXPECT_EQ(ec_slave[2].eep_man, 0u);
    EXPECT_EQ(ec_slave[2].eep_id, 0u);
    EXPECT_EQ(ec_slave[2].mbx_l, 0);
    EXPECT_STREQ(ec_slave[2].name, "? M:00000000 I:00000000");
    for (uint16 n : {1, 3, 4, 5, 6})
        EXPECT_EQ(ec_statecheck(n, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP) << n;
    EXPECT_STREQ(ec_slave[3].name, "TMCM-ZQ-841");
    /* A handful of 20 ms EEPROM time-outs, not one per category word of a 4 KiB walk. */
    EXPECT_LT(bus().clock().nowUs() - before, 1000000u);
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_ID, EC_TIMEOUT_SAFE), 0u);
    EXPECT_EQ(ec_writeeeprom(2, 0x40, 0x1234, EC_TIMEOUT_SAFE), 0);
}

TEST_F(Enum, NameLongerThan36CharactersIsCutToFit)
{
    const std::string longName = "Zuvian Robot Arm Interface Board Rev 7 with a far too long name";
    start(chainOf({boardSii(longName, 0x20).build(), boardSii("Next", 0x21).build()}));
    ASSERT_EQ(ec_config_init(0), 2);
    EXPECT_EQ(std::string(ec_slave[1].name), longName.substr(0, EC_MAXNAME));
    EXPECT_STREQ(ec_slave[2].name, "Next");

    char buf[EC_MAXNAME + 1 + 8];
    memset(buf, 0x5A, sizeof buf);
    ec_siistring(buf, 1, 1);
    EXPECT_EQ(std::string(buf), longName.substr(0, EC_MAXNAME));
    for (size_t i = EC_MAXNAME + 1; i < sizeof buf; i++)
        EXPECT_EQ(buf[i], 0x5A) << "written past the name at " << i;
}

/* A strings category with one string, as raw bytes. */
sim::Bytes stringsCategory(const std::string& text)
{
    sim::Bytes data = {1, static_cast<uint8_t>(text.size())};
    for (char c : text)
        data.push_back(static_cast<uint8_t>(c));
    if (data.size() % 2)
        data.push_back(0);
    return data;
}

TEST_F(Enum, CategoryLengthRunningPastTheEepromIsCut)
{
    /* Slave 1: its strings category claims 0x7000 words; the name in front of the cut is good.
     * Slave 2: a category of an unknown type claims 0x7FFF words ahead of the strings: the walk
     * jumps past the EEPROM and ends as if at the end marker. */
    sim::Bytes overlong = sim::SiiBuilder()
                              .identity(BoardVendor, 0x30, 1)
                              .syncManagers({})
                              .rawCategory(ECT_SII_STRING, stringsCategory("Overlong"), 0x7000)
                              .build();
    sim::Bytes jumper = sim::SiiBuilder()
                            .identity(BoardVendor, 0x31, 1)
                            .syncManagers({})
                            .rawCategory(1, sim::Bytes(4, 0), 0x7FFF)
                            .rawCategory(ECT_SII_STRING, stringsCategory("Hidden"))
                            .build();
    start(chainOf({overlong, jumper}));
    ASSERT_EQ(ec_config_init(0), 2);
    EXPECT_STREQ(ec_slave[1].name, "Overlong");
    EXPECT_STREQ(ec_slave[2].name, "? M:00000a5a I:00000031");
    EXPECT_EQ(ec_siifind(2, ECT_SII_STRING), 0);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
}

TEST_F(Enum, PdoAndSyncManagerCategoriesPastTheEepromStayInsideTheirTables)
{
    sim::Bytes sm = {0x00, 0x11, 8, 0, 0x64, 0, 1, 3};
    sim::Bytes pdo = {0x00, 0x1A, 1, 3, 0, 0, 0, 0, /* entry: */ 0x00, 0x60, 1, 0, 0, 16, 0, 0};
    sim::Bytes smImage
        = boardSii("Broken SM", 0x32).syncManagers({}).rawCategory(ECT_SII_SM, sm, 0x7FFF).build();
    sim::Bytes pdoImage = boardSii("Broken PDO", 0x33)
                              .syncManagers({})
                              .rawCategory(ECT_SII_PDO, pdo, 0x7FFF)
                              .build();
    start(chainOf({smImage, pdoImage}));
    ASSERT_EQ(ec_config_init(0), 2);
    EXPECT_EQ(+ec_slave[1].SM[0].StartAddr, 0x1100);
    EXPECT_EQ(+ec_slave[1].SM[0].SMflags, 0x00010064u);

    ec_eepromSMt smcat;
    uint16 nsm = ec_siiSM(1, &smcat);
    EXPECT_GE(nsm, 8);
    EXPECT_LE(smcat.Startpos + 2 + 8 * nsm, EC_MAXEEPBUF) << "entries cut at the end of the cache";
    EXPECT_EQ(ec_siiSMnext(1, &smcat, nsm), 0);

    static ec_eepromPDOt pdocat;
    int bits = ec_siiPDO(2, &pdocat, 0);
    EXPECT_EQ(pdocat.Index[1], 0x1A00);
    EXPECT_EQ(pdocat.BitSize[1], 16);
    EXPECT_EQ(pdocat.SMbitsize[3], 16);
    EXPECT_EQ(bits, 16) << "the erased bytes behind the image are PDOs without SyncManager";
    EXPECT_GT(pdocat.nPDO, 1);
    EXPECT_LT(pdocat.nPDO, EC_MAXEEPDO);
}

TEST_F(Enum, BusOf199SlavesFillsTheTableAndOneMoreIsRefusedAndLeftAlone)
{
    start(SimBus::plainChain(199));
    ASSERT_EQ(ec_config_init(0), 199);
    EXPECT_EQ(bus().slave(199).esc().stationAddress(), 0x1000 + 199);
    EXPECT_STREQ(ec_slave[199].name, "Plain Slave 199");
    EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
    TearDown();

    start(SimBus::plainChain(200));
    EXPECT_EQ(ec_config_init(0), EC_TOOMANYSLAVES);
    EXPECT_EQ(ec_slavecount, 0);
    EXPECT_EQ(ec_slave[EC_MAXSLAVE - 1].configadr, 0);
    for (size_t n : {size_t(1), size_t(200)})
        EXPECT_EQ(bus().slave(n).esc().stationAddress(), 0) << n;
}

TEST_F(Enum, MailboxSizesFromTheSii)
{
    /* Slave 1: send mailbox size 0 takes the receive size. Slave 2: no SM category, so SM0/SM1
     * come from the header words. Slave 3: header start addresses 0 get the default layout, and
     * the messages go there. Slaves 4 and 5: a mailbox among the ESC's registers (over the
     * station address), or running past the end of the ESC's memory, is no mailbox. Slaves 6 and 7: a
     * mailbox SyncManager that the SM category gives no start gets the mailbox the messages go to. */
    sim::Bytes sameSize = controllerSii("A", 1).standardMailbox(0x1000, 0x80, 0x1080, 0).build();
    sim::Bytes noSmCategory
        = boardSii("B", 2).standardMailbox(0x1400, 0x100, 0x1500, 0x40).syncManagers({}).build();
    sim::Bytes zeroStart
        = boardSii("C", 3).standardMailbox(0, 0x80, 0, 0x80).syncManagers({}).build();
    sim::Bytes inRegisters
        = boardSii("D", 4).standardMailbox(0x000A, 0x20, 0x1080, 0x80).syncManagers({}).build();
    sim::Bytes pastTheEnd
        = boardSii("E", 5).standardMailbox(0x1000, 0x80, 0xFFC0, 0x80).syncManagers({}).build();
    sim::Bytes zeroSmStart = boardSii("F", 6)
                                 .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
                                 .syncManagers({{0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 2}})
                                 .build();
    sim::Bytes zeroSmStartElsewhere = boardSii("G", 7)
                                          .standardMailbox(0x1400, 0x100, 0x1500, 0x40)
                                          .syncManagers({{0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 2}})
                                          .build();
    start(chainOf({sameSize, noSmCategory, zeroStart, inRegisters, pastTheEnd, zeroSmStart,
        zeroSmStartElsewhere}));
    ASSERT_EQ(ec_config_init(0), 7);
    EXPECT_EQ(ec_slave[3].mbx_wo, 0x1000);
    EXPECT_EQ(ec_slave[3].mbx_ro, 0x1080);
    for (int n = 4; n <= 5; ++n) {
        EXPECT_EQ(ec_slave[n].mbx_l, 0) << n;
        EXPECT_EQ(ec_slave[n].mbx_rl, 0) << n;
        ec_mbxbuft message{};
        EXPECT_EQ(ec_mbxsend(uint16(n), &message, EC_TIMEOUT_SAFE), 0) << n;
        EXPECT_EQ(ec_FPRDw(ec_slave[n].configadr, ECT_REG_STADR, EC_TIMEOUT_FRAME),
            ec_slave[n].configadr);
    }
    EXPECT_EQ(ec_slave[1].mbx_rl, 0x80);
    // Start, length and flags of SM0 and SM1.
    auto sms = [](int n) {
        const ec_smt* sm = ec_slave[n].SM;
        return std::vector<uint32>{sm[0].StartAddr, sm[0].SMlength, sm[0].SMflags, sm[1].StartAddr,
            sm[1].SMlength, sm[1].SMflags};
    };
    for (int n : {2, 7})
        EXPECT_EQ(sms(n), (std::vector<uint32>{0x1400, 0x100, 0x10026, 0x1500, 0x40, 0x10022}))
            << n;
    for (int n : {3, 6})
        EXPECT_EQ(sms(n), (std::vector<uint32>{0x1000, 0x80, 0x10026, 0x1080, 0x80, 0x10022})) << n;
    EXPECT_EQ(ec_statecheck(2, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
}

TEST_F(Enum, BuiltInTableDescribesKnownTerminals)
{
    sim::Bytes el1004 = boardSii("EL1004 from SII", 0).identity(2, 0x03EC3052, 1).build();
    sim::Bytes unknown = boardSii("Unknown", 0x77).build();
    start(chainOf({el1004, unknown}));

    ASSERT_EQ(ec_config_init(0), 2);
    EXPECT_STREQ(ec_slave[1].name, "EL1004 from SII");
    EXPECT_EQ(ec_slave[1].configindex, 0);

    ASSERT_EQ(ec_config_init(1), 2);
    const ec_slavet& s = ec_slave[1];
    ASSERT_GT(s.configindex, 0);
    const ec_configentryt& row = ec_configlist[s.configindex];
    EXPECT_EQ(row.man, 2u);
    EXPECT_EQ(row.id, 0x03EC3052u);
    EXPECT_STREQ(s.name, row.name);
    EXPECT_EQ(s.Dtype, row.Dtype);
    EXPECT_EQ(s.Ibits, row.Ibits);
    // An input terminal without SyncManager address in the list gets the simple one's layout.
    EXPECT_EQ(+s.SM[1].StartAddr, 0x1000);
    EXPECT_EQ(+s.FMMU[1].FMMUactive, 1);
    EXPECT_EQ(ec_slave[2].configindex, 0);
    EXPECT_STREQ(ec_slave[2].name, "Unknown");

    /* Every row is found by its identity (the first of equal ones); row 0 and the end never. */
    int rows = 1;
    for (; ec_configlist[rows].man != EC_CONFIGEND; rows++) {
        const int found = ec_findconfig(ec_configlist[rows].man, ec_configlist[rows].id);
        EXPECT_GT(found, 0) << rows;
        EXPECT_LE(found, rows) << rows;
        EXPECT_EQ(ec_configlist[found].id, ec_configlist[rows].id) << rows;
    }
    EXPECT_GT(rows, 1);
    EXPECT_EQ(ec_findconfig(ec_configlist[0].man, ec_configlist[0].id), 0) << "row 0 never matches";
    EXPECT_EQ(ec_findconfig(EC_CONFIGEND, 0), 0);
}

TEST_F(Enum, RecoverSlaveChecksTheDeviceAtItsPosition)
{
    start(armChain());
    ASSERT_EQ(ec_config_init(0), 6);
    /* Slave 4 lost its address, as after a power cycle. */
    bus().slave(4).powerCycle();
    EXPECT_GT(ec_recover_slave(4), 0);
    EXPECT_EQ(bus().slave(4).esc().stationAddress(), 0x1004);
    EXPECT_EQ(ec_slave[4].configadr, 0x1004);

    /* Another product now claims to sit at position 5. */
    ec_slave[5].eep_id ^= 1;
    bus().slave(5).powerCycle();
    EXPECT_EQ(ec_recover_slave(5), 0);
    EXPECT_EQ(ec_slave[5].configadr, 0x1005);
    EXPECT_EQ(bus().slave(5).esc().stationAddress(), 0);

    /* A new SII revision (as a download may bring) is still the same device; another name is
     * not, though vendor and product match. */
    ec_slave[4].eep_rev ^= 1;
    bus().slave(4).powerCycle();
    EXPECT_GT(ec_recover_slave(4), 0);
    std::snprintf(ec_slave[3].name, sizeof ec_slave[3].name, "TMCM-9999");
    bus().slave(3).powerCycle();
    EXPECT_EQ(ec_recover_slave(3), 0);
    EXPECT_EQ(bus().slave(3).esc().stationAddress(), 0);
}

TEST_F(Enum, ReconfigSlaveWalksBackToSafeOp)
{
    start(chainOf({boardSii("Board", 0x40).build(), controllerSii("TMCM-1610", 0x64A).build(),
        controllerSii("TMCM-1610", 0x64A).build()}));
    ASSERT_EQ(ec_config_init(0), 3);
    EXPECT_EQ(ec_reconfig_slave(2), EC_STATE_SAFE_OP);
    EXPECT_EQ(bus().slave(2).state(), sim::AlState::SafeOp);
    bus().slave(3).alFaults().refuse = sim::AlState::PreOp;
    EXPECT_EQ(ec_reconfig_slave(3), EC_STATE_INIT);
}

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

// An EEPROM command whose reply comes late or not at all is never written again while it may be
// running: each read takes one command frame, and a write whose reply was lost is checked by
// reading the word back instead of being repeated.
TEST_F(SiiState, EepromCommandsWhoseRepliesComeLateAreSentOnce)
{
    struct Case
    {
        const char* name;
        sim::FrameFate fate;
        int writeCommands; // command frames of one word write
    };
    sim::FrameFate late, later, lost;
    late.delayUs = 2000; // past the retry interval, within the wait of a frame sent once
    later.delayUs = 50000; // past that wait as well
    lost.loseReply = true;
    const Case cases[]
        = {{"2 ms late", late, 1}, {"50 ms late", later, 2}, {"reply lost", lost, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int commands = 0;
        bus().link().setRule([&](const sim::Bytes& f, std::uint64_t) {
            const bool command = f.size() >= 30 && (f[16] == EC_CMD_FPWR || f[16] == EC_CMD_APWR)
                && (f[20] | f[21] << 8) == ECT_REG_EEPCTL && (f[22] | f[23] << 8) == 6;
            if (!command)
                return sim::FrameFate{};
            ++commands;
            return c.fate;
        });
        EXPECT_EQ(ec_readeepromFP(0x1002, ECT_SII_ID, EC_TIMEOUT_SAFE), 0x64Au);
        EXPECT_EQ(uint32(ec_readeepromAP(0xFFFE, ECT_SII_ID, EC_TIMEOUT_SAFE)), 0xAEu)
            << "position 3";
        EXPECT_EQ(2, commands);
        commands = 0;
        EXPECT_EQ(ec_writeeepromFP(0x1002, 0x0300, 0xBEEF, EC_TIMEOUT_SAFE), 1);
        EXPECT_EQ(bus().slave(2).esc().eeprom().word(0x0300), 0xBEEF);
        EXPECT_EQ(c.writeCommands, commands);
        bus().link().setRule(nullptr);
        bus().link().flush();
        EXPECT_EQ(ec_writeeepromFP(0x1002, 0x0300, 0, EC_TIMEOUT_SAFE), 1);
    }
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
    for (uint16 number : {1, 0, 9}) {
        char str[EC_MAXNAME + 1] = "x";
        ec_siistring(str, 2, number);
        EXPECT_STREQ(str, number == 1 ? "TMCM-1610" : "") << "string " << number;
    }
}

TEST_F(SiiState, DumpStartsAtTheFirstCategory)
{
    static uint8 dump[EC_MAXEEPBUF];
    memset(dump, 0xAA, sizeof dump);
    ec_esidump(2, dump, 0);
    const sim::Eeprom& eeprom = bus().slave(2).esc().eeprom();
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
