// The guards of readAppSetting. (The shipped values the program reads show in the window's title,
// the firmware question and the axis service's controller names.)
#include <QFile>

#include <gtest/gtest.h>

#include "Configuration.h"

namespace {

const char* const kMissingArgument = "Ein Parameter der Funktion readAppSetting ist nicht definiert!";

}

// A missing key or group reads empty; a missing argument throws with its text.
TEST(Settings, MissingKeyGroupOrArgument)
{
    Configuration config;
    EXPECT_TRUE(config.readAppSetting("SlaveInfo", "NoSuchKey").isEmpty());
    EXPECT_TRUE(config.readAppSetting("NoSuchGroup", "FirmwareVersion").isEmpty());
    // A key of another group must not leak into a group that lacks it.
    EXPECT_TRUE(config.readAppSetting("SlaveInfo", "ConfigFileName").isEmpty());

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
