// What a job's service record says, built from the job's outcome alone, so that the window and
// zuvianctl leave the same record for the same work. A record is one JSON object:
//
//   time        UTC, ISO 8601 with milliseconds, when the job ended
//   job         "check", "write-firmware", "write-parameters", "restore", ... (as zuvianctl names
//               its commands)
//   tester      who did it (see tester())
//   program     this program's version; firmware: the firmware version it carries
//   interface   the network interface the robot was on
//   result      how the job ended, one word ("read", "written", "failed", "declined", ...)
//   text        what the operator was told; says what failed when something did
//   controllers one object per axis the read-out found: position (on the bus), part, axis, name,
//               vendor, product, revision, serial (null when the EEPROM holds none), version (as
//               read; null without a reply), outcome ("read", "no reply", "written", "failed",
//               "not confirmed", "skipped", "refused") with its text, and for parameter jobs the
//               backup file and the differences the read-back (or the report) found: parameter,
//               target (the value written, or the file's), read (null without a reply)
//
// Nothing else goes into a record: no environment, no file contents. A job that is added later
// builds its record from head() and controllers() and leaves it through BusJob::leaveRecord at its
// end, as the others do.
#ifndef JOBRECORD_H
#define JOBRECORD_H

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

struct CheckOutcome;
struct DiagnosisOutcome;
struct FirmwareOutcome;
struct ParameterOutcome;
struct ParameterReadOutcome;
struct ReadOutResult;

namespace JobRecord {

// The names of the jobs in the records.
inline const QString checkJob = QStringLiteral("check");
inline const QString firmwareJob = QStringLiteral("write-firmware");
inline const QString parametersJob = QStringLiteral("write-parameters");
inline const QString restoreJob = QStringLiteral("restore");
inline const QString backupJob = QStringLiteral("backup");
inline const QString reportJob = QStringLiteral("report");
inline const QString diagJob = QStringLiteral("diag");

// The per-axis outcomes.
inline const QString readAxis = QStringLiteral("read");
inline const QString noReply = QStringLiteral("no reply");
inline const QString written = QStringLiteral("written");
inline const QString failed = QStringLiteral("failed");
inline const QString notConfirmed = QStringLiteral("not confirmed");
inline const QString skipped = QStringLiteral("skipped");
inline const QString refused = QStringLiteral("refused");

// What a record says beside the outcome: which job, by whom, on which interface.
struct Context
{
    QString job;
    QString tester;
    QString interface;
    // When the job ended; now when not valid.
    QDateTime time;
};

// Returns the tester a record names: `given` when it is not empty, else the default tester of the
// registry (TesterModel), else the login name of the user who runs the program.
QString tester(const QString& given);

// The fields every record begins with (time, job, tester, program, firmware, interface, result,
// text), without the controllers.
QJsonObject head(const Context& context, const QString& result, const QString& text);
// The controllers of the read-out's complete parts, each with the outcome of the reading: "read",
// or "no reply" with the reason when the controller refused a state.
QJsonArray controllers(const ReadOutResult& readOut);

QJsonObject fromCheck(const CheckOutcome& outcome, const Context& context);
// `arm` and `platform`: the parts the job was asked to write.
QJsonObject fromFirmware(
    const FirmwareOutcome& outcome, const Context& context, bool arm, bool platform);
// `file`: the parameter file written (named in the record when it is not the shipped set).
QJsonObject fromParameters(
    const ParameterOutcome& outcome, const Context& context, const QString& file);

// A backup or report (by the context's job): `arm` and `platform` are the parts asked for, `file`
// the file of the targets.
QJsonObject fromParameterRead(const ParameterReadOutcome& outcome, const Context& context, bool arm,
    bool platform, const QString& file);

// The diagnosis of the bus: its result ("clean", "troubled", or "failed" when the bus was not
// reached) and its report. It reads no controller's identity, so it lists none.
QJsonObject fromDiagnosis(const DiagnosisOutcome& outcome, const Context& context);

// The robot a record is of, as `zuvianctl history` shows it: the identity of the first controller
// on the bus, "vendor:product:revision:serial" in hexadecimal; empty for a record without one.
QString robotIdentity(const QJsonObject& record);
// Returns true when `robot` is the serial number (decimal, or hexadecimal after 0x) of one of the
// record's controllers, or the robot identity of the record (case does not matter).
bool isOfRobot(const QJsonObject& record, const QString& robot);

// The record as a block of HTML for the window's test log; every text from the record is escaped.
QString html(const QJsonObject& record);

}

#endif // JOBRECORD_H
