// The fault matrix: each flow (Check Version, Write Firmware of the robot, Write Parameters) runs
// on the virtual robot under named faults of the bus, and every run is held against the bus's
// ground truth: it ends within the time its time-outs allow (virtual time), what it reports as
// written is what the controllers hold, nothing is left in the working directory, and the master's
// error list holds what the faults made happen. A row that fails prints the whole table.
//
// Robot layout: 1 board, 2..5 wheel base (platform axes 1..4), 6 board, 7..11 arm (axes 1..5).
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BusSession.h"
#include "CheckJob.h"
#include "FirmwareJob.h"
#include "ParameterJob.h"
#include "controller/controllerlayouts.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "faults/faultregistry.h"
#include "qtfiles.h"
#include "simbus.h"
#include "writefirmware.h"

namespace {

// Image: arm axis 1 (bus position 7) given an image the test makes, by the firmware writer.
enum class Flow { Check, Firmware, Parameters, Image };

struct Row
{
    Row(std::vector<std::string> faults, Flow flow, std::string expected, std::string error,
        bool afterCheck = false, std::string cause = "")
        : faults(std::move(faults))
        , flow(flow)
        , expected(std::move(expected))
        , error(std::move(error))
        , afterCheck(afterCheck)
        , cause(std::move(cause))
    {}
    std::vector<std::string> faults;
    Flow flow;
    // What the flow must report, in the words of `observed` below.
    std::string expected;
    // An entry the master's error list must hold afterwards ("" for none required).
    std::string error;
    // The faults come after a first Check Version session: the bus changed between sessions.
    bool afterCheck;
    // Words the operator's text (or a status line on the way) must hold ("" for none required):
    // the cause, not a guess.
    std::string cause;
    // Flow::Image: the size of the image.
    std::size_t image = 0;
};

Row imageRow(std::size_t bytes, std::string expected)
{
    Row row({}, Flow::Image, std::move(expected), "");
    row.image = bytes;
    return row;
}

// The bytes one FoE packet carries into the arm controllers' bootstrap mailbox.
const std::size_t kPacket = sim::controller_layout::BootMailboxSize - 12;

// Image sizes (bytes) at a share of the arm controllers' image, for the power losses.
std::string armImageShare(int percent);

const char* flowName(Flow flow)
{
    return flow == Flow::Check   ? "check"
        : flow == Flow::Firmware ? "firmware"
        : flow == Flow::Image    ? "image"
                                 : "parameters";
}

// Longest run each flow may take in virtual time. Every wait in the master is bounded by its
// documented time-out (2 s per state change, 2 s per FoE packet, 0.7 s per mailbox receive, 20 ms
// per EEPROM access), and the flows repeat none without bound; these bounds are the sum over the
// robot's nine axes with room to spare, far below what a hang would take.
double deadlineSeconds(Flow flow)
{
    return flow == Flow::Check ? 30 : flow == Flow::Image ? 120 : 300;
}

// A firmware image as the virtual controllers record what they received.
std::vector<uint8_t> resource(const QString& name)
{
    const QByteArray bytes = fileBytes(name);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::string armImageShare(int percent)
{
    const auto size = resource(QStringLiteral(":/res/TMCM-841.bin")).size();
    return std::to_string(std::max<std::size_t>(1, size * std::size_t(percent) / 100));
}

QMap<int, qint64> section(const QString& name)
{
    return parameterSection(QStringLiteral(":/res/param.xml"), name);
}

std::string errorsText()
{
    std::string text;
    ec_errort e;
    while (ec_poperror(&e)) {
        char entry[64];
        const bool foe = e.Etype == EC_ERR_TYPE_FOE_ERROR;
        std::snprintf(entry, sizeof entry, "%s%s %d:%X", text.empty() ? "" : " ",
            foe                                    ? "foe"
                : e.Etype == EC_ERR_TYPE_EMERGENCY ? "emergency"
                                                   : "type",
            e.Slave, foe ? unsigned(e.AbortCode) : unsigned(e.ErrorCode));
        text += entry;
    }
    return text;
}

// One row run: what the flow reported, and each way it disagreed with the bus.
struct Result
{
    std::string observed;
    // The operator's text, for the reader of the table.
    std::string detail;
    std::vector<std::string> violations;
    std::string errors;
};

class Scenario
{
public:
    explicit Scenario(const Row& row)
        : row_(row)
        , bus_(sim::robotBus())
    {}

    Result go()
    {
        const TestDirs dirs;
        controllers_ = bus_.controllers;
        SimBus link(std::move(bus_.chain));
        sim::FaultSet faults;
        if (row_.afterCheck)
            CheckJob(QString::fromLatin1(SimBus::Primary)).run();
        errorsText();
        try {
            for (const std::string& spec : row_.faults)
                faults.install(spec, link.chain(), controllers_);
        } catch (const std::exception& e) {
            result_.violations.push_back(std::string("fault not installed: ") + e.what());
        }
        link.link().setRule(faults.frameRule());
        const std::uint64_t start = link.clock().nowUs();
        const std::uint32_t unexpected = ec_portstats()->unexpected;
        flow();
        const double seconds = double(link.clock().nowUs() - start) / 1e6;
        if (seconds > deadlineSeconds(row_.flow))
            result_.violations.push_back("took " + std::to_string(seconds) + " s");
        // Late, repeated and echoed replies are this master's own: none may look like another
        // master's on the wire. (A reply whose index byte the test garbles would not pass a real
        // wire's checksum.)
        if (ec_portstats()->unexpected != unexpected && !forgesIndex())
            result_.violations.push_back(std::to_string(ec_portstats()->unexpected - unexpected)
                + " replies to requests never sent");
        result_.errors = errorsText();
        if (!row_.error.empty() && result_.errors.find(row_.error) == std::string::npos)
            result_.violations.push_back("error list lacks " + row_.error);
        if (!row_.cause.empty() && result_.detail.find(row_.cause) == std::string::npos
            && said_.find(row_.cause) == std::string::npos)
            result_.violations.push_back("the text does not say " + row_.cause);
        const QStringList left
            = QDir(dirs.work.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (!left.isEmpty())
            result_.violations.push_back("left on disk: " + left.join(' ').toStdString());
        return result_;
    }

private:
    void violation(const std::string& text) { result_.violations.push_back(text); }
    // Another master's replies, or replies whose index byte the test garbles (which would not pass
    // a real wire's checksum), are rightly counted as answering requests never sent.
    bool forgesIndex() const
    {
        for (const std::string& fault : row_.faults) {
            if (fault.rfind("other-master:", 0) == 0)
                return true;
            if (fault.rfind("corrupt:", 0) == 0 && fault.find(":17") != std::string::npos)
                return true;
        }
        return false;
    }
    sim::MotorController& at(int position) { return *controllers_.at(std::size_t(position)); }

    void flow()
    {
        const QString eth = QString::fromLatin1(SimBus::Primary);
        if (row_.flow == Flow::Check) {
            check(CheckJob(eth).run());
        } else if (row_.flow == Flow::Firmware) {
            FirmwareJob job(eth, QStringLiteral("1.48"));
            QObject::connect(
                &job, &BusJob::consentNeeded, &job, [&job] { job.answer(true); },
                Qt::DirectConnection);
            QObject::connect(&job, &BusJob::status, &job,
                [this](const QString& text) { said_ += text.simplified().toStdString() + "\n"; });
            firmware(job.run());
        } else if (row_.flow == Flow::Image) {
            image(eth);
        } else {
            ParameterJob job;
            parameters(job.runWithReadOut(eth));
        }
    }

    void check(const CheckOutcome& outcome)
    {
        if (!outcome.readOut.ok) {
            result_.observed = "read-out failed";
            result_.detail = outcome.readOut.failure.simplified().toStdString();
            return;
        }
        result_.detail = outcome.summary.simplified().toStdString();
        std::string silent;
        for (const PartReading* part : {&outcome.readOut.arm, &outcome.readOut.platform}) {
            if (!part->complete())
                silent += " " + part->part.toStdString() + " incomplete";
            for (int k = 0; k < part->axes.size(); ++k) {
                const AxisReading& axis = part->axes.at(k);
                sim::MotorController& truth = at(axis.position);
                const std::string name = part->part.toStdString() + " " + std::to_string(k + 1);
                if (!axis.answered) {
                    silent += " " + name;
                    continue;
                }
                if (!truth.interpreter().firmware().runnable())
                    violation(name + " has no application but was read");
                if (axis.version.trimmed().toStdString() != truth.firmwareVersion())
                    violation(name + " read as " + axis.version.toStdString());
            }
        }
        result_.observed = silent.empty() ? "read" : "no reply:" + silent;
    }

    void firmware(const FirmwareOutcome& outcome)
    {
        using R = FirmwareOutcome::Result;
        const std::string done = outcome.result == R::Written ? "written"
            : outcome.result == R::Failed                     ? "failed"
            : outcome.result == R::NothingToWrite             ? "nothing to write"
            : outcome.result == R::ReadOutFailed              ? "read-out failed"
            : outcome.result == R::OtherMaster                ? "other master"
                                                              : "other";
        result_.detail = outcome.text.simplified().toStdString();
        result_.observed = done;
        if (outcome.result == R::Failed) {
            const FirmwareAxis& last = outcome.axes.last();
            result_.observed += " at " + last.part.toStdString() + " " + std::to_string(last.axis)
                + " (" + std::to_string(last.result) + ")";
        }
        if (!outcome.skipped.isEmpty())
            result_.observed += ", a part left out";
        for (const FirmwareAxis& axis : outcome.updated()) {
            sim::MotorController& truth = at(axis.position);
            const auto image = resource(
                QStringLiteral(":/res/") + QString::fromStdString(truth.info().firmwareFile));
            if (truth.receivedImage() != image || !truth.interpreter().firmware().runnable())
                violation("position " + std::to_string(axis.position)
                    + " reported written without the whole image");
        }
        if (outcome.result == R::Written && outcome.updated().size() != outcome.axes.size())
            violation("written while an axis failed");
        if (outcome.result == R::OtherMaster) {
            for (std::size_t position = 0; position < controllers_.size(); ++position) {
                if (controllers_[position] && !controllers_[position]->receivedImage().empty())
                    violation("position " + std::to_string(position)
                        + " received an image although another master was seen");
            }
        }
    }

    // The writer must leave the controller with exactly the image, or say it failed; an image it
    // cannot send must be refused before the controller is taken to BOOT.
    void image(const QString& eth)
    {
        std::vector<uint8_t> bytes(row_.image);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 7 + i / 251);
        const QTemporaryDir dir;
        putFile(dir.filePath(QStringLiteral("TMCM-841.bin")),
            QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
        sim::Slave& slave = at(7).slave();
        const auto before = slave.hooks().stateChanged;
        int boots = 0;
        slave.hooks().stateChanged
            = [&boots, before](sim::Slave& s, sim::AlState from, sim::AlState to) {
                  boots += to == sim::AlState::Boot ? 1 : 0;
                  before(s, from, to);
              };
        const BusSession::Lock session;
        WriteFirmware writer;
        writer.setImageDirectory(dir.path());
        const int result = writer.writeFirmware(eth, 7);
        slave.hooks().stateChanged = before;
        result_.observed = result == WriteFirmware::Written ? "written"
            : boots == 0 ? "refused before BOOT (" + std::to_string(result) + ")"
                         : "failed (" + std::to_string(result) + ")";
        const std::vector<uint8_t>& received = at(7).receivedImage();
        if (result == WriteFirmware::Written
            && (received != bytes || !at(7).interpreter().firmware().runnable()))
            violation("reported written, the controller holds " + std::to_string(received.size())
                + " bytes");
        if (result != WriteFirmware::Written && !received.empty())
            violation("reported failed, the controller took an image");
    }

    void parameters(const ParameterOutcome& outcome)
    {
        using R = ParameterPartOutcome::Result;
        static const char* names[] = {"not run", "no connection", "refused", "backup failed",
            "failed", "unconfirmed", "written"};
        result_.observed = std::string("arm ") + names[int(outcome.arm.result)] + ", platform "
            + names[int(outcome.platform.result)];
        if (result_.detail.empty())
            result_.detail = (outcome.arm.reason + QLatin1Char(' ') + outcome.platform.reason)
                                 .simplified()
                                 .toStdString();
        // What the job names as not confirmed, as "Arm1 axis 3: 130; Platform axis 1: 4, 5".
        for (const ParameterPartOutcome* part : {&outcome.arm, &outcome.platform}) {
            for (auto it = part->unconfirmed.cbegin(); it != part->unconfirmed.cend(); ++it) {
                std::string types;
                for (int type : it.value())
                    types += (types.empty() ? "" : ", ") + std::to_string(type);
                result_.detail += (result_.detail.empty() ? "" : "; ") + part->part.toStdString()
                    + " axis " + std::to_string(it.key()) + ": " + types;
            }
        }
        if (outcome.arm.result == R::Written) {
            for (int k = 1; k <= 5; ++k)
                stored(6 + k, section(QStringLiteral("Axis%1").arg(k)));
        }
        if (outcome.platform.result == R::Written) {
            for (int position = 2; position <= 5; ++position)
                stored(position, section(QStringLiteral("Platform")));
        }
    }

    void stored(int position, const QMap<int, qint64>& set)
    {
        const sim::ParameterMemory& memory = at(position).interpreter().parameters();
        for (auto it = set.cbegin(); it != set.cend(); ++it) {
            if (memory.storedAxis(quint8(it.key())) != quint32(it.value())) {
                violation("position " + std::to_string(position) + " parameter "
                    + std::to_string(it.key()) + " reported written, not stored");
                return;
            }
        }
    }

    const Row& row_;
    sim::ControllerBus bus_;
    sim::FaultSet::Controllers controllers_;
    Result result_;
    // The status lines the job showed on the way.
    std::string said_;
};

std::string joined(const std::vector<std::string>& parts, const char* glue)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : glue) + part;
    return text.empty() ? "none" : text;
}

TEST(FaultMatrix, EveryFlowUnderEveryFaultAgreesWithTheBus)
{
    const Flow C = Flow::Check;
    const Flow F = Flow::Firmware;
    const Flow P = Flow::Parameters;
    const std::vector<Row> table = {
        {{}, C, "read", ""},
        {{}, F, "written", "", false,
            "write firmware to arm axis 1 Do not switch the robot off or unplug it"},
        {{}, P, "arm written, platform written", ""},
        {{"drop-every:7"}, C, "read", ""},
        {{"drop-every:7"}, F, "written", ""},
        {{"drop-every:7"}, P, "arm written, platform written", ""},
        {{"drop-random:30:3"}, F, "written", ""},
        {{"late:9:3000"}, C, "read", ""},
        {{"late:9:3000"}, F, "written", ""},
        {{"duplicate:5"}, F, "written", ""},
        {{"duplicate:5"}, P, "arm written, platform written", ""},
        {{"corrupt:13:17"}, C, "read", ""},
        {{"corrupt:13:22"}, F, "written", ""},
        {{"burst:7"}, F, "written", ""},
        {{"burst:7"}, P, "arm written, platform written", ""},
        {{"echo:3"}, C, "read", ""},
        {{"echo:3"}, F, "written", ""},
        {{"echo:1"}, C, "read", ""},
        {{"echo:1"}, P, "arm written, platform written", ""},
        {{"write-twice:3"}, F, "written", ""},
        {{"write-twice:4"}, P, "arm written, platform written", ""},
        {{"write-reply-lost:6"}, F, "written", ""},
        {{"write-reply-lost:6"}, P, "arm written, platform written", ""},
        {{"boot-refused:7"}, F, "failed at arm 1 (-6)", "", false,
            "AL status code 0x0011 (Invalid requested state change)"},
        {{"boot-refused:7", "sticky-error:7"}, F, "failed at arm 1 (-6)", ""},
        {{"refuse-state:9:preop:0x11"}, C, "no reply: arm 3", "", false,
            "arm axis 3 (stays in INIT, AL status code 0x0011 (Invalid requested state change))"},
        {{"silent-mailbox:8"}, C, "no reply: arm 2", ""},
        {{"silent-mailbox:8"}, P, "arm unconfirmed, platform written", ""},
        {{"refuse-state:4:preop:0x11"}, P, "arm written, platform unconfirmed", "", false,
            "platform axis 3 stays in INIT, AL status code 0x0011 (Invalid requested state "
            "change)"},
        {{"emergency-only:3"}, C, "no reply: platform 2", "emergency 3:FF00"},
        {{"stale-emergency:7"}, C, "read", "emergency 7:FF00"},
        {{"repeat-counter:7:3"}, F, "written", ""},
        {{"foe-stall:7:5000"}, F, "failed at arm 1 (-5)", ""},
        {{"foe-error:7:disk-full:5000"}, F, "failed at arm 1 (-5)", ""},
        {{"foe-error:10:packet-number:2000"}, F, "failed at arm 4 (-5)", ""},
        {{"foe-error:7:not-bootstrap"}, F, "failed at arm 1 (-5)", ""},
        {{"foe-busy:10:400"}, F, "written", ""},
        {{"foe-busy:7:1001"}, F, "failed at arm 1 (-5)", ""},
        {{"power-loss:7:" + armImageShare(10)}, F, "failed at arm 1 (-5)", ""},
        {{"power-loss:8:" + armImageShare(50)}, F, "failed at arm 2 (-5)", ""},
        {{"power-loss:11:" + armImageShare(99)}, F, "failed at arm 5 (-5)", ""},
        {{"power-loss-store:8"}, P, "arm unconfirmed, platform written", ""},
        {{"command-silent:2"}, P, "arm written, platform unconfirmed", ""},
        {{"set-not-kept:9:130"}, P, "arm unconfirmed, platform written", "", false,
            "Arm1 axis 3: 130"},
        {{"set-not-kept:4"}, P, "arm written, platform unconfirmed", "", false,
            "Platform axis 3: 4, 5, 6, 7, 9"},
        {{"restart:3:2000", "restart:9:4000"}, F, "written", ""},
        {{"restart:7:10000"}, F, "written", "", false, "is restarting"},
        {{"restart:7:25000"}, F, "written", "", false, "is restarting"},
        {{"restart:9:10000"}, F, "written", "", false, "is restarting"},
        {{"restart:9:25000"}, F, "written", "", false, "is restarting"},
        {{"restart:11:10000"}, F, "written", "", false, "is restarting"},
        {{"restart:11:25000"}, F, "written", "", false, "is restarting"},
        {{"restart:3:10000"}, F, "written", "", false, "is restarting"},
        {{"restart:3:25000"}, F, "written", "", false, "is restarting"},
        {{"restart:8:600000"}, F, "failed at arm 2 (-7)", "", false,
            "did not come back within 30 s"},
        imageRow(0, "refused before BOOT (-9)"),
        imageRow(1, "written"),
        imageRow(kPacket, "written"),
        imageRow(3 * kPacket, "written"),
        imageRow(3 * kPacket + 1, "written"),
        imageRow(257 * kPacket + 1, "written"),
        imageRow(std::size_t(WriteFirmware::FileBufferSize), "written"),
        imageRow(std::size_t(WriteFirmware::FileBufferSize) + 1, "refused before BOOT (-1)"),
        {{"eeprom-busy:3"}, C, "read-out failed", "", false, "EEPROM of a slave could not be read"},
        {{"eeprom-refuse:7:2"}, C, "read", ""},
        {{"sii-length:7"}, C, "no reply: arm incomplete", ""},
        {{"unplug:11"}, F, "read-out failed", "", true},
        {{"extra-slaves:1"}, F, "read-out failed", "", true, "12 slaves answered"},
        {{"extra-slaves:1"}, P, "arm refused, platform refused", "", true},
        {{"extra-slaves:7"}, C, "read-out failed", "", false, "18 slaves answered"},
        {{"extra-slaves:190"}, C, "read-out failed", "", false, "More slaves on the bus than"},
        {{"other-master:25"}, F, "other master", "", false,
            "Another EtherCAT master is working on"},
        {{"other-master:25"}, C, "read", "", false, "Another EtherCAT master was working on"},
        {{"other-master:25"}, P, "arm refused, platform refused", "", false,
            "Another EtherCAT master is working on"},
    };

    std::string report;
    bool failed = false;
    char line[1024];
    for (const Row& row : table) {
        const Result result = Scenario(row).go();
        const bool ok = result.observed == row.expected && result.violations.empty();
        failed = failed || !ok;
        std::snprintf(line, sizeof line,
            "%-4s %-34s %-10s %-36s %-36s violations: %s | errors: %s | %.120s\n",
            ok ? "ok" : "FAIL",
            row.flow == Flow::Image ? (std::to_string(row.image) + " bytes").c_str()
                                    : joined(row.faults, " + ").c_str(),
            flowName(row.flow), row.expected.c_str(), result.observed.c_str(),
            joined(result.violations, "; ").c_str(), result.errors.c_str(), result.detail.c_str());
        report += line;
    }
    EXPECT_FALSE(failed) << "\n"
                         << "     fault                              flow       expected"
                            "                             observed\n"
                         << report;
}

// After a download broken off by a power loss and a power cycle, Check Version shows that
// controller as "no reply", and Write Firmware brings it back: INIT, BOOT and a complete image.
TEST(FaultMatrix, ControllerWithoutApplicationIsBroughtBackByWriteFirmware)
{
    const TestDirs dirs;
    const QString eth = QString::fromLatin1(SimBus::Primary);
    sim::ControllerBus robot = sim::robotBus("1.40");
    const sim::FaultSet::Controllers controllers = robot.controllers;
    SimBus bus(std::move(robot.chain));
    sim::FaultSet faults;
    faults.install("power-loss:8:" + armImageShare(50), bus.chain(), controllers);
    const auto writeFirmware = [&eth] {
        FirmwareJob job(eth, QStringLiteral("1.48"));
        QObject::connect(
            &job, &BusJob::consentNeeded, &job, [&job] { job.answer(true); }, Qt::DirectConnection);
        return job.run();
    };
    const auto powerCycle = [&controllers] {
        for (const auto& controller : controllers) {
            if (controller)
                controller->powerCycle();
        }
    };

    const FirmwareOutcome broken = writeFirmware();
    ASSERT_EQ(FirmwareOutcome::Result::Failed, broken.result);
    EXPECT_EQ(8, broken.axes.last().position);
    powerCycle();
    EXPECT_EQ(QStringLiteral("Versions read; no reply from arm axis 2 (stays in INIT, AL status "
                             "code 0x0014 (No valid firmware))."),
        CheckJob(eth).run().summary);

    // The controller now refuses PRE-OP; its error flag also outlasts the first acknowledge.
    faults.install("sticky-error:8", bus.chain(), controllers);
    const FirmwareOutcome repaired = writeFirmware();
    EXPECT_EQ(FirmwareOutcome::Result::Written, repaired.result) << qPrintable(repaired.text);
    EXPECT_EQ(resource(QStringLiteral(":/res/TMCM-841.bin")), controllers[8]->receivedImage());
    powerCycle();
    const CheckOutcome after = CheckJob(eth).run();
    EXPECT_EQ(QStringLiteral("Versions read."), after.summary);
    EXPECT_EQ("1.48", controllers[8]->firmwareVersion());
}

}
