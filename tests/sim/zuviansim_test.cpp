// The zuvian-sim program, which the in-process bus tests cannot see: its options, its veth pair,
// its power cycle on a signal. Needs root and the program built next to this test.
#include "CheckJob.h"
#include "FirmwareJob.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "InterfaceLock.h"
#include "core/veth.h"
#include "eclink.h"
#include "qtfiles.h"
#include "requires.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The jobs and programs these tests run leave their service records in a home of their own.
const auto* const homes = ::testing::AddGlobalTestEnvironment(new PrivateHomes);

/* A program built next to this test. */
std::string programPath(const std::string& program = "zuvian-sim")
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    std::string path(self, std::size_t(n));
    return path.substr(0, path.rfind('/') + 1) + program;
}

/* Run a program with `args` and, when given, `env` added to the environment; its standard output
 * is readable from `out`. */
pid_t start(
    const std::vector<std::string>& args, int& out, const std::vector<std::string>& env = {})
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string& e : env)
            putenv(const_cast<char*>(e.c_str()));
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
bool waitFor(int fd, const std::string& marker, std::string& seen)
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

/* Starts zuvian-sim with `options` on a veth pair of its own named from `prefix`, with the master's
 * product link and clock in place: the pair's name, or an empty one when the program does not
 * serve (its output so far is in `seen`). */
std::string serve(
    const std::string& prefix, std::vector<std::string> options, Running& child, std::string& seen)
{
    const std::string name = prefix + std::to_string(getpid() % 1000000);
    sim::VethPair::removeStale(name);
    ec_setlink(nullptr);
    ec_setclock(nullptr);
    child.veth = name;
    options.insert(options.begin(), programPath());
    options.insert(options.end(), {"--veth", name});
    child.pid = start(options, child.out);
    return child.pid > 0 && waitFor(child.out, "Ctrl-C", seen) ? name : std::string();
}

/* The versions a check reads, arm axes then platform axes; empty when the check failed. */
std::vector<std::string> versions(const std::string& eth)
{
    CheckJob check(QString::fromStdString(eth));
    const CheckOutcome outcome = check.run();
    std::vector<std::string> found;
    for (const PartReading* part : {&outcome.readOut.arm, &outcome.readOut.platform})
        for (const AxisReading& axis : part->axes)
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
    Running child;
    std::string seen;
    const std::string name
        = serve("zsv", {"--layout", "robot", "--firmware-version", "1.40"}, child, seen);
    ASSERT_FALSE(name.empty()) << seen;
    EXPECT_NE(seen.find("the master uses " + name), std::string::npos) << seen;
    EXPECT_EQ(versions(name), std::vector<std::string>(9, "1.40"));

    // The job places its images in the working directory, and must leave none there.
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    FirmwareJob update(QString::fromStdString(name), QStringLiteral("1.48"));
    QObject::connect(&update, &BusJob::consentNeeded,
        [&update](const QString&, const QString&) { update.answer(true); });
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

    // Its statistics at the end: every frame it answered was timed.
    char buf[4096];
    ssize_t n;
    while ((n = read(child.out, buf, sizeof buf)) > 0)
        seen.append(buf, std::size_t(n));
    unsigned long long answered = 0, timed = 0;
    const std::size_t a = seen.find("zuvian-sim: answered ");
    const std::size_t t = seen.find("zuvian-sim: processing per frame median ");
    ASSERT_TRUE(a != std::string::npos && t != std::string::npos) << seen;
    ASSERT_EQ(std::sscanf(seen.c_str() + a, "zuvian-sim: answered %llu", &answered), 1) << seen;
    const std::size_t count = seen.find(" µs (", t);
    ASSERT_NE(count, std::string::npos) << seen;
    ASSERT_EQ(std::sscanf(seen.c_str() + count, " µs (%llu frames)", &timed), 1) << seen;
    EXPECT_GT(answered, 1000u);
    EXPECT_EQ(timed, answered) << seen;
}

