/*
 * The virtual bus behind the master's link and clock seams, for fuzz targets: like the tests'
 * SimBus, but without a test framework, and with a clock that can be told to run fast.
 *
 * A fuzz target whose scripted replies are used up would otherwise sit through the master's
 * time-outs poll by poll (a mailbox read polls every 200 µs for 700 ms). With `fastForward` on,
 * every sleep and idle poll of the master costs 64 times its length of virtual time, so the same
 * deadlines pass after a few dozen polls. The master's logic does not change: it only sees a clock.
 *
 * One FuzzBus at a time; the destructor puts the product's raw socket and system clock back.
 */
#ifndef FUZZ_COMMON_FUZZBUS_H
#define FUZZ_COMMON_FUZZBUS_H

#include "core/chain.h"
#include "core/inprocesslink.h"

#include <cstdint>
#include <string>

class FuzzBus
{
public:
    static constexpr const char *Primary = "sim0";

    explicit FuzzBus(sim::Chain chain);
    ~FuzzBus();
    FuzzBus(const FuzzBus &) = delete;
    FuzzBus &operator=(const FuzzBus &) = delete;

    sim::Chain &chain() { return chain_; }
    sim::Slave &slave(std::size_t number) { return chain_.slave(number); }
    void fastForward(bool on)
    {
        fast_ = on;
        link_.timing().idlePollUs = on ? 640 : 10;
    }

private:
    static int open(void *ctx, const char *ifname, int port);
    static int send(void *ctx, int handle, const void *frame, int len);
    static int recv(void *ctx, int handle, void *buf, int size);
    static void close(void *ctx, int handle);
    static int wait(void *ctx, int handle, int usec);
    static void now(void *ctx, struct timeval *tv);
    static void sleep(void *ctx, std::uint32_t usec);

    sim::Chain chain_;
    sim::InProcessLink link_;
    bool fast_ = false;
};

/* Send the process's standard output to /dev/null: the master's and the application's progress
 * lines would otherwise flood the fuzzer's log (libFuzzer reports on standard error). */
void fuzzSilenceStdout();

#endif
