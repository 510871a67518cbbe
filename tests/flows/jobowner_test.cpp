// A job on its worker has one owner, which stops it and waits for the worker before the job is
// destroyed; destroyed any other way, the worker would run on a half-destroyed object, and the
// program ends instead of going on with it.
#include <gtest/gtest.h>

#include "BusJob.h"

namespace {

// Waits on its worker for an answer nobody gives.
class WaitingJob : public BusJob
{
protected:
    void work() override { askConsent(QStringLiteral("Go on?"), QStringLiteral("Go on?")); }
};

TEST(JobOwner, TheOwnerStopsTheWorkerAndAnyOtherEndEndsTheProgram)
{
    BusJob::Owned owned(new WaitingJob);
    ASSERT_TRUE(owned->start());
    EXPECT_TRUE(owned->isRunning());
    owned.reset(); // the stop answers the question with No, and the worker ends

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* job = new WaitingJob;
            job->start();
            delete job;
        },
        "destroyed while its worker ran");
}

}
