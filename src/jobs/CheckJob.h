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
};

Q_DECLARE_METATYPE(CheckOutcome)

class CheckJob : public BusJob
{
    Q_OBJECT

public:
    explicit CheckJob(const QString& eth, QObject* parent = nullptr);
    ~CheckJob() override;

    // Runs the check on the caller's thread; returns (and emits with finished) what it found.
    CheckOutcome run();

signals:
    void finished(const CheckOutcome& outcome);

protected:
    void work() override;

private:
    const QString eth_;
};

#endif // CHECKJOB_H
