// The Windows client's mapping of a range answer to a plain GET; portable, so
// it runs here too.
#include "platform/plain_get_answer.h"

#include <gtest/gtest.h>

namespace launcher::plain_get {
namespace {

TEST(PlainGetAnswer, EveryRangeAnswerReadsAsAPlainGet) {
    constexpr std::uint64_t n = 300000;
    struct Case {
        const char* name;
        Head head;
        std::uint64_t offset;
        Answer want;
    };
    const Case cases[] = {
        {"whole body", {200, n, {}}, 0, {200, n, true, false, 0, n}},
        {"range ignored", {200, n, {}}, 5000, {200, n, true, false, 0, n}},
        {"range served",
         {206, n - 5000, "bytes 5000-299999/300000"},
         5000,
         {200, n, true, false, 5000, n}},
        {"range at another offset", {206, n, "bytes 0-299999/300000"}, 5000, {206, n, false}},
        {"partial without range", {206, n - 5000, {}}, 5000, {206, n - 5000, false}},
        {"garbled total", {206, n - 5000, "bytes 5000-299999/lots"}, 5000, {206, n - 5000, false}},
        {"at the very end", {416, 0, "bytes */300000"}, n, {200, n, true, true}},
        {"unsatisfiable before the end", {416, 0, "bytes */300000"}, 1500, {416, 0, false}},
        {"unsatisfiable, no range told: a plain GET next",
         {416, 40, {}},
         n,
         {416, 40, false, false, 0, kNoEnd, true}},
        {"not found", {404, 9, {}}, 0, {404, 9, true, false, 0, kNoEnd}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Answer got = Map(c.head, c.offset);
        EXPECT_EQ(got.status, c.want.status);
        EXPECT_EQ(got.length, c.want.length);
        EXPECT_EQ(got.rangeOk, c.want.rangeOk);
        EXPECT_EQ(got.noBody, c.want.noBody);
        EXPECT_EQ(got.retryWithoutRange, c.want.retryWithoutRange);
        if (got.rangeOk && !got.noBody) {
            EXPECT_EQ(got.position, c.want.position);
            EXPECT_EQ(got.end, c.want.end);
        }
    }
}

}  // namespace
}  // namespace launcher::plain_get
