// Entry of the test programs that build the window or run the jobs: widgets need a QApplication,
// the jobs read the embedded resources and use Qt's event machinery, and the offscreen platform
// lets all of it run without a display.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
