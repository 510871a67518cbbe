// The helpers every command shares: failures, the read-out as JSON, and a job's reports on
// standard error (bars on a terminal, plain lines otherwise).
#include "command.h"

#include <QObject>

#include <iostream>
#include <memory>

#include "BusJob.h"

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
    return {{"ok", readOut.ok}, {"failure", str(readOut.failure)}, {"slaves", readOut.SlaveCount},
        {"names", names}, {"arm", partJson(readOut.arm)},
        {"platform", partJson(readOut.platform)}};
}

namespace {

// Draws a job's progress. On a terminal one bar per step, redrawn in place; otherwise a line when
// a step begins and at each quarter of it, so that a log stays short.
class ProgressPrinter
{
public:
    ProgressPrinter(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}
    ~ProgressPrinter() { endBar(); }

    void line(const QString& text)
    {
        if (text == last_)
            return;
        endBar();
        last_ = text;
        err_ << str(text) << '\n' << std::flush;
    }

    void progress(const JobProgress& now)
    {
        if (now.total <= 0 || now.part.isEmpty())
            return;
        const std::string what = str(now.part)
            + (now.axis == 0 ? std::string(" axes") : " axis " + std::to_string(now.axis));
        const int share = int(now.done * 100 / now.total);
        if (terminal_) {
            const int width = 30;
            const int filled = int(now.done * width / now.total);
            err_ << '\r' << what << " [" << std::string(size_t(filled), '#')
                 << std::string(size_t(width - filled), ' ') << "] " << now.done << '/'
                 << now.total << std::flush;
            barOpen_ = true;
            return;
        }
        const int quarter = share / 25;
        if (what == lastWhat_ && quarter == lastQuarter_)
            return;
        lastWhat_ = what;
        lastQuarter_ = quarter;
        err_ << what << ": " << now.done << " of " << now.total << " ("
             << share << " %)\n" << std::flush;
    }

private:
    void endBar()
    {
        if (barOpen_)
            err_ << '\n';
        barOpen_ = false;
    }

    std::ostream& err_;
    const bool terminal_;
    bool barOpen_ = false;
    QString last_;
    std::string lastWhat_;
    int lastQuarter_ = -1;
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

void attach(BusJob& job, Context& context)
{
    // The printer lives as long as the job's connections.
    auto printer = std::make_shared<ProgressPrinter>(context.err, context.terminal);
    QObject::connect(&job, &BusJob::line, &job, [printer](const QString& text) {
        printer->line(text);
    });
    QObject::connect(&job, &BusJob::status, &job, [printer](const QString& text) {
        printer->line(text.simplified());
    });
    QObject::connect(&job, &BusJob::progress, &job, [printer](const JobProgress& now) {
        printer->progress(now);
    });
    // The job runs on this thread: the answer must be given during the signal.
    QObject::connect(&job, &BusJob::consentNeeded, &job,
        [&job, &context](const QString& /*title*/, const QString& question) {
            if (context.yes) {
                job.answer(true);
                return;
            }
            if (context.interactive) {
                context.asking = true;
                const bool yes = askOnTerminal(context.err, question);
                context.asking = false;
                job.answer(yes);
                return;
            }
            context.err << str(question) << "\nNot confirmed: give --yes to write without "
                        << "being asked.\n";
            job.answer(false);
        },
        Qt::DirectConnection);
}

}
