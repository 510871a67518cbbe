// Entry of the test-log and tester-registry tests: the log lives in the program's directory and
// the registry in the embedded settings, both of which need the application object.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
