// Firmware version and slave names through the master.
#include "controllerbus.h"

#include <cstring>

namespace {

using FirmwareTest = ControllerBusTest;

TEST_F(FirmwareTest, VersionIsFourCharactersMostSignificantFirstAndNamesComeFromTheSlaveTable)
{
    const uint32 version = getFirmwareVersion(7);
    EXPECT_EQ(0x312E3438u, version); // "1.48"
    EXPECT_STREQ("", paramErrorMessage);
    EXPECT_EQ(version, readFirmwareParameter(11, 0)); // command 136 whatever the mode

    for (int position = 1; position <= 11; ++position) {
        EXPECT_STRNE("", getSlaveName(position)) << position;
        EXPECT_STREQ(ec_slave[position].name, getSlaveName(position)) << position;
    }
    EXPECT_STREQ("", getSlaveName(12));
    EXPECT_STREQ("", getSlaveName(255));
    EXPECT_EQ(1u, slave(7).mailbox().received().size()); // names cost no traffic
}

} // namespace
