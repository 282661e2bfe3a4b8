// The battery history as the history dialog and the HTML report show it:
// the chart (full-charge capacity in percent of the design capacity over
// time, each refresh as its before and after, the fade forecast) and the
// sentences around it. Both views draw from this one model, so the screen
// and the report show the same thing; only the drawing differs (GDI, SVG).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "battery/history.h"

namespace zbmain {

// Colours of the chart, shared by both views.
constexpr COLORREF HISTORY_SERIES_COLOUR[2] = {RGB(0x1f, 0x6f, 0xb2), RGB(0xd9, 0x73, 0x0d)};
constexpr COLORREF HISTORY_REFRESH_COLOUR = RGB(0x2e, 0x8b, 0x3a);
constexpr COLORREF HISTORY_GRID_COLOUR = RGB(0xdd, 0xdd, 0xdd);
constexpr COLORREF HISTORY_AXIS_COLOUR = RGB(0x55, 0x55, 0x55);

// A point of a line: x in days (fractional, local time), y in percent of
// the design capacity. A battery that changed its id (another battery in
// the same slot) starts a new stretch of line.
struct ChartPoint {
    double day = 0;
    double percent = 0;
    bool startsStretch = false;
};

// One refresh: where it ended, the capacity before and after, and its
// label ("88% → 97%"), beside the mark's upper end: to its right, or to its
// left near the right edge.
struct ChartRefresh {
    double day = 0;
    double beforePercent = 0;
    double afterPercent = 0;
    std::wstring label;
    bool labelOnLeft = false;
};

struct ChartSeries {
    UINT battery = 0;
    std::vector<ChartPoint> points;
    std::vector<ChartRefresh> refreshes;
    bool hasForecast = false; // the fitted fade, from the last check onwards
    ChartPoint forecastFrom;
    ChartPoint forecastTo;
};

struct ChartTick {
    double value = 0;
    std::wstring label;
};

struct HistoryChart {
    double dayMin = 0;
    double dayMax = 1;
    double percentMin = 0;
    double percentMax = 100;
    std::vector<ChartTick> dayTicks;     // month starts, "YYYY/MM"
    std::vector<ChartTick> percentTicks; // "90%"
    std::vector<ChartSeries> series;     // batteries with at least one point
};

// The chart of the batteries in uBatteryMask (bit 0 battery 1, bit 1
// battery 2). Rows without a design capacity give no point.
HistoryChart BuildHistoryChart(const std::vector<zbhistory::HistoryRow>& rows, UINT uBatteryMask);

// Where a day or a percentage falls in a plot area [low, high] (screen
// coordinates: the percentage axis runs from high to low).
double ChartX(const HistoryChart& chart, double left, double right, double day);
double ChartY(const HistoryChart& chart, double top, double bottom, double percent);

// ---- Texts --------------------------------------------------------------------

// A formatted text of the history's views (up to 511 characters).
std::wstring FormatHistoryText(LPCWSTR lpszFormat, ...);

// "バッテリ" or "バッテリ(セカンダリ)", as the diagnosis page names them.
std::wstring BatteryLabel(UINT uBattery);
// Full-charge capacity in percent of the design capacity; false when the
// design capacity is unknown.
bool CapacityPercent(DWORD dwDesignMwh, DWORD dwFullChargeMwh, double* pPercent);
// "YYYY/MM/DD" and "YYYY/MM/DD HH:MM".
std::wstring DateText(const SYSTEMTIME& st);
std::wstring DateTimeText(const SYSTEMTIME& st);
// How a refresh ended: completed, the reason of an abort, or no end row.
std::wstring RefreshOutcomeText(const zbhistory::RefreshRecord& record);
// The last refresh of a battery in words, with its before and after; a
// sentence saying there is none yet otherwise.
std::wstring LastRefreshText(const std::vector<zbhistory::RefreshRecord>& records);
// The fade rate and the month the replacement level is expected, or that
// there is not enough data yet.
std::wstring ForecastText(const zbhistory::FadeForecast& forecast);

} // namespace zbmain
