/*
 * Per-frame processing times of the virtual bus.
 */
#include "core/processingtimes.h"

#include <cstdio>

namespace sim {

void ProcessingTimes::add(std::uint64_t ns)
{
    const std::uint64_t bucket = ns / BucketNs;
    ++buckets_[bucket < Buckets ? std::size_t(bucket) : Buckets];
    ++count_;
    total_ += ns;
    if (ns > longest_)
        longest_ = ns;
}

std::uint64_t ProcessingTimes::quantileNs(double q) const
{
    if (count_ == 0)
        return 0;
    // The smallest bucket that, with those below it, holds at least q of the frames.
    const double wanted = q * double(count_);
    std::uint64_t seen = 0;
    for (std::size_t b = 0; b < Buckets; ++b) {
        seen += buckets_[b];
        if (seen > 0 && double(seen) >= wanted)
            return std::min<std::uint64_t>((b + 1) * BucketNs, longest_);
    }
    return longest_;
}

std::string ProcessingTimes::summary() const
{
    char text[160];
    std::snprintf(text, sizeof text,
        "median %.2f µs, p99 %.2f µs, p99.9 %.2f µs, longest %.2f µs (%llu frames)",
        double(quantileNs(0.5)) / 1e3, double(quantileNs(0.99)) / 1e3,
        double(quantileNs(0.999)) / 1e3, double(longest_) / 1e3,
        static_cast<unsigned long long>(count_));
    return text;
}

} // namespace sim
