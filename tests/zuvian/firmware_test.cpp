// Firmware version and slave names through the master, and firmware received in BOOT over the
// bootstrap mailbox taking effect only after a power cycle.
#include "controllerbus.h"

#include <cstring>

#include "ethercatbase.h"
#include "ethercatfoe.h"

namespace {

using FirmwareTest = ControllerBusTest;

std::vector<uint8_t> imageWithVersion(const char *version, std::size_t size)
{
    std::vector<uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::string tag = std::string("ZVFW") + version;
    std::copy(tag.begin(), tag.end(), image.begin() + 0x100);
    return image;
}

/* Switch slave `n` to its bootstrap mailbox and BOOT, as the firmware writer does. */
void enterBoot(uint16 n)
{
    ec_slave[n].state = EC_STATE_INIT;
    ec_writestate(n);
    ASSERT_EQ(EC_STATE_INIT, ec_statecheck(n, EC_STATE_INIT, 8000000));
    const uint32 rx = ec_readeeprom(n, ECT_SII_BOOTRXMBX, 20000);
    const uint32 tx = ec_readeeprom(n, ECT_SII_BOOTTXMBX, 20000);
    ec_slave[n].SM[0].StartAddr = static_cast<uint16>(rx);
    ec_slave[n].SM[0].SMlength = static_cast<uint16>(rx >> 16);
    ec_slave[n].mbx_wo = static_cast<uint16>(rx);
    ec_slave[n].mbx_l = static_cast<uint16>(rx >> 16);
    ec_slave[n].SM[1].StartAddr = static_cast<uint16>(tx);
    ec_slave[n].SM[1].SMlength = static_cast<uint16>(tx >> 16);
    ec_slave[n].mbx_ro = static_cast<uint16>(tx);
    ec_slave[n].mbx_rl = static_cast<uint16>(tx >> 16);
    ec_FPWR(ec_slave[n].configadr, ECT_REG_SM0, sizeof(ec_smt), &ec_slave[n].SM[0], 500);
    ec_FPWR(ec_slave[n].configadr, ECT_REG_SM1, sizeof(ec_smt), &ec_slave[n].SM[1], 500);
    ec_slave[n].state = EC_STATE_BOOT;
    ec_writestate(n);
    ASSERT_EQ(EC_STATE_BOOT, ec_statecheck(n, EC_STATE_BOOT, 20000000));
}

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

TEST_F(FirmwareTest, ImageWrittenInBootRunsAfterThePowerCycleAndIsKeptByteForByte)
{
    std::vector<uint8_t> image = imageWithVersion("1.50", 46116);
    enterBoot(10);

    char wrongName[] = "TMCM-174.bin";
    EXPECT_NE(1, ec_FOEwrite(10, wrongName, 0, static_cast<int>(image.size()), image.data(),
                             2000000));
    EXPECT_FALSE(axis(10).interpreter().firmware().hasImage());

    char name[] = "TMCM-1610.bin";
    ASSERT_EQ(1, ec_FOEwrite(10, name, 0, static_cast<int>(image.size()), image.data(), 2000000));
    EXPECT_EQ(image, axis(10).receivedImage());

    ec_slave[10].state = EC_STATE_INIT;
    ec_writestate(10);
    enumerate();
    EXPECT_EQ(0x312E3438u, getFirmwareVersion(10)); // still the old firmware

    powerCycleControllers();
    EXPECT_EQ(0x312E3530u, getFirmwareVersion(10)); // "1.50"
    EXPECT_EQ(0x312E3438u, getFirmwareVersion(11));
}

} // namespace
