#include "window/rate_estimator.h"

#include <gtest/gtest.h>

#include <vector>

namespace launcher::ui {
namespace {

struct Step {
    std::uint32_t tick;
    std::uint64_t present;  // bytes of the file present
};
struct RateRow {
    const char* name;
    std::vector<Step> steps;
    std::uint32_t askedAt;
    double rate;  // expected bytes per second, -1 not known yet
};

TEST(RateEstimatorTest, Table) {
    const std::vector<RateRow> rows = {
        {"not known yet", {{0, 0}, {200, 1000}}, 200, -1},
        {"steady", {{0, 0}, {1000, 1000}, {2000, 2000}, {3000, 3000}}, 3000, 1000},
        // Only the last four seconds count: the burst is forgotten.
        {"bursty", {{0, 0}, {500, 40000}, {1000, 40000}, {4000, 40000}, {5000, 44000}}, 5000, 1000},
        {"stalled", {{0, 0}, {1000, 4000}, {9000, 4000}}, 9000, 0},
        // Continued at 25 000 bytes: what was there counts for nothing.
        {"resumed", {{0, 25000}, {500, 26000}, {1000, 27000}}, 1000, 2000},
    };
    for (const RateRow& row : rows) {
        RateEstimator rate;
        rate.Restart(row.steps[0].tick, row.steps[0].present);
        for (std::size_t i = 1; i < row.steps.size(); ++i)
            rate.Add(row.steps[i].tick, row.steps[i].present);
        EXPECT_DOUBLE_EQ(rate.BytesPerSecond(row.askedAt), row.rate) << row.name;
    }
    EXPECT_EQ(SpeedText(2.5 * 1048576, 42), "2.5 MiB/s  剩余 0:42");
}

}  // namespace
}  // namespace launcher::ui
