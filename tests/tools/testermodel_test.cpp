// The tester registry in the settings group ZuvianTester: empty as shipped, names and counter
// round-trip through the settings within a run, the newest tester becomes the default.
#include <gtest/gtest.h>

#include "TesterModel.h"
#include "qtprint.h"

TEST(TesterModel, RegistersTestersAndTheDefaultInTheSettings)
{
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
    EXPECT_EQ(names, (QStringList{QStringLiteral("Anna"), QStringLiteral("Zoë"),
                                  QStringLiteral("?")}));
    EXPECT_EQ(model.GetCount(), 3u);
    EXPECT_EQ(model.GetDefault(), QStringLiteral("李"));

    model.SetDefault(QStringLiteral("Anna"));
    EXPECT_EQ(model.GetDefault(), QStringLiteral("李"));
    model.LoadTester();
    EXPECT_EQ(model.GetDefault(), QStringLiteral("Anna"));

    // A second registry sees the same settings.
    TesterModel other;
    EXPECT_EQ(other.LoadTester().size(), 3);
}
