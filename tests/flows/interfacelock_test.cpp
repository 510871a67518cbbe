// The window on an interface another program holds: the master is on its real raw socket, the
// interface's lock file is held as another program holds it, and every button is refused with
// the holder's name, nothing asked, nothing placed, and the buttons ready again.
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "InterfaceLock.h"
#include "boxanswerer.h"
#include "eclink.h"
#include "flowfixture.h"

namespace {

using InterfaceHeldElsewhere = FlowTest;

}

TEST_F(InterfaceHeldElsewhere, EveryButtonNamesTheHolderAndLeavesTheWindowReady)
{
    startBus(sim::robotBus());
    // The product's link, as the window uses it on a robot.
    ec_setlink(nullptr);
    const QString eth = QStringLiteral("zo%1w").arg(getpid() % 100000);
    useInterface(eth);
    const std::string path = InterfaceLock::path(eth).toStdString();
    unlink(path.c_str());
    const int holder = open(path.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
    const std::string record = "zuvianctl 31337\n";
    ASSERT_EQ(ssize_t(record.size()), write(holder, record.data(), record.size()));

    const QString refusal = eth + QStringLiteral(" is in use by zuvianctl (process 31337)");
    for (const char* button : {"pbWriteFirmware", "pbCheck", "pbWriteParameters"}) {
        SCOPED_TRACE(button);
        BoxAnswerer boxes({});
        press(button);
        EXPECT_TRUE(boxes.titles().isEmpty()) << boxes.titles().join(", ").toStdString();
        EXPECT_TRUE(output().contains(refusal)) << output().toStdString();
        EXPECT_TRUE(allButtonsEnabled());
        EXPECT_TRUE(workFiles().isEmpty());
    }
    close(holder);
    unlink(path.c_str());
}
