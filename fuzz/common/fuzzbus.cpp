/*
 * FuzzBus: the master's link and clock seams connected to a virtual bus, with a clock that can
 * run fast once a target's scripted replies are used up.
 */
#include "fuzzbus.h"

#include "eclink.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr std::uint64_t EpochOffsetSeconds = 1700000000;
constexpr std::uint64_t FastFactor = 64;
} // namespace

FuzzBus::FuzzBus(sim::Chain chain) : chain_(std::move(chain)), link_(chain_)
{
    ec_linkt link{};
    link.ctx = this;
    link.open = &FuzzBus::open;
    link.send = &FuzzBus::send;
    link.recv = &FuzzBus::recv;
    link.close = &FuzzBus::close;
    link.wait = &FuzzBus::wait;
    ec_setlink(&link);
    ec_clockt clock{};
    clock.ctx = this;
    clock.now = &FuzzBus::now;
    clock.sleep = &FuzzBus::sleep;
    ec_setclock(&clock);
}

FuzzBus::~FuzzBus()
{
    ec_setlink(nullptr);
    ec_setclock(nullptr);
}

int FuzzBus::open(void *, const char *ifname, int)
{
    return ifname != nullptr && std::strcmp(ifname, Primary) == 0 ? 0 : -1;
}

int FuzzBus::send(void *ctx, int handle, const void *frame, int len)
{
    auto *bus = static_cast<FuzzBus *>(ctx);
    if (handle != 0 || frame == nullptr || len < 0)
        return -1;
    const auto *bytes = static_cast<const std::uint8_t *>(frame);
    bus->link_.send(sim::Port::Primary, sim::Bytes(bytes, bytes + len));
    return len;
}

int FuzzBus::recv(void *ctx, int handle, void *buf, int size)
{
    auto *bus = static_cast<FuzzBus *>(ctx);
    if (handle != 0 || buf == nullptr || size < 0)
        return -1;
    auto frame = bus->link_.receive(sim::Port::Primary);
    if (!frame)
        return 0;
    const std::size_t n = std::min(frame->size(), std::size_t(size));
    std::memcpy(buf, frame->data(), n);
    return int(n);
}

void FuzzBus::close(void *, int) {}

int FuzzBus::wait(void *ctx, int handle, int usec)
{
    auto *bus = static_cast<FuzzBus *>(ctx);
    if (handle != 0 || usec < 0)
        return -1;
    return bus->link_.wait(sim::Port::Primary, std::uint64_t(usec)) ? 1 : 0;
}

void FuzzBus::now(void *ctx, struct timeval *tv)
{
    auto *bus = static_cast<FuzzBus *>(ctx);
    // Every reading costs time, so a loop that only polls the clock still reaches its deadline.
    bus->chain_.clock().advance(bus->fast_ ? FastFactor : 1);
    const std::uint64_t us = bus->chain_.clock().nowUs();
    tv->tv_sec = time_t(EpochOffsetSeconds + us / 1000000u);
    tv->tv_usec = suseconds_t(us % 1000000u);
}

void FuzzBus::sleep(void *ctx, std::uint32_t usec)
{
    auto *bus = static_cast<FuzzBus *>(ctx);
    bus->chain_.clock().advance(std::uint64_t(usec) * (bus->fast_ ? FastFactor : 1));
}

void fuzzSilenceStdout()
{
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}
