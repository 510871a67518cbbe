// "Check Version" and "Write Firmware" on the command line: the window's jobs, run on the calling
// thread, with their outcomes as text and JSON.
#include "commands.h"

#include <QStringList>

#include "CheckJob.h"
#include "FirmwareJob.h"
#include "interruption.h"
#include "writefirmware.h"

namespace cli {

Result check(Context& context, const std::string& expected)
{
    const QString version
        = expected.empty() ? FirmwareJob::carriedVersion() : QString::fromStdString(expected);
    CheckJob job(context.interface(), version);
    attach(job, context);
    const CheckOutcome outcome = job.run();
    const ReadOutResult& readOut = outcome.readOut;

    nlohmann::json doc = {{"command", "check"}, {"interface", context.eth}};
    doc["readOut"] = readOutJson(readOut);
    if (!readOut.ok)
        return failure("check on " + context.eth + ": " + causeFirst(readOut.failure), doc);
    doc["summary"] = str(outcome.summary);
    doc["version"] = str(version);
    nlohmann::json behind = nlohmann::json::array();
    for (const QString& axis : outcome.behind)
        behind.push_back(str(axis));
    doc["behind"] = behind;

    Result result;
    result.doc = doc;
    result.text = str(outcome.versions) + str(outcome.summary) + '\n';
    if (outcome.nothingRead()) {
        result.status = Failed;
        result.error = "check on " + context.eth + ": " + str(outcome.summary);
    } else if (!outcome.silent.isEmpty()) {
        result.status = Failed;
        result.error = "check on " + context.eth + ": no reply to the version request from "
            + str(outcome.silent.join(QStringLiteral(", ")));
    } else if (!expected.empty() && !outcome.behind.isEmpty()) {
        result.status = Failed;
        result.error = "check on " + context.eth + ": not every axis runs " + expected + ": "
            + str(outcome.behind.join(QStringLiteral(", ")));
    }
    if (!result.error.empty())
        result.doc["error"] = result.error;
    return result;
}

Result writeFirmware(Context& context, Parts parts)
{
    FirmwareJob job(context.interface(), FirmwareJob::carriedVersion());
    job.setParts(parts.wantArm(), parts.wantPlatform());
    attach(job, context);
    Interruption interruption(
        job, context, "write-firmware",
        [](const JobProgress& now) { return str(now.part) + " axis " + std::to_string(now.axis); },
        [&job] { job.removePlacedImages(); });
    const FirmwareOutcome outcome = job.run();

    nlohmann::json axes = nlohmann::json::array();
    for (const FirmwareAxis& axis : outcome.axes)
        axes.push_back({{"part", str(axis.part)}, {"axis", axis.axis}, {"position", axis.position},
            {"model", str(axis.model)}, {"written", axis.result == WriteFirmware::Written},
            {"result", axis.result}});
    nlohmann::json notBegun = nlohmann::json::array();
    for (const FirmwareAxis& axis : outcome.notBegun)
        notBegun.push_back({{"part", str(axis.part)}, {"axis", axis.axis},
            {"position", axis.position}, {"model", str(axis.model)}});
    nlohmann::json skipped = nlohmann::json::array();
    for (const QString& line : outcome.skipped)
        skipped.push_back(str(line));
    nlohmann::json doc = {{"command", "write-firmware"}, {"interface", context.eth},
        {"result", FirmwareOutcome::resultName(outcome.result)}, {"axes", axes},
        {"notBegun", notBegun}, {"skipped", skipped}, {"mayBeInBoot", outcome.mayBeInBoot},
        {"readOut", readOutJson(outcome.readOut)}, {"text", causeFirst(outcome.text)},
        {"message", str(outcome.message)}};

    const bool success = outcome.everyPartWritten();
    Result result;
    result.doc = doc;
    if (!outcome.message.isEmpty())
        result.text = str(outcome.message) + '\n';
    // The window ends a write with "... press Write Parameters"; here the next step is a command.
    if (outcome.result == FirmwareOutcome::Result::Written) {
        QString next = outcome.text;
        next.replace(QStringLiteral("Restart the slaves! Unplug the device!\nPlug in again and "
                                    "press Write Parameters"),
            QStringLiteral("After the power cycle, run \"zuvianctl write-parameters -i %1\".")
                .arg(context.interface()));
        result.doc["text"] = str(next);
        result.text += str(next) + '\n';
    }
    std::string where = "write-firmware on " + context.eth;
    if (interruption.interrupted()) {
        // Whatever the job got to: the operator asked it to end, and a script must see that.
        result.status = Interrupted;
        if (!outcome.text.isEmpty())
            result.text += str(outcome.text) + '\n';
        const int written = int(outcome.updated().size());
        result.error = where + ": interrupted; "
            + (written == 0        ? std::string("no axis was written")
                    : written == 1 ? std::string("1 axis was written (see above)")
                                   : std::to_string(written) + " axes were written (see above)");
        result.doc["error"] = result.error;
        return result;
    }
    if (success)
        return result;

    result.status = Failed;
    if (outcome.result == FirmwareOutcome::Result::Failed && !outcome.axes.isEmpty()) {
        const FirmwareAxis& failed = outcome.axes.last();
        where += ", slave " + std::to_string(failed.position) + " (" + str(failed.part) + " axis "
            + std::to_string(failed.axis) + ")";
    }
    if (outcome.result == FirmwareOutcome::Result::Declined)
        result.error = where + ": not confirmed; nothing was written";
    else
        result.error = where + ": " + causeFirst(outcome.text);
    result.doc["error"] = result.error;
    return result;
}

}
