// Reading a parameter file entry by entry on top of Configuration's XML access, and the check that
// decides whether a file can be applied whole.
#include "ParameterFile.h"

#include <QDomElement>
#include <QHash>

#include <algorithm>

#include "RobotLayout.h"

namespace {

const QString kRoot = QStringLiteral("zuvian");
const QString kPlatform = RobotLayout::platformSetup();
using RobotLayout::armAxes;
const int largestType = 255;

QString axisSection(int n)
{
    return QStringLiteral("Axis") + QString::number(n);
}

// Digits only, so that neither a sign nor blanks nor a base prefix slip through; leading zeros
// are allowed. Returns false for anything else, and for a number of more than `maxDigits` digits.
bool digits(const QString& text, int maxDigits, quint64& number)
{
    int first = 0;
    while (first < text.size() - 1 && text.at(first) == QLatin1Char('0'))
        ++first;
    if (text.isEmpty() || text.size() - first > maxDigits)
        return false;
    number = 0;
    for (int i = first; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        number = number * 10 + quint64(c.unicode() - '0');
    }
    return true;
}

bool parseType(const QString& text, quint8& type)
{
    quint64 number = 0;
    if (!digits(text, 3, number) || number > largestType)
        return false;
    type = quint8(number);
    return true;
}

// A 32-bit value: -2147483648 to 4294967295. The shipped file writes the negative values of
// signed parameters, backups do the same, and both end as the same 32 bits on the controller.
bool parseValue(const QString& text, quint32& value)
{
    const bool negative = text.startsWith(QLatin1Char('-'));
    quint64 magnitude = 0;
    if (!digits(negative ? text.mid(1) : text, 10, magnitude))
        return false;
    if (negative ? magnitude > 0x80000000ull : magnitude > 0xFFFFFFFFull)
        return false;
    value = negative ? quint32(0u - quint32(magnitude)) : quint32(magnitude);
    return true;
}

ParameterFileEntry entryOf(const QDomNode& node)
{
    ParameterFileEntry entry;
    entry.line = node.lineNumber();
    const QDomElement element = node.toElement();
    if (element.isNull()) {
        entry.isParameter = false;
        entry.problem = QStringLiteral("text where only Parameter entries belong");
        return entry;
    }
    if (element.tagName() != QLatin1String("Parameter")) {
        entry.isParameter = false;
        entry.problem = QStringLiteral("<%1> is no Parameter entry").arg(element.tagName());
        return entry;
    }
    // An attribute that is missing reads as a null text, one that is empty as an empty one.
    const auto attribute = [&element](const char* name) {
        const QString key = QLatin1String(name);
        return element.hasAttribute(key) ? element.attribute(key) : QString();
    };
    entry.type = attribute("Type");
    entry.desc = attribute("Desc");
    entry.value = attribute("Value");

    QStringList problems;
    if (entry.type.isNull())
        problems.append(QStringLiteral("Type is missing"));
    else if (!parseType(entry.type, entry.number))
        problems.append(QStringLiteral("Type is no parameter number from 0 to 255"));
    if (entry.value.isNull())
        problems.append(QStringLiteral("Value is missing"));
    else if (!parseValue(entry.value, entry.parameterValue))
        problems.append(QStringLiteral("Value is no 32-bit number"));
    entry.problem = problems.join(QStringLiteral("; "));
    return entry;
}

ParameterFileRefusal refusalOf(
    const ParameterFileEntry& entry, const QString& section, const QString& reason)
{
    ParameterFileRefusal refusal;
    refusal.line = entry.line;
    if (section == kPlatform) {
        refusal.part = kPlatform;
        refusal.axis = 0;
    } else {
        refusal.part = RobotLayout::armSetup();
        refusal.axis = section.mid(4).toInt();
    }
    refusal.type = entry.type;
    refusal.value = entry.value;
    refusal.reason = reason;
    return refusal;
}

}

ParameterFile::ParameterFile(const QString& path)
    : path_(path)
{
    error_ = config_.loadConfigFile(path, QStringLiteral("zuvianParameter"));
    if (error_.isEmpty() && config_.documentElement().tagName() != kRoot)
        error_ = QStringLiteral("not a parameter file (no <zuvian> root)");
}

QString ParameterFile::unusable()
{
    if (!error_.isEmpty())
        return QStringLiteral("parameter file %1: %2").arg(path_, error_);
    if (!hasArm() && !hasPlatform())
        return QStringLiteral("parameter file %1 holds no parameters").arg(path_);
    return QString();
}

