// zuvianctl against the virtual robot over the in-process link: each command's text and JSON, its
// exit status, and what the virtual controllers hold afterwards; refusals of bad input with
// nothing written; a capture read back with libpcap; the report's HTML.
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pcap/pcap.h>

#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BusSession.h"
#include "EtherCatWrapper.h"
#include "controller/controllerlayouts.h"
#include "foe/filestore.h"
#include "qtfiles.h"
#include "simbus.h"
#include "zuvianctlrun.h"

namespace {

using nlohmann::json;

using Outcome = ZuvianctlRun;

class Cli : public ::testing::Test
{
protected:
    // A private firmware directory lands in the test's own directory.
    Cli() { qputenv("TMPDIR", temp_.path().toLocal8Bit()); }
    ~Cli() override
    {
        bus_.reset();
        qunsetenv("TMPDIR");
    }

    void start(sim::ControllerBus robot)
    {
        bus_.reset();
        bus_ = std::make_unique<SimBus>(std::move(robot));
    }
    void start(sim::Chain chain)
    {
        bus_.reset();
        bus_ = std::make_unique<SimBus>(std::move(chain));
    }
    void start(const std::string& layout)
    {
        bus_.reset();
        bus_ = std::make_unique<SimBus>(layout);
    }

    Outcome run(std::vector<std::string> args) { return runZuvianctl(std::move(args)); }

    sim::MotorController& axis(int position) { return bus_->controller(size_t(position)); }
    std::vector<int> positions() const { return bus_->controllerPositions(); }
    QStringList entries(const QTemporaryDir& dir) const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QStringList backups() const
    {
        return QDir(dirs_.data.filePath("zuvian/backups")).entryList(QDir::Files);
    }
    // Writes `content` to `name` in the working directory; returns its path.
    std::string put(const QString& name, const QByteArray& content) const
    {
        const QString path = dirs_.work.filePath(name);
        putFile(path, content);
        return path.toStdString();
    }

    TestDirs dirs_;
    QTemporaryDir temp_;
    std::unique_ptr<SimBus> bus_;
};

std::vector<std::string> versions(const json& readOut)
{
    std::vector<std::string> found;
    for (const char* part : {"arm", "platform"})
        for (const json& axis : readOut.at(part).at("axes"))
            found.push_back(
                axis.at("version").is_null() ? "no reply" : axis.at("version").get<std::string>());
    return found;
}

}

// The update as a script runs it: an old robot is checked; without --yes and without a terminal
// to ask on, nothing is written and the exit status says so; confirmed, the arm alone and then the
// whole robot are written, from a working directory nobody can write into. (That the new version
// runs after a power cycle is the simulator program's test and the fault matrix's.)
TEST_F(Cli, FirmwareNeedsConsentThenIsWrittenAsAScriptDoes)
{
    start(sim::robotBus("1.40"));
    const Outcome before = run({"check", "-i", "sim0"});
    EXPECT_EQ(0, before.status) << before.err;
    EXPECT_NE(std::string::npos,
        before.out.find("Current firmwareversion arm axis 1: 1.40 name of the slave: TMCM-ZQ-841"));

    const Outcome declined = run({"write-firmware", "-i", "sim0", "--arm", "--json"});
    EXPECT_EQ(1, declined.status);
    EXPECT_EQ("declined", declined.doc().at("result"));
    EXPECT_NE(std::string::npos, declined.err.find("not confirmed"));
    for (int p : positions())
        EXPECT_TRUE(axis(p).receivedImage().empty()) << p;

    // Not even the superuser may create files in /proc.
    ASSERT_EQ(0, chdir("/proc"));
    const Outcome arm = run({"write-firmware", "-i", "sim0", "--arm", "--yes"});
    ASSERT_EQ(0, arm.status) << arm.err;
    for (int p : positions())
        EXPECT_EQ(p >= 7, !axis(p).receivedImage().empty()) << p;
    EXPECT_NE(std::string::npos, arm.err.find("cannot be written"));
    EXPECT_NE(std::string::npos, arm.err.find("write firmware to arm axis 1"));
    EXPECT_TRUE(entries(temp_).isEmpty()) << entries(temp_).join(' ').toStdString();

    const Outcome write = run({"write-firmware", "-i", "sim0", "--yes", "--json"});
    ASSERT_EQ(0, write.status) << write.err;
    const json doc = write.doc();
    EXPECT_EQ("written", doc.at("result"));
    ASSERT_EQ(9u, doc.at("axes").size());
    for (const json& written : doc.at("axes"))
        EXPECT_TRUE(written.at("written").get<bool>()) << written.dump();
    EXPECT_EQ(7, doc.at("axes")[0].at("position"));
    EXPECT_EQ(std::string::npos, doc.at("text").get<std::string>().find("press Write Parameters"));
    EXPECT_NE(std::string::npos,
        doc.at("text").get<std::string>().find("run \"zuvianctl write-parameters -i sim0\""));

    // Written, not yet running: the check's JSON still reads the old version everywhere, names
    // every axis behind, and a script that expects the new version is told so.
    const Outcome after = run({"check", "-i", "sim0", "--json"});
    ASSERT_EQ(0, after.status) << after.err;
    EXPECT_EQ(std::vector<std::string>(9, "1.40"), versions(after.doc().at("readOut")));
    ASSERT_EQ(9u, after.doc().at("behind").size());
    EXPECT_EQ("arm axis 1 runs 1.40, not 1.48", after.doc().at("behind")[0]);
    const Outcome expected = run({"check", "-i", "sim0", "--expect-version", "1.48"});
    EXPECT_EQ(1, expected.status);
    EXPECT_NE(
        std::string::npos, expected.err.find("not every axis runs 1.48: arm axis 1 runs 1.40"))
        << expected.err;
    EXPECT_EQ(0, run({"check", "-i", "sim0", "--expect-version", "1.40"}).status);
}

