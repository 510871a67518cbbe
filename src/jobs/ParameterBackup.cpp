// Writing a part's parameter backup.
#include "ParameterBackup.h"

#include <QDir>
#include <QStandardPaths>
#include <QXmlStreamWriter>

#include "FreshFile.h"
#include "zuvian.h"

namespace {

// A comment may not hold "--"; the texts it carries are the loader's messages and descriptions.
QString commentText(QString text)
{
    while (text.contains(QStringLiteral("--")))
        text.replace(QStringLiteral("--"), QStringLiteral("- -"));
    return QLatin1Char(' ') + text + QLatin1Char(' ');
}

// The section an entry belongs to: "Platform", or "Axis<n>" from its key.
QString sectionOf(const QString& key)
{
    const QString axis = key.section(QLatin1Char('_'), 1, 1);
    return key.startsWith(QLatin1String("Platform_")) ? QStringLiteral("Platform") : axis;
}

}

QString ParameterBackup::directory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/zuvian/backups");
}

QString ParameterBackup::fileName(const QString& part, const QDateTime& taken)
{
    return taken.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'")) + QLatin1Char('-')
        + part + QStringLiteral(".xml");
}

QByteArray ParameterBackup::toXml(
    const QMap<QString, EtherCatParameter>& parameters, const QString& part, const QDateTime& taken)
{
    QByteArray xml;
    QXmlStreamWriter out(&xml);
    out.setAutoFormatting(true);
    out.setAutoFormattingIndent(-1);
    out.writeStartDocument();
    out.writeComment(commentText(QStringLiteral("%1 parameters as the controllers held them on %2")
                                     .arg(part, taken.toUTC().toString(Qt::ISODateWithMs))));
    out.writeStartElement(QStringLiteral("zuvian"));
    out.writeStartElement(QStringLiteral("Parameters"));
    const bool arm = part != QLatin1String("Platform");
    if (arm)
        out.writeStartElement(QStringLiteral("Arm"));

    QString section;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        if (!it.key().startsWith(part + QLatin1Char('_')))
            continue;
        // Keys sort by section, so each section is one run of entries.
        if (sectionOf(it.key()) != section) {
            if (!section.isEmpty())
                out.writeEndElement();
            section = sectionOf(it.key());
            out.writeStartElement(section);
        }
        const EtherCatParameter& entry = it.value();
        if (entry.CurrentValue == MCP_NOREPLY) {
            out.writeComment(commentText(QStringLiteral("Type %1 \"%2\": no value could be read")
                                             .arg(entry.ParameterType)
                                             .arg(entry.Description)));
            continue;
        }
        if (!entry.errorMessage.isEmpty())
            out.writeComment(commentText(
                QStringLiteral("Type %1: %2").arg(entry.ParameterType).arg(entry.errorMessage)));
        out.writeStartElement(QStringLiteral("Parameter"));
        out.writeAttribute(QStringLiteral("Type"), QString::number(entry.ParameterType));
        out.writeAttribute(QStringLiteral("Desc"), entry.Description);
        // Signed, as the shipped file writes negative values; it reads back to the same 32 bits.
        out.writeAttribute(QStringLiteral("Value"), QString::number(qint32(entry.CurrentValue)));
        out.writeCharacters(QString());
        out.writeEndElement();
    }
    if (!section.isEmpty())
        out.writeEndElement();
    out.writeEndDocument();
    return xml;
}

QString ParameterBackup::save(const QMap<QString, EtherCatParameter>& parameters,
    const QString& part, const QDateTime& taken, QString* error)
{
    const QString dir = directory();
    if (!QDir().mkpath(dir)) {
        if (error != nullptr)
            *error = QStringLiteral("%1 cannot be created").arg(dir);
        return QString();
    }
    const QString path = dir + QLatin1Char('/') + fileName(part, taken);
    QString reason;
    if (!FreshFile::create(path, toXml(parameters, part, taken), &reason)) {
        if (error != nullptr)
            *error = path + QStringLiteral(": ") + reason;
        return QString();
    }
    return path;
}
