// The version check: a read-out whose every axis is a step, and its list.
#include "CheckJob.h"

#include "BusSession.h"
#include "OtherMaster.h"

namespace {


// "Versions read." and the axes that gave none, if any.
QString summaryOf(const ReadOutResult& readOut)
{
    QStringList silent;
    for (const PartReading* part : {&readOut.arm, &readOut.platform}) {
        for (int k = 0; k < part->axes.size(); ++k) {
            const AxisReading& axis = part->axes.at(k);
            if (axis.answered)
                continue;
            silent.append(QStringLiteral("%1 axis %2").arg(part->part).arg(k + 1)
                + (axis.refusal.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(axis.refusal)));
        }
    }
    if (!readOut.arm.complete() && !readOut.platform.complete())
        return QStringLiteral("No arm or platform axis could be read.");
    if (silent.isEmpty())
        return QStringLiteral("Versions read.");
    return QStringLiteral("Versions read; no reply from ") + silent.join(QStringLiteral(", "))
        + QLatin1Char('.');
}

}

namespace {

// "arm axis 3 runs 1.40, not 1.48" for each axis that answered with a version other than `carried`.
QStringList behindOf(const ReadOutResult& readOut, const QString& carried)
{
    return readOut.arm.behind(carried) + readOut.platform.behind(carried);
}

}

CheckJob::CheckJob(const QString& eth, const QString& carried, QObject* parent)
    : BusJob(parent), eth_(eth), carried_(carried)
{
    qRegisterMetaType<CheckOutcome>();
}

CheckOutcome CheckJob::run()
{
    CheckOutcome outcome;
    QString otherMaster;
    {
        BusSession::Lock session(eth_);
        if (session.held()) {
            const OtherMaster wire;
            outcome.readOut = readOut(eth_, true);
            otherMaster = wire.notice(eth_);
        } else {
            outcome.readOut.failure = session.refusal();
        }
    }
    // A reading taken while another master worked the bus is said to be one.
    if (!otherMaster.isEmpty() && !outcome.readOut.ok)
        outcome.readOut.failure += QLatin1Char('\n') + otherMaster;
    if (outcome.readOut.ok) {
        outcome.versions = outcome.readOut.versionLines(true);
        outcome.summary = summaryOf(outcome.readOut);
        outcome.behind = behindOf(outcome.readOut, carried_);
        if (!outcome.behind.isEmpty()) {
            QString line = outcome.behind.join(QStringLiteral(", ")) + QLatin1Char('.');
            line[0] = line[0].toUpper();
            outcome.summary += QLatin1Char(' ') + line;
        }
        if (!otherMaster.isEmpty())
            outcome.summary += QLatin1Char('\n') + otherMaster;
        JobProgress done;
        done.step = done.steps = 1;
        done.stepComplete = true;
        emit progress(done);
    }
    leaveRecord(JobRecord::fromCheck(outcome, recordContext(JobRecord::checkJob, eth_)));
    emit finished(outcome);
    return outcome;
}

void CheckJob::work()
{
    run();
}
