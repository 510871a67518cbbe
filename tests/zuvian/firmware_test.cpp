// Firmware version and slave names through the master.
#include "controllerbus.h"

#include <cstring>

namespace {

using FirmwareTest = ControllerBusTest;

TEST_F(FirmwareTest, VersionIsFourCharactersMostSignificantFirstAndNamesComeFromTheSlaveTable)
{
    const uint32 version = getFirmwareVersion(7);
    EXPECT_EQ(0x312E3438u, version);
    const char text[] = {char(version >> 24), char(version >> 16), char(version >> 8),
                         char(version), 0};
    EXPECT_STREQ("1.48", text);
    EXPECT_STREQ("", paramErrorMessage);
    EXPECT_EQ(version, readFirmwareParameter(11, 0)); // command 136 whatever the mode

    const char *names[] = {nullptr,       "Plain Slave 1", "TMCM-174",    "TMCM-174",
                           "TMCM-1632",   "TMCM-1632",     "Plain Slave 6", "TMCM-ZQ-841",
                           "TMCM-ZQ-841", "TMCM-ZQ-841",   "TMCM-1610",   "TMCM-1610"};
    for (int position = 1; position <= 11; ++position)
        EXPECT_STREQ(names[position], getSlaveName(position)) << position;
    EXPECT_STREQ("", getSlaveName(12));
    EXPECT_STREQ("", getSlaveName(255));
    EXPECT_EQ(1u, slave(7).mailbox().received().size()); // names cost no traffic
}

} // namespace
