/*
 * What the benchmarks and the soak program share: sample statistics printed as "name value bound
 * ratio" lines, a load generator that keeps every CPU busy, and zuvian-sim started on a veth pair
 * for the length of a run.
 */
#ifndef BENCH_BENCHSUPPORT_H
#define BENCH_BENCHSUPPORT_H

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <net/if.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BusSession.h"
#include "InterfaceLock.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

/* One figure: its name, the value, the bound it is held against and their ratio. */
inline void figure(const char* name, double value, double bound, double ratio)
{
    std::printf("%-44s %12.2f %12.2f %8.3f\n", name, value, bound, ratio);
    std::fflush(stdout);
}

/* Sorting the whole list for each quantile is simple and fast enough for the 10^5 samples a run
 * takes. */
class Samples
{
public:
    void add(double v) { values_.push_back(v); }
    bool empty() const { return values_.empty(); }
    double quantile(double q) const
    {
        if (values_.empty())
            return 0;
        std::vector<double> sorted = values_;
        std::sort(sorted.begin(), sorted.end());
        const size_t i = std::min(sorted.size() - 1, size_t(q * double(sorted.size())));
        return sorted[i];
    }
    double median() const { return quantile(0.5); }
    double worst() const
    {
        return values_.empty() ? 0 : *std::max_element(values_.begin(), values_.end());
    }

    /* Median, p99, p99.9 and the worst, each against `bound`. */
    void print(const std::string& name, double bound) const
    {
        const double b = bound > 0 ? bound : 1;
        const struct
        {
            const char* suffix;
            double value;
        } rows[] = {{" median", median()}, {" p99", quantile(0.99)}, {" p99.9", quantile(0.999)},
            {" worst", worst()}};
        for (const auto& row : rows)
            figure((name + row.suffix).c_str(), row.value, bound, row.value / b);
    }

private:
    std::vector<double> values_;
};

/* While it lives, one process per CPU spins at normal priority, as a compiler run would load a
 * technician's laptop. Off when constructed with false. */
class LoadGenerator
{
public:
    explicit LoadGenerator(bool on)
    {
        const long cpus = on ? sysconf(_SC_NPROCESSORS_ONLN) : 0;
        for (long i = 0; i < cpus; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid > 0)
                pids_.push_back(pid);
        }
    }
    ~LoadGenerator()
    {
        for (pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    LoadGenerator(const LoadGenerator&) = delete;
    LoadGenerator& operator=(const LoadGenerator&) = delete;

private:
    std::vector<pid_t> pids_;
};

/* While it lives and is on, the CPUs idle without halting: a request for 0 µs of wake-up latency
 * through /dev/cpu_dma_latency, as latency measurements on Linux make. On a virtual machine whose
 * idle CPU halts, every frame otherwise waits for the host to wake the CPU zuvian-sim sleeps on,
 * which says nothing about the master or the emulation. Costs no CPU time of any process: the idle
 * CPUs poll instead. `error()` says why it could not be had (root is needed). */
class AwakeCpus
{
public:
    explicit AwakeCpus(bool on)
    {
        if (!on)
            return;
        fd_ = open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
        const std::int32_t microseconds = 0;
        if (fd_ < 0 || write(fd_, &microseconds, sizeof microseconds) != sizeof microseconds)
            error_ = std::string("cannot keep the CPUs awake (/dev/cpu_dma_latency): ")
                + std::strerror(errno);
    }
    ~AwakeCpus()
    {
        if (fd_ >= 0)
            close(fd_); // the request ends with the file
    }
    AwakeCpus(const AwakeCpus&) = delete;
    AwakeCpus& operator=(const AwakeCpus&) = delete;
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

/* zuvian-sim (the program beside this one) serving `layout` on a veth pair whose master end is
 * `name`; stopped, and the pair removed, when the object ends. */
class Sim
{
public:
    Sim(const std::string& name, const std::string& layout,
        const std::vector<std::string>& extra = {})
        : name_(name)
    {
        char self[PATH_MAX] = {};
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string();
        dir = dir.substr(0, dir.rfind('/'));
        const std::string program = dir + "/zuvian-sim";
        std::vector<std::string> args = {program, "--veth", name, "--layout", layout};
        args.insert(args.end(), extra.begin(), extra.end());
        // Its output (the statistics it prints at its end) goes to a file that finish() reads.
        char output[] = "/tmp/zuvian-bench-sim-XXXXXX";
        const int out = mkstemp(output);
        if (out >= 0) {
            output_ = output;
            ::close(out);
        }
        pid_ = fork();
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            if (!freopen(output_.empty() ? "/dev/null" : output_.c_str(), "w", stdout))
                _exit(126);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        // The program creates the pair, then opens its socket; give it up to five seconds.
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                error_ = program + " ended at start (root needed)";
                return;
            }
            if (if_nametoindex(name.c_str()) != 0 && i > 20)
                return;
            usleep(10000);
        }
        if (pid_ < 0)
            error_ = "cannot start " + program;
    }
    ~Sim()
    {
        finish();
        if (!output_.empty())
            unlink(output_.c_str());
    }

    /* Stops zuvian-sim and returns what it printed (its statistics come at its end). */
    std::string finish()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        std::string text;
        if (FILE* f = output_.empty() ? nullptr : std::fopen(output_.c_str(), "r")) {
            char line[512];
            while (std::fgets(line, sizeof line, f))
                text += line;
            std::fclose(f);
        }
        return text;
    }

    /* Stops zuvian-sim and prints its lines about the time it took per frame, as comments. */
    void printProcessing()
    {
        const std::string text = finish();
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            const std::string line = text.substr(at, end - at);
            if (line.find("per frame") != std::string::npos
                || line.find("per reply") != std::string::npos)
                std::printf("# %s\n", line.c_str());
            at = end + 1;
        }
        std::fflush(stdout);
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    bool ok() const { return pid_ > 0 && if_nametoindex(name_.c_str()) != 0; }
    const std::string& interface() const { return name_; }
    std::string error() const
    {
        return error_.empty() ? "interface " + name_ + " did not appear" : error_;
    }

private:
    std::string name_;
    std::string error_;
    std::string output_;
    pid_t pid_ = -1;
};

/* The interface `name` for the whole run, as every program that opens the master on a raw socket
 * holds it; taken before the run creates or removes a veth pair of that name, so that a second
 * run cannot pull the pair from under the first. Null, with the holder named on standard error,
 * when another program has it. */
inline std::unique_ptr<InterfaceLock> holdInterface(const std::string& name)
{
    auto lock = std::make_unique<InterfaceLock>(QString::fromStdString(name));
    if (lock->held())
        return lock;
    std::fprintf(stderr, "%s\n", lock->refusal().toLocal8Bit().constData());
    return nullptr;
}

} // namespace bench

#endif
