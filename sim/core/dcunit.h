/*
 * The distributed-clock unit of an emulated slave controller, registers 0x0900..0x09FF:
 *
 *   - a free-running local clock in ns, with its own value at power-up and an optional drift;
 *   - receive times of ports 0..3 (0x0900..0x090F, 32 bits) and of the processing unit
 *     (0x0918, 64 bits), latched for the frame in which the master writes 0x0900;
 *   - system time (0x0910) = local time + system time offset (0x0920); system time delay
 *     (0x0928) is what the slave adds to a system time written to it;
 *   - the time control loop: a system time written to 0x0910 (4 or 8 bytes) is compared, plus the
 *     delay, with the slave's own at the moment the frame reached it, and the local clock is then
 *     sped up or slowed down by at most MaxSlewPpm until the difference is made up; a write to
 *     the speed counter start (0x0930) stops a correction under way;
 *   - the SYNC unit's registers: cyclic unit control (0x0980), activation (0x0981), start time
 *     (0x0990), SYNC0 and SYNC1 cycle times (0x09A0, 0x09A4), and the SYNC0 pulses that follow
 *     from them.
 *
 * Times handed in are bus times, ns of the chain's virtual clock; the unit turns them into its
 * own local time. Reads and writes act at the bus time at which the current frame reached the
 * processing unit (port 0), which the chain sets before each frame together with the times it
 * reaches the other ports.
 */
#ifndef SIM_CORE_DCUNIT_H
#define SIM_CORE_DCUNIT_H

#include <array>
#include <cstdint>
#include <optional>

namespace sim {

/* Bus time at which the current frame reaches each port; empty for a port it does not reach. */
using PortArrivals = std::array<std::optional<std::uint64_t>, 4>;

/* The local clock of one controller. */
struct DcClockSettings
{
    std::uint64_t startNs = 0; /* local time at bus time 0 */
    std::int32_t driftPpb = 0; /* parts per billion faster (positive) or slower than the bus */
};

/* The SYNC unit's settings as the master left them. */
struct SyncSettings
{
    std::uint8_t activation = 0; /* 0x0981: bit 0 cyclic operation, bit 1 SYNC0, bit 2 SYNC1 */
    std::uint64_t startNs = 0; /* 0x0990, system time of the first SYNC0 pulse */
    std::uint32_t cycle0Ns = 0; /* 0x09A0 */
    std::uint32_t cycle1Ns = 0; /* 0x09A4 */
};

class DcUnit
{
public:
    static constexpr std::uint16_t First = 0x0900;
    static constexpr std::uint32_t Size = 0x100;
    /* Fastest correction of the time control loop: 100 ns per ms. */
    static constexpr std::int64_t MaxSlewPpm = 100;

    explicit DcUnit(DcClockSettings clock = {});

    /* Where the current frame reaches the ports; port 0 is where it is processed. */
    void setFrameArrivals(const PortArrivals& arrivals) { arrivals_ = arrivals; }

    /* Master access to one register byte (0x0900..0x09FF); reserved bytes read 0 and ignore
     * writes. */
    std::uint8_t read(std::uint16_t address) const;
    void write(std::uint16_t address, std::uint8_t value);
    /* End of a datagram: a latch request or a written system time takes effect. */
    void endDatagram();

    /* Power cycle: registers back to 0. The local clock keeps counting (the simulated power
     * cycle takes no time). */
    void reset();

    /* What a test may look at, at bus time `busNs`. */
    std::uint64_t localTimeAt(std::uint64_t busNs) const;
    std::uint64_t systemTimeAt(std::uint64_t busNs) const;
    SyncSettings sync() const;
    /* SYNC0 pulses given since the start time, up to and including `busNs`: none while cyclic
     * operation or SYNC0 is off. With cycle time 0 the single pulse at the start time. */
    std::uint64_t sync0Pulses(std::uint64_t busNs) const;

    /* Bus time at which the last latch frame reached port 0; nothing before the first latch. */
    std::optional<std::uint64_t> latchedAt() const { return latchedAt_; }

    /* Set the local clock so that it reads `localNs` at bus time `busNs` (a controller that was
     * powered at another moment). */
    void setLocalTime(std::uint64_t busNs, std::uint64_t localNs);
    /* Replace the local clock's start and drift; meant for a bus that has not started yet. */
    void setClock(DcClockSettings clock) { clock_ = clock; }

private:
    std::uint64_t frameNs() const;
    std::uint64_t correctionAt(std::uint64_t busNs) const;
    void restartControl(std::uint64_t busNs);
    void controlTime(std::uint64_t busNs);
    void latch();
    std::uint64_t reg64(std::uint16_t address) const;
    std::uint32_t reg32(std::uint16_t address) const;
    static bool writable(std::uint16_t address);

    DcClockSettings clock_;
    std::array<std::uint8_t, Size> regs_{};
    PortArrivals arrivals_{};
    bool latchRequested_ = false;
    std::optional<std::uint64_t> latchedAt_;
    /* Bytes of a system time written in the current datagram, bit n for 0x0910 + n. */
    std::array<std::uint8_t, 8> written_{};
    std::uint8_t writtenMask_ = 0;
    bool speedCounterWritten_ = false;
    /* Time control: correction reached at `since_`, and what is still to be made up from there. */
    std::uint64_t corrected_ = 0;
    std::int64_t pending_ = 0;
    std::uint64_t since_ = 0;
};

} // namespace sim

#endif