// Spinning on the socket (for benchmarks) serves the same robot and still stops on a signal.
TEST(ZuvianSim, SpinningServesTheSameAndStopsOnSigterm)
{
    REQUIRE_ROOT();
    const std::string program = programPath();
    REQUIRE_THAT(access(program.c_str(), X_OK) == 0, program << " is not built");
    Running child;
    std::string seen;
    const std::string name = serve("zsp", {"--layout", "robot", "--spin"}, child, seen);
    ASSERT_FALSE(name.empty()) << seen;
    EXPECT_EQ(versions(name), std::vector<std::string>(9, "1.48"));
    kill(child.pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(sim::runCommand({"ip", "link", "show", name}), 0) << "veth pair left behind";
}

#ifndef __SANITIZE_ADDRESS__ // the sanitizer runtime refuses a preloaded library
/* Everything a child writes until it ends, and its exit status. */
int finish(pid_t pid, int out, std::string& seen)
{
    char buf[4096];
    ssize_t n;
    while ((n = read(out, buf, sizeof buf)) > 0)
        seen.append(buf, std::size_t(n));
    close(out);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Setting the wall clock (NTP, a laptop waking up) during a firmware download cuts no wait short
// and stretches none: on a wire that loses 3 % of its frames, with the clock of zuvianctl stepped
// 10 s forward and back again and again, every axis is written, and the master re-sent or gave up
// no more exchanges than frames went missing or came late.
TEST(ZuvianSim, WallClockStepsChangeNothingInAFirmwareDownload)
{
    REQUIRE_ROOT();
    const std::string faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    REQUIRE_THAT(
        access(faketime.c_str(), R_OK) == 0, faketime << " missing: scripts/install-deps.sh test");
    const std::string sim = programPath();
    const std::string ctl = programPath("zuvianctl");
    REQUIRE_THAT(
        access(sim.c_str(), X_OK) == 0 && access(ctl.c_str(), X_OK) == 0, "programs not built");
    Running child;
    std::string seen;
    const std::string name
        = serve("zsc", {"--firmware-version", "1.40", "--fault", "drop-random:30:7"}, child, seen);
    ASSERT_FALSE(name.empty()) << seen;

    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const std::string step = work.filePath("step").toStdString();
    const auto setStep = [&step](const char* offset) { std::ofstream(step) << offset << '\n'; };
    const std::vector<std::string> env
        = {"LD_PRELOAD=" + faketime, "FAKETIME_TIMESTAMP_FILE=" + step, "FAKETIME_NO_CACHE=1",
            "DONT_FAKE_MONOTONIC=1", "XDG_DATA_HOME=" + work.path().toStdString()};

    // The library does step the clock the program reads.
    setStep("+100000");
    int out = -1;
    pid_t pid = start({"/bin/date", "+%s"}, out, env);
    std::string date;
    ASSERT_EQ(0, finish(pid, out, date));
    EXPECT_GT(std::atol(date.c_str()), long(std::time(nullptr)) + 90000) << date;

    setStep("+0");
    std::atomic<bool> stepping{true};
    std::thread stepper([&] {
        for (int i = 0; stepping; i++) {
            setStep(i % 2 ? "-10" : "+10");
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    });
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    pid = start({ctl, "write-firmware", "-i", name, "--yes", "--json"}, out, env);
    std::string written;
    const int status = finish(pid, out, written);
    QDir::setCurrent(previous);
    stepping = false;
    stepper.join();
    ASSERT_EQ(0, status) << written;
    const QJsonObject port = QJsonDocument::fromJson(QByteArray::fromStdString(written))
                                 .object()
                                 .value("port")
                                 .toObject();
    ASSERT_FALSE(port.isEmpty()) << written;

    ASSERT_EQ(kill(child.pid, SIGUSR1), 0);
    ASSERT_TRUE(waitFor(child.out, "zuvian-sim: power cycle", seen)) << seen;
    EXPECT_EQ(versions(name), std::vector<std::string>(9, "1.48"));

    kill(child.pid, SIGTERM);
    ASSERT_TRUE(waitFor(child.out, "on the wire", seen)) << seen;
    const std::size_t at = seen.find(" frames, lost ");
    ASSERT_NE(at, std::string::npos) << seen;
    const long lost = std::atol(seen.c_str() + at + 14);
    EXPECT_GT(lost, 0) << "the wire lost nothing: the test proves little";
    // A re-send answers a frame that went missing or a reply that came late (and then counts as
    // late); so does an exchange given up. One frame per session may still be underway at its end.
    const long resentOrGivenUp
        = port.value("resent").toInteger() + port.value("unanswered").toInteger();
    EXPECT_LE(resentOrGivenUp, lost + port.value("late").toInteger() + 20) << written;
}
#endif

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
