// Calendar arithmetic: month ends, leap days, year wraps, and the exact
// moment an interval counts as passed.
#include "common/util.h"
#include "support/suite_env.h"

#include <gtest/gtest.h>

namespace {

SYSTEMTIME Date(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0) {
    return testenv::MakeTime(year, month, day, hour, minute, second);
}

void ExpectDate(const SYSTEMTIME& t, WORD year, WORD month, WORD day) {
    EXPECT_EQ(year, t.wYear);
    EXPECT_EQ(month, t.wMonth);
    EXPECT_EQ(day, t.wDay);
}

SYSTEMTIME PlusMonths(const SYSTEMTIME& t, int months) {
    SYSTEMTIME out = {};
    EXPECT_TRUE(AddMonths(&t, &out, months));
    return out;
}

} // namespace

TEST(AddMonths, KeepsTheDayOrLimitsItToTheNewMonth) {
    ExpectDate(PlusMonths(Date(2023, 1, 31), 1), 2023, 2, 28);
    ExpectDate(PlusMonths(Date(2024, 1, 31), 1), 2024, 2, 29);
    ExpectDate(PlusMonths(Date(2024, 3, 31), 1), 2024, 4, 30);
    ExpectDate(PlusMonths(Date(2024, 5, 15), 1), 2024, 6, 15);
    // A leap day a year on, and four years on.
    ExpectDate(PlusMonths(Date(2024, 2, 29), 12), 2025, 2, 28);
    ExpectDate(PlusMonths(Date(2024, 2, 29), 48), 2028, 2, 29);
    ExpectDate(PlusMonths(Date(2100, 1, 29), 1), 2100, 2, 28);
    ExpectDate(PlusMonths(Date(2000, 1, 29), 1), 2000, 2, 29);
}

TEST(AddMonths, WrapsTheYearBothWays) {
    ExpectDate(PlusMonths(Date(2024, 1, 10), 11), 2024, 12, 10);
    ExpectDate(PlusMonths(Date(2024, 12, 10), 1), 2025, 1, 10);
    ExpectDate(PlusMonths(Date(2024, 1, 10), 12), 2025, 1, 10);
    ExpectDate(PlusMonths(Date(2024, 1, 10), 23), 2025, 12, 10);
    ExpectDate(PlusMonths(Date(2024, 1, 10), 24), 2026, 1, 10);
    ExpectDate(PlusMonths(Date(2024, 3, 15), -3), 2023, 12, 15);
    ExpectDate(PlusMonths(Date(2024, 1, 10), -1), 2023, 12, 10);
    ExpectDate(PlusMonths(Date(2024, 1, 10), -12), 2023, 1, 10);
    ExpectDate(PlusMonths(Date(2024, 1, 10), -13), 2022, 12, 10);
    ExpectDate(PlusMonths(Date(2024, 1, 10), -24), 2022, 1, 10);
    ExpectDate(PlusMonths(Date(2024, 3, 31), -1), 2024, 2, 29);
}

TEST(AddMonths, CopiesTheTimeOfDay) {
    const SYSTEMTIME out = PlusMonths(Date(2024, 1, 31, 13, 45, 59), 1);
    EXPECT_EQ(13, out.wHour);
    EXPECT_EQ(45, out.wMinute);
    EXPECT_EQ(59, out.wSecond);
}

TEST(GetDaysInMonth, LeapYearsAndOutOfRangeMonths) {
    EXPECT_EQ(29, GetDaysInMonth(2024, 2));
    EXPECT_EQ(28, GetDaysInMonth(2023, 2));
    EXPECT_EQ(28, GetDaysInMonth(1900, 2));
    EXPECT_EQ(29, GetDaysInMonth(2000, 2));
    EXPECT_EQ(31, GetDaysInMonth(2023, 12));
    EXPECT_EQ(30, GetDaysInMonth(2023, 11));
    EXPECT_EQ(28, GetDaysInMonth(2023, 0));
    EXPECT_EQ(28, GetDaysInMonth(2023, 13));
}

TEST(IsValidDate, OnlyDatesTheFirmwareCanHold) {
    EXPECT_TRUE(IsValidDate(1980, 1, 1));
    EXPECT_TRUE(IsValidDate(2043, 12, 31));
    EXPECT_TRUE(IsValidDate(2040, 2, 29));
    EXPECT_FALSE(IsValidDate(1979, 12, 31));
    EXPECT_FALSE(IsValidDate(2044, 1, 1));
    EXPECT_FALSE(IsValidDate(2043, 2, 29));
    EXPECT_FALSE(IsValidDate(2024, 4, 31));
    EXPECT_FALSE(IsValidDate(2024, 0, 1));
    EXPECT_FALSE(IsValidDate(2024, 1, 0));
}

TEST(IsPassedMonth, PassesOnlyAfterTheExactDeadline) {
    const SYSTEMTIME base = Date(2024, 3, 5, 10, 0, 0);
    const SYSTEMTIME deadline = Date(2024, 4, 5, 10, 0, 0);
    const SYSTEMTIME justAfter = Date(2024, 4, 5, 10, 0, 1);
    const SYSTEMTIME justBefore = Date(2024, 4, 5, 9, 59, 59);
    EXPECT_FALSE(IsPassedMonth(1, &base, &deadline));
    EXPECT_TRUE(IsPassedMonth(1, &base, &justAfter));
    EXPECT_FALSE(IsPassedMonth(1, &base, &justBefore));
}

