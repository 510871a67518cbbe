// The parameter file read entry by entry: the sections the axis service loads ("Platform" and
// "Axis1" to "Axis5", each found by its name alone), every entry with the line it stands on, and
// the check that a file a user hands in can be applied whole.
//
//   ParameterFile file(path);
//   if (!file.error().isEmpty()) ...                   // unreadable, too large, no XML
//   for (const ParameterFileEntry& e : file.section("Axis3")) ...
//   const QList<ParameterFileRefusal> refused = file.refusals();   // empty: apply it
//
// The loading of the shipped set takes the well-formed entries of each section and leaves the
// others out; a file from outside is applied only when refusals() is empty, so that a part is
// never reported written while an entry of it was dropped.
#ifndef PARAMETERFILE_H
#define PARAMETERFILE_H

#include <QDomElement>
#include <QHash>
#include <QList>
#include <QString>

#include "Configuration.h"

// One node of a section, as the file gives it.
struct ParameterFileEntry
{
    // Line of the node in the file (1-based).
    int line = 0;
    // False for anything in a section that is not a Parameter element (text, another element).
    bool isParameter = true;
    // The attributes as written; null when the attribute is missing.
    QString type;
    QString desc;
    QString value;
    // The parameter number and the 32-bit value (a negative value in two's complement); valid
    // when `problem` is empty.
    quint8 number = 0;
    quint32 parameterValue = 0;
    // Empty for an entry the loading can take (a Parameter element whose Type and Value are
    // numbers in range), else why it cannot. A missing Desc is not one of these.
    QString problem;
};

// An entry that keeps a file from being applied whole.
struct ParameterFileRefusal
{
    int line = 0;
    // "Platform" or "Arm1"; for an entry outside those sections, the element it stands in.
    QString part;
    // 1 to 5 on the arm, 0 on the platform, -1 outside both.
    int axis = -1;
    // As written; null when missing.
    QString type;
    QString value;
    QString reason;
};

class ParameterFile
{
public:
    // Reads `path` (at most Configuration::maxFileBytes).
    explicit ParameterFile(const QString& path);

    // Empty, or why the file gives no parameter document at all: it cannot be read, is too
    // large, is no well-formed XML, or its root is not <zuvian>.
    QString error() const { return error_; }

    // The nodes of the section the axis service loads under `name` (the first element of that
    // name), comments left out, in file order; empty when there is no such section.
    QList<ParameterFileEntry> section(const QString& name);

    // Whether the loading finds the section `name`: it exists and holds some node, even if only
    // a comment. The arm's loading stops at the first axis it does not find.
    bool readable(const QString& name);

    // Whether some Parameter element stands in the platform's section, or in an arm axis's.
    bool hasPlatform();
    bool hasArm();

    // Empty, or why nothing can be taken from the file, for the operator: it gives no parameter
    // document (error()), or no part holds a parameter.
    QString unusable();

    // Every entry that keeps the file from being applied whole, in file order: a node of a
    // section that is no well-formed entry, a Type given again in its section with another
    // value, and a Parameter element that the loading would never read (outside the sections,
    // in a second section of a name, or on an arm axis after one the file lacks).
    QList<ParameterFileRefusal> refusals();

private:
    struct Section
    {
        bool readable = false;
        QDomElement element;
        QList<ParameterFileEntry> entries;
    };
    Section find(const QString& name);
    bool hasParameters(const QString& name);

    const QString path_;
    QString error_;
    Configuration config_;
    QHash<QString, Section> sections_;
};

#endif // PARAMETERFILE_H
