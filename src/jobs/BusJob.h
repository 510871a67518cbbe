// The common ground of the operator's flows ("Check Version", "Write Firmware", "Write
// Parameters") as jobs: a job runs its flow on a worker thread of its own, holds the bus session
// for the whole run, and reports through signals: lines for standard output, texts for the
// operator, progress, and a question when it needs the operator's consent. Each job ends with a
// `finished` signal of its own that carries its outcome by value.
//
// A job touches no widget and shows no box, so the window and the command line run the same jobs:
//
//   FirmwareJob job(eth, version);
//   connect(&job, &BusJob::status, label, &QLabel::setText);
//   connect(&job, &BusJob::consentNeeded, this, [&job](const QString& title, const QString& q) {
//       job.answer(Messages::question(title, q));
//   });
//   connect(&job, &FirmwareJob::finished, this, &Window::onFinished);
//   job.start();
//
// The signals are emitted on the worker thread; receivers on another thread get them queued.
// A job can also be run on the caller's thread (its `run`); a consent question is then answered
// only from a direct connection, and counts as No without one.
#ifndef BUSJOB_H
#define BUSJOB_H

#include <QJsonObject>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "JobRecord.h"
#include "ReadOut.h"

// How far a job has come. The job's work is a row of steps (the axes it writes, or the parts);
// within a step, `done` of `total` units (bytes of an image, parameter entries).
struct JobProgress
{
    // "arm" or "platform"; empty when the step belongs to no part.
    QString part;
    // Axis of the part (1-based); 0 for the whole part.
    int axis = 0;
    qint64 done = 0;
    qint64 total = 0;
    // The step (1-based) among `steps`; 0 of 0 before the first.
    int step = 0;
    int steps = 0;
    // The step ended successfully: only then does it count in full.
    bool stepComplete = false;
    // The step changes a controller (firmware or parameters), as opposed to reading it.
    bool writing = false;

    // Returns the share of the whole job in thousandths: the steps before this one, and this one's
    // share of units; 1000 only when the last step is complete.
    int perMille() const;
};

Q_DECLARE_METATYPE(JobProgress)

class BusJob : public QObject
{
    Q_OBJECT

public:
    explicit BusJob(QObject* parent = nullptr);
    // The worker runs the derived job's work(), so it must have ended before any part of the job
    // is destroyed; a job destroyed while its worker runs ends the program with a message. A
    // started job is therefore owned through Owned alone, which stops it first.
    ~BusJob() override;

    // Deletes a job that may be running: asks it to stop, answers an open question with No,
    // waits until the worker has ended (the step in progress, an axis being written, is always
    // completed), and only then destroys it.
    struct StopAndDelete
    {
        void operator()(BusJob* job) const;
    };
    // The one owner of a job started on its worker (start()).
    using Owned = std::unique_ptr<BusJob, StopAndDelete>;

    // Starts the job's flow on a worker thread. Returns false when it was started before.
    bool start();
    // Returns true from start until the worker has ended.
    bool isRunning() const;
    // Waits until the worker has ended; returns at once when none was started.
    void wait();

    // Asks the job to stop after the step in progress; an open question counts as No.
    void requestStop();
    bool stopRequested() const;
    // The operator's answer to the last consentNeeded.
    void answer(bool yes);

    // Returns the question to ask before the operator quits while the job is at `now`; empty when
    // quitting can simply wait for the step in progress.
    virtual QString stopQuestion(const JobProgress& now) const;

    // The tester the job's service record names; when none is given, JobRecord::tester decides.
    void setTester(const QString& tester);
    // The job's name in its record, for a job that serves more than one command (a restore is a
    // parameter write); the job's own name when empty.
    void setRecordJob(const QString& job);

    // The service record the job left at its end (ServiceRecord.h), before its finished signal.
    struct Recorded
    {
        QJsonObject record;
        // The file it was appended to; empty when it could not be, with the reason in `error`.
        QString file;
        QString error;
    };
    Recorded recorded() const;

signals:
    // A line for standard output.
    void line(const QString& text);
    // A text for the operator, replacing the previous one.
    void status(const QString& text);
    void progress(const JobProgress& progress);
    // The job waits for answer() before it goes on.
    void consentNeeded(const QString& title, const QString& question);
    // The job's service record was appended to `file`, or could not be written (`error`).
    void recordLeft(const QString& file, const QString& error);

protected:
    // The flow, on the worker thread; it emits its own finished signal at its end.
    virtual void work() = 0;

    // Emits consentNeeded and waits for the answer. Returns true for Yes; false for No, after
    // requestStop, or on the caller's thread when no direct connection answered at once.
    bool askConsent(const QString& title, const QString& question);

    // The bus read-out every flow starts with, on an interface; see ReadOut.h. With `reportSteps`
    // each axis read is a step of the job's progress.
    ReadOutResult readOut(const QString& eth, bool reportSteps);

    // What the job's record says beside its outcome; `job` is the job's own name.
    JobRecord::Context recordContext(const QString& job, const QString& eth) const;
    // Appends `record` to the service records and tells recordLeft where it went. A record that
    // cannot be written is kept in recorded() with the reason, for the caller to say; it never
    // changes the job's outcome, whose work on the bus is done.
    void leaveRecord(const QJsonObject& record);

private:
    std::thread worker_;
    std::atomic_bool running_{false};
    std::atomic_bool stop_{false};
    std::atomic_bool onWorker_{false};
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    std::optional<bool> answer_;
    QString tester_;
    QString recordJob_;
    Recorded recorded_;
};

#endif // BUSJOB_H
