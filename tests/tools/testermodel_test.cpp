// The tester registry in the settings group ZuvianTester: empty for a new user, names (in any
// script) and counter kept in the user's own settings file, the newest tester the default.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "TesterModel.h"
#include "qtfiles.h"
#include "qtprint.h"

TEST(TesterModel, RegistersTestersAndTheDefaultInTheSettings)
{
    const TestDirs dirs;
    TesterModel model;
    EXPECT_TRUE(model.LoadTester().isEmpty());
    EXPECT_EQ(model.GetCount(), 0u);
    EXPECT_EQ(model.GetDefault(), QString());

    model.SaveTester(QStringLiteral("Anna"));
    model.SaveTester(QStringLiteral("Zoë"));
    model.SaveTester(QStringLiteral("李"));
    // The object's view waits for the next load.
    EXPECT_EQ(model.GetCount(), 0u);
    const QStringList names = model.LoadTester();
    EXPECT_EQ(
        names, (QStringList{QStringLiteral("Anna"), QStringLiteral("Zoë"), QStringLiteral("李")}));
    EXPECT_EQ(model.GetCount(), 3u);
    EXPECT_EQ(model.GetDefault(), QStringLiteral("李"));

    model.SetDefault(QStringLiteral("Anna"));
    EXPECT_EQ(model.GetDefault(), QStringLiteral("李"));
    model.LoadTester();
    EXPECT_EQ(model.GetDefault(), QStringLiteral("Anna"));

    // A second registry sees the same settings, which are a file of the user's alone: what a
    // later start of the window or zuvianctl reads.
    TesterModel other;
    EXPECT_EQ(other.LoadTester().size(), 3);
    const QString file = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))
        + QStringLiteral("/zuvian/testers.conf");
    EXPECT_EQ(QFile::permissions(file),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
            | QFileDevice::WriteUser);
    QSettings stored(file, QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("ZuvianTester/3")).toString(), QStringLiteral("李"));
    EXPECT_EQ(stored.value(QStringLiteral("ZuvianTester/Counter")).toString(), QStringLiteral("3"));
}
