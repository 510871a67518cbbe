// The service records: what every job did to a robot, kept where the technician's data lives so
// that a service organisation can show, per robot, what was done, when, by whom and with what
// result. One JSON object per line in "$XDG_DATA_HOME/zuvian/records/YYYY-MM-DD.jsonl" (else
// ~/.local/share), one file per UTC day:
//
//   QString error;
//   if (ServiceRecord::append(record, &error).isEmpty())
//       say(error);                 // the job goes on: its work on the bus is done
//   const ServiceRecord::Reading all = ServiceRecord::readAll();
//
// A record is appended with a single write() on a descriptor opened O_APPEND, the whole line built
// in memory first, so a record is either whole or, after a power loss, a last line without its
// newline, which the reader skips. There is no temporary state on disk and nothing to repair.
// The files are readable by their owner only; the directories are created owner-only, never
// followed through a symbolic link, and refused when someone else owns them.
//
// What a record holds is built in JobRecord.h; this file only stores and reads objects.
#ifndef SERVICERECORD_H
#define SERVICERECORD_H

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace ServiceRecord {

// The largest record file the reader takes in, and the longest line it parses: a record of a
// whole robot is about 4 KB, a busy day a few hundred records.
constexpr qint64 maxFileBytes = 64 * 1024 * 1024;
constexpr qint64 maxLineBytes = 1024 * 1024;

// Returns the directory the records are kept in.
QString directory();

// Returns the file name (without directory) that holds the records made on the UTC day of `at`.
QString fileName(const QDateTime& at);

// Appends `record` as one line to the file of the day its "time" names (of now, when it names
// none). Returns the file's path; an empty text with the reason in `error` when the directory
// could not be made safe, or the file could not be opened or the whole line written.
QString append(const QJsonObject& record, QString* error);

struct Reading
{
    // Every whole record, oldest first (by file, then by line).
    QList<QJsonObject> records;
    // Last lines without their newline: what a power loss during a write leaves.
    int torn = 0;
    // Lines that are no JSON object, and files that could not be read, each with its reason.
    QStringList problems;
};

// Reads every record file of `dir` (the records directory by default). A missing directory holds
// no records and is no problem.
Reading readAll(const QString& dir = QString());

// Parses the text of one record file into `into`.
void parse(const QByteArray& text, const QString& file, Reading& into);

}

#endif // SERVICERECORD_H
