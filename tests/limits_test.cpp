// Time allocation: the limits one search gets from the clock fields.
#include <gtest/gtest.h>

#include <utility>

#include "platform/platform.h"
#include "search/limits.h"

namespace {

class AllocateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedLimits = SearchLimits;
        savedAnalyze = AnalyzeMode;
        SearchLimits = SearchLimitsData{};
        SearchLimits.MaxDepth = 100;
        AnalyzeMode = 0;
    }
    void TearDown() override {
        SearchLimits = savedLimits;
        AnalyzeMode = savedAnalyze;
    }

    // Allocates for the given clock and returns {HardLimit, IterationLimit}.
    static std::pair<u32, u32> Allocate(u32 timeLeft, u32 increment, u32 movesToGo, u32 moveTime = 0) {
        SearchLimits.TimeLeft = timeLeft;
        SearchLimits.Increment = increment;
        SearchLimits.MovesToGo = movesToGo;
        SearchLimits.MoveTime = moveTime;
        AllocateTime();
        return {SearchLimits.HardLimit, SearchLimits.IterationLimit};
    }

    SearchLimitsData savedLimits;
    u8 savedAnalyze;
};

using Limits = std::pair<u32, u32>;

TEST_F(AllocateTimeTest, MovesToGo) {
    EXPECT_EQ(Allocate(1000, 0, 1), Limits(980, 166));
    EXPECT_EQ(Allocate(10000, 0, 20), Limits(527, 89));
    EXPECT_EQ(Allocate(10000, 0, 10), Limits(1400, 238));   // divisor 6.25
    EXPECT_EQ(Allocate(10000, 500, 10), Limits(1900, 323));
    EXPECT_EQ(Allocate(10000, 0, 2), Limits(6275, 1066));   // divisor 1.583
    EXPECT_EQ(Allocate(30000, 0, 24), Limits(1780, 302));   // divisor 14.417
    EXPECT_EQ(Allocate(30000, 0, 25), Limits(1700, 289));   // divisor 15 from here on
    EXPECT_EQ(Allocate(30000, 0, 40), Limits(1700, 289));
    // Too little time for the safety margin: one millisecond.
    EXPECT_EQ(Allocate(100, 0, 15), Limits(1, 1));
    EXPECT_EQ(Allocate(0, 0, 30), Limits(1, 1));
}

TEST_F(AllocateTimeTest, TimeLeftWithoutMovesToGo) {
    EXPECT_EQ(Allocate(300000, 0, 0), Limits(19700, 3349));
    EXPECT_EQ(Allocate(120000, 2000, 0), Limits(9700, 1649));
    EXPECT_EQ(Allocate(60000, 0, 0), Limits(3700, 629));
    EXPECT_EQ(Allocate(4000, 0, 0), Limits(1, 1));
    EXPECT_EQ(Allocate(4500, 0, 0), Limits(1, 1));           // exactly the margin
    EXPECT_EQ(Allocate(4575, 0, 0), Limits(5, 1));           // 5 * 0.17 rounds to 0, raised to 1
    EXPECT_EQ(Allocate(1000, 300, 0), Limits(66, 11));       // the increment counts
    // An increment beyond what the sum can hold in 32 bits: the longest time, not a wrapped one.
    EXPECT_EQ(Allocate(60000, 4294967295u, 0), Limits(2147483647, 365072219));
}

TEST_F(AllocateTimeTest, MoveTimeAnalysisAndNoClock) {
    EXPECT_EQ(Allocate(300000, 1000, 40, 5000), Limits(5000, 5000));
    EXPECT_EQ(Allocate(0, 0, 0, 5000), Limits(5000, 5000));
    EXPECT_EQ(Allocate(0, 0, 0), Limits(0, 0));
    EXPECT_EQ(Allocate(0, 5000, 0), Limits(0, 0));
    AnalyzeMode = 1;
    EXPECT_EQ(Allocate(300000, 1000, 40, 5000), Limits(0, 0));
    EXPECT_EQ(Allocate(60000, 0, 0), Limits(0, 0));
}

TEST_F(AllocateTimeTest, RecordsTheStartTick) {
    u32 before = TickCount();
    Allocate(60000, 0, 0);
    u32 after = TickCount();
    EXPECT_LE(SearchLimits.StartTime - before, after - before);
    AnalyzeMode = 1;
    SearchLimits.StartTime = before - 100000;
    Allocate(0, 0, 0);
    EXPECT_LE(SearchLimits.StartTime - before, TickCount() - before);
}

}  // namespace
