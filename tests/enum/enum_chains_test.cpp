/*
 * Enumeration of whole buses: the robot's 11 slaves built in code, and the simulator's registered
 * "robot" and "arm" layouts, end in PRE-OP with every slave entry filled from the SII.
 */
#include "busfixture.h"
#include "testchains.h"

#include "core/layouts.h"

#include "ethercatconfig.h"
#include "ethercatmain.h"

#include <string>
#include <vector>

namespace {

using namespace enumtest;

class EnumChains : public BusTest
{
protected:
    /* Enumerate, wait for PRE-OP of the whole bus and check what every layout shares. */
    void enumerate(size_t expected)
    {
        ASSERT_EQ(ec_config_init(0), static_cast<int>(expected));
        ASSERT_EQ(ec_slavecount, static_cast<int>(expected));
        EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
        for (size_t n = 1; n <= expected; n++)
        {
            SCOPED_TRACE("slave " + std::to_string(n));
            const ec_slavet &s = ec_slave[n];
            EXPECT_EQ(s.configadr, 0x1000 + n);
            EXPECT_EQ(bus().slave(n).esc().stationAddress(), 0x1000 + n);
            EXPECT_EQ(bus().slave(n).state(), sim::AlState::PreOp);
            EXPECT_EQ(s.parent, n - 1) << "a line: each slave hangs from the one before";
            const sim::Eeprom &eeprom = bus().slave(n).esc().eeprom();
            EXPECT_EQ(s.eep_man, eeprom.word(0x08) | (uint32_t(eeprom.word(0x09)) << 16));
            EXPECT_EQ(s.eep_id, eeprom.word(0x0A) | (uint32_t(eeprom.word(0x0B)) << 16));
            EXPECT_EQ(s.eep_rev, eeprom.word(0x0C) | (uint32_t(eeprom.word(0x0D)) << 16));
            EXPECT_EQ(s.mbx_wo, eeprom.word(0x18));
            EXPECT_EQ(s.mbx_l, eeprom.word(0x19));
        }
        EXPECT_EQ(ec_slave[0].configadr, 0) << "entry 0 is no slave";
    }