// The parameters written, then reported: no difference; a value changed on one controller: the
// report exits 3, highlights that row and names the entry in its JSON.
TEST_F(Cli, WriteParametersThenReportThenAChangedValue)
{
    start(sim::robotBus());
    const Outcome write = run({"write-parameters", "-i", "sim0", "--json"});
    ASSERT_EQ(0, write.status) << write.err;
    const json parts = write.doc().at("parts");
    ASSERT_EQ(2u, parts.size());
    for (const json& part : parts)
        EXPECT_EQ("written", part.at("result")) << part.dump();
    EXPECT_EQ(2, backups().size());

    const QString html = dirs_.work.filePath("report.html");
    const Outcome same = run({"report", "-i", "sim0", "-o", html.toStdString()});
    EXPECT_EQ(0, same.status) << same.err;
    const QString page = QString::fromUtf8(fileBytes(html));
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(page.endsWith("</html>\n"));
    EXPECT_FALSE(page.contains("rgb(255, 219, 155)"));

    axis(9).interpreter().parameters().setAxis(6, 1234);
    const Outcome changed = run({"report", "-i", "sim0", "--json"});
    EXPECT_EQ(3, changed.status);
    const json doc = changed.doc();
    EXPECT_TRUE(doc.at("differs").get<bool>());
    std::vector<std::string> differing;
    for (const json& part : doc.at("parts"))
        for (const json& entry : part.at("entries"))
            if (entry.at("differs").get<bool>())
                differing.push_back(entry.at("key").get<std::string>() + "="
                    + std::to_string(entry.at("current").get<unsigned>()));
    EXPECT_EQ(std::vector<std::string>{"Arm1_Axis3_0006=1234"}, differing);
    const std::string page2 = doc.at("html");
    EXPECT_NE(std::string::npos, page2.find("rgb(255, 219, 155)\">1234</td>"));
}

// The parameter set belongs to the firmware the program carries: a part with a controller on
// another version (a forgotten power cycle after the update) is refused, naming axis and
// version, unless --yes is given; a restore puts back what the controllers held and is exempt.
TEST_F(Cli, WriteParametersRefusesAPartOnAnotherFirmwareUnlessYes)
{
    start(sim::robotBus());
    // Platform axis 2 took an image of 1.40 and was power-cycled.
    std::vector<std::uint8_t> image = {'Z', 'V', 'F', 'W', '1', '.', '4', '0'};
    axis(3).installFirmware(image);
    axis(3).powerCycle();
    const std::uint32_t before = axis(3).interpreter().parameters().storedAxis(4);

    const Outcome refused = run({"write-parameters", "-i", "sim0", "--json"});
    EXPECT_EQ(1, refused.status);
    const json parts = refused.doc().at("parts");
    EXPECT_EQ("written", parts.at(0).at("result"));
    EXPECT_EQ("refused", parts.at(1).at("result"));
    EXPECT_EQ(json::array({"platform axis 2 runs 1.40, not 1.48"}), parts.at(1).at("behind"));
    const std::string error = refused.doc().at("error");
    EXPECT_NE(std::string::npos, error.find("platform axis 2 runs 1.40, not 1.48")) << error;
    EXPECT_NE(std::string::npos, error.find("--yes")) << error;
    EXPECT_EQ(before, axis(3).interpreter().parameters().storedAxis(4));
    ASSERT_EQ(1, backups().size());

    const Outcome forced = run({"write-parameters", "-i", "sim0", "--yes", "--json"});
    EXPECT_EQ(0, forced.status) << forced.err;
    EXPECT_NE(before, axis(3).interpreter().parameters().storedAxis(4));
    const QString platformBackup = dirs_.data.filePath(
        "zuvian/backups/" + backups().filter(QStringLiteral("Platform")).value(0));
    EXPECT_EQ(0, run({"restore", "-i", "sim0", platformBackup.toStdString()}).status);
    EXPECT_EQ(before, axis(3).interpreter().parameters().storedAxis(4));
}

