// Real programs for the tests that run them as an operator does: a program started with its
// standard output and standard error on pipes, and zuvian-sim serving the "robot" layout on a veth
// pair of its own. Header-only: only the test programs that start programs use it.
#pragma once

#include <QString>

#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "InterfaceLock.h"
#include "core/veth.h"

// Every wait of these tests ends at the latest after this long without a word from the program:
// far beyond a whole robot's firmware (seconds), so only a program that hangs reaches it.
const int kQuietLimitMs = 120000;

// A program built next to the running test.
inline std::string besideThisTest(const char* program)
{
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, size_t(n > 0 ? n : 0));
    return path.substr(0, path.rfind('/') + 1) + program;
}

// A program started with its standard output and standard error on pipes; ended (SIGKILL) and
// reaped if the test leaves it running.
class Program
{
public:
    Program(const std::vector<std::string>& args, const std::string& directory = "/")
    {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(errPipe[1], STDERR_FILENO);
            if (chdir(directory.c_str()) != 0)
                _exit(126);
            std::vector<char*> argv;
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_})
            if (fd >= 0)
                close(fd);
    }

    pid_t pid() const { return pid_; }
    const std::string& out() const { return outText_; }
    const std::string& err() const { return errText_; }

    // Reads both pipes until `marker` is in the one chosen (standard output, or standard error)
    // `times` times; false when the program ended or fell silent first.
    bool waitFor(const std::string& marker, bool onStderr, int times = 1)
    {
        const std::string& text = onStderr ? errText_ : outText_;
        while (count(text, marker) < times) {
            if (!readSome())
                return false;
        }
        return true;
    }

    static int count(const std::string& text, const std::string& marker)
    {
        int n = 0;
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
            ++n;
        return n;
    }

    // Reads everything up to the end of both pipes and reaps the program. Its exit status, or -1
    // when it did not end normally or fell silent.
    int finish()
    {
        while (out_ >= 0 || err_ >= 0) {
            if (!readSome())
                break;
        }
        if (out_ >= 0 || err_ >= 0)
            return -1;
        int status = 0;
        const pid_t pid = pid_;
        pid_ = -1;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

private:
    // One read from whichever pipe has something; false when both are closed or nothing came
    // within the limit.
    bool readSome()
    {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (out_ < 0 && err_ < 0)
            return false;
        if (poll(fds, 2, kQuietLimitMs) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            int& fd = i == 0 ? out_ : err_;
            char buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fd);
                fd = -1;
                continue;
            }
            (i == 0 ? outText_ : errText_).append(buffer, size_t(n));
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outText_;
    std::string errText_;
};

// zuvian-sim serving the "robot" layout, on the older firmware, behind a veth pair of its own;
// `extra` are further options (faults).
class VirtualRobot
{
public:
    explicit VirtualRobot(const std::string& name, const std::vector<std::string>& extra = {})
        : name_(name)
    {
        sim::VethPair::removeStale(name_);
        std::vector<std::string> args{besideThisTest("zuvian-sim"), "--layout", "robot",
            "--firmware-version", "1.40", "--veth", name_};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<Program>(args);
        serving_ = sim_->waitFor("Ctrl-C ends it", false);
    }
    ~VirtualRobot()
    {
        if (sim_->pid() > 0) {
            kill(sim_->pid(), SIGTERM);
            sim_->finish();
        }
        sim::VethPair::removeStale(name_);
        // The programs leave the interface's lock file for the next one; this interface has none.
        unlink(InterfaceLock::path(QString::fromStdString(name_)).toLocal8Bit().constData());
    }

    bool serving() const { return serving_; }
    std::string output() const { return sim_->out() + sim_->err(); }
    const std::string& name() const { return name_; }

    // Switches the robot off and on (written images take over) and waits until it says so.
    bool powerCycle()
    {
        const std::string marker = "zuvian-sim: power cycle";
        const int before = Program::count(sim_->out(), marker);
        return kill(sim_->pid(), SIGUSR1) == 0 && sim_->waitFor(marker, false, before + 1);
    }

private:
    std::string name_;
    std::unique_ptr<Program> sim_;
    bool serving_ = false;
};
