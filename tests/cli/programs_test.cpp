// The built programs against zuvian-sim on a veth pair, as an operator runs them: a second
// zuvianctl while the first writes firmware, and Ctrl-C (once, twice) in the middle of a firmware
// write. What each virtual controller holds is read back after a power cycle of the virtual robot
// (SIGUSR1): a controller that received its whole image then runs 1.48, one that received none
// still 1.40.
// Needs root (veth pair, raw sockets) and the programs built next to this test.
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "InterfaceLock.h"
#include "ServiceRecord.h"
#include "core/veth.h"
#include "qtfiles.h"
#include "requires.h"

namespace {

// Every wait of these tests ends at the latest after this long without a word from the program:
// far beyond a whole robot's firmware (seconds), so only a program that hangs reaches it.
const int kQuietLimitMs = 120000;

std::string besideThisTest(const char* program)
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, size_t(n > 0 ? n : 0));
    return path.substr(0, path.rfind('/') + 1) + program;
}

// A program started with its standard output and standard error on pipes; ended (SIGKILL) and
// reaped if the test leaves it running.
class Program
{
public:
    Program(const std::vector<std::string>& args, const std::string& directory = "/")
    {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(errPipe[1], STDERR_FILENO);
            if (chdir(directory.c_str()) != 0)
                _exit(126);
            std::vector<char*> argv;
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_})
            if (fd >= 0)
                close(fd);
    }

    pid_t pid() const { return pid_; }
    const std::string& out() const { return outText_; }
    const std::string& err() const { return errText_; }

    // Reads both pipes until `marker` is in the one chosen (standard output, or standard error)
    // `times` times; false when the program ended or fell silent first.
    bool waitFor(const std::string& marker, bool onStderr, int times = 1)
    {
        const std::string& text = onStderr ? errText_ : outText_;
        while (count(text, marker) < times) {
            if (!readSome())
                return false;
        }
        return true;
    }

    static int count(const std::string& text, const std::string& marker)
    {
        int n = 0;
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
            ++n;
        return n;
    }

    // Reads everything up to the end of both pipes and reaps the program. Its exit status, or -1
    // when it did not end normally or fell silent.
    int finish()
    {
        while (out_ >= 0 || err_ >= 0) {
            if (!readSome())
                break;
        }
        if (out_ >= 0 || err_ >= 0)
            return -1;
        int status = 0;
        const pid_t pid = pid_;
        pid_ = -1;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

private:
    // One read from whichever pipe has something; false when both are closed or nothing came
    // within the limit.
    bool readSome()
    {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (out_ < 0 && err_ < 0)
            return false;
        if (poll(fds, 2, kQuietLimitMs) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            int& fd = i == 0 ? out_ : err_;
            char buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fd);
                fd = -1;
                continue;
            }
            (i == 0 ? outText_ : errText_).append(buffer, size_t(n));
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outText_;
    std::string errText_;
};

// zuvian-sim serving the "robot" layout, on the older firmware, behind a veth pair of its own;
// `extra` are further options (faults).
class VirtualRobot
{
public:
    explicit VirtualRobot(const std::string& name, const std::vector<std::string>& extra = {})
        : name_(name)
    {
        sim::VethPair::removeStale(name_);
        std::vector<std::string> args{besideThisTest("zuvian-sim"), "--layout", "robot",
            "--firmware-version", "1.40", "--veth", name_};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<Program>(args);
        serving_ = sim_->waitFor("Ctrl-C ends it", false);
    }
    ~VirtualRobot()
    {
        if (sim_->pid() > 0) {
            kill(sim_->pid(), SIGTERM);
            sim_->finish();
        }
        sim::VethPair::removeStale(name_);
        // The programs leave the interface's lock file for the next one; this interface has none.
        unlink(InterfaceLock::path(QString::fromStdString(name_)).toLocal8Bit().constData());
    }

    bool serving() const { return serving_; }
    std::string output() const { return sim_->out() + sim_->err(); }
    const std::string& name() const { return name_; }

