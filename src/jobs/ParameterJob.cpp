// The parameter write job: two parts, each in its own bus session, with the checks that keep one
// part's values off the other part's controllers, a backup before the first write, and the
// controllers' own word on every value at the end.
#include "ParameterJob.h"

#include <QStringList>

#include "BusSession.h"
#include "EtherCatWrapper.h"
#include "ParameterBackup.h"
#include "ParameterFile.h"
#include "RobotLayout.h"

namespace {

using RobotLayout::armAloneSlaves;
using RobotLayout::armAxes;
using RobotLayout::platformAxes;
using RobotLayout::robotSlaves;

const QString kArm = RobotLayout::armSetup();
const QString kPlatform = RobotLayout::platformSetup();

// The texts the operator knows from every earlier version of the tool.
const QString kNoConnection
    = QStringLiteral("No Connection! \nIf the arm is powered on, try again!");
const QString kError = RobotLayout::errorText();
const QString kShipped = RobotLayout::shippedParameters();

// "arm" or "platform", as the operator's texts name the parts.
QString partWord(const QString& part)
{
    return part == kArm ? RobotLayout::armWord() : RobotLayout::platformWord();
}

// "axis 3: 4, 5; axis 4: 248"
QString unconfirmedList(const QMap<int, QList<int>>& unconfirmed)
{
    QStringList axes;
    for (auto it = unconfirmed.cbegin(); it != unconfirmed.cend(); ++it) {
        QStringList types;
        for (int type : it.value())
            types.append(QString::number(type));
        axes.append(
            QStringLiteral("axis %1: %2").arg(it.key()).arg(types.join(QStringLiteral(", "))));
    }
    return axes.join(QStringLiteral("; "));
}

void closeSession(EtherCatWrapper& ecat)
{
    if (ecat.isEthercatRunning())
        ecat.StopEthercat();
}

}

ParameterJob::ParameterJob(QObject* parent)
    : BusJob(parent)
{
    qRegisterMetaType<ParameterOutcome>();
}

void ParameterJob::setInterface(const QString& eth)
{
    eth_ = eth;
}

void ParameterJob::setFile(const QString& file)
{
    file_ = file;
}

void ParameterJob::setParts(bool arm, bool platform)
{
    arm_ = arm;
    platform_ = platform;
}

void ParameterJob::work()
{
    runWithReadOut(eth_);
}

QString ParameterJob::stopQuestion(const JobProgress& now) const
{
    if (!now.writing)
        return QString();
    return now.part == QLatin1String("arm")
        ? QStringLiteral("The arm parameters are being written.\nQuit once the arm is written? "
                         "The platform keeps its parameters.")
        : QStringLiteral("The platform parameters are being written.\nQuit once they are "
                         "written?");
}

ParameterOutcome ParameterJob::run(const ParameterRequest& request)
{
    ParameterOutcome outcome;
    {
        BusSession::Lock session(request.eth);
        wire_.restart();
        writing_ = false;
        if (session.held()) {
            runParts(request, outcome);
        } else {
            refuseBoth(outcome, session.refusal());
        }
    }
    leaveRecord(JobRecord::fromParameters(
        outcome, recordContext(JobRecord::parametersJob, request.eth), request.file));
    emit finished(outcome);
    return outcome;
}

ParameterOutcome ParameterJob::runWithReadOut(const QString& eth)
{
    ParameterOutcome outcome;
    if (file_ != kShipped) {
        ParameterFile file(file_);
        outcome.fileProblem = file.unusable();
        if (outcome.fileProblem.isEmpty())
            outcome.refusedEntries = file.refusals();
        if (!outcome.fileProblem.isEmpty() || !outcome.refusedEntries.isEmpty()) {
            // Said once, by the caller, with the entries: no part began.
            for (ParameterPartOutcome* part : {&outcome.arm, &outcome.platform}) {
                part->result = ParameterPartOutcome::Result::Refused;
                part->reason = QStringLiteral("the file cannot be applied whole");
            }
            outcome.arm.part = kArm;
            outcome.platform.part = kPlatform;
            emit finished(outcome);
            return outcome;
        }
    }
    {
        BusSession::Lock session(eth);
        wire_.restart();
        writing_ = false;
        if (session.held()) {
            outcome.readOutRan = true;
            outcome.readOut = readOut(eth, false);
            // The flow goes on after a failed read-out: each part then refuses to write on start
            // numbers nobody can vouch for, and says so.
            if (!outcome.readOut.ok)
                emit status(outcome.readOut.failure);
            ParameterRequest request;
            request.eth = eth;
            request.readOutOk = outcome.readOut.ok;
            request.Arm1Start = outcome.readOut.Arm1Start();
            request.PlatformStart = outcome.readOut.PlatformStart();
            request.PlatformSlaveCount = outcome.readOut.PlatformSlaveCount;
            request.file = file_;
            request.arm = arm_;
            request.platform = platform_;
            request.armBehind = outcome.readOut.arm.behind(requiredVersion_);
            request.platformBehind = outcome.readOut.platform.behind(requiredVersion_);
            runParts(request, outcome);
        } else {
            outcome.readOut.failure = session.refusal();
            refuseBoth(outcome, session.refusal());
        }
    }
    leaveRecord(
        JobRecord::fromParameters(outcome, recordContext(JobRecord::parametersJob, eth), file_));
    emit finished(outcome);
    return outcome;
}

