// Entry of the test programs that build the window or run the jobs: widgets need a QApplication,
// the jobs read the embedded resources and use Qt's event machinery, and the offscreen platform
// lets all of it run without a display. Every job leaves a service record, the window keeps a
// test log and its testers: all go to directories of the run's own, never into the home of whoever runs the
// tests (a test that needs its own sets them again, see TestDirs).
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
