// Records from the jobs' outcomes, the tester they name, the robot they are of, and their HTML.
#include "JobRecord.h"

#include <QHash>
#include <QStringList>

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "BusDiagnosis.h"
#include "CheckJob.h"
#include "FirmwareJob.h"
#include "ParameterJob.h"
#include "ParameterReadJob.h"
#include "RobotLayout.h"
#include "TesterModel.h"
#include "writefirmware.h"
#include "zuvian.h"

#ifndef ZUVIAN_VERSION
#define ZUVIAN_VERSION "unknown"
#endif

namespace {

QString loginName()
{
    char name[256] = {};
    if (::getlogin_r(name, sizeof name) == 0 && name[0] != '\0')
        return QString::fromLocal8Bit(name);
    // No login session (a service, a test): the user the program runs for.
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("uid %1").arg(::getuid());
}

QJsonValue textOrNull(bool present, const QString& text)
{
    return present ? QJsonValue(text) : QJsonValue(QJsonValue::Null);
}

QJsonObject controller(const PartReading& part, int index)
{
    const AxisReading& axis = part.axes.at(index);
    return {{QStringLiteral("position"), axis.position}, {QStringLiteral("part"), part.part},
        {QStringLiteral("axis"), index + 1}, {QStringLiteral("name"), axis.name},
        {QStringLiteral("vendor"), qint64(axis.identity.vendor)},
        {QStringLiteral("product"), qint64(axis.identity.product)},
        {QStringLiteral("revision"), qint64(axis.identity.revision)},
        {QStringLiteral("serial"),
            axis.identity.hasSerial() ? QJsonValue(qint64(axis.identity.serial))
                                      : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("version"), textOrNull(axis.answered, axis.version.trimmed())}};
}

void setOutcome(QJsonObject& entry, const QString& outcome, const QString& text)
{
    entry.insert(QStringLiteral("outcome"), outcome);
    entry.insert(QStringLiteral("text"), text);
}

QString firstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

// The outcome of an axis the firmware job did not try.
void untried(QJsonObject& entry, const FirmwareOutcome& outcome, bool wanted)
{
    using R = FirmwareOutcome::Result;
    if (!wanted) {
        setOutcome(entry, JobRecord::skipped, QStringLiteral("not asked for"));
        return;
    }
    switch (outcome.result) {
    case R::Declined:
        setOutcome(entry, JobRecord::skipped, QStringLiteral("the update was not confirmed"));
        return;
    case R::OtherMaster:
    case R::ImagesNotPlaced:
        setOutcome(entry, JobRecord::refused, outcome.text);
        return;
    case R::Failed:
        setOutcome(
            entry, JobRecord::skipped, QStringLiteral("not begun: an axis before it failed"));
        return;
    case R::Stopped:
        setOutcome(entry, JobRecord::skipped,
            QStringLiteral("not begun: stopped as asked; it keeps its firmware"));
        return;
    default:
        setOutcome(entry, JobRecord::skipped, QString());
        return;
    }
}

QJsonObject difference(int type, quint32 target, quint32 read)
{
    return {{QStringLiteral("parameter"), type}, {QStringLiteral("target"), qint64(target)},
        {QStringLiteral("read"),
            read == MCP_NOREPLY ? QJsonValue(QJsonValue::Null) : QJsonValue(qint64(read))}};
}

// Sets the outcome of axis `axis` (1-based) of a part from the part's outcome.
void parameterAxis(QJsonObject& entry, const ParameterPartOutcome& part, int axis, bool stopped)
{
    using R = ParameterPartOutcome::Result;
    if (!part.backupPath.isEmpty())
        entry.insert(QStringLiteral("backup"), part.backupPath);
    const int position = entry.value(QStringLiteral("position")).toInt();
    QJsonArray differences;
    for (const ReadBackDifference& d : part.differences) {
        if (d.slave != position)
            continue;
        differences.append(difference(d.type, d.written, d.held));
    }
    if (part.result == R::Written || part.result == R::Unconfirmed)
        entry.insert(QStringLiteral("differences"), differences);

    switch (part.result) {
    case R::Written:
        setOutcome(entry, JobRecord::written, QString());
        return;
    case R::Unconfirmed: {
        const QList<int> types = part.unconfirmed.value(axis);
        if (types.isEmpty()) {
            setOutcome(entry, JobRecord::written, QString());
            return;
        }
        QStringList numbers;
        for (int type : types)
            numbers.append(QString::number(type));
        setOutcome(entry, JobRecord::notConfirmed,
            QStringLiteral("parameters %1 not confirmed").arg(numbers.join(QStringLiteral(", ")))
                + (part.reason.isEmpty() ? QString() : QLatin1Char('\n') + part.reason));
        return;
    }
    case R::Refused:
    case R::BackupFailed:
        setOutcome(entry, JobRecord::refused, part.reason);
        return;
    case R::NoConnection:
        setOutcome(entry, JobRecord::failed, QStringLiteral("no connection"));
        return;
    case R::Failed:
        setOutcome(entry, JobRecord::failed, QStringLiteral("an error ended the part"));
        return;
    case R::NotRun:
        setOutcome(entry, JobRecord::skipped,
            stopped ? QStringLiteral("stopped as asked before this part")
                    : QStringLiteral("not written"));
        return;
    }
}

QString hex(qint64 value)
{
    return QStringLiteral("%1").arg(quint32(value), 8, 16, QLatin1Char('0'));
}

QString escaped(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
}

}

