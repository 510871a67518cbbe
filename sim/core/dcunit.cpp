/*
 * Distributed-clock unit of an emulated slave controller: local clock, latches, system time,
 * time control loop and SYNC registers.
 */
#include "core/dcunit.h"

#include "core/bytes.h"

#include <algorithm>

namespace sim {

namespace {
/* Offsets from 0x0900. */
constexpr std::uint16_t ReceiveTimes = 0x00;
constexpr std::uint16_t SystemTime = 0x10;
constexpr std::uint16_t ProcessingUnitTime = 0x18;
constexpr std::uint16_t SystemTimeDelay = 0x28;
constexpr std::uint16_t SpeedCounterStart = 0x30;
constexpr std::uint16_t Activation = 0x81;
constexpr std::uint16_t StartTime = 0x90;
constexpr std::uint16_t Cycle0 = 0xA0;
constexpr std::uint16_t Cycle1 = 0xA4;

constexpr std::uint8_t CyclicAndSync0 = 0x03;
constexpr std::int64_t NsPerS = 1000000000;

bool within(std::uint16_t offset, std::uint16_t first, std::uint16_t count)
{
    return offset >= first && offset < first + count;
}

/* Local ns gained (or lost) on the bus's `busNs` at `ppb`, exact for any time. */
std::int64_t driftNs(std::uint64_t busNs, std::int32_t ppb)
{
    const std::int64_t seconds = std::int64_t(busNs / NsPerS);
    const std::int64_t rest = std::int64_t(busNs % NsPerS);
    return seconds * ppb + rest * ppb / NsPerS;
}
} // namespace

DcUnit::DcUnit(DcClockSettings clock)
    : clock_(clock)
{}

bool DcUnit::writable(std::uint16_t offset)
{
    // Offset and delay, speed counter start, filter depths, cyclic unit control and activation,
    // start time, cycle times.
    return within(offset, 0x20, 0x0C) || within(offset, SpeedCounterStart, 2)
        || within(offset, 0x34, 2) || within(offset, 0x80, 2) || within(offset, StartTime, 8)
        || within(offset, Cycle0, 8);
}

std::uint64_t DcUnit::frameNs() const
{
    return arrivals_[0].value_or(0);
}

std::uint64_t DcUnit::correctionAt(std::uint64_t busNs) const
{
    // Unsigned throughout: the clock counts modulo 2^64 like the registers it feeds.
    const std::uint64_t elapsed = busNs > since_ ? busNs - since_ : 0;
    const std::uint64_t reach = elapsed * std::uint64_t(MaxSlewPpm) / 1000000u;
    const std::uint64_t magnitude
        = pending_ < 0 ? 0 - std::uint64_t(pending_) : std::uint64_t(pending_);
    const std::uint64_t step = std::min(magnitude, reach);
    return pending_ < 0 ? corrected_ - step : corrected_ + step;
}

std::uint64_t DcUnit::localTimeAt(std::uint64_t busNs) const
{
    return clock_.startNs + busNs + std::uint64_t(driftNs(busNs, clock_.driftPpb))
        + correctionAt(busNs);
}

std::uint64_t DcUnit::systemTimeAt(std::uint64_t busNs) const
{
    return localTimeAt(busNs) + reg64(0x20);
}

void DcUnit::setLocalTime(std::uint64_t busNs, std::uint64_t localNs)
{
    clock_.startNs += localNs - localTimeAt(busNs);
}

std::uint64_t DcUnit::reg64(std::uint16_t offset) const
{
    return std::uint64_t(getLe32(&regs_[offset]))
        | (std::uint64_t(getLe32(&regs_[offset + 4])) << 32);
}

std::uint32_t DcUnit::reg32(std::uint16_t offset) const
{
    return getLe32(&regs_[offset]);
}

std::uint8_t DcUnit::read(std::uint16_t address) const
{
    const std::uint16_t offset = std::uint16_t(address - First);
    if (offset >= Size)
        return 0;
    if (within(offset, SystemTime, 8))
        return std::uint8_t(systemTimeAt(frameNs()) >> (8 * (offset - SystemTime)));
    return regs_[offset];
}

void DcUnit::write(std::uint16_t address, std::uint8_t value)
{
    const std::uint16_t offset = std::uint16_t(address - First);
    if (offset >= Size)
        return;
    if (within(offset, ReceiveTimes, 4))
        latchRequested_ = true;
    if (within(offset, SystemTime, 8)) {
        written_[offset - SystemTime] = value;
        writtenMask_ = std::uint8_t(writtenMask_ | (1u << (offset - SystemTime)));
    }
    if (within(offset, SpeedCounterStart, 2))
        speedCounterWritten_ = true;
    if (writable(offset))
        regs_[offset] = value;
}

void DcUnit::restartControl(std::uint64_t busNs)
{
    corrected_ = correctionAt(busNs);
    pending_ = 0;
    since_ = busNs;
}

/* The written time plus the delay against our own system time when the frame came by; 4 bytes
 * compare the low 32 bits only. Anything but 4 or 8 bytes from 0x0910 is not a time. */
void DcUnit::controlTime(std::uint64_t busNs)
{
    restartControl(busNs);
    const std::uint64_t own = systemTimeAt(busNs);
    const std::uint32_t delay = reg32(SystemTimeDelay);
    const std::uint64_t received
        = std::uint64_t(getLe32(&written_[0])) | (std::uint64_t(getLe32(&written_[4])) << 32);
    if (writtenMask_ == 0xFF)
        pending_ = std::int64_t(received + delay - own);
    else if (writtenMask_ == 0x0F)
        pending_ = std::int32_t(std::uint32_t(received) + delay - std::uint32_t(own));
}

void DcUnit::latch()
{
    for (std::size_t port = 0; port < arrivals_.size(); ++port)
        if (arrivals_[port])
            putLe32(&regs_[ReceiveTimes + 4 * port], std::uint32_t(localTimeAt(*arrivals_[port])));
    latchedAt_ = arrivals_[0];
    if (arrivals_[0]) {
        const std::uint64_t t = localTimeAt(*arrivals_[0]);
        putLe32(&regs_[ProcessingUnitTime], std::uint32_t(t));
        putLe32(&regs_[ProcessingUnitTime + 4], std::uint32_t(t >> 32));
    }
}

void DcUnit::endDatagram()
{
    if (writtenMask_ != 0)
        controlTime(frameNs());
    if (speedCounterWritten_)
        restartControl(frameNs());
    if (latchRequested_)
        latch();
    writtenMask_ = 0;
    speedCounterWritten_ = false;
    latchRequested_ = false;
}

void DcUnit::reset()
{
    regs_.fill(0);
    writtenMask_ = 0;
    speedCounterWritten_ = false;
    latchRequested_ = false;
    latchedAt_.reset();
    pending_ = 0;
}

SyncSettings DcUnit::sync() const
{
    return SyncSettings{regs_[Activation], reg64(StartTime), reg32(Cycle0), reg32(Cycle1)};
}

std::uint64_t DcUnit::sync0Pulses(std::uint64_t busNs) const
{
    const SyncSettings s = sync();
    if ((s.activation & CyclicAndSync0) != CyclicAndSync0)
        return 0;
    const std::uint64_t now = systemTimeAt(busNs);
    if (now < s.startNs)
        return 0;
    return s.cycle0Ns == 0 ? 1 : (now - s.startNs) / s.cycle0Ns + 1;
}

} // namespace sim
