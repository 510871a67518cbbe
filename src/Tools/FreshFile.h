// Writes a file that nobody else can have prepared. The tool runs with raised rights in a working
// directory it does not control, so whatever already stands under the name (a stale file, a
// symbolic link to somewhere else) is removed, never followed, and the new file is created
// exclusively and readable by its owner only. A file that must never replace anything (a backup)
// is only created exclusively.
#ifndef FRESHFILE_H
#define FRESHFILE_H

#include <QByteArray>
#include <QString>

namespace FreshFile {

// Replaces whatever is at `path` by a new owner-only file holding `content`. Returns true when
// the whole content was written; false when the old entry could not be removed or the new file
// could not be created or written, with the reason in `error` (a half-written file is removed).
bool write(const QString& path, const QByteArray& content, QString* error);

// Creates a new owner-only file at `path` holding `content`, without touching anything that stands
// there already (a file or a symbolic link makes it fail). Returns true when the whole content was
// written; false with the reason in `error` otherwise (a half-written file is removed).
bool create(const QString& path, const QByteArray& content, QString* error);

}

#endif // FRESHFILE_H
