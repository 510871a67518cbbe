// zuvianctl against the virtual robot over the in-process link: each command's text and JSON, its
// exit status, and what the virtual controllers hold afterwards; refusals of bad input with
// nothing written; a capture read back with libpcap; the report's HTML.
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pcap/pcap.h>

#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "EtherCatWrapper.h"
#include "controller/controllerlayouts.h"
#include "qtfiles.h"
#include "simbus.h"
#include "zuvianctl.h"

namespace {

using nlohmann::json;

struct Outcome
{
    int status = -1;
    std::string out;
    std::string err;
    json doc() const { return json::parse(out); }
};

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

    Outcome run(std::vector<std::string> args)
    {
        args.insert(args.begin(), "zuvianctl");
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        std::ostringstream out;
        std::ostringstream err;
        Outcome result;
        result.status = zuvianctl_main(int(argv.size()), argv.data(), out, err);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

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
            found.push_back(axis.at("version").is_null() ? "no reply"
                                                          : axis.at("version").get<std::string>());
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

    // Written, not yet running: the check's JSON still reads the old version everywhere, names
    // every axis behind, and a script that expects the new version is told so.
    const Outcome after = run({"check", "-i", "sim0", "--json"});
    ASSERT_EQ(0, after.status) << after.err;
    EXPECT_EQ(std::vector<std::string>(9, "1.40"), versions(after.doc().at("readOut")));
    ASSERT_EQ(9u, after.doc().at("behind").size());
    EXPECT_EQ("arm axis 1 runs 1.40, not 1.48", after.doc().at("behind")[0]);
    const Outcome expected = run({"check", "-i", "sim0", "--expect-version", "1.48"});
    EXPECT_EQ(1, expected.status);
    EXPECT_NE(std::string::npos, expected.err.find("not every axis runs 1.48: arm axis 1 runs 1.40"))
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
        {{}, 2, "A subcommand is required"},
        {{"check"}, 2, "--interface is required"},
        {{"check", "-i", "sim0", "--bogus"}, 2, "--bogus"},
        {{"check", "-i", "nosuch0"}, 1, "check on nosuch0: "},
        {{"sii", "-i", "sim0", "12"}, 1, "sii on sim0, slave 12: slave 12 is not on the bus"},
        {{"sii", "-i", "sim0", "0"}, 2, "slave"},
        {{"reg-read", "-i", "sim0", "2", "0xfff0", "100"}, 2, "the length must be"},
        {{"write-parameters", "-i", "sim0", "--file", "/nonexistent.xml"}, 2, "nonexistent"},
        {{"write-parameters", "-i", "sim0", "--file", malformed}, 1,
            "write-parameters: parameter file"},
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
        {"Value=\"3899\"", "Value=\"\"", arm3Line, "Arm1", 3, "6", "",
            "Value is no 32-bit number"},
        {"Value=\"3899\"", "Value=\"99999999999999999999\"", arm3Line, "Arm1", 3, "6",
            "99999999999999999999", "Value is no 32-bit number"},
        {" Value=\"3899\"", "", arm3Line, "Arm1", 3, "6", nullptr, "Value is missing"},
        {"Type=\"6\" Desc=\"Max. current\" Value=\"3564\"",
            "Type=\"99999\" Desc=\"Max. current\" Value=\"3564\"", platformLine, "Platform", 0,
            "99999", "3564", "Type is no parameter number from 0 to 255"},
        {arm3, arm3 + "</Parameter>\n" + arm3Again, arm3Line + 1, "Arm1", 3,
            "6", "3900", "Type 6 is given on line " + std::to_string(arm3Line) + " already"},
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
    EXPECT_NE(std::string::npos, whole.out.find("Arm1: written, stored and read back")) << whole.out;
    EXPECT_EQ(3899u, axis(9).interpreter().parameters().storedAxis(6));
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
