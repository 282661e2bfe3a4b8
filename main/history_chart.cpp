// The battery history's chart model and texts, shared by the history
// dialog and the HTML report.
#include "main/history_chart.h"

#include <strsafe.h>

#include <math.h>

#include <algorithm>

#include "common/util.h"

namespace zbmain {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kDaysPerMonth = 365.25 / 12.0;
// Room to the right of the last row, so that the newest point and the
// start of the forecast do not sit on the frame.
constexpr double kMinFutureDays = 30.0;

bool DayOf(const SYSTEMTIME& st, double* pDay) {
    LONGLONG seconds = 0;
    if (st.wYear == 0 || !SystemTimeToSeconds(&st, &seconds))
        return false;
    *pDay = static_cast<double>(seconds) / kSecondsPerDay;
    return true;
}

std::wstring PercentLabel(double dPercent) {
    return FormatHistoryText(L"%.0f%%", dPercent);
}

// The point of the forecast's start: the battery's last check since its
// last refresh ended, where the fitted fade takes over.
bool ForecastAnchor(const std::vector<zbhistory::HistoryRow>& rows, UINT uBattery,
                    ChartPoint* pAnchor) {
    double lastEnd = -1e18;
    for (const zbhistory::HistoryRow& row : rows) {
        double day = 0;
        if (row.battery == uBattery && row.event == zbhistory::HistoryEvent::RefreshEnd &&
            DayOf(row.time, &day))
            lastEnd = (std::max)(lastEnd, day);
    }
    bool found = false;
    for (const zbhistory::HistoryRow& row : rows) {
        double day = 0;
        double percent = 0;
        if (row.battery != uBattery || row.event != zbhistory::HistoryEvent::Check ||
            !DayOf(row.time, &day) || day < lastEnd ||
            !CapacityPercent(row.designMwh, row.fullChargeMwh, &percent))
            continue;
        if (!found || day >= pAnchor->day) {
            pAnchor->day = day;
            pAnchor->percent = percent;
            found = true;
        }
    }
    return found;
}

// The axis may reach ahead to the replacement month by at most half the
// span of the history; a month further ahead is named in the text only, as
// drawing it would squeeze the history into a corner.
void AddForecast(const std::vector<zbhistory::HistoryRow>& rows, double dMaxAhead,
                 ChartSeries* pSeries, double* pReach) {
    const zbhistory::FadeForecast forecast = zbhistory::ForecastFade(rows, pSeries->battery);
    ChartPoint anchor;
    if (!forecast.enough || !ForecastAnchor(rows, pSeries->battery, &anchor))
        return;
    pSeries->hasForecast = true;
    pSeries->forecastFrom = anchor;
    pSeries->forecastTo = anchor;
    // Where the line ends is settled once the axis is known; until then
    // the replacement month (its middle), when it comes within reach.
    double end = anchor.day + kMinFutureDays;
    SYSTEMTIME month = {};
    month.wYear = forecast.replacementYear;
    month.wMonth = forecast.replacementMonth;
    month.wDay = 15;
    double replacement = 0;
    if (forecast.reachesReplacement && DayOf(month, &replacement))
        end = (std::max)(end, (std::min)(replacement, anchor.day + dMaxAhead));
    pSeries->forecastTo.day = end;
    pSeries->forecastTo.percent =
        anchor.percent - forecast.percentPerMonth * (end - anchor.day) / kDaysPerMonth;
    *pReach = (std::max)(*pReach, end);
}

// Month starts between the ends, every step months, with the step chosen
// so that at most seven are labelled.
void AddDayTicks(HistoryChart* pChart) {
    SYSTEMTIME first = {};
    if (!SecondsToSystemTime(static_cast<LONGLONG>(pChart->dayMin * kSecondsPerDay), &first))
        return;
    const double months = (pChart->dayMax - pChart->dayMin) / kDaysPerMonth;
    int step = 12;
    for (int candidate : {1, 2, 3, 6, 12}) {
        if (months / candidate <= 7) {
            step = candidate;
            break;
        }
    }
    SYSTEMTIME tick = {};
    tick.wYear = first.wYear;
    tick.wMonth = first.wMonth;
    tick.wDay = 1;
    // The first month start inside the range that falls on the step
    // (January, and every step-th month after it).
    for (int guard = 0; guard < 1200; ++guard) {
        SYSTEMTIME next = {};
        double day = 0;
        if (!DayOf(tick, &day) || day > pChart->dayMax)
            break;
        if (day >= pChart->dayMin && (tick.wMonth - 1) % step == 0)
            pChart->dayTicks.push_back(
                {day, FormatHistoryText(L"%04u/%02u", tick.wYear, tick.wMonth)});
        if (!AddMonths(&tick, &next, 1))
            break;
        tick = next;
    }
}

void AddPercentTicks(HistoryChart* pChart) {
    const double step = pChart->percentMax - pChart->percentMin > 60 ? 20 : 10;
    for (double value = pChart->percentMin; value <= pChart->percentMax + 0.01; value += step)
        pChart->percentTicks.push_back({value, PercentLabel(value)});
}

} // namespace

