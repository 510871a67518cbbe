/*
 * How long "Write Parameters" takes on the virtual "robot" bus over the in-process link, and how
 * many frames it sends: the whole job (read-out of the current values, backup, password, every
 * entry set and stored, global twins, read-back) for the arm and then the wheel base. The frames
 * are counted at the link; the wall-clock time is the master's, the job's and the emulated
 * slaves' processing together, and the virtual time is what the bus itself would have taken at
 * 10 us per frame and per empty poll.
 *
 *   bench_parameter_write [runs]     (default 3)
 */
#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTimeZone>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "ParameterJob.h"
#include "eclink.h"
#include "simbus.h"

namespace {

// The link SimBus installed, with every frame sent counted on its way.
struct CountingLink
{
    ec_linkt inner;
    long frames = 0;

    static int open(void* ctx, const char* ifname, int port)
    {
        auto* self = static_cast<CountingLink*>(ctx);
        return self->inner.open(self->inner.ctx, ifname, port);
    }
    static int send(void* ctx, int handle, const void* frame, int len)
    {
        auto* self = static_cast<CountingLink*>(ctx);
        ++self->frames;
        return self->inner.send(self->inner.ctx, handle, frame, len);
    }
    static int recv(void* ctx, int handle, void* buf, int size)
    {
        auto* self = static_cast<CountingLink*>(ctx);
        return self->inner.recv(self->inner.ctx, handle, buf, size);
    }
    static void close(void* ctx, int handle)
    {
        auto* self = static_cast<CountingLink*>(ctx);
        self->inner.close(self->inner.ctx, handle);
    }
    static int wait(void* ctx, int handle, int usec)
    {
        auto* self = static_cast<CountingLink*>(ctx);
        return self->inner.wait ? self->inner.wait(self->inner.ctx, handle, usec) : 1;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    if (runs <= 0) {
        std::fprintf(stderr, "usage: %s [runs]\n", argv[0]);
        return 2;
    }
    // The backups go to a directory of their own, gone after the run.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());

    int failed = 0;
    for (int run = 0; run < runs; ++run) {
        SimBus bus("robot");
        CountingLink counter;
        counter.inner = *ec_link();
        const ec_linkt counting{&counter, &CountingLink::open, &CountingLink::send,
            &CountingLink::recv, &CountingLink::close, &CountingLink::wait};
        ec_setlink(&counting);

        ParameterRequest request;
        request.eth = QString::fromLatin1(SimBus::Primary);
        request.readOutOk = true;
        request.Arm1Start = 7;
        request.PlatformStart = 2;
        request.PlatformSlaveCount = 4;
        request.backupTime = QDateTime(QDate(2025, 1, 1), QTime(0, 0, run), QTimeZone::utc());

        ParameterJob job;
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t virtualStart = bus.clock().nowUs();
        const ParameterOutcome outcome = job.run(request);
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double virtualSeconds = double(bus.clock().nowUs() - virtualStart) / 1e6;

        const bool written = outcome.arm.result == ParameterPartOutcome::Result::Written
            && outcome.platform.result == ParameterPartOutcome::Result::Written;
        failed += written ? 0 : 1;
        std::printf("run %d: %ld frames in %.3f s wall clock (%.0f frames/s), %.3f s on the "
                    "virtual bus, %d commands confirmed, %s\n",
            run + 1, counter.frames, seconds, double(counter.frames) / seconds, virtualSeconds,
            outcome.arm.confirmed + outcome.platform.confirmed,
            written ? "all written" : "NOT all written");
        std::fflush(stdout);
    }
    return failed == 0 ? 0 : 1;
}
