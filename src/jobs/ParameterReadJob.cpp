// The backup and the report: a read-out, then each part's set loaded with the controllers' values.
#include "ParameterReadJob.h"

#include "BusSession.h"
#include "EtherCatWrapper.h"
#include "ParameterBackup.h"
#include "ParameterFile.h"

namespace {

const QString kArm = RobotLayout::armSetup();
const QString kPlatform = RobotLayout::platformSetup();

// Opens a session for `part`, loads its set from `file` with the values the controllers hold,
// and closes the session again. Returns an empty text, or why the set could not be read.
QString loadPart(EtherCatWrapper& ecat, const QString& eth, const QString& part,
    const QString& file, const ReadOutResult& readOut)
{
    const bool connected = ecat.InitEtherCat(part, eth) == 0;
    if (connected) {
        const EtherCatWrapper::Devices device
            = part == kArm ? EtherCatWrapper::Arm1 : EtherCatWrapper::Platform;
        ecat.LoadConfiguration(file, 0, device, readOut.PlatformStart());
    }
    if (ecat.isEthercatRunning())
        ecat.StopEthercat();
    if (!connected)
        return QStringLiteral("no connection for the %1 part").arg(part);
    if (ecat.GetConfigParameters().isEmpty())
        return QStringLiteral("%1 holds no %2 parameters").arg(file, part);
    return QString();
}

}

bool ParameterReadOutcome::differs() const
{
    for (const ParameterReadPart& part : parts) {
        if (part.differs)
            return true;
    }
    return false;
}

QString ParameterReadOutcome::html() const
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                                  "<title>Zuvian parameter report</title>\n</head>\n<body>\n"
                                  "<h1>Zuvian parameter report</h1>\n");
    for (const ParameterReadPart& part : parts)
        html += QStringLiteral("<h2>%1</h2>\n%2\n").arg(part.part, part.html);
    html += QStringLiteral("</body>\n</html>\n");
    return html;
}

ParameterReadJob::ParameterReadJob(Kind kind, const QString& eth, QObject* parent)
    : BusJob(parent)
    , kind_(kind)
    , eth_(eth)
{
    qRegisterMetaType<ParameterReadOutcome>();
}

void ParameterReadJob::setFile(const QString& file)
{
    file_ = file;
}

void ParameterReadJob::setParts(bool arm, bool platform)
{
    arm_ = arm;
    platform_ = platform;
}

void ParameterReadJob::work()
{
    run();
}

ParameterReadOutcome ParameterReadJob::run()
{
    ParameterReadOutcome outcome;
    read(outcome);
    const bool backup = kind_ == Kind::Backup;
    leaveRecord(JobRecord::fromParameterRead(outcome,
        recordContext(backup ? JobRecord::backupJob : JobRecord::reportJob, eth_), arm_, platform_,
        backup ? RobotLayout::shippedParameters() : file_));
    emit finished(outcome);
    return outcome;
}

void ParameterReadJob::read(ParameterReadOutcome& outcome)
{
    outcome.taken = QDateTime::currentDateTimeUtc();
    bool armInFile = true;
    bool platformInFile = true;
    if (kind_ == Kind::Report) {
        ParameterFile parameterFile(file_);
        outcome.reason = parameterFile.unusable();
        if (!outcome.reason.isEmpty()) {
            outcome.failure = ParameterReadOutcome::Failure::File;
            return;
        }
        armInFile = parameterFile.hasArm();
        platformInFile = parameterFile.hasPlatform();
    }

    BusSession::Lock session(eth_);
    if (!session.held()) {
        outcome.failure = ParameterReadOutcome::Failure::Bus;
        outcome.reason = session.refusal();
        return;
    }
    outcome.readOut = readOut(eth_, false);
    outcome.readOutRan = true;
    if (!outcome.readOut.ok) {
        outcome.failure = ParameterReadOutcome::Failure::Bus;
        outcome.reason = outcome.readOut.failure;
        return;
    }
    QStringList parts;
    if (arm_ && armInFile && outcome.readOut.arm.complete())
        parts.append(kArm);
    if (platform_ && platformInFile && outcome.readOut.platform.complete())
        parts.append(kPlatform);
    readParts(parts, outcome);
    if (outcome.failure == ParameterReadOutcome::Failure::None && outcome.parts.isEmpty()) {
        outcome.failure = ParameterReadOutcome::Failure::Bus;
        outcome.reason = QStringLiteral("no complete arm or platform was found");
    }
}

void ParameterReadJob::readParts(const QStringList& parts, ParameterReadOutcome& outcome)
{
    // The backup keeps what the shipped set names; the report compares with the file given.
    const QString file = kind_ == Kind::Backup ? RobotLayout::shippedParameters() : file_;
    for (const QString& name : parts) {
        emit status(QStringLiteral("read the %1 parameters").arg(name));
        EtherCatWrapper ecat;
        const QString problem = loadPart(ecat, eth_, name, file, outcome.readOut);
        if (!problem.isEmpty()) {
            outcome.failure = ParameterReadOutcome::Failure::Bus;
            outcome.reason = problem;
            return;
        }
        ParameterReadPart part;
        part.part = name;
        part.entries = ecat.GetConfigParameters();
        if (kind_ == Kind::Backup) {
            QString error;
            part.backupPath = ParameterBackup::save(part.entries, name, outcome.taken, &error);
            if (part.backupPath.isEmpty()) {
                outcome.failure = ParameterReadOutcome::Failure::Save;
                outcome.reason = QStringLiteral("backup of %1: %2").arg(name, error);
                return;
            }
        } else {
            part.differs = ecat.CompareParameters(name);
            part.html = ecat.GetEtherCatParametersInHtml();
        }
        outcome.parts.append(part);
    }
}