std::wstring FormatHistoryText(LPCWSTR lpszFormat, ...) {
    WCHAR text[512] = L"";
    va_list args;
    va_start(args, lpszFormat);
    StringCchVPrintfW(text, ARRAYSIZE(text), lpszFormat, args);
    va_end(args);
    return text;
}

bool CapacityPercent(DWORD dwDesignMwh, DWORD dwFullChargeMwh, double* pPercent) {
    if (dwDesignMwh == 0 || !pPercent)
        return false;
    *pPercent = 100.0 * dwFullChargeMwh / dwDesignMwh;
    return true;
}

HistoryChart BuildHistoryChart(const std::vector<zbhistory::HistoryRow>& rows, UINT uBatteryMask) {
    HistoryChart chart;
    double low = 1e18;
    double high = -1e18;
    double reach = -1e18;
    double percentLow = 100;
    double percentHigh = 100;
    for (UINT battery = 1; battery <= 2; ++battery) {
        if (!(uBatteryMask & (1u << (battery - 1))))
            continue;
        ChartSeries series;
        series.battery = battery;
        const std::wstring* lastId = nullptr;
        for (const zbhistory::HistoryRow& row : rows) {
            ChartPoint point;
            if (row.battery != battery || !DayOf(row.time, &point.day) ||
                !CapacityPercent(row.designMwh, row.fullChargeMwh, &point.percent))
                continue;
            point.startsStretch = lastId && *lastId != row.id;
            lastId = &row.id;
            series.points.push_back(point);
        }
        if (series.points.empty())
            continue;
        std::stable_sort(series.points.begin(), series.points.end(),
                         [](const ChartPoint& a, const ChartPoint& b) { return a.day < b.day; });
        for (const zbhistory::RefreshRecord& record : zbhistory::RefreshRecordsOf(rows, battery)) {
            ChartRefresh mark;
            double after = 0;
            if (!CapacityPercent(record.designMwh, record.fullChargeBeforeMwh, &mark.beforePercent))
                continue;
            if (DayOf(record.ended, &mark.day) &&
                CapacityPercent(record.designMwh, record.fullChargeAfterMwh, &after)) {
                mark.afterPercent = after;
                mark.label = PercentLabel(mark.beforePercent) + L" → " + PercentLabel(after);
            } else if (DayOf(record.started, &mark.day)) {
                mark.afterPercent = mark.beforePercent;
                mark.label = PercentLabel(mark.beforePercent) + L" → ?";
            } else {
                continue;
            }
            series.refreshes.push_back(mark);
        }
        for (const ChartPoint& point : series.points) {
            low = (std::min)(low, point.day);
            high = (std::max)(high, point.day);
            percentLow = (std::min)(percentLow, point.percent);
            percentHigh = (std::max)(percentHigh, point.percent);
        }
        for (const ChartRefresh& mark : series.refreshes) {
            percentLow = (std::min)({percentLow, mark.beforePercent, mark.afterPercent});
            percentHigh = (std::max)({percentHigh, mark.beforePercent, mark.afterPercent});
        }
        chart.series.push_back(series);
    }
    if (chart.series.empty())
        return chart;
    for (ChartSeries& series : chart.series)
        AddForecast(rows, (high - low) / 2, &series, &reach);

    // A lone row still gets a month around it.
    chart.dayMin = low - (high - low < 1 ? 15 : 0);
    chart.dayMax =
        (std::max)({high + (std::max)(kMinFutureDays, (high - low) / 4), reach, chart.dayMin + 45});
    for (ChartSeries& series : chart.series) {
        if (!series.hasForecast)
            continue;
        // The line runs at its slope up to the frame.
        ChartPoint& to = series.forecastTo;
        const ChartPoint& from = series.forecastFrom;
        if (to.day > chart.dayMax && to.day > from.day) {
            to.percent = from.percent + (to.percent - from.percent) * (chart.dayMax - from.day) /
                                            (to.day - from.day);
            to.day = chart.dayMax;
        }
        percentLow = (std::min)(percentLow, to.percent);
        percentHigh = (std::max)(percentHigh, to.percent);
    }
    for (ChartSeries& series : chart.series) {
        for (ChartRefresh& mark : series.refreshes)
            mark.labelOnLeft = ChartX(chart, 0, 1, mark.day) > 0.75;
    }
    // Whole tens, 100 % always in view, and at least twenty points of room.
    chart.percentMax = ceil(percentHigh / 10.0) * 10.0;
    chart.percentMin = (std::max)(0.0, floor((percentLow - 2.0) / 10.0) * 10.0);
    chart.percentMin = (std::min)(chart.percentMin, chart.percentMax - 20.0);
    AddDayTicks(&chart);
    AddPercentTicks(&chart);
    return chart;
}