void ParameterJob::setRequiredVersion(const QString& version)
{
    requiredVersion_ = version;
}

void ParameterJob::refuseVersion(
    ParameterPartOutcome& part, const QString& name, const QStringList& behind)
{
    part.part = name;
    part.behind = behind;
    refuse(part, ParameterPartOutcome::Result::Refused,
        behind.join(QStringLiteral("; "))
            + QStringLiteral(". The parameter set belongs to firmware %1; after Write Firmware "
                             "the robot runs it only once it has been power-cycled.")
                  .arg(requiredVersion_));
}

void ParameterJob::refuseBoth(ParameterOutcome& outcome, const QString& reason)
{
    outcome.arm.part = kArm;
    outcome.platform.part = kPlatform;
    refuse(outcome.arm, ParameterPartOutcome::Result::Refused, reason);
    refuse(outcome.platform, ParameterPartOutcome::Result::Refused, reason);
}

void ParameterJob::runParts(const ParameterRequest& request, ParameterOutcome& outcome)
{
    armNote.clear();
    // A part writes only on a start number that is not 0, so this is never fewer than the parts
    // that will be written: the progress cannot reach its end before they are.
    step_ = 0;
    steps_ = (request.arm && request.Arm1Start != 0 ? 1 : 0)
        + (request.platform && request.PlatformStart != 0 ? 1 : 0);
    // A stop asked for during the read-out leaves both parts untouched.
    if (stopRequested()) {
        outcome.stopped = true;
        outcome.arm.part = kArm;
        outcome.platform.part = kPlatform;
        return;
    }
    emit line(QStringLiteral("write parameter "));
    // One object serves both parts, one session after the other.
    EtherCatWrapper ecat;
    if (request.arm && !request.armBehind.isEmpty())
        refuseVersion(outcome.arm, kArm, request.armBehind);
    else if (request.arm)
        runArm(ecat, request, outcome);
    else
        outcome.arm.part = kArm;
    if (stopRequested()) {
        outcome.stopped = true;
        outcome.platform.part = kPlatform;
        return;
    }
    const int platformCount
        = outcome.countsRead ? outcome.PlatformSlaveCount : request.PlatformSlaveCount;
    if (request.platform && !request.platformBehind.isEmpty())
        refuseVersion(outcome.platform, kPlatform, request.platformBehind);
    else if (request.platform)
        runPlatform(ecat, request, platformCount, outcome.platform);
    else
        outcome.platform.part = kPlatform;
}

void ParameterJob::runArm(
    EtherCatWrapper& ecat, const ParameterRequest& request, ParameterOutcome& outcome)
{
    ParameterPartOutcome& part = outcome.arm;
    part.part = kArm;
    guarded(ecat, part, [&] {
        if (ecat.InitEtherCat(kArm, request.eth) != 0) {
            part.result = ParameterPartOutcome::Result::NoConnection;
            partStatus(part, kNoConnection);
            return;
        }
        outcome.countsRead = true;
        outcome.SlaveCount = ecat.GetAllSlaves();
        outcome.PlatformSlaveCount = ecat.GetPlatformSlaves();
        outcome.ArmSlaveCount = ecat.GetArmSlaves();
        // Without five arm controllers there is no arm to write; the text stays as it is.
        if (outcome.ArmSlaveCount == armAxes)
            writePart(ecat, request, part);
    });
}

void ParameterJob::runPlatform(EtherCatWrapper& ecat, const ParameterRequest& request,
    int platformCount, ParameterPartOutcome& part)
{
    part.part = kPlatform;
    guarded(ecat, part, [&] {
        if (ecat.InitEtherCat(kPlatform, request.eth) != 0) {
            part.result = ParameterPartOutcome::Result::NoConnection;
            partStatus(part, kNoConnection);
            return;
        }
        // The count is the arm part's (or the read-out's): an arm alone ends here quietly.
        if (platformCount == platformAxes)
            writePart(ecat, request, part);
    });
}

