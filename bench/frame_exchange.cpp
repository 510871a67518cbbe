/*
 * How many frames a second the master exchanges with the virtual "robot" bus over the in-process
 * link: configured-address reads of one register, then process data cycles of the whole bus in
 * SAFE-OP. The rate is the master's and the emulated slaves' processing cost together, measured on
 * the wall clock; the bus itself runs on its virtual clock, so nothing here waits.
 *
 *   bench_frame_exchange [frames]     (default 100000 of each kind)
 */
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "ethercatbase.h"
#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"
#include "simbus.h"

namespace {

using Clock = std::chrono::steady_clock;

/* Runs `exchange` `frames` times and prints the rate; returns the number of failed exchanges. */
template <typename Exchange>
long timeIt(const char* what, long frames, Exchange exchange)
{
    long failed = 0;
    const auto start = Clock::now();
    for (long i = 0; i < frames; ++i)
        failed += exchange() ? 0 : 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-22s %8ld frames in %7.3f s: %10.0f frames/s\n", what, frames, seconds,
        seconds > 0 ? double(frames) / seconds : 0.0);
    return failed;
}

} // namespace

int main(int argc, char** argv)
{
    const long frames = argc > 1 ? std::atol(argv[1]) : 100000;
    if (frames <= 0) {
        std::fprintf(stderr, "usage: %s [frames]\n", argv[0]);
        return 2;
    }
    SimBus bus("robot");
    static uint8 image[EC_IOMAPSIZE];
    if (ec_init(SimBus::Primary) <= 0 || ec_config(FALSE, image) <= 0
        || ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE) != EC_STATE_SAFE_OP) {
        std::fprintf(stderr, "the virtual robot did not reach SAFE-OP\n");
        return 1;
    }
    std::printf("%d slaves, process image %u bytes out, %u bytes in\n", ec_slavecount,
        ec_group[0].Obytes, ec_group[0].Ibytes);

    const uint16 station = ec_slave[ec_slavecount].configadr;
    long failed = timeIt("FPRD AL status", frames, [station] {
        uint16 status = 0;
        return ec_FPRD(station, ECT_REG_ALSTAT, sizeof status, &status, EC_TIMEOUT_FRAME) == 1;
    });
    failed += timeIt("process data cycle", frames, [] {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUT_FRAME) == ec_group[0].expectedWKC;
    });
    ec_close();
    if (failed) {
        std::fprintf(stderr, "%ld exchanges failed\n", failed);
        return 1;
    }
    return 0;
}