// Bad input is refused with a message that names where, and nothing reaches a controller.
TEST_F(Cli, BadInputIsRefusedAndNothingIsWritten)
{
    start(sim::robotBus());
    const std::string malformed
        = put("broken.xml", "<zuvian><Parameters><Platform><Parameter Type=\"4\"");
    const std::string large = put("large.bin", QByteArray(0x40101, 'x'));
    struct Case
    {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{}, 2, "no command given; the commands are: check, write-firmware, write-parameters"},
        {{"frobnicate", "-i", "sim0"}, 2,
            "unknown command \"frobnicate\"; the commands are: check, write-firmware"},
        {{"-i", "sim0", "frobnicate"}, 2, "unknown command \"frobnicate\""},
        {{"check"}, 2, "--interface is required"},
        {{"check", "-i", ""}, 2, "--interface needs the name of a network interface"},
        {{"-i", "", "check"}, 2, "--interface needs the name of a network interface"},
        {{"check", "-i", "sim0", "--capture", ""}, 2, "--capture needs the name of the file"},
        {{"check", "-i", "sim0", "--bogus"}, 2, "--bogus"},
        {{"check", "-i", "sim0", "slaves"}, 2, "not expected: slaves"},
        {{"reg-read", "-i", "sim0", "2", "0x13g"}, 2, "\"0x13g\" is no number from 0 to 65535"},
        {{"reg-read", "-i", "sim0", "2", "-1"}, 2, "-1"},
        {{"reg-read", "-i", "sim0", "2", "0x10000"}, 2, "is no number from 0 to 65535"},
        {{"sii", "-i", "sim0", "0x"}, 2, "\"0x\" is no number"},
        {{"sdo-write", "-i", "sim0", "7", "0x6060", "0x100", "01"}, 2,
            "the subindex must be 0 to 0xff"},
        {{"sdo-write", "-i", "sim0", "7", "0x6060", "1", "01", "02"}, 2, "At Most 2"},
        {{"sdo-write", "-i", "sim0", "7", "0x6060", "0g"}, 2, "the value must be"},
        {{"check", "-i", "nosuch0"}, 1, "check on nosuch0: "},
        {{"sii", "-i", "sim0", "12"}, 1, "sii on sim0, slave 12: slave 12 is not on the bus"},
        {{"sii", "-i", "sim0", "0"}, 2, "slave"},
        {{"reg-read", "-i", "sim0", "2", "0xfff0", "100"}, 2, "the length must be"},
        {{"write-parameters", "-i", "sim0", "--file", "/nonexistent.xml"}, 2, "nonexistent"},
        {{"write-parameters", "-i", "sim0", "--file", malformed}, 1,
            "write-parameters: parameter file"},
        {{"restore", "-i", "sim0", malformed}, 1, "restore: parameter file"},
        {{"foe-write", "-i", "sim0", "7", "TMCM-841.bin", large}, 1,
            "is larger than 262400 bytes; nothing was written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Outcome r = run(c.args);
        EXPECT_EQ(c.status, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    for (int p : positions()) {
        EXPECT_TRUE(axis(p).receivedImage().empty()) << p;
        EXPECT_EQ(0u, axis(p).interpreter().parameters().storedAxis(6)) << p;
    }
    EXPECT_TRUE(backups().isEmpty());
}

// A file handed in that cannot be applied whole is refused before the bus is taken: the exit
// status says so, each entry is named, no part is "written", and not one frame reaches the bus.
// The same file unchanged is restored in full.
TEST_F(Cli, RestoreOfAFileThatCannotBeAppliedWholeSendsNothing)
{
    start(sim::robotBus());
    const QByteArray shipped = fileBytes(":/res/param.xml");
    const QByteArray arm3 = "<Parameter Type=\"6\" Desc=\"Max. current\" Value=\"3899\">";
    const QByteArray platform = "<Parameter Type=\"6\" Desc=\"Max. current\" Value=\"3564\">";
    ASSERT_EQ(1, shipped.count(arm3));
    ASSERT_EQ(1, shipped.count(platform));
    const int arm3Line = shipped.left(shipped.indexOf(arm3)).count('\n') + 1;
    const int platformLine = shipped.left(shipped.indexOf(platform)).count('\n') + 1;
    struct Case
    {
        QByteArray from;
        QByteArray to;
        int line;
        const char* part;
        int axis;
        json type;
        json value;
        std::string reason;
    };
    const QByteArray arm3Again = QByteArray(arm3).replace("3899", "3900");
    const Case cases[] = {
        {"Value=\"3899\"", "Value=\"abc\"", arm3Line, "Arm1", 3, "6", "abc",
            "Value is no 32-bit number"},
        {"Value=\"3899\"", "Value=\"\"", arm3Line, "Arm1", 3, "6", "", "Value is no 32-bit number"},
        {"Value=\"3899\"", "Value=\"99999999999999999999\"", arm3Line, "Arm1", 3, "6",
            "99999999999999999999", "Value is no 32-bit number"},
        {" Value=\"3899\"", "", arm3Line, "Arm1", 3, "6", nullptr, "Value is missing"},
        {"Type=\"6\" Desc=\"Max. current\" Value=\"3564\"",
            "Type=\"99999\" Desc=\"Max. current\" Value=\"3564\"", platformLine, "Platform", 0,
            "99999", "3564", "Type is no parameter number from 0 to 255"},
        {arm3, arm3 + "</Parameter>\n" + arm3Again, arm3Line + 1, "Arm1", 3, "6", "3900",
            "Type 6 is given on line " + std::to_string(arm3Line) + " already"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to.toStdString());
        QByteArray content = shipped;
        content.replace(content.indexOf(c.from), c.from.size(), c.to);
        const std::string file = put("changed.xml", content);
        const std::uint64_t framesBefore = bus_->link().framesSent();

        const Outcome r = run({"restore", "-i", "sim0", "--json", file});
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(framesBefore, bus_->link().framesSent());
        const json doc = r.doc();
        ASSERT_EQ(1u, doc.at("refusedEntries").size()) << doc.dump();
        const json& entry = doc.at("refusedEntries")[0];
        EXPECT_EQ(c.line, entry.at("line"));
        EXPECT_EQ(c.part, entry.at("part"));
        EXPECT_EQ(c.axis, entry.at("axis"));
        EXPECT_EQ(c.type, entry.at("type"));
        EXPECT_EQ(c.value, entry.at("value"));
        EXPECT_NE(std::string::npos, entry.at("reason").get<std::string>().find(c.reason))
            << entry.dump();
        for (const json& part : doc.at("parts"))
            EXPECT_NE("written", part.at("result")) << part.dump();
        EXPECT_NE(std::string::npos, r.err.find("line " + std::to_string(c.line) + ": ")) << r.err;
        EXPECT_EQ(std::string::npos, r.err.find("written,")) << r.err;
    }
    for (int p : positions()) {
        EXPECT_FALSE(axis(p).interpreter().unlocked()) << p;
        EXPECT_EQ(0u, axis(p).interpreter().parameters().axis(6)) << p;
    }
    EXPECT_TRUE(backups().isEmpty());

    const Outcome whole = run({"restore", "-i", "sim0", put("whole.xml", shipped)});
    EXPECT_EQ(0, whole.status) << whole.err;
    EXPECT_NE(std::string::npos, whole.out.find("Arm1: written, stored and read back"))
        << whole.out;
    EXPECT_EQ(3899u, axis(9).interpreter().parameters().storedAxis(6));
}

// Numbers are hexadecimal after "0x" and decimal otherwise, a leading zero included; the common
// options may come before the command; the subindex of sdo-write may be left out before the value.
TEST_F(Cli, NumbersAndCommonOptionsAsAnEngineerTypesThem)
{
    start("robot+protocols");
    // The AL status register, 0x0130 = 304: read as 0304 it is the same register, never 0xC4.
    for (const char* address : {"0x0130", "304", "0304"}) {
        SCOPED_TRACE(address);
        const Outcome reg = run({"-i", "sim0", "--json", "reg-read", "07", address, "2"});
        ASSERT_EQ(0, reg.status) << reg.err;
        EXPECT_EQ(304, reg.doc().at("address"));
        EXPECT_EQ(7, reg.doc().at("slave"));
        EXPECT_EQ("0200", reg.doc().at("data"));
    }

    // Slave 12 is the CoE slave: its 16-bit object 0x2001 and 8-bit object 0x2000 (8192).
    const Outcome word = run({"--json", "-i", "sim0", "sdo-write", "12", "0x2001", "e803"});
    ASSERT_EQ(0, word.status) << word.err;
    EXPECT_EQ(0, word.doc().at("subindex"));
    const Outcome byte = run({"sdo-write", "12", "8192", "00", "7f", "-i", "sim0"});
    ASSERT_EQ(0, byte.status) << byte.err;
    const Outcome readWord = run({"sdo-read", "-i", "sim0", "12", "0x2001", "--json"});
    ASSERT_EQ(0, readWord.status) << readWord.err;
    EXPECT_EQ("e803", readWord.doc().at("data"));
    const Outcome readByte = run({"-i", "sim0", "sdo-read", "12", "08192", "0", "--json"});
    ASSERT_EQ(0, readByte.status) << readByte.err;
    EXPECT_EQ("7f", readByte.doc().at("data"));
}

// A job command that cannot reach the robot leads with the cause it found, not with the window's
// "Slaves not found! ... as root ..."; standard error and the JSON "error" carry the whole
// message, standard output the document alone, and each command names itself.
TEST_F(Cli, JobCommandsThatCannotReachTheRobotSayWhy)
{
    const std::string backupFile = put("backup.xml", fileBytes(":/res/param.xml"));
    const std::vector<std::vector<std::string>> commands = {{"check"}, {"write-firmware", "--yes"},
        {"write-parameters"}, {"backup"}, {"restore", backupFile}, {"report"}};
    struct Case
    {
        sim::Chain chain;
        std::string eth;
        std::string cause;
    };
    Case cases[] = {
        {SimBus::plainChain(1), "nosuch0", "There is no network interface nosuch0; "},
        {sim::Chain(), "sim0", "No slave answered on sim0: check the cable"},
    };
    for (Case& c : cases) {
        start(std::move(c.chain));
        for (std::vector<std::string> args : commands) {
            const std::string name = args.front();
            SCOPED_TRACE(name + " on " + c.eth);
            args.insert(args.end(), {"-i", c.eth, "--json"});
            const Outcome r = run(args);
            EXPECT_EQ(1, r.status) << r.err;
            const std::string lead = "zuvianctl: " + name + " on " + c.eth + ": " + c.cause;
            const size_t at = r.err.rfind("zuvianctl: ");
            ASSERT_NE(std::string::npos, at) << r.err;
            EXPECT_EQ(lead, r.err.substr(at, lead.size())) << r.err;
            EXPECT_EQ(std::string::npos, r.err.find("Slaves not found")) << r.err;
            EXPECT_EQ(std::string::npos, r.out.find("Slaves not found")) << r.out;
            const json doc = r.doc();
            EXPECT_EQ(name, doc.at("command"));
            EXPECT_EQ(r.err.substr(at + 11, r.err.size() - at - 12), doc.at("error"));
        }
    }
}

// The diagnostics on the robot: the slave list, a register, an SII, a state change.
TEST_F(Cli, DiagnosticsReadTheBus)
{
    start(sim::robotBus());
    const Outcome list = run({"slaves", "-i", "sim0", "--json"});
    ASSERT_EQ(0, list.status) << list.err;
    const json slaves = list.doc().at("slaves");
    ASSERT_EQ(11u, slaves.size());
    EXPECT_EQ("TMCM-174", slaves[1].at("name"));
    EXPECT_EQ("PRE-OP", slaves[1].at("state"));

    const Outcome reg = run({"reg-read", "-i", "sim0", "7", "0x0130", "2", "--json"});
    ASSERT_EQ(0, reg.status) << reg.err;
    EXPECT_EQ("0200", reg.doc().at("data")); // AL status: PRE-OP

    const Outcome sii = run({"sii", "-i", "sim0", "7", "--json"});
    ASSERT_EQ(0, sii.status) << sii.err;
    EXPECT_EQ("TMCM-ZQ-841", sii.doc().at("name"));
    EXPECT_FALSE(sii.doc().at("categories").empty());

    const Outcome init = run({"states", "-i", "sim0", "init", "--slave", "7", "--json"});
    ASSERT_EQ(0, init.status) << init.err;
    EXPECT_EQ("INIT", init.doc().at("slaves")[0].at("state"));
}

// "states boot" takes a slave there the way the firmware writer does, and the FoE commands find
// it there: a file sent to the slave that stores what it gets in BOOT comes back byte for byte.
// A motor controller is written only with consent, and every refusal names its reason: the FoE
// error code and text, the AL status code and text, the missing mailbox.
TEST_F(Cli, BootThenFoeRoundTripsAFileAndFailuresSayWhy)
{
    // The "robot+files" layout, built here so that the controllers' models stay reachable.
    sim::ControllerBus robot = sim::robotBus();
    robot.chain.add(sim::makeFileStoreSlave().slave);
    start(std::move(robot));
    const int store = 12;
    QByteArray content;
    for (int i = 0; i < 1301; ++i)
        content.append(char((i * 7 + i / 13) & 0xFF));
    const std::string sent = put("sent.bin", content);
    const std::string back = dirs_.work.filePath("back.bin").toStdString();

    const Outcome boot = run({"states", "-i", "sim0", "boot", "--slave", "12", "--json"});
    ASSERT_EQ(0, boot.status) << boot.err;
    EXPECT_EQ("BOOT", boot.doc().at("slaves")[0].at("state"));
    const Outcome write
        = run({"foe-write", "-i", "sim0", std::to_string(store), "notes.bin", sent, "--json"});
    ASSERT_EQ(0, write.status) << write.err;
    EXPECT_TRUE(write.doc().at("boot").get<bool>());
    const Outcome read
        = run({"foe-read", "-i", "sim0", std::to_string(store), "notes.bin", "-o", back});
    ASSERT_EQ(0, read.status) << read.err;
    EXPECT_EQ(content, fileBytes(QString::fromStdString(back)));

    struct Case
    {
        std::vector<std::string> args;
        std::string message;
    };
    // The first case finds the store still in BOOT, where the read above left it.
    const Case cases[] = {
        {{"foe-read", "12", "missing.bin", "-o", back},
            "foe-read on sim0, slave 12 (in BOOT): missing.bin not read: the slave answered with "
            "FoE error 0x00008001 (Not found): \"Not found\""},
        {{"foe-write", "7", "TMCM-841.bin", sent},
            "foe-write on sim0, slave 7: not confirmed; nothing was written"},
        {{"states", "boot", "--slave", "1"},
            "states on sim0, slave 1: BOOT was not reached: slave 1 (Plain Slave 1) has no "
            "bootstrap mailbox in its SII, so no BOOT"},
        {{"sdo-read", "7", "0x1018"},
            "sdo-read on sim0, slave 7: slave 7 (TMCM-ZQ-841) has no CoE mailbox"},
        {{"sdo-read", "1", "0x1018"},
            "sdo-read on sim0, slave 1: slave 1 (Plain Slave 1) has no mailbox, so no CoE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-i", "sim0"});
        const Outcome r = run(args);
        EXPECT_EQ(1, r.status);
        EXPECT_NE(std::string::npos, r.err.find("zuvianctl: " + c.message)) << r.err;
    }
    EXPECT_TRUE(axis(7).receivedImage().empty());

    // A controller in BOOT, with consent, refuses a file that is not its image by name.
    ASSERT_EQ(0, run({"states", "-i", "sim0", "boot", "-s", "7"}).status);
    const Outcome wrong = run({"foe-write", "-i", "sim0", "7", "other.bin", sent, "--yes"});
    EXPECT_EQ(1, wrong.status);
    EXPECT_NE(std::string::npos,
        wrong.err.find("other.bin not written: the slave answered with FoE error 0x00008001 "
                       "(Not found): \"File not found\""))
        << wrong.err;
}

// A state the bus cannot reach names the slave that refused it and why, and leaves every slave
// in a state that is said, with no error flag standing; SDO failures carry the abort code.
TEST_F(Cli, RefusalsOfStatesAndObjectsNameTheSlaveAndTheCode)
{
    start("robot+protocols");
    const Outcome op = run({"states", "-i", "sim0", "op", "--json"});
    ASSERT_EQ(0, op.status) << op.err;
    const json reached = op.doc().at("slaves");
    for (const json& slave : reached)
        EXPECT_EQ("OP", slave.at("state")) << slave.dump();

    bus_->slave(12).alFaults().refuse = sim::AlState::Op;
    bus_->slave(12).alFaults().refuseCode = 0x001D;
    const Outcome refused = run({"states", "-i", "sim0", "op", "--json"});
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos,
        refused.err.find("states on sim0: OP was not reached: slave 12 (CoE Test Slave) refused "
                         "OP: it is in SAFE-OP+ERROR, AL status code 0x001d (Invalid Output "
                         "Configuration). The bus is left in OP: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, "
                         "11, 13; SAFE-OP: 12"))
        << refused.err;
    const json left = refused.doc().at("slaves");
    ASSERT_EQ(13u, left.size());
    EXPECT_EQ("SAFE-OP", left[11].at("state"));
    EXPECT_EQ("OP", left[12].at("state"));

    struct Case
    {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"sdo-read", "12", "0x5555"},
            "0x5555:0 not read: abort code 0x06020000 (The object does not exist in the object "
            "directory)"},
        {{"sdo-read", "12", "0x2201"},
            "0x2201:0 not read: abort code 0x06010001 (Attempt to read to a write only object)"},
        {{"sdo-write", "12", "0x2200", "01000000"}, "0x2200:0 not written: abort code 0x0601"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-i", "sim0"});
        const Outcome r = run(args);
        EXPECT_EQ(1, r.status);
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    }
}