TEST(IsPassedMonth, MonthEndsAndYearWrap) {
    // 31 January + 1 month is 29 February in a leap year.
    const SYSTEMTIME jan31 = Date(2024, 1, 31);
    const SYSTEMTIME feb29 = Date(2024, 2, 29);
    const SYSTEMTIME feb29Later = Date(2024, 2, 29, 0, 0, 1);
    EXPECT_FALSE(IsPassedMonth(1, &jan31, &feb29));
    EXPECT_TRUE(IsPassedMonth(1, &jan31, &feb29Later));

    const SYSTEMTIME dec15 = Date(2023, 12, 15);
    const SYSTEMTIME jan15 = Date(2024, 1, 15);
    const SYSTEMTIME jan16 = Date(2024, 1, 16);
    EXPECT_FALSE(IsPassedMonth(1, &dec15, &jan15));
    EXPECT_TRUE(IsPassedMonth(1, &dec15, &jan16));
    // Twelve months from a leap day end on 28 February.
    const SYSTEMTIME leap = Date(2024, 2, 29);
    const SYSTEMTIME nextFeb28 = Date(2025, 2, 28, 0, 0, 1);
    EXPECT_TRUE(IsPassedMonth(12, &leap, &nextFeb28));
}

TEST(IsPassedDate, NullBaseIsNeverPassed) {
    const SYSTEMTIME now = Date(2030, 1, 1);
    EXPECT_FALSE(IsPassedMonth(1, nullptr, &now));
    EXPECT_FALSE(IsPassedDay(1, nullptr, &now));
}

TEST(IsPassedDate, YearsCountTwelveMonths) {
    const SYSTEMTIME base = Date(2024, 2, 29);
    const SYSTEMTIME atDeadline = Date(2025, 2, 28);
    const SYSTEMTIME after = Date(2025, 2, 28, 0, 0, 1);
    EXPECT_FALSE(IsPassedDate(1, 0, 0, &base, &atDeadline));
    EXPECT_TRUE(IsPassedDate(1, 0, 0, &base, &after));
}

TEST(IsPassedDay, CountsWholeDaysAcrossMonthAndYearEnds) {
    const SYSTEMTIME base = Date(2023, 12, 31, 12, 0, 0);
    const SYSTEMTIME sevenDays = Date(2024, 1, 7, 12, 0, 0);
    const SYSTEMTIME sevenDaysAndASecond = Date(2024, 1, 7, 12, 0, 1);
    EXPECT_FALSE(IsPassedDay(7, &base, &sevenDays));
    EXPECT_TRUE(IsPassedDay(7, &base, &sevenDaysAndASecond));
}

TEST(IsPassedDay, WithoutACurrentTimeUsesNow) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    SYSTEMTIME longAgo = {};
    ASSERT_TRUE(AddDays(&now, &longAgo, -10));
    EXPECT_TRUE(IsPassedDay(7, &longAgo));
    EXPECT_FALSE(IsPassedDay(7, &now));
}

TEST(Seconds, RoundTripAndEpoch) {
    SYSTEMTIME t = Date(2024, 3, 5, 10, 20, 30);
    LONGLONG seconds = 0;
    ASSERT_TRUE(SystemTimeToSeconds(&t, &seconds));
    SYSTEMTIME back = {};
    ASSERT_TRUE(SecondsToSystemTime(seconds, &back));
    ExpectDate(back, 2024, 3, 5);
    EXPECT_EQ(10, back.wHour);
    EXPECT_EQ(20, back.wMinute);
    EXPECT_EQ(30, back.wSecond);

    // One local day later is 86,400 seconds later (no DST change in March 5/6
    // in the test machine's zone).
    SYSTEMTIME nextDay = Date(2024, 3, 6, 10, 20, 30);
    LONGLONG nextSeconds = 0;
    ASSERT_TRUE(SystemTimeToSeconds(&nextDay, &nextSeconds));
    EXPECT_EQ(86400, nextSeconds - seconds);
}

TEST(AddDaysAndMinutes, CrossMonthAndYearEnds) {
    const SYSTEMTIME base = Date(2024, 2, 28, 23, 30, 0);
    SYSTEMTIME out = {};
    ASSERT_TRUE(AddDays(&base, &out, 2));
    ExpectDate(out, 2024, 3, 1);
    EXPECT_EQ(23, out.wHour);
    ASSERT_TRUE(AddMinutes(&base, &out, 45));
    ExpectDate(out, 2024, 2, 29);
    EXPECT_EQ(0, out.wHour);
    EXPECT_EQ(15, out.wMinute);
    const SYSTEMTIME newYear = Date(2024, 1, 1, 0, 10, 0);
    ASSERT_TRUE(AddMinutes(&newYear, &out, -20));
    ExpectDate(out, 2023, 12, 31);
    EXPECT_EQ(23, out.wHour);
    EXPECT_EQ(50, out.wMinute);
}

TEST(CompareSystemTime, OrdersToTheMillisecond) {
    SYSTEMTIME a = Date(2024, 3, 5, 10, 0, 0);
    SYSTEMTIME b = a;
    EXPECT_EQ(0, CompareSystemTime(&a, &b));
    b.wMilliseconds = 1;
    EXPECT_EQ(-1, CompareSystemTime(&a, &b));
    EXPECT_EQ(1, CompareSystemTime(&b, &a));
}
