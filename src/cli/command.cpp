// The helpers every command shares: failures, the read-out as JSON, and a job's reports on
// standard error (bars on a terminal, plain lines otherwise).
#include "command.h"

#include <QObject>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

#include "BusJob.h"
#include "RobotLayout.h"

namespace cli {

Result failure(const std::string& error, nlohmann::json doc)
{
    Result result;
    result.status = Failed;
    result.error = error;
    result.doc = std::move(doc);
    result.doc["error"] = error;
    return result;
}

Result usageError(const std::string& error)
{
    Result result = failure(error);
    result.status = Usage;
    return result;
}

std::string str(const QString& text)
{
    return text.toStdString();
}

std::string causeFirst(const QString& jobText)
{
    // The window's text for a bus that gave no usable read-out, as the read-out files it.
    static const QString windowText = RobotLayout::slavesNotFoundText();
    QString text = jobText.trimmed();
    if (text.startsWith(windowText)) {
        const QString cause = text.mid(windowText.size()).trimmed();
        if (!cause.isEmpty())
            text = cause;
    }
    return str(text);
}

nlohmann::json partJson(const PartReading& part)
{
    nlohmann::json axes = nlohmann::json::array();
    for (int k = 0; k < part.axes.size(); ++k) {
        const AxisReading& axis = part.axes.at(k);
        axes.push_back({{"axis", k + 1}, {"position", axis.position}, {"name", str(axis.name)},
            {"version", axis.answered ? nlohmann::json(str(axis.version)) : nlohmann::json()}});
    }
    return {{"part", str(part.part)}, {"present", part.present()}, {"complete", part.complete()},
        {"start", part.start}, {"counted", part.counted}, {"expected", part.expected},
        {"problem", str(part.problem)}, {"axes", axes}};
}

nlohmann::json readOutJson(const ReadOutResult& readOut)
{
    nlohmann::json names = nlohmann::json::array();
    for (const QString& name : readOut.names)
        names.push_back(str(name));
    return {{"ok", readOut.ok}, {"failure", causeFirst(readOut.failure)},
        {"slaves", readOut.SlaveCount}, {"names", names}, {"arm", partJson(readOut.arm)},
        {"platform", partJson(readOut.platform)}};
}

namespace {

// Draws a job's progress on a terminal: one bar per step, always ended with a line break so that
// whatever comes next (the firmware writer's "write successfull", a failure) starts on a line of
// its own; while the step runs, the bar is redrawn in place by moving up onto its line. The job
// prints nothing during a step's transfer; the Ctrl-C watcher may, and then the bar starts anew
// below its message.
// Without a terminal no counter is written: a log gets the job's lines and, once per step that
// writes the robot, the line that its first bytes are on their way ("arm axis 1: writing"), which
// is what a script watching the log waits for.
class ProgressPrinter
{
public:
    ProgressPrinter(std::ostream& err, bool terminal, const std::atomic_int& interjections)
        : err_(err)
        , terminal_(terminal)
        , interjections_(interjections)
    {}

    void line(const QString& text)
    {
        if (text == last_)
            return;
        last_ = text;
        bar_.clear();
        // Each message in one piece: the Ctrl-C watcher writes to the same stream from its thread.
        err_ << str(text) + '\n' << std::flush;
    }

    void progress(const JobProgress& now)
    {
        if (now.total <= 0 || now.part.isEmpty())
            return;
        const std::string what = str(now.part)
            + (now.axis == 0 ? std::string(" axes") : " axis " + std::to_string(now.axis));
        if (!terminal_) {
            if (now.writing && now.done > 0 && !now.stepComplete && what != announced_) {
                announced_ = what;
                err_ << what + ": writing\n" << std::flush;
            }
            return;
        }
        const long long done = std::min<long long>(std::max<long long>(now.done, 0), now.total);
        const int width = 30;
        const int filled = int(done * width / now.total);
        // The master and the firmware writer print through C's standard output, which shares
        // this stream's descriptor: what they buffered goes out before the bar is drawn.
        std::fflush(stdout);
        // Cursor up and to the start of the bar's line, redrawn and cleared to its end.
        const int interjections = interjections_;
        const std::string up = bar_ == what && interjections == barInterjections_ ? "\033[A\r" : "";
        barInterjections_ = interjections;
        err_ << up + what + " [" + std::string(size_t(filled), '#')
                + std::string(size_t(width - filled), ' ') + "] " + std::to_string(done) + '/'
                + std::to_string(now.total) + "\033[K\n"
             << std::flush;
        bar_ = what;
        last_.clear();
    }

private:
    std::ostream& err_;
    const bool terminal_;
    const std::atomic_int& interjections_;
    // The step whose bar is the last line written, or empty.
    std::string bar_;
    int barInterjections_ = 0;
    QString last_;
    std::string announced_;
};

bool askOnTerminal(std::ostream& err, const QString& question)
{
    err << str(question) << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

}

bool confirm(Context& context, const std::string& question)
{
    if (context.yes)
        return true;
    if (context.interactive) {
        context.asking = true;
        const bool yes = askOnTerminal(context.err, QString::fromStdString(question));
        context.asking = false;
        return yes;
    }
    context.err << question << "\nNot confirmed: give --yes to write without being asked.\n";
    return false;
}

void keepRecord(BusJob& job, Context& context)
{
    job.setTester(QString::fromStdString(context.tester));
    QObject::connect(
        &job, &BusJob::recordLeft, &job, [&context](const QString& file, const QString& error) {
            context.recordFile = str(file);
            context.recordError = str(error);
            if (file.isEmpty())
                context.err << "The service record could not be written: " << str(error) << '\n';
        });
}

void attach(BusJob& job, Context& context)
{
    // The printer lives as long as the job's connections.
    auto printer
        = std::make_shared<ProgressPrinter>(context.err, context.terminal, context.interjections);
    QObject::connect(
        &job, &BusJob::line, &job, [printer](const QString& text) { printer->line(text); });
    // The window's status texts lead with a list of possible causes; here the found one leads.
    QObject::connect(&job, &BusJob::status, &job, [printer](const QString& text) {
        printer->line(QString::fromStdString(causeFirst(text)).simplified());
    });
    QObject::connect(&job, &BusJob::progress, &job,
        [printer](const JobProgress& now) { printer->progress(now); });
    keepRecord(job, context);
    // The job runs on this thread: the answer must be given during the signal.
    QObject::connect(
        &job, &BusJob::consentNeeded, &job,
        [&job, &context](const QString& /*title*/, const QString& question) {
            job.answer(confirm(context, str(question)));
        },
        Qt::DirectConnection);
}

}
