// "Write Parameters" as a job: the arm's parameter set and then the wheel base's are loaded from a
// parameter file, backed up, written into the controllers, stored and read back. The job touches
// no widget and shows no box: it reports through its signals and its outcome, and the caller shows
// them.
//
//   ParameterJob job;                 // on a worker thread, with the read-out first:
//   job.setInterface(eth);
//   connect(&job, &BusJob::status, label, &QLabel::setText);
//   connect(&job, &ParameterJob::finished, this, &Window::onParametersWritten);
//   job.start();
//
//   const ParameterOutcome outcome = job.run(request);   // on the caller's thread, after its own
//                                                          // read-out
//
// One part never stops the other: a part that fails, is refused or finds no controllers leaves the
// next part to run. A stop request is honoured between the parts: a part that has begun is written
// to its end.
#ifndef PARAMETERJOB_H
#define PARAMETERJOB_H

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

#include <functional>

#include "BusJob.h"
#include "EtherCatParameter.h"
#include "OtherMaster.h"
#include "ParameterFile.h"
#include "RobotLayout.h"

class EtherCatWrapper;
struct ParameterWriteReport;

// What the job needs to know; the start numbers and the success come from the read-out the caller
// ran just before.
struct ParameterRequest
{
    QString eth;
    QString file = RobotLayout::shippedParameters();
    bool readOutOk = false;
    int Arm1Start = 0;
    int PlatformStart = 0;
    // The wheel-base count of the read-out, used when the arm part does not count anew.
    int PlatformSlaveCount = 0;
    // Names the backups; the current time when not valid.
    QDateTime backupTime;
    // The parts to write; a part not asked for stays NotRun and touches nothing.
    bool arm = true;
    bool platform = true;
    // Per part, the axes that run another firmware than the set is for; a part with any is
    // refused before its session opens.
    QStringList armBehind;
    QStringList platformBehind;
};

// What happened to one part ("Arm1" or "Platform").
struct ParameterPartOutcome
{
    enum class Result {
        NotRun, // the controllers' count did not fit the part: nothing to do
        NoConnection, // the bus session did not open
        Refused, // nothing written: see reason
        BackupFailed, // nothing written: the backup could not be saved (reason)
        Failed, // an exception ended the part
        Unconfirmed, // written, but not every command or read-back was confirmed
        Written // written, stored and read back
    };

    // The result as scripts and records name it: "not-run", "written", ...
    static const char* resultName(Result result);

    QString part;
    Result result = Result::NotRun;
    QString reason;
    QString backupPath;
    int confirmed = 0;
    // Axis of the part (1-based) to the parameter numbers that were not confirmed.
    QMap<int, QList<int>> unconfirmed;
    // Refused because these axes run another firmware version than the one asked for
    // ("arm axis 2 runs 1.40, not 1.48").
    QStringList behind;
    // The values the read-back found other than written (slave numbers are bus positions).
    QList<ReadBackDifference> differences;
};

struct ParameterOutcome
{
    ParameterPartOutcome arm;
    ParameterPartOutcome platform;
    // A file handed in that cannot be applied whole: why (the file gives no parameters), or the
    // entries that keep it from being applied. Both parts are then refused before the bus is
    // taken.
    QString fileProblem;
    QList<ParameterFileRefusal> refusedEntries;
    // The read-out the job ran first, when it ran one (readOutRan).
    bool readOutRan = false;
    ReadOutResult readOut;
    // A stop request ended the job before the arm part or after it; the parts after the stop
    // did not run.
    bool stopped = false;
    // The counts of the arm part's session, when it opened one (countsRead).
    bool countsRead = false;
    int SlaveCount = 0;
    int PlatformSlaveCount = 0;
    int ArmSlaveCount = 0;
};

Q_DECLARE_METATYPE(ParameterOutcome)

class ParameterJob : public BusJob
{
    Q_OBJECT

public:
    explicit ParameterJob(QObject* parent = nullptr);

    // The interface that start() reads out and writes on.
    void setInterface(const QString& eth);
    // The parameter file and the parts that runWithReadOut writes (the shipped file, both parts
    // by default).
    void setFile(const QString& file);
    void setParts(bool arm, bool platform);
    // runWithReadOut refuses every part with a controller that runs another firmware version
    // than `version`, naming axes and versions: the parameter set belongs to one version. Not
    // checked when empty (the default).
    void setRequiredVersion(const QString& version);

    // Runs both parts on the caller's thread with the start numbers of the caller's read-out, and
    // returns (and emits with finished) what happened to each.
    ParameterOutcome run(const ParameterRequest& request);
    // Reads the bus on `eth` out first and runs both parts with what it found. A file other than
    // the shipped set is applied whole or not at all: any entry that the loading would leave out
    // refuses both parts before the bus is taken (refusedEntries), for a part written without
    // some of its entries would be reported written and be wrong.
    ParameterOutcome runWithReadOut(const QString& eth);

    QString stopQuestion(const JobProgress& now) const override;

signals:
    // Progress goes out as BusJob::progress: a step per part, units are the part's entries; the
    // axis is the part's axis (0 for all four wheel-base axes at once).
    void finished(const ParameterOutcome& outcome);

protected:
    void work() override;

private:
    // Both parts, with the bus session held.
    void runParts(const ParameterRequest& request, ParameterOutcome& outcome);
    // Both parts refused for `reason`, nothing touched.
    void refuseBoth(ParameterOutcome& outcome, const QString& reason);
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
    // `refusals` names the unconfirmed axes whose controllers refused a state, and why.
    void conclude(const ParameterRequest& request, const ParameterWriteReport& report,
        const QStringList& refusals, ParameterPartOutcome& part);
    void refuse(
        ParameterPartOutcome& part, ParameterPartOutcome::Result result, const QString& reason);
    // Refuses the part `name` for the axes in `behind`, which run another firmware version.
    void refuseVersion(ParameterPartOutcome& part, const QString& name, const QStringList& behind);
    // Emits the text a part ends with. The platform's text replaces the arm's, as it always has,
    // unless the arm was not written in full: that stays in the first line.
    void partStatus(const ParameterPartOutcome& part, const QString& text);

    // One line on the arm part when it was refused or not confirmed; empty otherwise.
    QString armNote;
    QString eth_;
    QString file_ = RobotLayout::shippedParameters();
    bool arm_ = true;
    bool platform_ = true;
    QString requiredVersion_;
    // The part being written among the parts that may be written.
    int step_ = 0;
    int steps_ = 0;
    // Another master's replies on the wire since the job took the bus; a part has begun writing.
    OtherMaster wire_;
    bool writing_ = false;
};

#endif // PARAMETERJOB_H