namespace JobRecord {

QString tester(const QString& given)
{
    if (!given.trimmed().isEmpty())
        return given.trimmed();
    TesterModel registry;
    registry.LoadTester();
    const QString registered = registry.GetDefault().trimmed();
    return registered.isEmpty() ? loginName() : registered;
}

QJsonObject head(const Context& context, const QString& result, const QString& text)
{
    const QDateTime time = context.time.isValid() ? context.time : QDateTime::currentDateTimeUtc();
    return {{QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("job"), context.job}, {QStringLiteral("tester"), tester(context.tester)},
        {QStringLiteral("program"), QStringLiteral(ZUVIAN_VERSION)},
        {QStringLiteral("firmware"), FirmwareJob::carriedVersion()},
        {QStringLiteral("interface"), context.interface}, {QStringLiteral("result"), result},
        {QStringLiteral("text"), text}};
}

QJsonArray controllers(const ReadOutResult& readOut)
{
    QJsonArray list;
    for (const PartReading* part : {&readOut.arm, &readOut.platform}) {
        for (int k = 0; k < part->axes.size(); ++k) {
            QJsonObject entry = controller(*part, k);
            const AxisReading& axis = part->axes.at(k);
            setOutcome(entry, axis.answered ? readAxis : noReply, axis.refusal);
            list.append(entry);
        }
    }
    return list;
}

QJsonObject fromCheck(const CheckOutcome& outcome, const Context& context)
{
    const ReadOutResult& readOut = outcome.readOut;
    const QString result = !readOut.ok                          ? QStringLiteral("read-out-failed")
        : readOut.arm.complete() || readOut.platform.complete() ? QStringLiteral("read")
                                                                : QStringLiteral("nothing-read");
    QJsonObject record
        = head(context, result, readOut.ok ? outcome.summary : outcome.readOut.failure);
    record.insert(QStringLiteral("controllers"), controllers(outcome.readOut));
    return record;
}

QJsonObject fromFirmware(
    const FirmwareOutcome& outcome, const Context& context, bool arm, bool platform)
{
    QJsonObject record = head(context, QLatin1String(FirmwareOutcome::resultName(outcome.result)),
        outcome.message.isEmpty() ? outcome.text : outcome.message);
    QHash<int, const FirmwareAxis*> tried;
    for (const FirmwareAxis& axis : outcome.axes)
        tried.insert(axis.position, &axis);
    QJsonArray list;
    for (const PartReading* part : {&outcome.readOut.arm, &outcome.readOut.platform}) {
        const bool wanted = part == &outcome.readOut.arm ? arm : platform;
        for (int k = 0; k < part->axes.size(); ++k) {
            QJsonObject entry = controller(*part, k);
            const FirmwareAxis* axis = tried.value(part->axes.at(k).position);
            if (axis == nullptr)
                untried(entry, outcome, wanted);
            else if (axis->result == WriteFirmware::Written)
                setOutcome(entry, written, QString());
            else
                setOutcome(entry, failed, firstLine(outcome.text));
            list.append(entry);
        }
    }
    record.insert(QStringLiteral("controllers"), list);
    return record;
}

QJsonObject fromParameters(
    const ParameterOutcome& outcome, const Context& context, const QString& file)
{
    using R = ParameterPartOutcome::Result;
    const ParameterPartOutcome* parts[] = {&outcome.arm, &outcome.platform};
    QString result = QStringLiteral("written");
    QStringList texts;
    int writtenParts = 0;
    QJsonArray partList;
    for (const ParameterPartOutcome* part : parts) {
        partList.append(QJsonObject{{QStringLiteral("part"), part->part},
            {QStringLiteral("result"),
                QLatin1String(ParameterPartOutcome::resultName(part->result))},
            {QStringLiteral("reason"), part->reason}, {QStringLiteral("backup"), part->backupPath},
            {QStringLiteral("confirmed"), part->confirmed}});
        if (part->result == R::Written)
            ++writtenParts;
        else if (part->result != R::NotRun)
            result = QStringLiteral("failed");
        if (!part->reason.isEmpty())
            texts.append(part->part + QStringLiteral(": ") + part->reason);
    }
    if (outcome.readOutRan && !outcome.readOut.ok) {
        result = QStringLiteral("read-out-failed");
        texts.prepend(outcome.readOut.failure);
    } else if (outcome.stopped) {
        result = QStringLiteral("stopped");
    } else if (writtenParts == 0 && result != QLatin1String("failed")) {
        result = QStringLiteral("nothing-written");
    }

    QJsonObject record = head(context, result, texts.join(QLatin1Char('\n')));
    if (file != RobotLayout::shippedParameters())
        record.insert(QStringLiteral("file"), file);
    record.insert(QStringLiteral("parts"), partList);
    QJsonArray list;
    for (const PartReading* reading : {&outcome.readOut.arm, &outcome.readOut.platform}) {
        const ParameterPartOutcome& part
            = reading == &outcome.readOut.arm ? outcome.arm : outcome.platform;
        for (int k = 0; k < reading->axes.size(); ++k) {
            QJsonObject entry = controller(*reading, k);
            parameterAxis(entry, part, k + 1, outcome.stopped);
            list.append(entry);
        }
    }
    record.insert(QStringLiteral("controllers"), list);
    return record;
}

QJsonObject fromParameterRead(const ParameterReadOutcome& outcome, const Context& context, bool arm,
    bool platform, const QString& file)
{
    using F = ParameterReadOutcome::Failure;
    const bool report = context.job == reportJob;
    QString result;
    switch (outcome.failure) {
    case F::None:
        result
            = report && outcome.differs() ? QStringLiteral("differences") : QStringLiteral("read");
        break;
    case F::File:
        result = QStringLiteral("file-refused");
        break;
    case F::Bus:
        result = outcome.readOutRan && outcome.readOut.ok ? QStringLiteral("failed")
                                                          : QStringLiteral("read-out-failed");
        break;
    case F::Save:
        result = QStringLiteral("not-saved");
        break;
    }
    QJsonObject record = head(context, result, outcome.reason);
    if (report && file != RobotLayout::shippedParameters())
        record.insert(QStringLiteral("file"), file);
    QJsonArray list;
    for (const PartReading* reading : {&outcome.readOut.arm, &outcome.readOut.platform}) {
        const bool isArm = reading == &outcome.readOut.arm;
        const QString name = isArm ? RobotLayout::armSetup() : RobotLayout::platformSetup();
        const ParameterReadPart* part = nullptr;
        for (const ParameterReadPart& read : outcome.parts) {
            if (read.part == name)
                part = &read;
        }
        for (int k = 0; k < reading->axes.size(); ++k) {
            QJsonObject entry = controller(*reading, k);
            if (part == nullptr) {
                const bool asked = isArm ? arm : platform;
                if (!asked)
                    setOutcome(entry, skipped, QStringLiteral("not asked for"));
                else if (outcome.failure != F::None)
                    setOutcome(entry, failed, outcome.reason);
                else
                    setOutcome(entry, skipped,
                        QStringLiteral("%1 holds no %2 parameters").arg(file, name));
                list.append(entry);
                continue;
            }
            setOutcome(entry, readAxis, QString());
            if (!part->backupPath.isEmpty())
                entry.insert(QStringLiteral("backup"), part->backupPath);
            if (report) {
                // A wheel-base entry (slave 0) holds what all four axes should hold.
                const int position = reading->axes.at(k).position;
                QJsonArray differences;
                for (const EtherCatParameter& e : part->entries) {
                    if ((e.axis == position || (!isArm && e.axis == 0))
                        && e.CurrentValue != e.ParameterValue)
                        differences.append(
                            difference(e.ParameterType, e.ParameterValue, e.CurrentValue));
                }
                entry.insert(QStringLiteral("differences"), differences);
            }
            list.append(entry);
        }
    }
    record.insert(QStringLiteral("controllers"), list);
    return record;
}

QJsonObject fromDiagnosis(const DiagnosisOutcome& outcome, const Context& context)
{
    const QString result = !outcome.ok ? QStringLiteral("failed")
        : outcome.troubled()           ? QStringLiteral("troubled")
                                       : QStringLiteral("clean");
    QJsonObject record = head(context, result, outcome.ok ? outcome.report : outcome.failure);
    record.insert(QStringLiteral("controllers"), QJsonArray());
    return record;
}

QString robotIdentity(const QJsonObject& record)
{
    // The first controller on the bus, whatever order the record lists them in.
    QJsonObject first;
    bool found = false;
    for (const QJsonValue& value : record.value(QStringLiteral("controllers")).toArray()) {
        const QJsonObject entry = value.toObject();
        if (!found
            || entry.value(QStringLiteral("position")).toInt()
                < first.value(QStringLiteral("position")).toInt()) {
            first = entry;
            found = true;
        }
    }
    if (!found)
        return QString();
    return QStringList{hex(first.value(QStringLiteral("vendor")).toInteger()),
        hex(first.value(QStringLiteral("product")).toInteger()),
        hex(first.value(QStringLiteral("revision")).toInteger()),
        hex(first.value(QStringLiteral("serial")).toInteger())}
        .join(QLatin1Char(':'));
}

bool isOfRobot(const QJsonObject& record, const QString& robot)
{
    const QString wanted = robot.trimmed();
    if (wanted.isEmpty())
        return false;
    if (wanted.compare(robotIdentity(record), Qt::CaseInsensitive) == 0)
        return true;
    bool number = false;
    const qint64 serial = wanted.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
        ? wanted.mid(2).toLongLong(&number, 16)
        : wanted.toLongLong(&number, 10);
    if (!number)
        return false;
    for (const QJsonValue& value : record.value(QStringLiteral("controllers")).toArray()) {
        const QJsonValue held = value.toObject().value(QStringLiteral("serial"));
        if (held.isDouble() && held.toInteger() == serial)
            return true;
    }
    return false;
}

QString html(const QJsonObject& record)
{
    const auto field = [&record](const char* key) {
        return escaped(record.value(QLatin1String(key)).toString());
    };
    QString out = QStringLiteral("<h3>%1, %2 UTC</h3>\n")
                      .arg(field("job"),
                          QDateTime::fromString(
                              record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs)
                              .toUTC()
                              .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    out += QStringLiteral("<p>Tester: %1<br>Interface: %2<br>Program %3, firmware carried %4<br>"
                          "Result: <b>%5</b><br>%6</p>\n")
               .arg(field("tester"), field("interface"), field("program"), field("firmware"),
                   field("result"), field("text"));
    const QJsonArray list = record.value(QStringLiteral("controllers")).toArray();
    if (list.isEmpty())
        return out;
    out += QStringLiteral("<table border=\"1\" cellpadding=\"2\">\n<tr><th>Bus position</th>"
                          "<th>Axis</th><th>Controller</th><th>Identity</th><th>Firmware</th>"
                          "<th>Outcome</th></tr>\n");
    for (const QJsonValue& value : list) {
        const QJsonObject c = value.toObject();
        const QJsonValue serial = c.value(QStringLiteral("serial"));
        QString outcome = escaped(c.value(QStringLiteral("outcome")).toString());
        const QString text = c.value(QStringLiteral("text")).toString();
        if (!text.isEmpty())
            outcome += QStringLiteral(": ") + escaped(text);
        if (c.contains(QStringLiteral("backup")))
            outcome += QStringLiteral("<br>backup ")
                + escaped(c.value(QStringLiteral("backup")).toString());
        for (const QJsonValue& d : c.value(QStringLiteral("differences")).toArray()) {
            const QJsonObject difference = d.toObject();
            const QJsonValue read = difference.value(QStringLiteral("read"));
            outcome += QStringLiteral("<br>parameter %1 should be %2, reads %3")
                           .arg(difference.value(QStringLiteral("parameter")).toInteger())
                           .arg(difference.value(QStringLiteral("target")).toInteger())
                           .arg(read.isNull() ? QStringLiteral("no reply")
                                              : QString::number(read.toInteger()));
        }
        const QJsonValue version = c.value(QStringLiteral("version"));
        // Concatenated, not arg()-chained: a text from the record may hold "%1" itself.
        const QStringList cells{QString::number(c.value(QStringLiteral("position")).toInt()),
            escaped(c.value(QStringLiteral("part")).toString()) + QLatin1Char(' ')
                + QString::number(c.value(QStringLiteral("axis")).toInt()),
            escaped(c.value(QStringLiteral("name")).toString()),
            hex(c.value(QStringLiteral("vendor")).toInteger()) + QLatin1Char(':')
                + hex(c.value(QStringLiteral("product")).toInteger()) + QLatin1Char(':')
                + hex(c.value(QStringLiteral("revision")).toInteger()) + QLatin1Char(' ')
                + (serial.isNull() ? QStringLiteral("no serial number")
                                   : QStringLiteral("S/N ") + QString::number(serial.toInteger())),
            version.isNull() ? QStringLiteral("no reply") : escaped(version.toString()), outcome};
        out += QStringLiteral("<tr><td>") + cells.join(QStringLiteral("</td><td>"))
            + QStringLiteral("</td></tr>\n");
    }
    return out + QStringLiteral("</table>\n");
}

}
