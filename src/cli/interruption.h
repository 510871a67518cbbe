// Ctrl-C (SIGINT) and SIGTERM while a command writes the robot. The first signal asks the job to
// stop once the step in progress is written (an axis's firmware, a part's parameters: each within
// its own deadline), so that no controller is left half written by the operator's wish; the
// command then reports what was and was not written, as it always does, and ends with status 130.
// A second signal ends the program at once, with a warning that names the step left half written.
//
// The signal handler only writes a byte to a pipe; a watcher thread reads it and does the rest.
// The calling thread, which works the bus, has both signals blocked, so no system call of the
// master or of a terminal question is cut short by them.
#ifndef CLI_INTERRUPTION_H
#define CLI_INTERRUPTION_H

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

#include "command.h"

class BusJob;

namespace cli {

class Interruption
{
public:
    // The name of a step for the operator ("arm axis 2", "the arm parameters").
    using StepName = std::function<std::string(const JobProgress&)>;

    // Watches `job`, run by `command` on the calling thread, from now until destroyed. When the
    // program ends at once, `abandon` (if given) removes what the job would have removed itself.
    Interruption(BusJob& job, Context& context, const std::string& command, StepName name,
        std::function<void()> abandon = {});
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // True when a signal came: the command ends with status 130.
    bool interrupted() const { return signals_ > 0; }

private:
    void watch();
    void first();
    [[noreturn]] void second();
    // The JSON document printed when the program ends at once.
    std::string abandonedDocument(const std::string& halfWritten) const;

    BusJob& job_;
    Context& context_;
    const std::string command_;
    const StepName name_;
    const std::function<void()> abandon_;
    // Written by the job's progress on the calling thread, read by the watcher.
    mutable std::mutex mutex_;
    std::string current_;
    std::vector<std::string> written_;
    std::atomic_int signals_{0};
    int pipe_[2] = {-1, -1};
    sigset_t previousMask_;
    struct sigaction previousInt_;
    struct sigaction previousTerm_;
    std::thread watcher_;
};

}

#endif // CLI_INTERRUPTION_H
