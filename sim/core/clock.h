/*
 * Virtual time of the simulated bus.
 *
 * Everything in the simulator that depends on time (EEPROM busy periods, distributed-clock
 * registers, delayed mailbox replies) reads this clock, and nothing advances it implicitly: the
 * link that carries frames, or a test, moves it forward. A test therefore runs the same on a fast
 * and on a slow machine.
 */
#ifndef SIM_CORE_CLOCK_H
#define SIM_CORE_CLOCK_H

#include <cstdint>

namespace sim {

class Clock
{
public:
    /* Microseconds since the bus was powered. */
    std::uint64_t nowUs() const { return nowUs_; }
    /* The same in nanoseconds, the unit of the distributed-clock registers. */
    std::uint64_t nowNs() const { return nowUs_ * 1000u; }

    /* Move time forward by `us` microseconds. */
    void advance(std::uint64_t us) { nowUs_ += us; }

    /* Move time forward to `us`; an earlier value leaves the clock where it is, so time never
     * runs backwards. */
    void advanceTo(std::uint64_t us)
    {
        if (us > nowUs_)
            nowUs_ = us;
    }

private:
    std::uint64_t nowUs_ = 0;
};

} // namespace sim

#endif
