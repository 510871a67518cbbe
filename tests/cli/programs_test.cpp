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

#include "ServiceRecord.h"
#include "programs.h"
#include "qtfiles.h"
#include "requires.h"

namespace {

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
            REQUIRE_THAT(
                access(besideThisTest(program).c_str(), X_OK) == 0, program << " is not built");
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
    EXPECT_NE(std::string::npos, write.err().find("stopping after arm axis 1.")) << write.err();

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

    Program first(
        {zuvianctl(), "write-firmware", "-i", ten.name(), "--yes", "--json"}, workDirectory());
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

    Program write(
        {zuvianctl(), "--tester", "Emil", "write-firmware", "-i", eth, "--yes"}, workDirectory());
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
        EXPECT_EQ(
            QString::fromStdString(eth), record.value(QStringLiteral("interface")).toString());
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
