// The copy of a part's parameters that the parameter write keeps before it changes anything: the
// values the controllers held when the set was loaded, as a parameter file in the format of the
// shipped one, so that the same loading and writing code can put them back.
//
// Backups live in the user's data directory ($XDG_DATA_HOME, else ~/.local/share) under
// "zuvian/backups", one file per part and run, named by UTC time and part, for example
// "20250314T091502.117Z-Arm1.xml". Each file is created anew and readable by its owner only;
// nothing that already stands under the name is followed or replaced.
#ifndef PARAMETERBACKUP_H
#define PARAMETERBACKUP_H

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

#include "EtherCatParameter.h"

namespace ParameterBackup {

// Returns the directory backups are written to.
QString directory();

// Returns the file name (without directory) of the backup of `part` ("Arm1" or "Platform") taken
// at `taken`.
QString fileName(const QString& part, const QDateTime& taken);

// Returns the parameter file that holds the current values of the `part` entries of `parameters`.
// A value that could not be read is left out and named in a comment, as is a wheel-base entry
// whose four axes disagreed (the value kept is that of the last axis).
QByteArray toXml(const QMap<QString, EtherCatParameter>& parameters, const QString& part,
    const QDateTime& taken);

// Writes the backup of `part` taken at `taken`. Returns the new file's path, or an empty string
// with the reason in `error` when the directory or the file could not be created or written.
QString save(const QMap<QString, EtherCatParameter>& parameters, const QString& part,
    const QDateTime& taken, QString* error);

}

#endif // PARAMETERBACKUP_H
