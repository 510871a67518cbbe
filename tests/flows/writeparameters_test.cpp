// "Write Parameters" on the virtual robot: what the controllers hold afterwards (over a power
// cycle), the order of password and parameters, the texts when a controller does not confirm or
// the bus is not the one read out, and the backup that is taken first and can be written back.
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <sys/stat.h>

#include <algorithm>

#include "ParameterBackup.h"
#include "ParameterJob.h"
#include "boxanswerer.h"
#include "flowfixture.h"
#include "qtfiles.h"

namespace {

const QString kShipped = QStringLiteral(":/res/param.xml");

bool isSetting(const sim::CommandRequest& r)
{
    return r.command == sim::command::SetAxisParameter
        || r.command == sim::command::StoreAxisParameter
        || r.command == sim::command::SetGlobalParameter
        || r.command == sim::command::StoreGlobalParameter;
}

// Distinct values per controller and parameter, the same over the wheel base (it shares one set).
quint32 originalValue(int position, int type)
{
    return position <= 5 ? quint32(7 * type + 1) : quint32(1000 * position + type);
}

class WriteParametersFlow : public FlowTest
{
protected:
    QStringList backups() const
    {
        return QDir(ParameterBackup::directory()).entryList(QDir::Files | QDir::System, QDir::Name);
    }

    // The section of the shipped file that the controller at `position` of the robot gets.
    static QString robotSection(int position)
    {
        return position <= 5 ? QStringLiteral("Platform")
                             : QStringLiteral("Axis%1").arg(position - 6);
    }

    // The controller holds every value of `set`, stored, and the two global twins of bank 2; the
    // password went in before any other setting and was never stored.
    void expectHolds(int position, const QMap<int, qint64>& set)
    {
        SCOPED_TRACE(position);
        const sim::ParameterMemory& memory = axis(position).interpreter().parameters();
        ASSERT_FALSE(set.isEmpty());
        for (auto it = set.cbegin(); it != set.cend(); ++it) {
            EXPECT_EQ(quint32(it.value()), memory.axis(quint8(it.key())))
                << "parameter " << it.key();
            EXPECT_EQ(quint32(it.value()), memory.storedAxis(quint8(it.key())))
                << "parameter " << it.key();
        }
        EXPECT_EQ(quint32(set.value(253)), memory.storedGlobal(2, 0));
        EXPECT_EQ(quint32(set.value(6)), memory.storedGlobal(2, 1));
        EXPECT_EQ(0u, memory.storedAxis(248));

        const auto& requests = axis(position).commands().requests();
        const auto first = std::find_if(requests.begin(), requests.end(), isSetting);
        ASSERT_NE(requests.end(), first);
        EXPECT_EQ(sim::command::SetAxisParameter, first->command);
        EXPECT_EQ(248, first->type);
        EXPECT_EQ(47193856u, first->value);
        EXPECT_TRUE(
            std::none_of(requests.begin(), requests.end(), [](const sim::CommandRequest& r) {
                return r.command == sim::command::StoreAxisParameter && r.type == 248;
            }));
    }

    ::testing::AssertionResult nothingWritten(const std::vector<int>& positions)
    {
        for (int position : positions) {
            const auto& requests = axis(position).commands().requests();
            if (std::any_of(requests.begin(), requests.end(), isSetting))
                return ::testing::AssertionFailure() << "slave " << position << " got a setting";
        }
        return ::testing::AssertionSuccess();
    }

    ParameterRequest robotRequest(const QString& file, int minute) const
    {
        ParameterRequest request;
        request.eth = QString::fromLatin1(SimBus::Primary);
        request.file = file;
        request.readOutOk = true;
        request.Arm1Start = 7;
        request.PlatformStart = 2;
        request.PlatformSlaveCount = 4;
        request.backupTime = QDateTime(QDate(2025, 3, 14), QTime(9, minute), QTimeZone::utc());
        return request;
    }
};

}