    // Switches the robot off and on (written images take over) and waits until it says so.
    bool powerCycle()
    {
        const std::string marker = "zuvian-sim: power cycle";
        const int before = Program::count(sim_->out(), marker);
        return kill(sim_->pid(), SIGUSR1) == 0 && sim_->waitFor(marker, false, before + 1);
    }

private:
    std::string name_;
    std::unique_ptr<Program> sim_;
    bool serving_ = false;
};

std::string zuvianctl()
{
    return besideThisTest("zuvianctl");
}

// "arm 1" ... "platform 4" to the firmware version each axis reports, read by `zuvianctl check`.
std::map<std::string, std::string> versions(const std::string& eth)
{
    Program check({zuvianctl(), "check", "-i", eth, "--json"});
    std::map<std::string, std::string> found;
    if (check.finish() != 0)
        return found;
    const nlohmann::json doc = nlohmann::json::parse(check.out(), nullptr, false);
    for (const char* part : {"arm", "platform"}) {
        for (const auto& axis : doc["readOut"][part]["axes"])
            found[std::string(part) + " " + std::to_string(axis["axis"].get<int>())]
                = axis["version"].is_string() ? axis["version"].get<std::string>() : "none";
    }
    return found;
}

std::map<std::string, std::string> allOn(const std::string& version)
{
    std::map<std::string, std::string> all;
    for (int k = 1; k <= 5; ++k)
        all["arm " + std::to_string(k)] = version;
    for (int k = 1; k <= 4; ++k)
        all["platform " + std::to_string(k)] = version;
    return all;
}

class Programs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_ROOT();
        for (const char* program : {"zuvianctl", "zuvian-sim"})
            REQUIRE_THAT(access(besideThisTest(program).c_str(), X_OK) == 0,
                program << " is not built");
        ASSERT_TRUE(work_.isValid());
    }

    std::string workDirectory() const { return work_.path().toStdString(); }
    // The service records the programs left: in this test's own data home, which they inherit.
    QList<QJsonObject> records() const { return ServiceRecord::readAll().records; }

    // A veth name of this run's own (at most 10 characters).
    static std::string vethName(char which)
    {
        return "zo" + std::to_string(getpid() % 100000) + which;
    }

private:
    QTemporaryDir work_;
    TestDirs dirs_;
};

}

TEST_F(Programs, ASecondZuvianctlIsRefusedByNameWhileTheFirstWritesFirmware)
{
    VirtualRobot robot(vethName('a'));
    ASSERT_TRUE(robot.serving()) << robot.output();
    const std::string eth = robot.name();

    Program first({zuvianctl(), "write-firmware", "-i", eth, "--yes", "--json"}, workDirectory());
    ASSERT_TRUE(first.waitFor("write firmware to arm axis 1", true)) << first.err();

    const std::string holder
        = eth + " is in use by zuvianctl (process " + std::to_string(first.pid()) + ")";
    {
        Program second({zuvianctl(), "write-firmware", "-i", eth, "--yes"}, workDirectory());
        EXPECT_EQ(1, second.finish());
        EXPECT_NE(std::string::npos, second.err().find(holder)) << second.err();
        EXPECT_EQ("", second.out());
    }
    {
        Program check({zuvianctl(), "check", "-i", eth, "--json"});
        EXPECT_EQ(1, check.finish());
        const nlohmann::json doc = nlohmann::json::parse(check.out(), nullptr, false);
        EXPECT_EQ(holder, doc.value("error", std::string())) << check.out();
    }

    ASSERT_EQ(0, first.finish()) << first.err();
    const nlohmann::json outcome = nlohmann::json::parse(first.out(), nullptr, false);
    EXPECT_EQ("written", outcome.value("result", std::string())) << first.out();
    EXPECT_EQ(9u, outcome["axes"].size());

    // The holder has ended, so the interface is free again: the check runs, and finds every
    // controller on the new firmware.
    ASSERT_TRUE(robot.powerCycle()) << robot.output();
    EXPECT_EQ(allOn("1.48"), versions(eth));
}

