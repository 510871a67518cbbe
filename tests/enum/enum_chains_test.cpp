/*
 * Enumeration of a whole bus: what the slave entries take from the SII that no later step reads
 * back (mailbox protocols and their details, FMMU functions, E-bus currents). Station addresses,
 * topology, names, mailboxes and SyncManagers are held to what the bring-up, the mailbox
 * protocols, the mapping and the clocks make of them.
 */
#include "busfixture.h"
#include "testchains.h"

#include "ethercatconfig.h"
#include "ethercatmain.h"

namespace {

using namespace enumtest;

class EnumChains : public BusTest
{
};

TEST_F(EnumChains, GeneralAndFmmuCategoriesFillEveryEntry)
{
    start(chainOf({boardSii("Zuvian Arm Board", 0x16).build(), controllerSii("TMCM-ZQ-841", 0x107).build(),
                   controllerSii("TMCM-1610", 0x10A).build()}));
    ASSERT_EQ(ec_config_init(0), 3);
    EXPECT_EQ(ec_slave[1].mbx_proto, 0);
    EXPECT_EQ(ec_slave[1].Ebuscurrent, 40);
    for (uint16 n : {2, 3}) {
        SCOPED_TRACE(n);
        const ec_slavet &s = ec_slave[n];
        EXPECT_EQ(s.mbx_proto, sim::mbxproto::CoE | sim::mbxproto::FoE);
        EXPECT_EQ(s.CoEdetails, 0x23);
        EXPECT_EQ(s.FoEdetails, 0x01);
        EXPECT_EQ(s.Ebuscurrent, 120);
        EXPECT_EQ(s.FMMU0func, 1);
        EXPECT_EQ(s.FMMU1func, 2);
        EXPECT_EQ(s.FMMU2func, 3);
        EXPECT_EQ(s.FMMU3func, 0);
    }
    EXPECT_EQ(ec_slave[0].Ebuscurrent, 2 * 120 + 40);
}

} // namespace
