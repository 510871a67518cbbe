// The shipped settings as the program reads them, and the guards of readAppSetting.
#include <QFile>

#include <gtest/gtest.h>

#include "Configuration.h"

namespace {

const char* const kMissingArgument = "Ein Parameter der Funktion readAppSetting ist nicht definiert!";


}

TEST(Settings, ShippedValuesOfEveryGroup)
{
    struct Row { const char* group; const char* key; const char* value; };
    const Row rows[] = {
        {"Platform", "ParameterConfigXml", "parameter.xml"},
        {"Platform", "ConfigFileName", "zuvian-base"},
        {"Platform", "DefinedSlaveCount", "4"},
        {"Platform", "SlaveOffsetStart", "2"},
        {"Platform", "SlaveOffsetEnd", "6"},
        {"Arm1", "ParameterConfigXml", "parameter.xml"},
        {"Arm1", "ConfigFileName", "zuvian-manipulator"},
        {"Arm1", "DefinedSlaveCount", "5"},
        {"Arm1", "SlaveOffsetStart", "6"},
        {"Arm1", "SlaveOffsetEnd", "12"},
        {"SlaveInfo", "PlatformSlaveName", "TMCM-174"},
        {"SlaveInfo", "ArmSlaveName", "TMCM-ZQ-841"},
        {"SlaveInfo", "FirmwareVersion", "1.48"},
    };
    Configuration config;
    for (const Row& row : rows)
        EXPECT_EQ(config.readAppSetting(row.group, row.key), QString(row.value)) << row.group << "/" << row.key;
}

TEST(Settings, MissingKeyOrGroupReadsEmpty)
{
    Configuration config;
    EXPECT_TRUE(config.readAppSetting("SlaveInfo", "NoSuchKey").isEmpty());
    EXPECT_TRUE(config.readAppSetting("NoSuchGroup", "FirmwareVersion").isEmpty());
    // A key of another group must not leak into a group that lacks it.
    EXPECT_TRUE(config.readAppSetting("SlaveInfo", "ConfigFileName").isEmpty());
}

TEST(Settings, MissingArgumentsThrowWithTheirText)
{
    Configuration config;
    const QString cases[][2] = {
        {QString(""), QString("FirmwareVersion")},
        {QString("SlaveInfo"), QString("")},
        {QString(), QString("FirmwareVersion")},
        {QString("SlaveInfo"), QString()},
    };
    for (const auto& args : cases) {
        try {
            config.readAppSetting(args[0], args[1]);
            ADD_FAILURE() << "no exception for '" << args[0].toStdString() << "', '" << args[1].toStdString() << "'";
        } catch (const SettingException& e) {
            EXPECT_STREQ(e.what(), kMissingArgument);
        }
    }
}
