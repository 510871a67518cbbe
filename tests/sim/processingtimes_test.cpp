// The figures zuvian-sim prints about itself: quantiles exact to a bucket of 50 ns, the longest
// time exact, also for times past the last bucket.
#include "core/processingtimes.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessingTimes, QuantilesToABucketAndTheLongestExactly)
{
    sim::ProcessingTimes times;
    EXPECT_EQ(times.quantileNs(0.5), 0u) << "nothing recorded";
    for (std::uint64_t i = 1; i <= 1000; ++i)
        times.add(i * 100); // 0.1 µs to 100 µs
    EXPECT_EQ(times.count(), 1000u);
    EXPECT_NEAR(double(times.quantileNs(0.5)), 50000, 50);
    EXPECT_NEAR(double(times.quantileNs(0.99)), 99000, 50);
    EXPECT_EQ(times.longestNs(), 100000u);
    EXPECT_EQ(times.quantileNs(1.0), 100000u) << "never past the longest";

    times.add(5000000); // 5 ms, beyond the buckets
    EXPECT_EQ(times.quantileNs(1.0), 5000000u);
    EXPECT_NEAR(double(times.quantileNs(0.5)), 50100, 50) << "the 501st of 1001";
    EXPECT_NE(times.summary().find("longest 5000.00 µs (1001 frames)"), std::string::npos)
        << times.summary();
}

} // namespace
