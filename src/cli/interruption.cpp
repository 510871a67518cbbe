// The signal handler, the watcher thread and the two answers to a signal: stop after the step in
// progress, or end at once.
#include "interruption.h"

#include <QObject>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "BusJob.h"

namespace cli {

namespace {

// The write end of the watcher's pipe; -1 while no command is watched.
volatile sig_atomic_t signalPipe = -1;

const char kSignalled = 's';
const char kQuit = 'q';

void onSignal(int)
{
    // write() is async-signal-safe; errno is the interrupted code's and is put back.
    const int saved = errno;
    const int fd = signalPipe;
    if (fd >= 0)
        (void)!write(fd, &kSignalled, 1);
    errno = saved;
}

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

}

Interruption::Interruption(BusJob& job, Context& context, const std::string& command, StepName name,
    std::function<void()> abandon)
    : job_(job)
    , context_(context)
    , command_(command)
    , name_(std::move(name))
    , abandon_(std::move(abandon))
{
    QObject::connect(
        &job, &BusJob::progress, &job,
        [this](const JobProgress& now) {
            if (!now.writing)
                return;
            std::lock_guard<std::mutex> guard(mutex_);
            const std::string step = name_(now);
            if (now.stepComplete) {
                if (written_.empty() || written_.back() != step)
                    written_.push_back(step);
                current_.clear();
            } else {
                current_ = step;
            }
        },
        Qt::DirectConnection);

    if (pipe2(pipe_, O_CLOEXEC) != 0) {
        context_.err << "zuvianctl: Ctrl-C cannot be caught (" << std::strerror(errno)
                     << "): it ends the program at once\n";
        return;
    }
    // Blocked here before the watcher starts; the watcher unblocks them for itself, so a signal
    // is taken on its thread and never interrupts the bus or a question on this one.
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
    signalPipe = pipe_[1];
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
    watcher_ = std::thread([this] { watch(); });
}

Interruption::~Interruption()
{
    if (!watcher_.joinable())
        return;
    (void)!write(pipe_[1], &kQuit, 1);
    watcher_.join();
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
    signalPipe = -1;
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    close(pipe_[0]);
    close(pipe_[1]);
}

void Interruption::watch()
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    for (;;) {
        char byte = 0;
        const ssize_t n = read(pipe_[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == kQuit)
            return;
        if (++signals_ == 1)
            first();
        else
            second();
    }
}

void Interruption::first()
{
    // The stop first: from here on the job begins no further step, so the one named below is the
    // last it writes.
    job_.requestStop();
    std::string step;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        step = current_;
    }
    if (context_.asking) {
        // The job waits for the operator's answer and has written nothing: nothing to wait for.
        context_.err << "\nzuvianctl: interrupted before anything was written\n" << std::flush;
        if (context_.json && context_.resultFd >= 0)
            writeAll(context_.resultFd, abandonedDocument(std::string()));
        _exit(Interrupted);
    }
    // One piece, as the job's own lines are: they are written from the job's thread meanwhile.
    context_.err << (step.empty()
            ? std::string("\nzuvianctl: stopping before anything more is written.\n")
            : "\nzuvianctl: stopping after " + step
                + ". Press Ctrl-C again to end at once and leave it half written.\n")
                 << std::flush;
    ++context_.interjections;
}

void Interruption::second()
{
    std::string step;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        step = current_;
    }
    context_.err << (step.empty()
            ? std::string("\nzuvianctl: ended at once; no step was being written.\n")
            : "\nzuvianctl: warning: ended at once, leaving " + step
                + " half written. Power-cycle the robot and run " + command_ + " again.\n")
                 << std::flush;
    if (context_.json && context_.resultFd >= 0)
        writeAll(context_.resultFd, abandonedDocument(step));
    if (abandon_)
        abandon_();
    // The kernel frees the interface lock and closes the socket; nothing else may run now.
    _exit(Interrupted);
}

std::string Interruption::abandonedDocument(const std::string& halfWritten) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const nlohmann::json doc = {{"command", command_}, {"interface", context_.eth},
        {"result", "interrupted"}, {"written", written_},
        {"halfWritten", halfWritten.empty() ? nlohmann::json() : nlohmann::json(halfWritten)},
        {"error", command_ + " on " + context_.eth + ": interrupted"}};
    return doc.dump(2) + '\n';
}

}