TEST_F(WriteParametersFlow, EveryLayoutGetsEverySetStoredArmFirst)
{
    startBus(sim::armBus());
    press("pbWriteParameters");
    EXPECT_EQ(QStringLiteral("arm parameters are written!"), output());
    ASSERT_EQ(1, backups().size());
    EXPECT_TRUE(backups().front().endsWith(QLatin1String("-Arm1.xml")));
    powerCycleControllers();
    for (int position = 2; position <= 6; ++position)
        expectHolds(
            position, parameterSection(kShipped, QStringLiteral("Axis%1").arg(position - 1)));

    QDir(ParameterBackup::directory()).removeRecursively();
    startBus(sim::robotBus());
    testing::internal::CaptureStdout();
    press("pbWriteParameters");
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(QStringLiteral("platform parameters are written!"), output());
    EXPECT_TRUE(allButtonsEnabled());
    EXPECT_EQ(1000, progressBar()->value());
    const size_t start = out.find("write parameter \n");
    const size_t arm = out.find("\narm process terminated\n");
    const size_t platform = out.find("\nprocess terminated\n");
    ASSERT_NE(std::string::npos, platform) << out;
    EXPECT_LT(start, arm);
    EXPECT_LT(arm, platform);
    EXPECT_EQ(2, backups().size());
    powerCycleControllers();
    for (int position : controllerPositions())
        expectHolds(position, parameterSection(kShipped, robotSection(position)));
}

