// zuvianctl's service records on the virtual robot over the in-process link: --tester before the
// command, where the JSON says the record went, and `history` with its filters, its full view and
// its refusals; the records of a restore, a backup and a report set against what the controllers
// hold; a record that cannot be written is said and leaves the command's status alone.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "controller/controllerlayouts.h"
#include "qtfiles.h"
#include "simbus.h"
#include "zuvianctlrun.h"

namespace {

using nlohmann::json;

// Every program of this test binary (the package's too) keeps its records in a home of its own.
const auto* const homes = ::testing::AddGlobalTestEnvironment(new PrivateHomes);

using Ran = ZuvianctlRun;

class History : public ::testing::Test
{
protected:
    Ran run(std::vector<std::string> args) { return runZuvianctl(std::move(args)); }

    TestDirs dirs_;
    std::unique_ptr<SimBus> bus_ = std::make_unique<SimBus>(sim::robotBus("1.40"));
};

}

TEST_F(History, RecordsAreListedNewestFirstFilteredAndShownInFull)
{
    const Ran check = run({"--tester", "Dora", "check", "-i", "sim0"});
    ASSERT_EQ(0, check.status) << check.err;
    const Ran update = run({"write-firmware", "-i", "sim0", "--arm", "--yes", "--json"});
    ASSERT_EQ(0, update.status) << update.err;
    const std::string file = update.doc().at("record").at("file");
    EXPECT_EQ(0u, file.rfind(dirs_.records().toStdString() + "/", 0)) << file;

    const Ran list = run({"history", "--json"});
    ASSERT_EQ(0, list.status) << list.err;
    const json records = list.doc().at("records");
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("write-firmware", records[0].at("job"));
    EXPECT_EQ(1, records[0].at("number"));
    EXPECT_EQ("check", records[1].at("job"));
    EXPECT_EQ("Dora", records[1].at("tester"));
    EXPECT_EQ("sim0", records[1].at("interface"));
    // The arm was written, the wheel base not asked for; both were read at 1.40.
    for (const json& c : records[0].at("controllers")) {
        EXPECT_EQ("1.40", c.at("version"));
        EXPECT_EQ(c.at("part") == "arm" ? "written" : "skipped", c.at("outcome")) << c.dump();
    }

    const Ran text = run({"history"});
    EXPECT_EQ(2, std::count(text.out.begin(), text.out.end(), '\n')) << text.out;
    EXPECT_EQ(0u, text.out.find("1  ")) << text.out;
    EXPECT_LT(text.out.find("write-firmware"), text.out.find("check"));
    EXPECT_NE(std::string::npos, text.out.find("by Dora on sim0")) << text.out;

    const Ran shown = run({"history", "--show", "2"});
    ASSERT_EQ(0, shown.status) << shown.err;
    EXPECT_EQ(0u, shown.out.find("Record 2\n")) << shown.out;
    EXPECT_NE(std::string::npos, shown.out.find("job        check\n"));
    EXPECT_NE(std::string::npos,
        shown.out.find("bus position 7, arm axis 1, TMCM-ZQ-841: vendor 0x005a5601 product "
                       "0x00000349 revision 0x00010000 serial 250007\n  firmware 1.40: read\n"))
        << shown.out;

    // The robot by a controller's serial number, or by the identity the list shows.
    const std::string identity = "005a5601:000000ae:00010000:0003d092";
    EXPECT_NE(std::string::npos, text.out.find("robot " + identity)) << text.out;
    for (const std::string& robot : {std::string("250007"), std::string("0x3D097"), identity})
        EXPECT_EQ(2u, run({"history", "--robot", robot, "--json"}).doc().at("records").size())
            << robot;
    const Ran other = run({"history", "--robot", "250001"});
    EXPECT_EQ(0, other.status);
    EXPECT_EQ(0u, other.out.find("No service records match in ")) << other.out;

    EXPECT_EQ(2u, run({"history", "--since", "2000-01-01", "--json"}).doc().at("records").size());
    const std::string tomorrow
        = QDateTime::currentDateTimeUtc().addDays(1).toString("yyyy-MM-dd").toStdString();
    EXPECT_TRUE(run({"history", "--since", tomorrow, "--json"}).doc().at("records").empty());

    // A power loss while the next record was written: the whole ones are still listed.
    {
        QFile day(QString::fromStdString(file));
        ASSERT_TRUE(day.open(QIODevice::Append));
        day.write("{\"time\":\"2099-01-01T00:00:00Z\",\"job\":\"che");
    }
    const Ran torn = run({"history", "--json"});
    EXPECT_EQ(2u, torn.doc().at("records").size());
    EXPECT_EQ(1, torn.doc().at("torn"));
    EXPECT_NE(std::string::npos, torn.err.find("cut off by an interruption")) << torn.err;
}