    /* A controller's entry as its SII describes it. */
    void expectController(size_t n, const std::string &name)
    {
        SCOPED_TRACE("controller at " + std::to_string(n));
        const ec_slavet &s = ec_slave[n];
        EXPECT_STREQ(s.name, name.c_str());
        EXPECT_EQ(s.mbx_wo, 0x1000);
        EXPECT_EQ(s.mbx_l, 0x80);
        EXPECT_EQ(s.mbx_ro, 0x1080);
        EXPECT_EQ(s.mbx_rl, 0x80);
        EXPECT_EQ(+s.SM[0].StartAddr, 0x1000);
        EXPECT_EQ(+s.SM[0].SMlength, 0x80);
        EXPECT_EQ(+s.SM[0].SMflags, 0x00010026u);
        EXPECT_EQ(+s.SM[1].StartAddr, 0x1080);
        EXPECT_EQ(+s.SM[1].SMlength, 0x80);
        EXPECT_EQ(+s.SM[1].SMflags, 0x00010022u);
        EXPECT_EQ(s.SMtype[0], 1);
        EXPECT_EQ(s.SMtype[1], 2);
        EXPECT_EQ(s.SMtype[2], 3);
        EXPECT_EQ(s.SMtype[3], 4);
        EXPECT_NE(s.mbx_proto, 0);
    }
};

TEST_F(EnumChains, RobotOf11SlavesReachesPreOpWithEveryEntryFilled)
{
    start(robotChain());
    enumerate(11);
    std::vector<std::string> names = robotNames();
    for (size_t n = 1; n <= names.size(); n++)
    {
        if (names[n - 1].rfind("TMCM-", 0) != 0)
            continue;
        expectController(n, names[n - 1]);
        const ec_slavet &s = ec_slave[n];
        EXPECT_EQ(s.eep_man, ControllerVendor);
        EXPECT_EQ(s.mbx_proto, sim::mbxproto::CoE | sim::mbxproto::FoE);
        EXPECT_EQ(s.CoEdetails, 0x23);
        EXPECT_EQ(s.FoEdetails, 0x01);
        EXPECT_EQ(s.Ebuscurrent, 120);
        EXPECT_EQ(+s.SM[2].StartAddr, OutputsStart);
        EXPECT_EQ(+s.SM[2].SMlength, 8);
        EXPECT_EQ(+s.SM[2].SMflags, 0x00010064u);
        EXPECT_EQ(+s.SM[3].StartAddr, InputsStart);
        EXPECT_EQ(s.FMMU0func, 1);
        EXPECT_EQ(s.FMMU1func, 2);
        EXPECT_EQ(s.FMMU2func, 3);
        EXPECT_EQ(s.FMMU3func, 0);
    }
    for (size_t board : {1, 6})
    {
        SCOPED_TRACE("board at " + std::to_string(board));
        const ec_slavet &s = ec_slave[board];
        EXPECT_STREQ(s.name, names[board - 1].c_str());
        EXPECT_EQ(s.mbx_l, 0);
        EXPECT_EQ(s.mbx_rl, 0);
        EXPECT_EQ(s.mbx_proto, 0);
        for (int k = 0; k < EC_MAXSM; k++)
        {
            EXPECT_EQ(s.SMtype[k], 0);
            EXPECT_EQ(+s.SM[k].StartAddr, 0);
        }
    }
    EXPECT_EQ(ec_slave[0].Ebuscurrent, 9 * 120 + 2 * 40);
    EXPECT_EQ(ec_slave[0].blockLRW, 0);
}

/* The layouts the simulator serves to the real program: names come from its controller models. */
TEST_F(EnumChains, RegisteredRobotAndArmLayoutsEnumerate)
{
    struct Layout
    {
        const char *name;
        std::vector<std::string> controllers; /* by bus position from 2 on; "" = board */
    };
    const std::vector<Layout> layouts = {
        {"arm", {"TMCM-ZQ-841", "TMCM-ZQ-841", "TMCM-ZQ-841", "TMCM-1610", "TMCM-1610"}},
        {"robot",
         {"TMCM-174", "TMCM-174", "TMCM-1632", "TMCM-1632", "", "TMCM-ZQ-841", "TMCM-ZQ-841",
          "TMCM-ZQ-841", "TMCM-1610", "TMCM-1610"}},
    };
    for (const Layout &layout : layouts)
    {
        SCOPED_TRACE(layout.name);
        std::optional<sim::Chain> chain = sim::layouts().build(layout.name);
        ASSERT_TRUE(chain.has_value()) << "layout not registered";
        start(std::move(*chain));
        enumerate(layout.controllers.size() + 1);
        EXPECT_EQ(ec_slave[1].mbx_l, 0) << "position 1 is a board without mailbox";
        for (size_t i = 0; i < layout.controllers.size(); i++)
            if (!layout.controllers[i].empty())
                expectController(i + 2, layout.controllers[i]);
        TearDown();
    }
}

TEST_F(EnumChains, SecondEnumerationForgetsTheFirstBus)
{
    start(chainOf({boardSii("Zuvian Arm Board", 0x10).build()}));
    ASSERT_EQ(ec_config_init(0), 1);
    ASSERT_STREQ(ec_slave[1].name, "Zuvian Arm Board");
    TearDown();
    /* Another device at position 1 (re-plugged): its SII must be read, not the cached one. */
    start(chainOf({controllerSii("TMCM-1610", 0x64A).build()}));
    ASSERT_EQ(ec_config_init(0), 1);
    EXPECT_STREQ(ec_slave[1].name, "TMCM-1610");
    EXPECT_EQ(ec_slave[1].mbx_l, 0x80);
    EXPECT_EQ(ec_slave[0].Ebuscurrent, 120);
}

TEST_F(EnumChains, EmptyBusFindsNothing)
{
    start(sim::Chain());
    EXPECT_EQ(ec_config_init(0), 0);
    EXPECT_EQ(ec_slavecount, 0);
}

TEST_F(EnumChains, GroupsGetTheirLogicalWindows)
{
    start(armChain());
    ec_group[3].Obytes = 77;
    ASSERT_EQ(ec_config_init(0), 6);
    for (uint32_t g = 0; g < EC_MAXGROUP; g++)
        EXPECT_EQ(ec_group[g].logstartaddr, g << 16);
    EXPECT_EQ(ec_group[3].Obytes, 0u);
}

} // namespace
