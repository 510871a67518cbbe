// What every command of zuvianctl shares: the options common to all of them, the result a command
// hands back (exit status, JSON document, text), and the helpers that turn the jobs' values and
// signals into output.
#ifndef CLI_COMMAND_H
#define CLI_COMMAND_H

#include <QString>

#include <nlohmann/json.hpp>

#include <atomic>
#include <ostream>
#include <string>

#include "ReadOut.h"

class BusJob;
struct JobProgress;

namespace cli {

// Interrupted: ended by Ctrl-C or SIGTERM (128 + SIGINT, as a shell reports it).
enum Exit { Success = 0, Failed = 1, Usage = 2, Differences = 3, Interrupted = 130 };

struct Context
{
    std::ostream& out;
    std::ostream& err;
    // The interface the bus is on.
    std::string eth;
    // Who does the work, as the service records name it; see JobRecord::tester.
    std::string tester = {};
    // The service record the last job left: its file, or why it could not be written.
    std::string recordFile = {};
    std::string recordError = {};
    bool json = false;
    // Consent is given in advance: nothing is asked.
    bool yes = false;
    // Standard error is a terminal: progress is drawn as bars, otherwise written as lines.
    bool terminal = false;
    // Questions may be asked on the terminal.
    bool interactive = false;
    // Set while a question waits for the operator's answer on the terminal.
    std::atomic_bool asking{false};
    // Counts messages written to `err` from outside the job's signals (the Ctrl-C watcher), so
    // that a progress bar is not redrawn over them.
    std::atomic_int interjections{0};
    // Where the result goes when the program has to end before the command returns; -1 when
    // there is no such place (the result stream is all).
    int resultFd = -1;

    QString interface() const { return QString::fromStdString(eth); }
};

struct Result
{
    int status = Success;
    nlohmann::json doc = nlohmann::json::object();
    // The text printed without --json; ends with a newline when not empty.
    std::string text;
    // Why the command failed, naming interface, slave and step; printed on standard error.
    std::string error;
};

// Returns a Result of status Failed with `error`, also filed in the document.
Result failure(const std::string& error, nlohmann::json doc = nlohmann::json::object());
// Returns a Result of status Usage with `error`: arguments the command cannot run with.
Result usageError(const std::string& error);

std::string str(const QString& text);

// A job's failure as the command line says it: the window leads with a text that lists several
// causes at once ("Slaves not found! Run firmwareupdate ..."), which misleads a user who is root
// or whose interface is missing; here the cause the job found leads, followed by whatever else
// the job said. Nothing is cut: every line is kept.
std::string causeFirst(const QString& jobText);

// A part of the read-out as JSON: where it sits, what was counted and each axis with its version
// (null when the controller gave no reply).
nlohmann::json partJson(const PartReading& part);
nlohmann::json readOutJson(const ReadOutResult& readOut);

// Asks `question` before a command changes what a slave holds: yes with --yes, the operator's
// answer on a terminal, no otherwise (with the hint to give --yes on standard error).
bool confirm(Context& context, const std::string& question);

// Has the job's service record name the context's tester, and keeps where it went in the context;
// a record that could not be written is said on standard error.
void keepRecord(BusJob& job, Context& context);

// Writes a job's lines and statuses, and its progress, to standard error, and answers its
// question for consent: yes with --yes, the operator's answer on a terminal, no otherwise. Its
// record is kept as keepRecord does.
void attach(BusJob& job, Context& context);

}

#endif // CLI_COMMAND_H