TEST_F(Programs, CtrlCDuringWriteFirmwareLeavesEachControllerWholeOrUntouchedAndSaysWhich)
{
    VirtualRobot robot(vethName('b'));
    ASSERT_TRUE(robot.serving()) << robot.output();
    const std::string eth = robot.name();

    Program write({zuvianctl(), "write-firmware", "-i", eth, "--yes", "--json"}, workDirectory());
    // The first bytes of arm axis 1 are on their way: its download has begun.
    ASSERT_TRUE(write.waitFor("arm axis 1: ", true)) << write.err();
    ASSERT_EQ(0, kill(write.pid(), SIGINT));
    ASSERT_EQ(130, write.finish()) << write.err();
    EXPECT_NE(std::string::npos, write.err().find("stopping after arm axis 1."))
        << write.err();

    const nlohmann::json outcome = nlohmann::json::parse(write.out(), nullptr, false);
    ASSERT_FALSE(outcome.is_discarded()) << write.out();
    EXPECT_EQ("stopped", outcome.value("result", std::string()));
    const std::string text = outcome.value("text", std::string());
    EXPECT_NE(std::string::npos, text.find("Updated: ")) << text;
    EXPECT_NE(std::string::npos, text.find("Not updated, still on the old firmware: ")) << text;

    // What the program says it wrote and left, axis by axis: together the whole robot, the
    // written ones first in the order they are written.
    std::map<std::string, std::string> said;
    std::vector<std::string> order;
    for (const auto& axis : outcome["axes"]) {
        const std::string key
            = axis["part"].get<std::string>() + " " + std::to_string(axis["axis"].get<int>());
        EXPECT_TRUE(axis["written"].get<bool>()) << key << " was tried but not written";
        said[key] = "1.48";
        order.push_back(key);
    }
    for (const auto& axis : outcome["notBegun"]) {
        const std::string key
            = axis["part"].get<std::string>() + " " + std::to_string(axis["axis"].get<int>());
        said[key] = "1.40";
    }
    ASSERT_FALSE(order.empty()) << "the axis in progress was not completed";
    EXPECT_EQ("arm 1", order.front());
    EXPECT_FALSE(outcome["notBegun"].empty()) << "the signal did not stop the write";
    EXPECT_EQ(9u, said.size()) << write.out();
    EXPECT_TRUE(QDir(QString::fromStdString(workDirectory())).isEmpty());

    ASSERT_TRUE(robot.powerCycle()) << robot.output();
    EXPECT_EQ(said, versions(eth));
}

// An axis whose download stalls (its controller stops answering part-way) is still in progress
// when the operator presses Ctrl-C twice: the second ends the program at once, naming that axis
// as half written, and the interface is free for the next program without anyone cleaning up.
TEST_F(Programs, ASecondCtrlCEndsAtOnceAndNamesTheAxisLeftHalfWritten)
{
    VirtualRobot robot(vethName('c'), {"--fault", "foe-stall:7:5000"});
    ASSERT_TRUE(robot.serving()) << robot.output();
    const std::string eth = robot.name();

    Program write({zuvianctl(), "write-firmware", "-i", eth, "--yes", "--json"}, workDirectory());
    ASSERT_TRUE(write.waitFor("arm axis 1: ", true)) << write.err();
    ASSERT_EQ(0, kill(write.pid(), SIGINT));
    ASSERT_TRUE(write.waitFor("stopping after arm axis 1.", true)) << write.err();
    ASSERT_EQ(0, kill(write.pid(), SIGINT));
    ASSERT_EQ(130, write.finish()) << write.err();
    EXPECT_NE(std::string::npos,
        write.err().find("warning: ended at once, leaving arm axis 1 half written"))
        << write.err();
    const nlohmann::json outcome = nlohmann::json::parse(write.out(), nullptr, false);
    EXPECT_EQ("interrupted", outcome.value("result", std::string())) << write.out();
    EXPECT_EQ("arm axis 1", outcome.value("halfWritten", std::string())) << write.out();
    EXPECT_TRUE(outcome["written"].empty()) << write.out();
    EXPECT_TRUE(QDir(QString::fromStdString(workDirectory())).isEmpty())
        << "the firmware images were left behind";

    Program next({zuvianctl(), "slaves", "-i", eth});
    EXPECT_EQ(0, next.finish()) << next.err();
}

