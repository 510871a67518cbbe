// The parameter flows that only read, as a job: "backup" keeps the values the controllers hold in a
// backup file per part, "report" sets each of them beside its target from a parameter file. Both
// read the bus out first; then each complete part that is asked for (and that the file holds) is
// loaded in a bus session of its own, with the values the controllers hold, and the session is
// closed again. Nothing is written to a controller.
#ifndef PARAMETERREADJOB_H
#define PARAMETERREADJOB_H

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include "BusJob.h"
#include "EtherCatParameter.h"
#include "RobotLayout.h"

// One part as the job read it.
struct ParameterReadPart
{
    // "Arm1" or "Platform".
    QString part;
    // The set as loaded, each entry with the value its controller holds.
    QMap<QString, EtherCatParameter> entries;
    // Backup: the file the values were saved in.
    QString backupPath;
    // Report: some value of the part differs from its target; the part's HTML table.
    bool differs = false;
    QString html;
};

struct ParameterReadOutcome
{
    // Where the job ended when it did not read every part it could.
    enum class Failure {
        None,
        // The parameter file cannot be used; the bus was not touched.
        File,
        // The bus could not be taken or read, or a part's set could not be loaded.
        Bus,
        // A backup file could not be written.
        Save
    };

    Failure failure = Failure::None;
    // Why, for the operator; empty when nothing failed.
    QString reason;
    // The read-out the job ran once it held the bus (readOutRan).
    bool readOutRan = false;
    ReadOutResult readOut;
    // The parts read, arm first; empty when no complete part was asked for and found.
    QList<ParameterReadPart> parts;
    // The UTC time the backups are named by.
    QDateTime taken;

    bool ok() const { return failure == Failure::None && !parts.isEmpty(); }
    // Report: some value of some part differs from its target.
    bool differs() const;
    // Report: the whole HTML document, a table per part.
    QString html() const;
};

Q_DECLARE_METATYPE(ParameterReadOutcome)

class ParameterReadJob : public BusJob
{
    Q_OBJECT

public:
    enum class Kind { Backup, Report };

    ParameterReadJob(Kind kind, const QString& eth, QObject* parent = nullptr);

    // Report: the file holding the targets (the shipped set by default). A backup reads the
    // shipped set's entries.
    void setFile(const QString& file);
    void setParts(bool arm, bool platform);

    // Runs the flow on the caller's thread; returns (and emits with finished) what it read.
    ParameterReadOutcome run();

signals:
    void finished(const ParameterReadOutcome& outcome);

protected:
    void work() override;

private:
    // The flow up to its record.
    void read(ParameterReadOutcome& outcome);
    // Reads the parts with the bus session held.
    void readParts(const QStringList& parts, ParameterReadOutcome& outcome);

    const Kind kind_;
    const QString eth_;
    QString file_ = RobotLayout::shippedParameters();
    bool arm_ = true;
    bool platform_ = true;
};

#endif // PARAMETERREADJOB_H