void ParameterJob::guarded(
    EtherCatWrapper& ecat, ParameterPartOutcome& part, const std::function<void()>& work)
{
    try {
        work();
    } catch (EtherCatException* e) {
        delete e;
        part.result = ParameterPartOutcome::Result::Failed;
        partStatus(part, kError);
    } catch (...) {
        part.result = ParameterPartOutcome::Result::Failed;
        partStatus(part, kError);
    }
    closeSession(ecat);
}

QString ParameterJob::refusal(
    EtherCatWrapper& ecat, const ParameterRequest& request, const QString& part) const
{
    // The start numbers are the read-out's: after a failed one they may be 0, or left from another
    // bus, and would put this part's values (motor currents among them) on the wrong controllers.
    if (!request.readOutOk)
        return QStringLiteral("The bus could not be read out.");
    const bool arm = part == kArm;
    const int start = arm ? request.Arm1Start : request.PlatformStart;
    const int axes = arm ? armAxes : platformAxes;
    if (start == 0)
        return arm ? QStringLiteral("No arm controller was found.")
                   : QStringLiteral("No platform controller was found.");
    if (start < 1 || start + axes - 1 > ecat.GetAllSlaves())
        return QStringLiteral("Slaves %1 to %2 are not on the bus.")
            .arg(start)
            .arg(start + axes - 1);
    for (int slave = start; slave < start + axes; ++slave) {
        const QString name = ecat.GetSlaveName(quint8(slave));
        if (arm && !RobotLayout::isArmController(name))
            return QStringLiteral("Slave %1 is \"%2\", not an arm controller.")
                .arg(slave)
                .arg(name);
        if (!arm && !RobotLayout::isPlatformController(name))
            return QStringLiteral("Slave %1 is \"%2\", not a platform controller.")
                .arg(slave)
                .arg(name);
    }
    // The loader reads arm axis n from the slave the wiring puts it on, and knows only the robot's
    // two wirings; the writer writes it to Arm1Start + n - 1. Both must be one controller, or the
    // backup would not be of what is written.
    const int slaves = ecat.GetAllSlaves();
    if (arm && slaves != armAloneSlaves && slaves != robotSlaves)
        return QStringLiteral("A bus of %1 slaves is not wired as the robot is.").arg(slaves);
    if (arm && ecat.GetArmOffset() + 1 != start)
        return QStringLiteral("Arm axis 1 is slave %1, not slave %2 as the wiring has it.")
            .arg(start)
            .arg(ecat.GetArmOffset() + 1);
    return QString();
}

void ParameterJob::writePart(
    EtherCatWrapper& ecat, const ParameterRequest& request, ParameterPartOutcome& part)
{
    const QString reason = refusal(ecat, request, part.part);
    if (!reason.isEmpty()) {
        refuse(part, ParameterPartOutcome::Result::Refused, reason);
        return;
    }
    // Until a part is being written another master on the wire stops the job: its replies could
    // be taken for the controllers' answers to what this one writes.
    if (!writing_ && !wire_.refusal(request.eth).isEmpty()) {
        refuse(part, ParameterPartOutcome::Result::Refused, wire_.refusal(request.eth));
        return;
    }

    // A file from outside was checked whole before the bus was taken; what is loaded is checked
    // again, so that a file changed since cannot slip entries past the check.
    ParameterFile file(request.file);
    if (request.file != kShipped && (!file.error().isEmpty() || !file.refusals().isEmpty())) {
        refuse(part, ParameterPartOutcome::Result::Refused,
            QStringLiteral("%1 cannot be applied whole.").arg(request.file));
        return;
    }

    const QString word = partWord(part.part);
    emit status(QStringLiteral("read %1 parameters").arg(word));
    const EtherCatWrapper::Devices device
        = part.part == kArm ? EtherCatWrapper::Arm1 : EtherCatWrapper::Platform;
    ecat.LoadConfiguration(file, 0, device, request.PlatformStart);
    const QMap<QString, EtherCatParameter> loaded = ecat.GetConfigParameters();
    if (loaded.isEmpty()) {
        refuse(part, ParameterPartOutcome::Result::Refused,
            QStringLiteral("%1 holds no %2 parameters.").arg(request.file, word));
        return;
    }

    const QDateTime taken
        = request.backupTime.isValid() ? request.backupTime : QDateTime::currentDateTimeUtc();
    QString error;
    part.backupPath = ParameterBackup::save(loaded, part.part, taken, &error);
    if (part.backupPath.isEmpty()) {
        refuse(part, ParameterPartOutcome::Result::BackupFailed,
            QStringLiteral("The backup could not be saved: ") + error);
        return;
    }
    emit line(QStringLiteral("backup of the %1 parameters: %2").arg(word, part.backupPath));

    int shownAxis = -1;
    JobProgress now;
    now.part = word;
    now.step = ++step_;
    now.steps = steps_;
    now.writing = true;
    const auto onEntry = [this, &now, &shownAxis, &word](int axis, int done, int total) {
        if (axis != shownAxis) {
            shownAxis = axis;
            emit status(axis == 0
                    ? QStringLiteral("write %1 axes 1 to %2").arg(word).arg(platformAxes)
                    : QStringLiteral("write %1 axis %2").arg(word).arg(axis));
        }
        now.axis = axis;
        now.done = done;
        now.total = total;
        emit progress(now);
    };
    writing_ = true;
    ParameterWriteReport report
        = ecat.WriteParameters(part.part, request.Arm1Start, request.PlatformStart, onEntry);
    emit status(QStringLiteral("read back %1 parameters").arg(word));
    ecat.ReadBackParameters(part.part, request.Arm1Start, request.PlatformStart, report);
    // A controller that refused a state takes no command; its AL status code says why.
    QStringList refusals;
    const int first = part.part == kArm ? request.Arm1Start : request.PlatformStart;
    for (auto it = report.unconfirmed.cbegin(); it != report.unconfirmed.cend(); ++it) {
        const QString why = ecat.GetStateRefusal(quint8(it.key()));
        if (!why.isEmpty())
            refusals.append(
                QStringLiteral("%1 axis %2 %3").arg(word).arg(it.key() - first + 1).arg(why));
    }
    ecat.StopEthercat();
    conclude(request, report, refusals, part);
    if (part.result == ParameterPartOutcome::Result::Written) {
        now.stepComplete = true;
        emit progress(now);
    }
    const QString otherMaster = wire_.notice(request.eth);
    if (!otherMaster.isEmpty()) {
        emit line(otherMaster);
        part.reason += (part.reason.isEmpty() ? QString() : QStringLiteral("\n")) + otherMaster;
    }
}