ParameterFile::Section ParameterFile::find(const QString& name)
{
    // A copy (the lists are shared, not copied): a reference would not outlive the next insert.
    auto it = sections_.find(name);
    if (it != sections_.end())
        return it.value();
    Section section;
    // The same lookup as the loading's, so that what is checked here is what is loaded there.
    const QDomNodeList nodes = config_.GetNodeList(name, kRoot);
    section.readable = !nodes.isEmpty();
    if (section.readable)
        section.element = nodes.at(0).parentNode().toElement();
    for (int i = 0; i < nodes.size(); ++i) {
        // A backup lists the values it could not read in comments between the entries.
        if (!nodes.at(i).isComment())
            section.entries.append(entryOf(nodes.at(i)));
    }
    return sections_.insert(name, section).value();
}

QList<ParameterFileEntry> ParameterFile::section(const QString& name)
{
    return find(name).entries;
}

bool ParameterFile::readable(const QString& name)
{
    return find(name).readable;
}

bool ParameterFile::hasParameters(const QString& name)
{
    const QList<ParameterFileEntry> entries = find(name).entries;
    return std::any_of(entries.cbegin(), entries.cend(),
        [](const ParameterFileEntry& entry) { return entry.isParameter; });
}

bool ParameterFile::hasPlatform()
{
    return hasParameters(kPlatform);
}

bool ParameterFile::hasArm()
{
    for (int n = 1; n <= armAxes; ++n) {
        if (hasParameters(axisSection(n)))
            return true;
    }
    return false;
}

QList<ParameterFileRefusal> ParameterFile::refusals()
{
    QList<ParameterFileRefusal> refused;
    if (!error_.isEmpty())
        return refused;

    QStringList names{kPlatform};
    for (int n = 1; n <= armAxes; ++n)
        names.append(axisSection(n));
    // The arm is loaded axis by axis and stops at the first axis without a section.
    QString missingAxis;
    for (const QString& name : names) {
        const Section section = find(name);
        if (name != kPlatform && missingAxis.isEmpty() && !section.readable)
            missingAxis = name;
        if (name != kPlatform && !missingAxis.isEmpty()) {
            for (const ParameterFileEntry& entry : section.entries)
                refused.append(refusalOf(entry, name,
                    QStringLiteral("not read: the arm is read up to the first axis the file "
                                   "lacks, %1")
                        .arg(missingAxis)));
            continue;
        }
        struct Seen
        {
            quint32 value;
            int line;
        };
        QHash<int, Seen> seen;
        for (const ParameterFileEntry& entry : section.entries) {
            if (!entry.problem.isEmpty()) {
                refused.append(refusalOf(entry, name, entry.problem));
                continue;
            }
            // The loading would take an entry without its description, but a file from outside
            // that lacks one is not in the format this program writes: it is refused rather
            // than guessed at.
            if (entry.desc.isNull()) {
                refused.append(refusalOf(entry, name, QStringLiteral("Desc is missing")));
                continue;
            }
            const auto earlier = seen.constFind(entry.number);
            if (earlier == seen.cend()) {
                seen.insert(entry.number, Seen{entry.parameterValue, entry.line});
            } else if (earlier->value != entry.parameterValue) {
                refused.append(refusalOf(entry, name,
                    QStringLiteral("Type %1 is given on line %2 already, with Value %3")
                        .arg(entry.number)
                        .arg(earlier->line)
                        .arg(qint32(earlier->value))));
            }
        }
    }

    // Parameter elements no section lookup reaches: outside the sections, or in a second one of
    // a name, which the lookup never gets to.
    for (QDomNode node = config_.documentElement(); !node.isNull();
         node = Configuration::nextInDocumentOrder(node)) {
        if (!node.isElement() || node.toElement().tagName() != QLatin1String("Parameter"))
            continue;
        const QDomElement parent = node.parentNode().toElement();
        const QString parentName = parent.tagName();
        if (names.contains(parentName) && find(parentName).element == parent)
            continue;
        const ParameterFileEntry entry = entryOf(node);
        if (names.contains(parentName)) {
            refused.append(refusalOf(entry, parentName,
                QStringLiteral("not read: a second <%1> section, only the first is read")
                    .arg(parentName)));
        } else {
            ParameterFileRefusal refusal;
            refusal.line = entry.line;
            refusal.part = parentName;
            refusal.type = entry.type;
            refusal.value = entry.value;
            refusal.reason = QStringLiteral("not read: outside the Platform and Axis1 to Axis5 "
                                            "sections");
            refused.append(refusal);
        }
    }
    std::stable_sort(refused.begin(), refused.end(),
        [](const ParameterFileRefusal& a, const ParameterFileRefusal& b) {
            return a.line < b.line;
        });
    return refused;
}
