// The version check: a read-out whose every axis is a step, and its list.
#include "CheckJob.h"

#include "BusSession.h"
#include "OtherMaster.h"

namespace {

// An axis of a complete part that gave no version.
struct SilentAxis
{
    QString part;
    int axis;
    const AxisReading* reading;
};

QList<SilentAxis> silentAxes(const ReadOutResult& readOut)
{
    QList<SilentAxis> silent;
    for (const PartReading* part : {&readOut.arm, &readOut.platform}) {
        for (int k = 0; k < part->axes.size(); ++k) {
            if (!part->axes.at(k).answered)
                silent.append({part->part, k + 1, &part->axes.at(k)});
        }
    }
    return silent;
}

// "Versions read." and the axes that gave none, if any, with the state they refused.
QString summaryOf(const ReadOutResult& readOut)
{
    if (!readOut.arm.complete() && !readOut.platform.complete())
        return QStringLiteral("No arm or platform axis could be read.");
    QStringList silent;
    for (const SilentAxis& axis : silentAxes(readOut)) {
        const QString& refusal = axis.reading->refusal;
        silent.append(QStringLiteral("%1 axis %2").arg(axis.part).arg(axis.axis)
            + (refusal.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(refusal)));
    }
    if (silent.isEmpty())
        return QStringLiteral("Versions read.");
    return QStringLiteral("Versions read; no reply from ") + silent.join(QStringLiteral(", "))
        + QLatin1Char('.');
}

// "arm axis 2 (slave 3)" for each axis of a complete part that gave no version.
QStringList silentOf(const ReadOutResult& readOut)
{
    QStringList silent;
    for (const SilentAxis& axis : silentAxes(readOut))
        silent.append(QStringLiteral("%1 axis %2 (slave %3)")
                          .arg(axis.part)
                          .arg(axis.axis)
                          .arg(axis.reading->position));
    return silent;
}

// "arm axis 3 runs 1.40, not 1.48" for each axis that answered with a version other than `carried`.
QStringList behindOf(const ReadOutResult& readOut, const QString& carried)
{
    return readOut.arm.behind(carried) + readOut.platform.behind(carried);
}

}

CheckJob::CheckJob(const QString& eth, const QString& carried, QObject* parent)
    : BusJob(parent)
    , eth_(eth)
    , carried_(carried)
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
        outcome.silent = silentOf(outcome.readOut);
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
