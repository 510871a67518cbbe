// "zuvianctl history": the service records every job left, as a list (newest first) or one in
// full, as text or JSON. Reads the records only; the bus is not touched.
#include "commands.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <algorithm>

#include "JobRecord.h"
#include "ServiceRecord.h"

namespace cli {

namespace {

nlohmann::json toJson(const QJsonObject& record)
{
    return nlohmann::json::parse(
        QJsonDocument(record).toJson(QJsonDocument::Compact).toStdString(), nullptr, false);
}

std::string field(const QJsonObject& record, const char* key)
{
    return str(record.value(QLatin1String(key)).toString());
}

std::string hex(const QJsonValue& value)
{
    return str(QStringLiteral("0x%1").arg(quint32(value.toInteger()), 8, 16, QLatin1Char('0')));
}

// "2026-12-09 00:15:01"
std::string shortTime(const QJsonObject& record)
{
    const QDateTime time
        = QDateTime::fromString(record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    return time.isValid() ? str(time.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                          : field(record, "time");
}

std::string listLine(int number, const QJsonObject& record)
{
    const std::string robot = str(JobRecord::robotIdentity(record));
    return std::to_string(number) + "  " + shortTime(record) + "  " + field(record, "job") + "  "
        + field(record, "result") + "  by " + field(record, "tester") + " on "
        + field(record, "interface") + (robot.empty() ? std::string() : "  robot " + robot) + '\n';
}

std::string indented(const std::string& text, const std::string& indent)
{
    std::string out;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t end = std::min(text.find('\n', from), text.size());
        out += indent + text.substr(from, end - from) + '\n';
        from = end + 1;
    }
    return out;
}

std::string fullText(int number, const QJsonObject& record)
{
    std::string text = "Record " + std::to_string(number) + '\n';
    text += "time       " + field(record, "time") + '\n';
    text += "job        " + field(record, "job") + '\n';
    text += "tester     " + field(record, "tester") + '\n';
    text += "program    " + field(record, "program") + ", carrying firmware "
        + field(record, "firmware") + '\n';
    text += "interface  " + field(record, "interface") + '\n';
    if (record.contains(QStringLiteral("file")))
        text += "file       " + field(record, "file") + '\n';
    text += "result     " + field(record, "result") + '\n';
    if (!field(record, "text").empty())
        text += indented(field(record, "text"), "  ");
    const std::string robot = str(JobRecord::robotIdentity(record));
    if (!robot.empty())
        text += "robot      " + robot + '\n';
    for (const QJsonValue& value : record.value(QStringLiteral("controllers")).toArray()) {
        const QJsonObject c = value.toObject();
        const QJsonValue serial = c.value(QStringLiteral("serial"));
        const QJsonValue version = c.value(QStringLiteral("version"));
        text += "bus position " + std::to_string(c.value(QStringLiteral("position")).toInt()) + ", "
            + field(c, "part") + " axis " + std::to_string(c.value(QStringLiteral("axis")).toInt())
            + ", " + field(c, "name") + ": vendor " + hex(c.value(QStringLiteral("vendor")))
            + " product " + hex(c.value(QStringLiteral("product"))) + " revision "
            + hex(c.value(QStringLiteral("revision")))
            + (serial.isNull() ? std::string(", no serial number")
                               : " serial " + std::to_string(serial.toInteger()))
            + '\n';
        text += "  firmware "
            + (version.isNull() ? std::string("(no reply)") : str(version.toString())) + ": "
            + field(c, "outcome") + '\n';
        if (!field(c, "text").empty())
            text += indented(field(c, "text"), "    ");
        if (c.contains(QStringLiteral("backup")))
            text += "  backup " + field(c, "backup") + '\n';
        for (const QJsonValue& d : c.value(QStringLiteral("differences")).toArray()) {
            const QJsonObject difference = d.toObject();
            const QJsonValue read = difference.value(QStringLiteral("read"));
            text += "  parameter "
                + std::to_string(difference.value(QStringLiteral("parameter")).toInteger())
                + " should be "
                + std::to_string(difference.value(QStringLiteral("target")).toInteger())
                + ", reads "
                + (read.isNull() ? std::string("no reply") : std::to_string(read.toInteger()))
                + '\n';
        }
    }
    return text;
}

// The moment `since` names: a UTC day from its start, or an ISO date and time (UTC unless it
// says otherwise). Invalid when it is neither.
QDateTime sinceTime(const std::string& since)
{
    const QString text = QString::fromStdString(since);
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10)
        return QDateTime(day, QTime(0, 0), QTimeZone::utc());
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (time.isValid() && time.timeSpec() == Qt::LocalTime)
        time.setTimeZone(QTimeZone::utc());
    return time;
}

}

Result history(Context& context, const HistoryOptions& options)
{
    nlohmann::json doc = {{"command", "history"}, {"directory", str(ServiceRecord::directory())}};
    QDateTime since;
    if (!options.since.empty()) {
        since = sinceTime(options.since);
        if (!since.isValid())
            return usageError("history: --since \"" + options.since
                + "\" is no date (YYYY-MM-DD) or ISO date and time");
    }

    const ServiceRecord::Reading reading = ServiceRecord::readAll();
    for (const QString& problem : reading.problems)
        context.err << "zuvianctl: history: " << str(problem) << '\n';
    if (reading.torn > 0)
        context.err << "zuvianctl: history: " << reading.torn
                    << " record(s) cut off by an interruption while being written were skipped\n";

    QList<QJsonObject> records;
    for (const QJsonObject& record : reading.records) {
        const QDateTime time = QDateTime::fromString(
            record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
        if (since.isValid() && (!time.isValid() || time < since))
            continue;
        if (!options.robot.empty()
            && !JobRecord::isOfRobot(record, QString::fromStdString(options.robot)))
            continue;
        records.append(record);
    }
    // Newest first; records of one moment keep the order they were written in.
    const auto time
        = [](const QJsonObject& record) { return record.value(QStringLiteral("time")).toString(); };
    std::stable_sort(records.begin(), records.end(),
        [&time](const QJsonObject& a, const QJsonObject& b) { return time(a) > time(b); });
    doc["torn"] = reading.torn;
    nlohmann::json problems = nlohmann::json::array();
    for (const QString& problem : reading.problems)
        problems.push_back(str(problem));
    doc["problems"] = problems;

    Result result;
    if (options.show > 0) {
        if (options.show > records.size())
            return failure("history: there is no record " + std::to_string(options.show) + "; "
                    + std::to_string(records.size()) + " are listed",
                doc);
        const QJsonObject& record = records.at(options.show - 1);
        doc["record"] = toJson(record);
        doc["number"] = options.show;
        result.doc = doc;
        result.text = fullText(options.show, record);
        return result;
    }
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < records.size(); ++i) {
        nlohmann::json entry = toJson(records.at(i));
        entry["number"] = i + 1;
        list.push_back(entry);
        result.text += listLine(i + 1, records.at(i));
    }
    if (records.isEmpty())
        result.text = std::string(reading.records.isEmpty() ? "No service records in "
                                                            : "No service records match in ")
            + str(ServiceRecord::directory()) + ".\n";
    doc["records"] = list;
    result.doc = doc;
    return result;
}

}
