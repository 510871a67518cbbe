// The parameter commands: the write with its backup and read-back (the window's job), a backup
// alone, and the HTML report that sets each value beside its target.
#include "commands.h"

#include <QSaveFile>

#include "FirmwareJob.h"
#include "ParameterBackup.h"
#include "ParameterFile.h"
#include "ParameterJob.h"
#include "ParameterReadJob.h"
#include "interruption.h"

namespace cli {

namespace {

const QString kShipped = RobotLayout::shippedParameters();

nlohmann::json nullable(const QString& text)
{
    return text.isNull() ? nlohmann::json() : nlohmann::json(str(text));
}

// The entries that keep a file from being applied whole: one line each for the operator, and the
// same as "refusedEntries" in the document.
std::string refusedEntries(const QList<ParameterFileRefusal>& refused, nlohmann::json& doc)
{
    std::string text;
    nlohmann::json list = nlohmann::json::array();
    for (const ParameterFileRefusal& r : refused) {
        const std::string where
            = r.axis > 0 ? str(r.part) + " axis " + std::to_string(r.axis) : str(r.part);
        text += "\n  line " + std::to_string(r.line) + ": " + where + ", Type "
            + (r.type.isNull() ? std::string("(missing)") : "\"" + str(r.type) + "\"") + ", Value "
            + (r.value.isNull() ? std::string("(missing)") : "\"" + str(r.value) + "\"") + ": "
            + str(r.reason);
        list.push_back({{"line", r.line}, {"part", str(r.part)},
            {"axis", r.axis >= 0 ? nlohmann::json(r.axis) : nlohmann::json()},
            {"type", nullable(r.type)}, {"value", nullable(r.value)}, {"reason", str(r.reason)}});
    }
    doc["refusedEntries"] = list;
    return text;
}

nlohmann::json partOutcomeJson(const ParameterPartOutcome& part, bool asked)
{
    nlohmann::json unconfirmed = nlohmann::json::object();
    for (auto it = part.unconfirmed.cbegin(); it != part.unconfirmed.cend(); ++it) {
        nlohmann::json types = nlohmann::json::array();
        for (int type : it.value())
            types.push_back(type);
        unconfirmed[std::to_string(it.key())] = types;
    }
    nlohmann::json behind = nlohmann::json::array();
    for (const QString& axis : part.behind)
        behind.push_back(str(axis));
    return {{"part", str(part.part)}, {"asked", asked},
        {"result", ParameterPartOutcome::resultName(part.result)}, {"reason", str(part.reason)},
        {"backup", str(part.backupPath)}, {"confirmed", part.confirmed},
        {"unconfirmed", unconfirmed}, {"behind", behind}};
}

std::string partLine(const ParameterPartOutcome& part, bool onBus)
{
    using R = ParameterPartOutcome::Result;
    const std::string name = str(part.part);
    switch (part.result) {
    case R::Written:
        return name + ": written, stored and read back (" + std::to_string(part.confirmed)
            + " commands confirmed); backup " + str(part.backupPath);
    case R::Unconfirmed:
        return name + ": written, but not every value was confirmed; backup "
            + str(part.backupPath);
    case R::NotRun:
        return name + (onBus ? ": not written" : ": not on the bus");
    case R::NoConnection:
        return name + ": not written: no connection";
    case R::Failed:
        return name + ": failed while writing";
    case R::Refused:
    case R::BackupFailed:
        return name + ": not written: " + str(part.reason);
    }
    return name;
}

// The end of a write that Ctrl-C or SIGTERM stopped: each part asked for, written or not.
Result interrupted(const Context& context, const std::string& command,
    const ParameterOutcome& outcome, bool arm, bool platform, const nlohmann::json& doc)
{
    Result result;
    result.status = Interrupted;
    result.doc = doc;
    const bool asked[] = {arm, platform};
    const ParameterPartOutcome* parts[] = {&outcome.arm, &outcome.platform};
    const PartReading* readings[] = {&outcome.readOut.arm, &outcome.readOut.platform};
    for (int i = 0; i < 2; ++i) {
        if (asked[i])
            result.text += partLine(*parts[i], readings[i]->present()) + '\n';
    }
    result.error = command + " on " + context.eth + ": interrupted";
    result.doc["error"] = result.error;
    return result;
}

}

namespace {

// `command` names the command in messages and in the document; `anyVersion`: write whatever
// firmware the controllers run.
Result writeParameterFile(Context& context, Parts parts, const std::string& fileName,
    const std::string& command, bool anyVersion)
{
    const QString file = fileName.empty() ? kShipped : QString::fromStdString(fileName);
    nlohmann::json doc = {{"command", command}, {"interface", context.eth}, {"file", str(file)}};
    ParameterFile parameterFile(file);
    const QString problem = parameterFile.unusable();
    if (!problem.isEmpty())
        return failure(command + ": " + str(problem), doc);
    const bool armInFile = parameterFile.hasArm();
    const bool platformInFile = parameterFile.hasPlatform();
    // A part named on the command line must be in the file; without names, the file's parts.
    if ((parts.arm && !armInFile) || (parts.platform && !platformInFile))
        return failure(command + ": " + str(file) + " holds no parameters for "
                + (parts.arm && !armInFile ? "the arm" : "the platform"),
            doc);
    const bool arm = parts.wantArm() && armInFile;
    const bool platform = parts.wantPlatform() && platformInFile;

    ParameterJob job;
    job.setRecordJob(QString::fromStdString(command));
    job.setFile(file);
    job.setParts(arm, platform);
    // The set belongs to the firmware the program carries; a controller on another one (most
    // often after Write Firmware without the power cycle) is not written unless asked for.
    if (!anyVersion)
        job.setRequiredVersion(FirmwareJob::carriedVersion());
    attach(job, context);
    Interruption interruption(job, context, command,
        [](const JobProgress& now) { return "the " + str(now.part) + " parameters"; });
    const ParameterOutcome outcome = job.runWithReadOut(context.interface());
    if (!outcome.fileProblem.isEmpty())
        return failure(command + ": " + str(outcome.fileProblem), doc);
    if (!outcome.refusedEntries.isEmpty()) {
        doc["parts"]
            = {partOutcomeJson(outcome.arm, arm), partOutcomeJson(outcome.platform, platform)};
        const int refused = int(outcome.refusedEntries.size());
        const std::string lines = refusedEntries(outcome.refusedEntries, doc);
        return failure(command + ": " + str(file) + " cannot be applied whole ("
                + std::to_string(refused) + (refused == 1 ? " entry" : " entries")
                + " refused); nothing was written:" + lines,
            doc);
    }
    doc["readOut"] = readOutJson(outcome.readOut);
    doc["parts"] = {partOutcomeJson(outcome.arm, arm), partOutcomeJson(outcome.platform, platform)};
    doc["stopped"] = outcome.stopped;
    if (interruption.interrupted())
        return interrupted(context, command, outcome, arm, platform, doc);
    if (!outcome.readOut.ok)
        return failure(
            command + " on " + context.eth + ": " + causeFirst(outcome.readOut.failure), doc);

    Result result;
    result.doc = doc;
    int written = 0;
    std::vector<std::string> failed;
    const PartReading* readings[] = {&outcome.readOut.arm, &outcome.readOut.platform};
    const ParameterPartOutcome* partOutcomes[] = {&outcome.arm, &outcome.platform};
    const bool asked[] = {arm, platform};
    for (int i = 0; i < 2; ++i) {
        if (!asked[i])
            continue;
        const ParameterPartOutcome& part = *partOutcomes[i];
        const bool onBus = readings[i]->present();
        result.text += partLine(part, onBus) + '\n';
        if (part.result == ParameterPartOutcome::Result::Written)
            ++written;
        // A part that is not on the bus was never there to write; any other end is a failure.
        else if (part.result != ParameterPartOutcome::Result::NotRun || onBus)
            failed.push_back(partLine(part, onBus));
    }
    if (failed.empty() && written > 0)
        return result;
    result.status = Failed;
    result.error = command + " on " + context.eth + ": "
        + (failed.empty() ? std::string("no part of the robot was found to write") : failed[0]);
    if (!outcome.arm.behind.isEmpty() || !outcome.platform.behind.isEmpty())
        result.error += " Give --yes to write it all the same.";
    result.doc["error"] = result.error;
    return result;
}

}

Result writeParameters(Context& context, Parts parts, const std::string& fileName)
{
    return writeParameterFile(context, parts, fileName, "write-parameters", context.yes);
}

Result restore(Context& context, const std::string& fileName)
{
    return writeParameterFile(context, Parts(), fileName, "restore", true);
}

// Says where a read-only parameter job ended when it did not read every part.
Result readFailure(const Context& context, const std::string& command,
    const ParameterReadOutcome& outcome, nlohmann::json& doc)
{
    using F = ParameterReadOutcome::Failure;
    if (outcome.failure == F::File)
        return failure(command + ": " + str(outcome.reason), doc);
    if (outcome.failure == F::Save)
        return failure(str(outcome.reason), doc);
    return failure(command + " on " + context.eth + ": " + causeFirst(outcome.reason), doc);
}

Result backup(Context& context, Parts parts)
{
    nlohmann::json doc = {{"command", "backup"}, {"interface", context.eth}};
    ParameterReadJob job(ParameterReadJob::Kind::Backup, context.interface());
    job.setParts(parts.wantArm(), parts.wantPlatform());
    keepRecord(job, context);
    const ParameterReadOutcome outcome = job.run();
    if (outcome.readOutRan)
        doc["readOut"] = readOutJson(outcome.readOut);
    if (!outcome.ok())
        return readFailure(context, "backup", outcome, doc);

    nlohmann::json files = nlohmann::json::array();
    Result result;
    for (const ParameterReadPart& part : outcome.parts) {
        files.push_back({{"part", str(part.part)}, {"file", str(part.backupPath)}});
        result.text += str(part.part) + ": " + str(part.backupPath) + '\n';
    }
    doc["backups"] = files;
    result.doc = doc;
    return result;
}

Result report(Context& context, Parts parts, const std::string& fileName, const std::string& output)
{
    const QString file = fileName.empty() ? kShipped : QString::fromStdString(fileName);
    nlohmann::json doc = {{"command", "report"}, {"interface", context.eth}, {"file", str(file)}};
    ParameterReadJob job(ParameterReadJob::Kind::Report, context.interface());
    job.setFile(file);
    job.setParts(parts.wantArm(), parts.wantPlatform());
    keepRecord(job, context);
    const ParameterReadOutcome outcome = job.run();
    if (outcome.readOutRan)
        doc["readOut"] = readOutJson(outcome.readOut);

    nlohmann::json partDocs = nlohmann::json::array();
    for (const ParameterReadPart& part : outcome.parts) {
        nlohmann::json entries = nlohmann::json::array();
        for (auto it = part.entries.cbegin(); it != part.entries.cend(); ++it) {
            const EtherCatParameter& entry = it.value();
            entries.push_back({{"key", str(it.key())}, {"slave", entry.axis},
                {"parameter", entry.ParameterType}, {"description", str(entry.Description)},
                {"target", entry.ParameterValue}, {"current", entry.CurrentValue},
                {"differs", entry.CurrentValue != entry.ParameterValue},
                {"message", str(entry.errorMessage)}});
        }
        partDocs.push_back(
            {{"part", str(part.part)}, {"differs", part.differs}, {"entries", entries}});
    }
    if (outcome.readOut.ok) {
        doc["parts"] = partDocs;
        doc["differs"] = outcome.differs();
    }
    if (!outcome.ok())
        return readFailure(context, "report", outcome, doc);

    const std::string html = str(outcome.html());
    Result result;
    if (!output.empty()) {
        QSaveFile target(QString::fromStdString(output));
        if (!target.open(QIODevice::WriteOnly)
            || target.write(html.data(), qint64(html.size())) != qint64(html.size())
            || !target.commit())
            return failure("report: " + output + ": " + str(target.errorString()), doc);
        doc["output"] = output;
        result.text = "report written to " + output + '\n';
    } else {
        // With --json the document carries the report; without, the report is the output.
        doc["html"] = html;
        result.text = html;
    }
    result.doc = doc;
    if (outcome.differs()) {
        result.status = Differences;
        result.error = "report on " + context.eth + ": some values differ from their targets";
    }
    return result;
}

}
