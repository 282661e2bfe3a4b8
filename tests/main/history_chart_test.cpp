// The battery history's chart model and texts, which the history dialog
// and the HTML report both draw from.
#include "main/history_chart.h"

#include "support/sample_history.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Contains(const std::wstring& text, const wchar_t* part) {
    return text.find(part) != std::wstring::npos;
}

} // namespace

TEST(HistoryChartTest, SampleGivesBothLinesRefreshMarksAxesAndForecast) {
    const std::vector<zbhistory::HistoryRow> rows = testenv::SampleHistory();
    const zbmain::HistoryChart chart = zbmain::BuildHistoryChart(rows, 3);
    ASSERT_EQ(2u, chart.series.size());
    const zbmain::ChartSeries& one = chart.series[0];
    EXPECT_EQ(1u, one.battery);
    EXPECT_EQ(2u, chart.series[1].battery);
    EXPECT_TRUE(chart.series[1].refreshes.empty());

    // Each refresh where it ended, with its before and after.
    ASSERT_EQ(2u, one.refreshes.size());
    EXPECT_EQ(L"90% → 95%", one.refreshes[0].label);
    EXPECT_EQ(L"89% → 93%", one.refreshes[1].label);
    EXPECT_LT(one.refreshes[0].day, one.refreshes[1].day);

    // Whole tens around every point, 100 % in view; month ticks inside the
    // range, the last point and the forecast short of the right edge.
    EXPECT_EQ(100.0, chart.percentMax);
    for (const zbmain::ChartSeries& series : chart.series) {
        for (const zbmain::ChartPoint& point : series.points) {
            EXPECT_GE(point.percent, chart.percentMin);
            EXPECT_LT(point.day, chart.dayMax);
        }
    }
    EXPECT_EQ(0, static_cast<int>(chart.percentMin) % 10);
    ASSERT_GE(chart.dayTicks.size(), 3u);
    EXPECT_EQ(L"2026/03", chart.dayTicks[0].label);
    for (const zbmain::ChartTick& tick : chart.dayTicks) {
        EXPECT_GE(tick.value, chart.dayMin);
        EXPECT_LE(tick.value, chart.dayMax);
    }
    EXPECT_EQ(L"100%", chart.percentTicks.back().label);
    EXPECT_DOUBLE_EQ(10.0, zbmain::ChartX(chart, 10, 210, chart.dayMin));
    EXPECT_DOUBLE_EQ(210.0, zbmain::ChartX(chart, 10, 210, chart.dayMax));
    EXPECT_DOUBLE_EQ(5.0, zbmain::ChartY(chart, 5, 105, chart.percentMax));

    // The fade since the last refresh goes on downwards from the last check.
    ASSERT_TRUE(one.hasForecast);
    EXPECT_DOUBLE_EQ(one.points.back().percent, one.forecastFrom.percent);
    EXPECT_LT(one.forecastTo.percent, one.forecastFrom.percent);
    EXPECT_LE(one.forecastTo.day, chart.dayMax);

    // The words beside it.
    EXPECT_TRUE(
        Contains(zbmain::LastRefreshText(zbhistory::RefreshRecordsOf(rows, 1)), L"89% から 93%"));
    EXPECT_TRUE(Contains(zbmain::LastRefreshText({}), L"まだありません"));
    EXPECT_TRUE(
        Contains(zbmain::ForecastText(zbhistory::FadeForecast()), L"まだ十分なデータがありません"));
    EXPECT_TRUE(Contains(zbmain::ForecastText(zbhistory::ForecastFade(rows, 1)), L"交換の目安"));

    // Only the chosen battery; another battery in the slot starts a new
    // stretch of line.
    std::vector<zbhistory::HistoryRow> swapped = rows;
    swapped.back().id = L"OTHER";
    swapped.back().battery = 1;
    const zbmain::HistoryChart first = zbmain::BuildHistoryChart(swapped, 1);
    ASSERT_EQ(1u, first.series.size());
    EXPECT_TRUE(first.series[0].points.back().startsStretch);
    EXPECT_TRUE(zbmain::BuildHistoryChart({}, 3).series.empty());
}
