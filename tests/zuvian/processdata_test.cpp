// The controller models' process data: the bring-up maps both directions from their SII, takes
// the "robot" bus to OPERATIONAL and counts four wheel-base and five arm controllers.
#include <gtest/gtest.h>

#include <cstring>

#include "controller/controllerlayouts.h"
#include "ethercatconfig.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"
#include "simbus.h"
#include "zuvianbringup.h"

namespace {

TEST(ControllerProcessData, RobotComesUpOperationalWithEveryControllerCounted)
{
    sim::ControllerBus built = sim::robotBus();
    auto controllers = built.controllers;
    SimBus bus(std::move(built.chain));

    EtherCat_Info info;
    std::memset(&info, 0, sizeof(info));
    char ifname[] = "sim0";
    info.ifname = ifname;
    ASSERT_EQ(0, init_ethercatMaster(&info));
    EXPECT_EQ(8u, info.status);
    EXPECT_EQ(11u, info.allslavecnt);
    EXPECT_EQ(4u, info.platformslavecnt);
    EXPECT_EQ(5u, info.armslavecnt);
    for (int position : {2, 5, 7, 11}) {
        EXPECT_EQ(48, ec_slave[position].Obits) << position;
        EXPECT_EQ(80, ec_slave[position].Ibits) << position;
    }

    // the inputs carry the controller's position and error flags, the outputs reach it
    controllers[9]->interpreter().parameters().setAxis(209, 0x01020304);
    controllers[9]->interpreter().setErrorFlags(0x0200);
    const uint8 velocity[4] = {0x10, 0x20, 0x30, 0x40};
    std::memcpy(ec_slave[9].outputs, velocity, sizeof(velocity));
    ec_send_processdata();
    ec_receive_processdata(500);
    ec_send_processdata();
    ec_receive_processdata(500);
    const uint8 expected[10] = {0x04, 0x03, 0x02, 0x01, 0x10, 0x20, 0x30, 0x40, 0x00, 0x02};
    EXPECT_EQ(0, std::memcmp(expected, ec_slave[9].inputs, sizeof(expected)));
    stop_ethercat();
}

} // namespace