TEST_F(WriteParametersFlow, ArmAxisThatStopsConfirmingIsNamedAndThePlatformStillRuns)
{
    startBus(sim::robotBus());
    sim::CommandFaults wrongEcho;
    wrongEcho.wrongEcho = true;
    axis(9).commands().setFaults(wrongEcho);
    press("pbWriteParameters");

    QStringList types{QStringLiteral("248")};
    for (int type : parameterSection(kShipped, QStringLiteral("Axis3")).keys())
        types.append(QString::number(type));
    std::sort(types.begin(), types.end(),
        [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    EXPECT_EQ(QStringLiteral("arm parameters not confirmed: axis 3: ")
            + types.join(QStringLiteral(", "))
            + QStringLiteral("\nplatform parameters are written!"),
        output());
    EXPECT_EQ(2, backups().size());
    powerCycleControllers();
    for (int position : {2, 3, 4, 5, 7, 8, 10, 11})
        expectHolds(position, parameterSection(kShipped, robotSection(position)));
}

// Buses on which the read-out's start numbers cannot be trusted for a part: no setting reaches any
// controller of that part, and where neither part can be trusted, none reaches the bus at all.
TEST_F(WriteParametersFlow, NothingIsWrittenWhereTheReadOutCannotBeTrusted)
{
    struct Case
    {
        const char* name;
        const char* bus;
        bool robotReadBefore; // leaves the robot's start numbers in the window
        bool noInterface;
        std::vector<int> untouched; // empty: every controller
        QString label;
    };
    const Case cases[] = {
        // The robot's start numbers left over would put the arm's values on boards and wheel base.
        {"robot's start numbers on another bus of 12", "BaaawwBBppqq", true, false, {},
            "arm parameters are not written: The bus could not be read out.\n"
            "platform parameters are not written! The bus could not be read out."},
        {"robot and a board, 12 slaves", "BppqqBaaawwB", false, false, {},
            "arm parameters are not written: The bus could not be read out.\n"
            "platform parameters are not written! The bus could not be read out."},
        {"no interface", "BppqqBaaaww", false, true, {},
            "No Connection! \nIf the arm is powered on, try again!"},
        {"board among the arm axes", "BppqqaaBaww", false, false, {6, 7, 9, 10, 11},
            "arm parameters are not written: Slave 8 is \"Plain Slave 8\", not an arm controller.\n"
            "platform parameters are written!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startBus(c.robotReadBefore ? sim::robotBus() : sim::controllerBus(c.bus));
        if (c.robotReadBefore) {
            BoxAnswerer boxes({QMessageBox::Ok});
            press("pbCheck");
            replaceBus(sim::controllerBus(c.bus));
        }
        if (c.noInterface)
            useInterface(QString());
        press("pbWriteParameters");

        EXPECT_EQ(c.label, output());
        EXPECT_TRUE(allButtonsEnabled());
        EXPECT_TRUE(nothingWritten(c.untouched.empty() ? controllerPositions() : c.untouched));
        if (c.untouched.empty()) {
            EXPECT_TRUE(backups().isEmpty());
        }
        QDir(ParameterBackup::directory()).removeRecursively();
    }
}

// The backup holds what the controllers had, for their owner alone, and written back through the
// same job it restores them.
TEST_F(WriteParametersFlow, BackupHoldsTheOldValuesAndWritesThemBack)
{
    startBus(sim::robotBus());
    for (int position : controllerPositions()) {
        for (int type : parameterSection(kShipped, robotSection(position)).keys())
            axis(position).interpreter().parameters().setAxisDefault(
                quint8(type), originalValue(position, type));
    }
    ParameterJob job;
    const ParameterOutcome shipped = job.run(robotRequest(kShipped, 0));
    ASSERT_EQ(ParameterPartOutcome::Result::Written, shipped.arm.result);
    ASSERT_EQ(ParameterPartOutcome::Result::Written, shipped.platform.result);

    for (int position : controllerPositions()) {
        SCOPED_TRACE(position);
        const QString path = position <= 5 ? shipped.platform.backupPath : shipped.arm.backupPath;
        struct stat st = {};
        ASSERT_EQ(0, lstat(QFile::encodeName(path).constData(), &st));
        EXPECT_EQ(mode_t(S_IFREG | S_IRUSR | S_IWUSR), st.st_mode);
        const QMap<int, qint64> backup = parameterSection(path, robotSection(position));
        EXPECT_EQ(parameterSection(kShipped, robotSection(position)).keys(), backup.keys());
        for (auto it = backup.cbegin(); it != backup.cend(); ++it)
            EXPECT_EQ(originalValue(position, it.key()), quint32(it.value())) << it.key();
    }

    const ParameterOutcome armBack = job.run(robotRequest(shipped.arm.backupPath, 1));
    const ParameterOutcome platformBack = job.run(robotRequest(shipped.platform.backupPath, 2));
    EXPECT_EQ(ParameterPartOutcome::Result::Written, armBack.arm.result);
    EXPECT_EQ(ParameterPartOutcome::Result::Written, platformBack.platform.result);
    powerCycleControllers();
    for (int position : controllerPositions()) {
        SCOPED_TRACE(position);
        const sim::ParameterMemory& memory = axis(position).interpreter().parameters();
        for (int type : parameterSection(kShipped, robotSection(position)).keys())
            EXPECT_EQ(originalValue(position, type), memory.axis(quint8(type))) << type;
    }
}

// A backup that cannot be created anew stops every write: a name already taken by a link (which
// is neither followed nor replaced), and a data directory that cannot hold the backup directory.
TEST_F(WriteParametersFlow, BackupThatCannotBeCreatedStopsEveryWrite)
{
    startBus(sim::robotBus());
    const ParameterRequest request = robotRequest(kShipped, 0);
    const QString elsewhere = dataPath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(ParameterBackup::directory()));
    for (const QString& part : {QStringLiteral("Arm1"), QStringLiteral("Platform")}) {
        const QString name = ParameterBackup::directory() + QLatin1Char('/')
            + ParameterBackup::fileName(part, request.backupTime);
        ASSERT_TRUE(QFile::link(elsewhere, name));
    }
    ParameterJob job;
    ParameterOutcome outcome = job.run(request);
    EXPECT_EQ(ParameterPartOutcome::Result::BackupFailed, outcome.arm.result);
    EXPECT_EQ(ParameterPartOutcome::Result::BackupFailed, outcome.platform.result);
    EXPECT_TRUE(outcome.arm.reason.endsWith(QLatin1String(": File exists")))
        << outcome.arm.reason.toStdString();
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    EXPECT_EQ(2, backups().size());

    ASSERT_TRUE(QDir(dataPath(QStringLiteral("zuvian"))).removeRecursively());
    QFile blocker(dataPath(QStringLiteral("zuvian")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    outcome = job.run(request);
    EXPECT_EQ(ParameterPartOutcome::Result::BackupFailed, outcome.arm.result);
    EXPECT_EQ(ParameterPartOutcome::Result::BackupFailed, outcome.platform.result);
    EXPECT_TRUE(nothingWritten(controllerPositions()));
}

// The job itself refuses a file from outside that cannot be applied whole (one changed after
// the command line checked it): no part is backed up or written.
TEST_F(WriteParametersFlow, FileThatCannotBeAppliedWholeIsRefusedByTheJob)
{
    startBus(sim::robotBus());
    const QString file = dataPath(QStringLiteral("changed.xml"));
    putFile(file, fileBytes(kShipped).replace("Value=\"3899\"", "Value=\"abc\""));
    ParameterJob job;
    const ParameterOutcome outcome = job.run(robotRequest(file, 0));
    for (const ParameterPartOutcome* part : {&outcome.arm, &outcome.platform}) {
        EXPECT_EQ(ParameterPartOutcome::Result::Refused, part->result);
        EXPECT_EQ(file + QStringLiteral(" cannot be applied whole."), part->reason);
    }
    EXPECT_TRUE(nothingWritten(controllerPositions()));
    EXPECT_TRUE(backups().isEmpty());

    // Started with its own read-out, it names the entry and refuses before it takes the bus.
    ParameterJob withReadOut;
    withReadOut.setFile(file);
    const ParameterOutcome refused
        = withReadOut.runWithReadOut(QString::fromLatin1(SimBus::Primary));
    EXPECT_FALSE(refused.readOutRan);
    ASSERT_EQ(1, refused.refusedEntries.size());
    EXPECT_EQ(QStringLiteral("abc"), refused.refusedEntries.first().value);
    EXPECT_EQ(ParameterPartOutcome::Result::Refused, refused.arm.result);
    EXPECT_EQ(ParameterPartOutcome::Result::Refused, refused.platform.result);
    EXPECT_TRUE(nothingWritten(controllerPositions()));
    EXPECT_TRUE(backups().isEmpty());
}

// What the controllers did not tell is not made up: an unread value is only named in a comment, and
// wheel-base axes that disagreed are named beside the value kept. Comments never break the file.
TEST(ParameterBackupFile, UnreadValuesAreCommentsOnly)
{
    EtherCatParameter unread;
    unread.ParameterType = 4;
    unread.Description = QStringLiteral("speed -- limit");
    unread.CurrentValue = 0xFFFFFFFF;
    EtherCatParameter differing;
    differing.ParameterType = 6;
    differing.Description = QStringLiteral("Max. current");
    differing.CurrentValue = quint32(-5);
    differing.errorMessage = QStringLiteral("Different Value for Axis 4 on Platform detected!");
    const QMap<QString, EtherCatParameter> set{
        {QStringLiteral("Platform_Axis0_0004"), unread},
        {QStringLiteral("Platform_Axis0_0006"), differing},
    };

    QDomDocument doc;
    ASSERT_TRUE(
        doc.setContent(ParameterBackup::toXml(set, QStringLiteral("Platform"), QDateTime())));
    const QDomElement platform
        = doc.elementsByTagName(QStringLiteral("Platform")).at(0).toElement();
    const QDomNodeList nodes = platform.childNodes();
    ASSERT_EQ(3, nodes.size());
    EXPECT_TRUE(
        nodes.at(0).toComment().data().contains(QLatin1String("Type 4 \"speed - - limit\"")));
    EXPECT_TRUE(nodes.at(1).toComment().data().contains(differing.errorMessage));
    EXPECT_EQ(QStringLiteral("6"), nodes.at(2).toElement().attribute(QStringLiteral("Type")));
    EXPECT_EQ(QStringLiteral("-5"), nodes.at(2).toElement().attribute(QStringLiteral("Value")));
}