double ChartX(const HistoryChart& chart, double left, double right, double day) {
    const double span = chart.dayMax - chart.dayMin;
    return span > 0 ? left + (right - left) * (day - chart.dayMin) / span : left;
}

double ChartY(const HistoryChart& chart, double top, double bottom, double percent) {
    const double span = chart.percentMax - chart.percentMin;
    return span > 0 ? bottom - (bottom - top) * (percent - chart.percentMin) / span : bottom;
}

std::wstring BatteryLabel(UINT uBattery) {
    return uBattery == 2 ? L"バッテリ(セカンダリ)" : L"バッテリ";
}

std::wstring DateText(const SYSTEMTIME& st) {
    return FormatHistoryText(L"%04u/%02u/%02u", st.wYear, st.wMonth, st.wDay);
}

std::wstring DateTimeText(const SYSTEMTIME& st) {
    return FormatHistoryText(L"%04u/%02u/%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                             st.wMinute);
}

std::wstring RefreshOutcomeText(const zbhistory::RefreshRecord& record) {
    if (record.ended.wYear == 0)
        return L"終了の記録なし";
    if (!record.hasStatus || record.status == 0)
        return L"完了";
    switch (record.status) {
    case 3:
        return L"中止（バッテリの確認に失敗）";
    case 4:
        return L"中止（バッテリが外されました）";
    case 5:
        return L"中止（ACアダプタが外されました）";
    case 6:
        return L"中止（スリープ、休止状態）";
    case 7:
        return L"中止（状態を取得できませんでした）";
    default:
        return FormatHistoryText(L"中止（状態 %lu）", record.status);
    }
}

std::wstring LastRefreshText(const std::vector<zbhistory::RefreshRecord>& records) {
    if (records.empty())
        return L"リフレッシュの記録はまだありません。";
    const zbhistory::RefreshRecord& last = records.back();
    double before = 0;
    double after = 0;
    const bool known = CapacityPercent(last.designMwh, last.fullChargeBeforeMwh, &before);
    if (last.ended.wYear == 0 || !known ||
        !CapacityPercent(last.designMwh, last.fullChargeAfterMwh, &after))
        return FormatHistoryText(L"前回のリフレッシュ（%s 開始）の終了は記録されていません。",
                                 DateText(last.started).c_str());
    std::wstring text =
        FormatHistoryText(L"前回のリフレッシュ（%s）で、満充電容量が設計容量の %.0f%% から %.0f%% "
                          L"になりました（%+.0f ポイント）。",
                          DateText(last.ended).c_str(), before, after, after - before);
    if (last.hasStatus && last.status != 0)
        text += L"リフレッシュは" + RefreshOutcomeText(last) + L"。";
    return text;
}

std::wstring ForecastText(const zbhistory::FadeForecast& forecast) {
    if (!forecast.enough)
        return FormatHistoryText(
            L"容量の低下の予測: まだ十分なデータがありません（前回のリフレッシュ後、"
            L"%d 日分以上の定期チェックが必要です）。",
            zbhistory::FORECAST_MIN_DAYS);
    std::wstring text = FormatHistoryText(L"容量の低下: 1か月あたり %.1f%%（設計容量比）。",
                                          forecast.percentPerMonth);
    if (forecast.reachesReplacement)
        text += FormatHistoryText(L"交換の目安に達する見込み: %u年%u月ごろ。",
                                  forecast.replacementYear, forecast.replacementMonth);
    else
        text += L"容量の低下は見られません。";
    return text;
}

} // namespace zbmain
