/*
 * Enumeration of whole buses: a robot of 11 slaves built in code ends in PRE-OP with every slave
 * entry filled from its SII; a second enumeration forgets the first bus.
 */
#include "busfixture.h"
#include "testchains.h"

#include "ethercatconfig.h"
#include "ethercatmain.h"

#include <string>
#include <vector>

namespace {

using namespace enumtest;

class EnumChains : public BusTest
{
};

TEST_F(EnumChains, RobotOf11SlavesReachesPreOpWithEveryEntryFromItsSii)
{
    const std::vector<std::string> names = {"Zuvian Base Board", "TMCM-174",    "TMCM-174",
                                            "TMCM-1632",         "TMCM-1632",   "Zuvian Arm Board",
                                            "TMCM-ZQ-841",       "TMCM-ZQ-841", "TMCM-ZQ-841",
                                            "TMCM-1610",         "TMCM-1610"};
    std::vector<sim::Bytes> images;
    for (std::uint32_t n = 1; n <= names.size(); n++) {
        const std::string &name = names[n - 1];
        const bool board = name.rfind("TMCM-", 0) != 0;
        images.push_back(
            (board ? boardSii(name, 0x10 + n) : controllerSii(name, 0x100 + n)).build());
    }
    start(chainOf(images));
    ASSERT_EQ(ec_config_init(0), 11);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[0].configadr, 0) << "entry 0 is no slave";
    for (std::size_t n = 1; n <= names.size(); n++) {
        SCOPED_TRACE(names[n - 1] + " at " + std::to_string(n));
        const ec_slavet &s = ec_slave[n];
        const sim::Eeprom &eeprom = bus().slave(n).esc().eeprom();
        auto dword = [&eeprom](std::uint16_t w) {
            return eeprom.word(w) | (uint32_t(eeprom.word(w + 1)) << 16);
        };
        EXPECT_EQ(s.configadr, 0x1000 + n);
        EXPECT_EQ(bus().slave(n).esc().stationAddress(), 0x1000 + n);
        EXPECT_EQ(bus().slave(n).state(), sim::AlState::PreOp);
        EXPECT_EQ(s.parent, n - 1) << "a line: each slave hangs from the one before";
        EXPECT_EQ(s.topology, n < names.size() ? 2 : 1) << "ports open in a line";
        EXPECT_STREQ(s.name, names[n - 1].c_str());
        EXPECT_EQ(s.eep_man, dword(0x08));
        EXPECT_EQ(s.eep_id, dword(0x0A));
        EXPECT_EQ(s.eep_rev, dword(0x0C));
        EXPECT_EQ(s.mbx_wo, eeprom.word(0x18));
        EXPECT_EQ(s.mbx_l, eeprom.word(0x19));
        EXPECT_EQ(s.mbx_ro, eeprom.word(0x1A));
        EXPECT_EQ(s.mbx_rl, eeprom.word(0x1B));
        if (s.eep_man == BoardVendor) {
            EXPECT_EQ(s.mbx_proto, 0);
            for (int k = 0; k < EC_MAXSM; k++)
                EXPECT_EQ(s.SMtype[k], 0) << k;
            continue;
        }
        EXPECT_EQ(s.mbx_proto, sim::mbxproto::CoE | sim::mbxproto::FoE);
        EXPECT_EQ(s.CoEdetails, 0x23);
        EXPECT_EQ(s.FoEdetails, 0x01);
        EXPECT_EQ(s.Ebuscurrent, 120);
        const std::uint16_t starts[] = {0x1000, 0x1080, OutputsStart, InputsStart};
        const std::uint16_t lengths[] = {0x80, 0x80, 8, 8};
        const std::uint32_t flags[] = {0x00010026u, 0x00010022u, 0x00010064u, 0x00010020u};
        for (int k = 0; k < 4; k++) {
            EXPECT_EQ(+s.SM[k].StartAddr, starts[k]) << k;
            EXPECT_EQ(+s.SM[k].SMlength, lengths[k]) << k;
            EXPECT_EQ(+s.SM[k].SMflags, flags[k]) << k;
            EXPECT_EQ(s.SMtype[k], k + 1) << k;
        }
        EXPECT_EQ(s.FMMU0func, 1);
        EXPECT_EQ(s.FMMU1func, 2);
        EXPECT_EQ(s.FMMU2func, 3);
        EXPECT_EQ(s.FMMU3func, 0);
    }
    EXPECT_EQ(ec_slave[0].Ebuscurrent, 9 * 120 + 2 * 40);
    EXPECT_EQ(ec_slave[0].blockLRW, 0);
}

TEST_F(EnumChains, SecondEnumerationForgetsTheFirstBus)
{
    start(armChain());
    ec_group[3].Obytes = 77;
    ASSERT_EQ(ec_config_init(0), 6);
    for (uint32_t g = 0; g < EC_MAXGROUP; g++)
        EXPECT_EQ(ec_group[g].logstartaddr, g << 16);
    EXPECT_EQ(ec_group[3].Obytes, 0u);
    TearDown();
    /* Another device at position 1 (re-plugged): its SII must be read, not the cached one. */
    start(chainOf({controllerSii("TMCM-1610", 0x64A).build()}));
    ASSERT_EQ(ec_config_init(0), 1);
    EXPECT_STREQ(ec_slave[1].name, "TMCM-1610");
    EXPECT_EQ(ec_slave[1].mbx_l, 0x80);
    EXPECT_EQ(ec_slave[0].Ebuscurrent, 120);
    TearDown();
    start(sim::Chain());
    EXPECT_EQ(ec_config_init(0), 0);
    EXPECT_EQ(ec_slavecount, 0);
}

} // namespace