void ParameterJob::conclude(const ParameterRequest& request, const ParameterWriteReport& report,
    const QStringList& refusals, ParameterPartOutcome& part)
{
    const bool arm = part.part == kArm;
    if (report.refused) {
        refuse(part, ParameterPartOutcome::Result::Refused,
            QStringLiteral("Its slaves are not on the bus."));
        return;
    }
    const int first = arm ? request.Arm1Start : request.PlatformStart;
    part.confirmed = report.confirmed;
    part.differences = report.differences;
    for (auto it = report.unconfirmed.cbegin(); it != report.unconfirmed.cend(); ++it)
        part.unconfirmed.insert(it.key() - first + 1, it.value());

    const QString word = partWord(part.part);
    if (part.unconfirmed.isEmpty()) {
        part.result = ParameterPartOutcome::Result::Written;
        partStatus(part, QStringLiteral("%1 parameters are written!").arg(word));
    } else {
        part.result = ParameterPartOutcome::Result::Unconfirmed;
        part.reason = refusals.join(QLatin1Char('\n'));
        const QString list = unconfirmedList(part.unconfirmed)
            + (refusals.isEmpty() ? QString() : QLatin1Char('\n') + part.reason);
        if (arm)
            armNote = QStringLiteral("arm parameters not confirmed: ") + list;
        partStatus(part, QStringLiteral("%1 parameters not confirmed!\n").arg(word) + list);
        emit line(QStringLiteral("%1 parameters not confirmed: ").arg(word) + list);
    }
    emit line(
        arm ? QStringLiteral("arm process terminated") : QStringLiteral("process terminated"));
}

void ParameterJob::refuse(
    ParameterPartOutcome& part, ParameterPartOutcome::Result result, const QString& reason)
{
    part.result = result;
    part.reason = reason;
    const QString word = partWord(part.part);
    if (part.part == kArm)
        armNote = QStringLiteral("arm parameters are not written: ") + reason;
    partStatus(part, QStringLiteral("%1 parameters are not written!\n").arg(word) + reason);
    emit line(QStringLiteral("%1 parameters are not written: ").arg(word) + reason);
}

void ParameterJob::partStatus(const ParameterPartOutcome& part, const QString& text)
{
    if (part.part == kArm || armNote.isEmpty())
        emit status(text);
    else
        emit status(armNote + QLatin1Char('\n') + text.simplified());
}

const char* ParameterPartOutcome::resultName(Result result)
{
    using R = ParameterPartOutcome::Result;
    switch (result) {
    case R::NotRun:
        return "not-run";
    case R::NoConnection:
        return "no-connection";
    case R::Refused:
        return "refused";
    case R::BackupFailed:
        return "backup-failed";
    case R::Failed:
        return "failed";
    case R::Unconfirmed:
        return "unconfirmed";
    case R::Written:
        return "written";
    }
    return "unknown";
}
