// The zuvian-sim program, which the in-process bus tests cannot see: its options, its veth pair,
// its power cycle on a signal. Needs root and the program built next to this test.
#include "CheckJob.h"
#include "FirmwareJob.h"

#include <QDir>
#include <QTemporaryDir>

#include "InterfaceLock.h"
#include "core/veth.h"
#include "eclink.h"
#include "requires.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string programPath()
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    std::string path(self, std::size_t(n));
    return path.substr(0, path.rfind('/') + 1) + "zuvian-sim";
}

/* Run zuvian-sim with `args`; its standard output is readable from `out`. */
pid_t start(const std::vector<std::string> &args, int &out)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    out = pipeEnds[0];
    return pid;
}

/* Stops the program and removes what it may have left, however the test ends. */
struct Running
{
    pid_t pid = -1;
    int out = -1;
    std::string veth;
    ~Running()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            close(out);
        if (!veth.empty()) {
            sim::VethPair::removeStale(veth);
            // The jobs leave the interface's lock file for the next holder; this pair has none.
            unlink(InterfaceLock::path(QString::fromStdString(veth)).toLocal8Bit().constData());
        }
    }
};

/* Read the child's output until `marker` appears (it says so once it serves) or it ends. */
bool waitFor(int fd, const std::string &marker, std::string &seen)
{
    char buf[256];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return false;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        seen.append(buf, std::size_t(n));
        if (seen.find(marker) != std::string::npos)
            return true;
    }
}

/* The versions a check reads, arm axes then platform axes; empty when the check failed. */
std::vector<std::string> versions(const std::string &eth)
{
    CheckJob check(QString::fromStdString(eth));
    const CheckOutcome outcome = check.run();
    std::vector<std::string> found;
    for (const PartReading *part : {&outcome.readOut.arm, &outcome.readOut.platform})
        for (const AxisReading &axis : part->axes)
            found.push_back(axis.versionText().toStdString());
    return found;
}

// The program on its own veth pair, answering the master's real raw socket: the controllers start
// on an old version, are written by the firmware job, power-cycled from outside (SIGUSR1: the
// program's own wiring of its slaves to their controllers), and on SIGTERM the pair is removed.
TEST(ZuvianSim, ServesAnUpdateOnItsVethPairAndPowerCyclesOnSigusr1)
{
    REQUIRE_ROOT();
    const std::string program = programPath();
    REQUIRE_THAT(access(program.c_str(), X_OK) == 0, program << " is not built");
    const std::string name = "zsv" + std::to_string(getpid() % 1000000);
    sim::VethPair::removeStale(name);
    ec_setlink(nullptr);
    ec_setclock(nullptr);

    Running child;
    child.veth = name;
    child.pid = start({program, "--layout", "robot", "--firmware-version", "1.40", "--veth", name},
                      child.out);
    ASSERT_GT(child.pid, 0);
    std::string seen;
    ASSERT_TRUE(waitFor(child.out, "Ctrl-C", seen)) << seen;
    EXPECT_NE(seen.find("the master uses " + name), std::string::npos) << seen;
    EXPECT_EQ(versions(name), std::vector<std::string>(9, "1.40"));

    // The job places its images in the working directory, and must leave none there.
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    FirmwareJob update(QString::fromStdString(name), QStringLiteral("1.48"));
    QObject::connect(&update, &BusJob::consentNeeded, [&update](const QString &, const QString &) {
        update.answer(true);
    });
    const FirmwareOutcome outcome = update.run();
    QDir::setCurrent(previous);
    EXPECT_TRUE(outcome.everyPartWritten()) << outcome.text.toStdString();
    EXPECT_TRUE(QDir(work.path()).isEmpty());

    // Written, but not running before the power cycle.
    EXPECT_EQ(versions(name), std::vector<std::string>(9, "1.40"));
    ASSERT_EQ(kill(child.pid, SIGUSR1), 0);
    ASSERT_TRUE(waitFor(child.out, "zuvian-sim: power cycle", seen)) << seen;
    EXPECT_EQ(versions(name), std::vector<std::string>(9, "1.48"));

    kill(child.pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(sim::runCommand({"ip", "link", "show", name}), 0) << "veth pair left behind";
}

TEST(ZuvianSim, RefusesMissingOrConflictingOptions)
{
    const std::string program = programPath();
    REQUIRE_THAT(access(program.c_str(), X_OK) == 0, program << " is not built");
    EXPECT_EQ(sim::runCommand({program}), 2);
    EXPECT_EQ(sim::runCommand({program, "--interface", "a", "--veth", "b"}), 2);
    EXPECT_EQ(sim::runCommand({program, "--layout", "nosuchlayout", "--interface", "lo"}), 2);
    EXPECT_EQ(sim::runCommand({program, "--bogus"}), 2);
    EXPECT_EQ(sim::runCommand({program, "--firmware-version", "1.400", "--interface", "lo"}), 2);
    EXPECT_EQ(sim::runCommand({program, "--layout", "generic:2", "--firmware-version", "1.40",
                               "--interface", "lo"}),
              2);
    EXPECT_EQ(sim::runCommand({program, "--help"}), 0);
}

} // namespace
