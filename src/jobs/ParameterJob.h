// "Write Parameters" as a job: the arm's parameter set and then the wheel base's are loaded from a
// parameter file, backed up, written into the controllers, stored and read back. The job touches
// no widget and shows no box: it reports through its signals and its outcome, and the caller shows
// them. It runs on the caller's thread for now; nothing in it is tied to that thread.
//
//   ParameterJob job;
//   connect(&job, &ParameterJob::status, label, &QLabel::setText);
//   const ParameterOutcome outcome = job.run(request);
//
// One part never stops the other: a part that fails, is refused or finds no controllers leaves the
// next part to run.
#ifndef PARAMETERJOB_H
#define PARAMETERJOB_H

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>

class EtherCatWrapper;
struct ParameterWriteReport;

// What the job needs to know; the start numbers and the success come from the read-out the caller
// ran just before.
struct ParameterRequest
{
    QString eth;
    QString file = QStringLiteral(":/res/param.xml");
    bool readOutOk = false;
    int Arm1Start = 0;
    int PlatformStart = 0;
    // The wheel-base count of the read-out, used when the arm part does not count anew.
    int PlatformSlaveCount = 0;
    // Names the backups; the current time when not valid.
    QDateTime backupTime;
};

// What happened to one part ("Arm1" or "Platform").
struct ParameterPartOutcome
{
    enum class Result {
        NotRun,       // the controllers' count did not fit the part: nothing to do
        NoConnection, // the bus session did not open
        Refused,      // nothing written: see reason
        BackupFailed, // nothing written: the backup could not be saved (reason)
        Failed,       // an exception ended the part
        Unconfirmed,  // written, but not every command or read-back was confirmed
        Written       // written, stored and read back
    };

    QString part;
    Result result = Result::NotRun;
    QString reason;
    QString backupPath;
    int confirmed = 0;
    // Axis of the part (1-based) to the parameter numbers that were not confirmed.
    QMap<int, QList<int>> unconfirmed;
};

struct ParameterOutcome
{
    ParameterPartOutcome arm;
    ParameterPartOutcome platform;
    // The counts of the arm part's session, when it opened one (countsRead).
    bool countsRead = false;
    int SlaveCount = 0;
    int PlatformSlaveCount = 0;
    int ArmSlaveCount = 0;
};

Q_DECLARE_METATYPE(ParameterOutcome)

class ParameterJob : public QObject
{
    Q_OBJECT

public:
    explicit ParameterJob(QObject* parent = nullptr);

    // Runs both parts and returns (and emits with finished) what happened to each.
    ParameterOutcome run(const ParameterRequest& request);

signals:
    // A line for standard output.
    void line(const QString& text);
    // A text for the operator, replacing the previous one.
    void status(const QString& text);
    // Before each entry of a part is written: the part's axis (0 for all four wheel-base axes),
    // entries written so far, entries to write.
    void progress(const QString& part, int axis, int done, int total);
    void finished(const ParameterOutcome& outcome);

private:
    void runArm(EtherCatWrapper& ecat, const ParameterRequest& request, ParameterOutcome& outcome);
    void runPlatform(EtherCatWrapper& ecat, const ParameterRequest& request, int platformCount,
        ParameterPartOutcome& part);
    // Runs one part's `work`; an exception ends the part with "Error! Try again!". The session
    // is closed afterwards whatever happened.
    void guarded(
        EtherCatWrapper& ecat, ParameterPartOutcome& part, const std::function<void()>& work);
    // Loads, backs up, writes, stores and reads back one part on the open session.
    void writePart(
        EtherCatWrapper& ecat, const ParameterRequest& request, ParameterPartOutcome& part);
    // Returns why nothing may be written to the part on this session, or an empty text.
    QString refusal(
        EtherCatWrapper& ecat, const ParameterRequest& request, const QString& part) const;
    void conclude(const ParameterRequest& request, const ParameterWriteReport& report,
        ParameterPartOutcome& part);
    void refuse(
        ParameterPartOutcome& part, ParameterPartOutcome::Result result, const QString& reason);
    // Emits the text a part ends with. The platform's text replaces the arm's, as it always has,
    // unless the arm was not written in full: that stays in the first line.
    void partStatus(const ParameterPartOutcome& part, const QString& text);

    // One line on the arm part when it was refused or not confirmed; empty otherwise.
    QString armNote;
};

#endif // PARAMETERJOB_H
