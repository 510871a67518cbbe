// The diagnosis of a bus that loses frames, as a job that the window ("Details…") and
// `zuvianctl diag` and `graph` share. It works in two steps, because every enumeration clears the
// slaves' receive error counters and would wipe what a failed job left behind:
//
//  1. Before anything else touches the bus, every slave's counters and DL status are read by its
//     position (auto-increment addressing, nothing written): the errors since the last job's
//     enumeration, the lost links and forwarded errors since power-on.
//  2. The bus is enumerated and kept busy for an interval with broadcast reads of the AL status;
//     the counters are read again and their increase is what the interval's traffic met. The
//     round trips of those reads show the PC's part.
//
// Apart from the enumeration, only `clear` writes the counters (after the enumeration, so that
// the ones it leaves start from zero too).
#ifndef BUSDIAGNOSIS_H
#define BUSDIAGNOSIS_H

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include "BusJob.h"
#include "ErrorCounters.h"
#include "NetworkCard.h"

// The round trips of the interval's reads, in microseconds.
struct RoundTrips
{
    int sent = 0;
    int unanswered = 0;
    // Replies that some slaves did not process: a link was down, or slaves left the bus.
    int incomplete = 0;
    long long medianUs = 0;
    long long p99Us = 0;
    long long worstUs = 0;

    // Summarizes `samples` (the round trips of the answered reads).
    static RoundTrips of(QList<long long> samples, int unanswered, int incomplete);
};

struct DiagnosisOutcome
{
    // True when the bus was reached and measured; false with the reason in `failure`.
    bool ok = false;
    QString failure;
    QString eth;
    int seconds = 0;
    bool cleared = false;

    // What the last job left (read before the enumeration), the counters around the interval
    // and their increase.
    ErrorCounters::Snapshot before;
    ErrorCounters::Snapshot start;
    ErrorCounters::Snapshot end;
    ErrorCounters::Snapshot measured;
    QList<ErrorCounters::Hop> hops;
    QList<ErrorCounters::Link> links;
    QList<ErrorCounters::Link> beforeLinks;
    // The slaves the enumeration found: names and configured station addresses.
    QStringList names;
    QList<int> addresses;

    RoundTrips roundTrips;
    NetworkCard::Facts host;
    // Carrier changes and damaged frames of the PC's interface during the interval; -1 unknown.
    long long hostCarrierChanges = -1;
    long long hostCrcErrors = -1;

    // The report for a person.
    QString report;

    // A link shows errors or lost links, or replies went missing: the exit status is 1.
    bool troubled() const
    {
        return !links.isEmpty() || !beforeLinks.isEmpty() || roundTrips.unanswered > 0;
    }
};

Q_DECLARE_METATYPE(DiagnosisOutcome)

class BusDiagnosis : public BusJob
{
    Q_OBJECT

public:
    // The interval lasts `seconds` on the master's clock.
    explicit BusDiagnosis(
        const QString& eth, int seconds = 10, bool clear = false, QObject* parent = nullptr);

    // Runs the diagnosis on the caller's thread; returns (and emits with finished) what it found.
    DiagnosisOutcome run();

    // The report of `outcome` for a person.
    static QString reportOf(const DiagnosisOutcome& outcome);
    // Frames the master has sent since the program started: a job that changed this has been
    // on the bus.
    static quint32 framesSent();

signals:
    void finished(const DiagnosisOutcome& outcome);

protected:
    void work() override;

private:
    void diagnose(DiagnosisOutcome& outcome);
    void measure(DiagnosisOutcome& outcome, int slaves);

    const QString eth_;
    const int seconds_;
    const bool clear_;
};

#endif // BUSDIAGNOSIS_H
