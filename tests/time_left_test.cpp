// The time-left estimate: steady, speeding-up and stalled runs, its warm-up,
// and the texts the window and the command line show.
#include "job/time_left.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

namespace clipmora {
namespace {

using Clock = TimeLeftEstimator::Clock;
using std::chrono::milliseconds;

// Feeds reports every 500 ms from 0 to `untilMs` of wall time; `doneAt`
// gives the output written by then. Calls `check` after each report.
void run(TimeLeftEstimator& estimator, int64_t untilMs, int64_t totalMs,
         const std::function<int64_t(int64_t)>& doneAt,
         const std::function<void(int64_t)>& check = {})
{
    const Clock::time_point start{};
    for (int64_t wall = 0; wall <= untilMs; wall += 500) {
        estimator.Report(start + milliseconds(wall), doneAt(wall), totalMs);
        if (check)
            check(wall);
    }
}

TEST(TimeLeftEstimate, ASteadyRunIsEstimatedExactlyOnceWarmedUp)
{
    TimeLeftEstimator estimator;
    // Twice real time through a 120 s output: 60 s of work.
    run(estimator, 20000, 120000, [](int64_t wall) { return 2 * wall; }, [&](int64_t wall) {
        if (wall < 3000) {
            EXPECT_FALSE(estimator.SecondsLeft()) << wall;
            EXPECT_EQ(estimator.Summary(), "") << wall;
        } else {
            ASSERT_TRUE(estimator.SecondsLeft()) << wall;
            EXPECT_NEAR(*estimator.SecondsLeft(), (60000 - wall) / 1000.0, 1e-6);
            EXPECT_NEAR(*estimator.Speed(), 2.0, 1e-9);
        }
    });
    EXPECT_EQ(estimator.Summary(), "about 40 s left, 2.0x real time");

    // A new run forgets the old one.
    estimator.Reset();
    estimator.Report(Clock::time_point{}, 0, 1000);
    EXPECT_FALSE(estimator.Steady());
    EXPECT_FALSE(estimator.Speed());
}

TEST(TimeLeftEstimate, ASpeedingUpRunIsJudgedByItsRecentPace)
{
    TimeLeftEstimator estimator;
    // Slow for 20 s at 0.5x, then 4x: 10 s done at 20 s, 90 s left to do.
    const auto done = [](int64_t wall) {
        return wall <= 20000 ? wall / 2 : 10000 + 4 * (wall - 20000);
    };
    run(estimator, 35000, 100000, done);
    // At 35 s: 70 s done, 30 s of output left at 4x.
    ASSERT_TRUE(estimator.SecondsLeft());
    EXPECT_NEAR(*estimator.SecondsLeft(), 7.5, 0.01);
    EXPECT_NEAR(*estimator.Speed(), 4.0, 1e-9);
    const double average = 70000.0 / 35000.0;
    EXPECT_LT(*estimator.SecondsLeft(), 30.0 / average) << "not the whole run's average";
}

TEST(TimeLeftEstimate, AStalledRunNeverCountsDownToNothing)
{
    TimeLeftEstimator estimator;
    // 1x for 10 s, then nothing more is written.
    const auto done = [](int64_t wall) { return std::min<int64_t>(wall, 10000); };
    std::optional<double> previous;
    run(estimator, 30000, 60000, done, [&](int64_t wall) {
        const std::optional<double> left = estimator.SecondsLeft();
        if (left) {
            EXPECT_GT(*left, 0.0) << wall;
            if (previous && wall > 10000) {
                EXPECT_GE(*left, *previous) << "the estimate grows while nothing happens";
            }
        }
        EXPECT_EQ(estimator.Summary().find(" 0 s"), std::string::npos) << estimator.Summary();
        previous = left;
    });
    // Stalled for a whole window: no time can be given; the speed says why.
    EXPECT_FALSE(estimator.SecondsLeft());
    EXPECT_EQ(estimator.Speed(), 0.0);
    EXPECT_EQ(estimator.Summary(), "0.00x real time");
}

TEST(TimeLeftEstimate, UnknownTotalsAndOvershootsGiveNoNegativeTime)
{
    TimeLeftEstimator unknown;
    run(unknown, 5000, 0, [](int64_t wall) { return wall; });
    EXPECT_FALSE(unknown.SecondsLeft());
    EXPECT_EQ(unknown.Summary(), "1.0x real time");

    // The output can run a little past the expected total before it ends.
    TimeLeftEstimator past;
    run(past, 5000, 4000, [](int64_t wall) { return wall; });
    EXPECT_EQ(past.SecondsLeft(), 0.0);
    EXPECT_EQ(past.Summary(), "almost done, 1.0x real time");

    // A report that reads less than the one before does not make the speed negative.
    TimeLeftEstimator jitter;
    run(jitter, 5000, 60000, [](int64_t wall) { return wall < 4000 ? wall : 100; });
    ASSERT_TRUE(jitter.Speed());
    EXPECT_GE(*jitter.Speed(), 0.0);
    if (const auto left = jitter.SecondsLeft()) {
        EXPECT_GT(*left, 0.0);
    }
}

TEST(TimeLeftText, RoundsUpInStepsThatSuitTheWait)
{
    EXPECT_EQ(TimeLeftText(0.0), "almost done");
    EXPECT_EQ(TimeLeftText(-3.0), "almost done");
    EXPECT_EQ(TimeLeftText(0.01), "about 1 s left") << "work that remains is never 0 s";
    EXPECT_EQ(TimeLeftText(44.2), "about 45 s left");
    EXPECT_EQ(TimeLeftText(59.5), "about 1 min left");
    EXPECT_EQ(TimeLeftText(75.0), "about 1 min 20 s left");
    EXPECT_EQ(TimeLeftText(80.0), "about 1 min 20 s left");
    EXPECT_EQ(TimeLeftText(3595.0), "about 1 h left");
    EXPECT_EQ(TimeLeftText(3600.0 + 4 * 60 + 1), "about 1 h 5 min left");
    EXPECT_EQ(TimeLeftText(std::nan("")), "almost done");

    EXPECT_EQ(SpeedText(0.456), "0.46x");
    EXPECT_EQ(SpeedText(2.5), "2.5x");
    EXPECT_EQ(SpeedText(12.3), "12x");
    EXPECT_EQ(SpeedText(-1.0), "0.00x");
}

}  // namespace
}  // namespace clipmora