// The SoE, register and process data diagnostics against the CoE and SoE slaves of the virtual
// bus: values written come back, refusals carry the drive's error code, a register is written
// only with consent, and where pdos places each slave's data is where the slave's FMMUs put it.
TEST_F(Cli, SoeRegistersAndTheProcessImage)
{
    start("robot+protocols");
    struct Case
    {
        std::vector<std::string> args;
        int status;
        std::string expected; // the JSON "data", or a part of the message on standard error
    };
    const Case cases[] = {
        {{"soe-write", "13", "P-0-0001", "78563412"}, 0, ""},
        {{"soe-read", "13", "0x8001"}, 0, "78563412"},
        {{"soe-read", "13", "S-0-0024", "--drive", "0"}, 0, "040004002f002400"},
        {{"soe-read", "13", "99"}, 1,
            "soe-read on sim0, slave 13, drive 0, S-0-0099: value not read: SoE error 0x1001 (No "
            "IDN)"},
        {{"soe-read", "12", "1"}, 1, "slave 12 (CoE Test Slave) has no SoE mailbox"},
        {{"soe-read", "13", "X-0-0001"}, 2, "\"X-0-0001\" is no IDN"},
        {{"soe-read", "13", "S-8-0001"}, 2, "is no IDN"},
        {{"soe-read", "13", "1", "-d", "8"}, 2, "is no number from 0 to 7"},
        {{"reg-write", "2", "0x0f80", "a55a"}, 1,
            "reg-write on sim0, slave 2: not confirmed; nothing was written"},
        {{"reg-read", "2", "0x0f80", "2"}, 0, "0000"},
        {{"reg-write", "2", "0x0f80", "a55a", "--yes"}, 0, ""},
        {{"reg-read", "2", "0x0f80", "2"}, 0, "a55a"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-i", "sim0", "--json"});
        SCOPED_TRACE(args.front() + " " + args[1] + " " + args[2]);
        const Outcome r = run(args);
        ASSERT_EQ(c.status, r.status) << r.err;
        if (c.status == 0 && !c.expected.empty()) {
            EXPECT_EQ(c.expected, r.doc().at("data"));
        } else if (c.status != 0) {
            EXPECT_NE(std::string::npos, r.err.find(c.expected)) << r.err;
        }
    }

    const Outcome image = run({"pdos", "-i", "sim0", "--json"});
    ASSERT_EQ(0, image.status) << image.err;
    const json slaves = image.doc().at("slaves");
    ASSERT_EQ(13u, slaves.size());
    std::map<int, std::string> sources;
    for (const json& slave : slaves) {
        const int position = slave.at("position");
        SCOPED_TRACE(position);
        sources[position] = slave.at("source");
        int outputBits = 0;
        int inputBits = 0;
        for (const json& sm : slave.at("syncManagers")) {
            // The objects of a SyncManager follow one another from its first bit.
            long bit = sm.at("byte").get<long>() * 8 + sm.at("bit").get<long>();
            for (const json& entry : sm.at("entries")) {
                EXPECT_EQ(bit, entry.at("byte").get<long>() * 8 + entry.at("bit").get<long>());
                bit += entry.at("bits").get<int>();
                (sm.at("direction") == "outputs" ? outputBits : inputBits)
                    += entry.at("bits").get<int>();
            }
            // The slave's FMMU for this direction maps its logical start to this SyncManager.
            const std::vector<uint8_t>& memory = bus_->slave(size_t(position)).esc().memory();
            bool found = false;
            for (int f = 0; f < 4; ++f) {
                const uint8_t* fmmu = memory.data() + 0x0600 + 16 * f;
                const unsigned physical = fmmu[8] | (fmmu[9] << 8);
                if (fmmu[12] == 0 || physical != sm.at("start").get<unsigned>())
                    continue;
                found = true;
                EXPECT_EQ(sm.at("byte").get<unsigned>(),
                    fmmu[0] | (fmmu[1] << 8) | (fmmu[2] << 16) | (unsigned(fmmu[3]) << 24));
            }
            EXPECT_TRUE(found) << sm.dump();
        }
        EXPECT_EQ(slave.at("outputBits").get<int>(), outputBits);
        EXPECT_EQ(slave.at("inputBits").get<int>(), inputBits);
    }
    EXPECT_EQ("SII", sources[7]);
    EXPECT_EQ("CoE", sources[12]);
    EXPECT_EQ("SoE", sources[13]);
    const json coeOutputs = slaves[11].at("syncManagers")[0].at("entries");
    ASSERT_EQ(2u, coeOutputs.size());
    EXPECT_EQ("0x7000:02", coeOutputs[1].at("object"));
    EXPECT_EQ(32, coeOutputs[1].at("bits"));
    const json soeInputs = slaves[12].at("syncManagers")[1].at("entries");
    ASSERT_EQ(3u, soeInputs.size());
    EXPECT_EQ("S-0-0084", soeInputs[2].at("object"));
    EXPECT_EQ(16, soeInputs[2].at("bits"));
}

// A capture of a check holds every frame in the order it passed: each request followed by its
// own reply, all of them EtherCAT.
TEST_F(Cli, CaptureOfACheckHoldsEveryFrameInOrder)
{
    start(sim::robotBus());
    const std::string path = dirs_.work.filePath("check.pcap").toStdString();
    const Outcome check = run({"check", "-i", "sim0", "--capture", path});
    ASSERT_EQ(0, check.status) << check.err;

    char error[PCAP_ERRBUF_SIZE];
    pcap_t* capture = pcap_open_offline(path.c_str(), error);
    ASSERT_NE(nullptr, capture) << error;
    EXPECT_EQ(DLT_EN10MB, pcap_datalink(capture));
    std::vector<std::vector<uint8_t>> frames;
    struct pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(capture, &header, &data) == 1)
        frames.emplace_back(data, data + header->caplen);
    pcap_close(capture);

    ASSERT_GT(frames.size(), 20u);
    ASSERT_EQ(0u, frames.size() % 2);
    for (size_t i = 0; i < frames.size(); i += 2) {
        const auto& sent = frames[i];
        const auto& received = frames[i + 1];
        ASSERT_GE(sent.size(), 18u);
        ASSERT_EQ(sent.size(), received.size());
        EXPECT_EQ(0x88, sent[12]);
        EXPECT_EQ(0xA4, sent[13]);
        // Command and index of the first datagram come back unchanged.
        EXPECT_EQ(sent[16], received[16]) << i;
        EXPECT_EQ(sent[17], received[17]) << i;
    }
}

