/*
 * How long the virtual bus takes over each frame it serves, from the frame received to its reply
 * sent: the time a real slave controller spends in hardware, which the emulation should keep
 * close to nothing.
 *
 * Times go into fixed buckets of 50 ns up to 200 µs (one more bucket holds the longer ones), so
 * that recording a frame allocates nothing and costs a few nanoseconds; quantiles are therefore
 * exact to 50 ns, and the longest time is kept exactly.
 */
#ifndef SIM_CORE_PROCESSINGTIMES_H
#define SIM_CORE_PROCESSINGTIMES_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace sim {

class ProcessingTimes
{
public:
    void add(std::uint64_t ns);
    std::uint64_t count() const { return count_; }
    /* The time below which the fraction `q` of the frames stayed, in ns (the upper edge of its
     * bucket; the longest time for the last bucket); 0 when nothing was recorded. */
    std::uint64_t quantileNs(double q) const;
    std::uint64_t longestNs() const { return longest_; }
    std::uint64_t meanNs() const { return count_ ? total_ / count_ : 0; }
    /* "median 0.85 µs, p99 1.60 µs, p99.9 3.10 µs, longest 41.20 µs (12345 frames)". */
    std::string summary() const;

private:
    static constexpr std::uint64_t BucketNs = 50;
    static constexpr std::size_t Buckets = 4000;
    std::array<std::uint32_t, Buckets + 1> buckets_{};
    std::uint64_t count_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t longest_ = 0;
};

} // namespace sim

#endif