// Controllers that leave the bus for 10 s and for 20 s whenever they switch to or from their boot
// loader, as some do: write-firmware rides both out, says that the restart is expected, and after
// the power cycle every axis runs the new firmware. The two robots run at once, each on a pair of
// its own, so the test lasts as long as the slower one.
TEST_F(Programs, WriteFirmwareRidesOutControllersThatRestart)
{
    VirtualRobot ten(vethName('d'), {"--fault", "restart:7:10000"});
    VirtualRobot twenty(vethName('e'), {"--fault", "restart:7:20000"});
    ASSERT_TRUE(ten.serving()) << ten.output();
    ASSERT_TRUE(twenty.serving()) << twenty.output();
    // Each program places its images in its own working directory.
    QTemporaryDir otherWork;
    ASSERT_TRUE(otherWork.isValid());

    Program first({zuvianctl(), "write-firmware", "-i", ten.name(), "--yes", "--json"},
        workDirectory());
    Program second({zuvianctl(), "write-firmware", "-i", twenty.name(), "--yes", "--json"},
        otherWork.path().toStdString());
    for (Program* write : {&first, &second}) {
        ASSERT_EQ(0, write->finish()) << write->err();
        const nlohmann::json outcome = nlohmann::json::parse(write->out(), nullptr, false);
        EXPECT_EQ("written", outcome.value("result", std::string())) << write->out();
        EXPECT_NE(std::string::npos,
            write->err().find("Arm axis 1 (TMCM-ZQ-841, bus position 7) is restarting"))
            << write->err();
    }
    for (VirtualRobot* robot : {&ten, &twenty}) {
        ASSERT_TRUE(robot->powerCycle()) << robot->output();
        EXPECT_EQ(allOn("1.48"), versions(robot->name())) << robot->name();
    }
}

// write-firmware, the power cycle and check, as a technician runs them: two records, the first with
// the versions the controllers ran before the update and each axis written, the second with the
// versions they run after it.
TEST_F(Programs, WriteFirmwareThenCheckLeaveRecordsOfTheVersionsBeforeAndAfter)
{
    VirtualRobot robot("zr" + std::to_string(getpid() % 100000) + 'r');
    ASSERT_TRUE(robot.serving()) << robot.output();
    const std::string eth = robot.name();

    Program write({zuvianctl(), "--tester", "Emil", "write-firmware", "-i", eth, "--yes"},
        workDirectory());
    ASSERT_EQ(0, write.finish()) << write.err();
    ASSERT_TRUE(robot.powerCycle()) << robot.output();
    Program check({zuvianctl(), "check", "-i", eth, "--tester", "Emil"});
    ASSERT_EQ(0, check.finish()) << check.err();

    const QList<QJsonObject> found = records();
    ASSERT_EQ(2, found.size());
    const std::map<std::string, std::string> expected[] = {allOn("1.40"), allOn("1.48")};
    const char* jobs[] = {"write-firmware", "check"};
    const char* outcomes[] = {"written", "read"};
    for (int i = 0; i < 2; ++i) {
        const QJsonObject& record = found.at(i);
        SCOPED_TRACE(jobs[i]);
        EXPECT_EQ(QLatin1String(jobs[i]), record.value(QStringLiteral("job")).toString());
        EXPECT_EQ(QStringLiteral("Emil"), record.value(QStringLiteral("tester")).toString());
        EXPECT_EQ(QString::fromStdString(eth), record.value(QStringLiteral("interface")).toString());
        std::map<std::string, std::string> read;
        for (const QJsonValue& value : record.value(QStringLiteral("controllers")).toArray()) {
            const QJsonObject c = value.toObject();
            const std::string key = c.value(QStringLiteral("part")).toString().toStdString() + " "
                + std::to_string(c.value(QStringLiteral("axis")).toInt());
            read[key] = c.value(QStringLiteral("version")).toString().toStdString();
            EXPECT_EQ(QLatin1String(outcomes[i]), c.value(QStringLiteral("outcome")).toString())
                << key;
        }
        EXPECT_EQ(expected[i], read);
    }
    // What the record says after the update is what the controllers say now.
    EXPECT_EQ(allOn("1.48"), versions(eth));
}