// The report's HTML where it guards real behaviour: no set, a wheel base that cannot be one,
// the section rows of both parts, and text from the file shown as text.
TEST_F(Cli, ReportHtmlEdgeCases)
{
    EtherCatWrapper empty;
    EXPECT_EQ(QStringLiteral("<div style=\"color:red;font-size:10pt;font-weight:bold\">Fehler: "
                             "Keine Parameter definiert oder Device nicht verfügbar!</div>"),
        empty.GetEtherCatParametersInHtml());
    EXPECT_FALSE(empty.CompareParameters("Arm1"));

    start(sim::controllerBus("B" + std::string(18, 'p')));
    {
        const BusSession::Lock session;
        EtherCatWrapper ecat;
        ecat.InitEtherCat("Platform", SimBus::Primary);
        ecat.LoadConfiguration(":/res/param.xml", 0, EtherCatWrapper::Platform, 2);
        ASSERT_FALSE(ecat.GetConfigParameters().isEmpty());
        EXPECT_EQ(QStringLiteral("<div style=\"color:red;font-size:10pt;font-weight:bold\">No "
                                 "slaves found!</div>"),
            ecat.GetEtherCatParametersInHtml());
        ecat.StopEthercat();
    }

    start(sim::robotBus());
    QByteArray odd = "<zuvian><Parameters><Platform><Parameter Type=\"4\" Desc=\"a &lt;b&gt; c\" "
                     "Value=\"7\"/></Platform><Arm>";
    for (int a = 1; a <= 5; ++a)
        odd += QStringLiteral("<Axis%1><Parameter Type=\"4\" Desc=\"v\" Value=\"0\"/></Axis%1>")
                   .arg(a)
                   .toUtf8();
    const std::string file = put("odd.xml", odd + "</Arm></Parameters></zuvian>");
    const Outcome r = run({"report", "-i", "sim0", "--file", file});
    EXPECT_EQ(3, r.status) << r.err;
    const QString page = QString::fromStdString(r.out);
    EXPECT_EQ(1, page.count("Axis 1 - 4"));
    for (int a = 1; a <= 5; ++a)
        EXPECT_EQ(1, page.count(QStringLiteral("font-weight:bold;width:100px\">Axis%1<").arg(a)));
    EXPECT_TRUE(page.contains("a &lt;b&gt; c"));
    EXPECT_FALSE(page.contains("a <b> c"));
}
