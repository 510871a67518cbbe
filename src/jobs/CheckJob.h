// "Check Version" as a job: the bus read-out, and the list of every axis with its version and
// controller name that the operator is shown.
#ifndef CHECKJOB_H
#define CHECKJOB_H

#include "BusJob.h"

struct CheckOutcome
{
    ReadOutResult readOut;
    // The list for the operator (arm lines, then platform lines); empty when the read-out failed.
    QString versions;
    // One line for the operator after the list was shown.
    QString summary;
    // The axes that answered with another version than the one asked for, as
    // "arm axis 3 runs 1.40, not 1.48"; empty when no version was asked for.
    QStringList behind;
    // The axes of a complete part that gave no version, as "arm axis 2 (slave 3)".
    QStringList silent;

    // True when the read-out ran but neither part could be read: nothing was checked.
    bool nothingRead() const
    {
        return readOut.ok && !readOut.arm.complete() && !readOut.platform.complete();
    }
};

Q_DECLARE_METATYPE(CheckOutcome)

class CheckJob : public BusJob
{
    Q_OBJECT

public:
    // With a `carried` version (the one the program's images hold), the summary names every axis
    // that runs another one: after a power cycle that is an update that did not take.
    explicit CheckJob(
        const QString& eth, const QString& carried = QString(), QObject* parent = nullptr);

    // Runs the check on the caller's thread; returns (and emits with finished) what it found.
    CheckOutcome run();

signals:
    void finished(const CheckOutcome& outcome);

protected:
    void work() override;

private:
    const QString eth_;
    const QString carried_;
};

#endif // CHECKJOB_H