TEST_F(History, RefusalsAndARecordThatCannotBeWritten)
{
    EXPECT_EQ(2, run({"history", "-i", "sim0"}).status);
    EXPECT_EQ(2, run({"history", "--since", "yesterday"}).status);
    EXPECT_EQ(2, run({"check", "-i", "sim0", "--tester", " "}).status);
    const Ran missing = run({"history", "--show", "1", "--json"});
    EXPECT_EQ(1, missing.status);
    EXPECT_EQ("history: there is no record 1; 0 are listed", missing.doc().at("error"));

    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir().mkpath(dirs_.data.filePath("zuvian")));
    ASSERT_TRUE(QFile::link(elsewhere.path(), dirs_.records()));
    const Ran check = run({"check", "-i", "sim0", "--json"});
    EXPECT_EQ(0, check.status) << check.err;
    const std::string error = check.doc().at("record").at("error");
    EXPECT_NE(std::string::npos, error.find("is a symbolic link")) << error;
    EXPECT_NE(
        std::string::npos, check.err.find("The service record could not be written: " + error))
        << check.err;
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

// A restore is recorded as one, naming the file it applied; each axis names the backup taken of
// what it held before.
TEST_F(History, ARestoreIsRecordedWithTheFileItApplied)
{
    const Ran write = run({"write-parameters", "-i", "sim0", "--arm", "--yes", "--json"});
    ASSERT_EQ(0, write.status) << write.err;
    const std::string backup = write.doc().at("parts")[0].at("backup");
    const Ran restore = run({"restore", "-i", "sim0", backup});
    ASSERT_EQ(0, restore.status) << restore.err;

    const json records = run({"history", "--json"}).doc().at("records");
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("restore", records[0].at("job"));
    EXPECT_EQ(backup, records[0].at("file"));
    EXPECT_EQ("write-parameters", records[1].at("job"));
    EXPECT_FALSE(records[1].contains("file"));
    for (const json& c : records[1].at("controllers")) {
        if (c.at("part") != "arm")
            continue;
        EXPECT_EQ("written", c.at("outcome"));
        EXPECT_EQ(backup, c.at("backup"));
        EXPECT_TRUE(c.at("differences").empty());
    }
}

// A backup names its file on each axis it read; a report names on each axis the values that
// differ from the file's, as the controllers hold them.
TEST_F(History, BackupAndReportRecordWhatTheyRead)
{
    // The controllers hold the shipped set; then one value is changed behind the tool's back.
    ASSERT_EQ(0, run({"write-parameters", "-i", "sim0", "--yes"}).status);
    const Ran backup = run({"backup", "-i", "sim0", "--arm", "--json", "--tester", "Fritz"});
    ASSERT_EQ(0, backup.status) << backup.err;
    const std::string file = backup.doc().at("backups")[0].at("file");

    const QMap<int, qint64> set
        = parameterSection(QStringLiteral(":/res/param.xml"), QStringLiteral("Axis3"));
    ASSERT_FALSE(set.isEmpty());
    const int type = set.firstKey();
    const quint32 held = quint32(set.value(type)) + 3;
    bus_->controller(9).interpreter().parameters().setAxisDefault(quint8(type), held);
    const std::string html = dirs_.work.filePath("r.html").toStdString();
    const Ran report = run({"report", "-i", "sim0", "-o", html});
    ASSERT_EQ(3, report.status) << report.err;

    const json records = run({"history", "--json"}).doc().at("records");
    ASSERT_EQ(3u, records.size());
    const json& saved = records[1];
    EXPECT_EQ("backup", saved.at("job"));
    EXPECT_EQ("read", saved.at("result"));
    EXPECT_EQ("Fritz", saved.at("tester"));
    for (const json& c : saved.at("controllers")) {
        SCOPED_TRACE(c.dump());
        EXPECT_EQ(c.at("part") == "arm" ? "read" : "skipped", c.at("outcome"));
        EXPECT_EQ(c.at("part") == "arm", c.contains("backup"));
        if (c.at("part") == "arm") {
            EXPECT_EQ(file, c.at("backup"));
        }
    }

    const json& compared = records[0];
    EXPECT_EQ("report", compared.at("job"));
    EXPECT_EQ("differences", compared.at("result"));
    ASSERT_EQ(9u, compared.at("controllers").size());
    for (const json& c : compared.at("controllers")) {
        SCOPED_TRACE(c.dump());
        EXPECT_EQ("read", c.at("outcome"));
        if (c.at("position") != 9) {
            EXPECT_TRUE(c.at("differences").empty());
            continue;
        }
        const quint32 now = bus_->controller(9).interpreter().parameters().axis(quint8(type));
        EXPECT_EQ(json::array({{{"parameter", type}, {"target", set.value(type)}, {"read", now}}}),
            c.at("differences"));
        EXPECT_EQ(held, c.at("differences")[0].at("read").get<quint32>());
    }
}

// The diagnosis is recorded with its verdict and its report.
TEST_F(History, ADiagnosisIsRecordedWithItsVerdict)
{
    const Ran diag = run({"diag", "-i", "sim0", "--seconds", "1", "--json"});
    ASSERT_EQ(0, diag.status) << diag.err;
    const json records = run({"history", "--json"}).doc().at("records");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("diag", records[0].at("job"));
    EXPECT_EQ("clean", records[0].at("result"));
    const std::string file = diag.doc().at("record").at("file");
    EXPECT_EQ(0u, file.rfind(dirs_.records().toStdString() + "/", 0)) << file;
    EXPECT_FALSE(records[0].at("text").get<std::string>().empty());
    EXPECT_TRUE(records[0].at("controllers").empty());
}
