// The battery history as one self-contained HTML page: no scripts, no
// outside files (styles inline, the chart as inline SVG), so that it can be
// mailed or archived as one file and opened anywhere.
#include "main/history_report.h"

#include <string>

#include "common/log.h"
#include "common/util.h"
#include "main/history_chart.h"
#include "main/resource.h"
#include "main/result_info.h"

namespace zbmain {

namespace {

constexpr int kSvgWidth = 720;
constexpr int kSvgHeight = 300;
constexpr double kPlotLeft = 56;
constexpr double kPlotRight = 700;
constexpr double kPlotTop = 34;
constexpr double kPlotBottom = 270;

std::wstring Escape(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&':
            out += L"&amp;";
            break;
        case L'<':
            out += L"&lt;";
            break;
        case L'>':
            out += L"&gt;";
            break;
        case L'"':
            out += L"&quot;";
            break;
        case L'\'':
            out += L"&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::wstring Colour(COLORREF colour) {
    return FormatHistoryText(L"#%02x%02x%02x", GetRValue(colour), GetGValue(colour),
                             GetBValue(colour));
}

std::wstring LoadText(UINT uId) {
    WCHAR text[256] = L"";
    LoadStringW(GetModuleHandleW(nullptr), uId, text, ARRAYSIZE(text));
    return text;
}

std::wstring Number(double value) {
    return FormatHistoryText(L"%.1f", value);
}

// ---- The chart ---------------------------------------------------------------------

std::wstring Svg(const HistoryChart& chart) {
    auto x = [&](double day) { return Number(ChartX(chart, kPlotLeft, kPlotRight, day)); };
    auto y = [&](double percent) { return Number(ChartY(chart, kPlotTop, kPlotBottom, percent)); };
    std::wstring svg = FormatHistoryText(L"<svg width=\"%d\" "
                                         L"height=\"%d\" viewBox=\"0 0 %d %d\" class=\"chart\">\n",
                                         kSvgWidth, kSvgHeight, kSvgWidth, kSvgHeight);
    svg += L"<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    for (const ChartTick& tick : chart.percentTicks) {
        svg += L"<line x1=\"" + Number(kPlotLeft) + L"\" x2=\"" + Number(kPlotRight) + L"\" y1=\"" +
               y(tick.value) + L"\" y2=\"" + y(tick.value) + L"\" stroke=\"" +
               Colour(HISTORY_GRID_COLOUR) + L"\"/>\n";
        svg += L"<text x=\"" + Number(kPlotLeft - 6) + L"\" y=\"" + y(tick.value) +
               L"\" dy=\"4\" text-anchor=\"end\">" + Escape(tick.label) + L"</text>\n";
    }
    for (const ChartTick& tick : chart.dayTicks) {
        svg += L"<line x1=\"" + x(tick.value) + L"\" x2=\"" + x(tick.value) + L"\" y1=\"" +
               Number(kPlotTop) + L"\" y2=\"" + Number(kPlotBottom) + L"\" stroke=\"" +
               Colour(HISTORY_GRID_COLOUR) + L"\"/>\n";
        svg += L"<text x=\"" + x(tick.value) + L"\" y=\"" + Number(kPlotBottom + 18) +
               L"\" text-anchor=\"middle\">" + Escape(tick.label) + L"</text>\n";
    }
    svg += L"<rect x=\"" + Number(kPlotLeft) + L"\" y=\"" + Number(kPlotTop) + L"\" width=\"" +
           Number(kPlotRight - kPlotLeft) + L"\" height=\"" + Number(kPlotBottom - kPlotTop) +
           L"\" fill=\"none\" stroke=\"" + Colour(HISTORY_AXIS_COLOUR) + L"\"/>\n";

    for (const ChartSeries& series : chart.series) {
        const std::wstring colour = Colour(HISTORY_SERIES_COLOUR[series.battery == 2 ? 1 : 0]);
        std::wstring points;
        for (const ChartPoint& point : series.points) {
            if (point.startsStretch && !points.empty()) {
                svg += L"<polyline class=\"series\" fill=\"none\" stroke-width=\"2.5\" stroke=\"" +
                       colour + L"\" points=\"" + points + L"\"/>\n";
                points.clear();
            }
            points += x(point.day) + L"," + y(point.percent) + L" ";
        }
        svg += L"<polyline class=\"series\" fill=\"none\" stroke-width=\"2.5\" stroke=\"" + colour +
               L"\" points=\"" + points + L"\"/>\n";
        if (series.hasForecast)
            svg += L"<line class=\"forecast\" stroke-dasharray=\"6 4\" stroke-width=\"2\" "
                   L"stroke=\"" +
                   colour + L"\" x1=\"" + x(series.forecastFrom.day) + L"\" y1=\"" +
                   y(series.forecastFrom.percent) + L"\" x2=\"" + x(series.forecastTo.day) +
                   L"\" y2=\"" + y(series.forecastTo.percent) + L"\"/>\n";
        const std::wstring refresh = Colour(HISTORY_REFRESH_COLOUR);
        for (const ChartRefresh& mark : series.refreshes) {
            const double top =
                mark.afterPercent > mark.beforePercent ? mark.afterPercent : mark.beforePercent;
            svg += L"<line stroke-dasharray=\"2 3\" stroke=\"" + refresh + L"\" x1=\"" +
                   x(mark.day) + L"\" x2=\"" + x(mark.day) + L"\" y1=\"" + Number(kPlotTop) +
                   L"\" y2=\"" + Number(kPlotBottom) + L"\"/>\n";
            svg += L"<line class=\"refresh\" stroke-width=\"3\" stroke=\"" + refresh + L"\" x1=\"" +
                   x(mark.day) + L"\" x2=\"" + x(mark.day) + L"\" y1=\"" + y(mark.beforePercent) +
                   L"\" y2=\"" + y(mark.afterPercent) + L"\"/>\n";
            svg += L"<circle fill=\"" + refresh + L"\" r=\"4\" cx=\"" + x(mark.day) + L"\" cy=\"" +
                   y(mark.afterPercent) + L"\"/>\n";
            const double beside =
                ChartX(chart, kPlotLeft, kPlotRight, mark.day) + (mark.labelOnLeft ? -8 : 8);
            svg += L"<text fill=\"" + refresh + L"\" font-weight=\"bold\" x=\"" + Number(beside) +
                   L"\" y=\"" + y(top) + L"\" dy=\"4\" text-anchor=\"" +
                   (mark.labelOnLeft ? L"end" : L"start") + L"\">" + Escape(mark.label) +
                   L"</text>\n";
        }
    }

    // The legend above the plot.
    const std::wstring series =
        Colour(HISTORY_SERIES_COLOUR[!chart.series.empty() && chart.series[0].battery == 2]);
    svg += L"<line x1=\"60\" x2=\"84\" y1=\"14\" y2=\"14\" stroke-width=\"2.5\" stroke=\"" +
           series + L"\"/><text x=\"90\" y=\"18\">満充電容量（設計容量比）</text>\n";
    svg += L"<line x1=\"270\" x2=\"270\" y1=\"6\" y2=\"22\" stroke-width=\"3\" stroke=\"" +
           Colour(HISTORY_REFRESH_COLOUR) +
           L"\"/><text x=\"278\" y=\"18\">リフレッシュ（前 → 後）</text>\n";
    svg += L"<line x1=\"450\" x2=\"474\" y1=\"14\" y2=\"14\" stroke-dasharray=\"6 4\" "
           L"stroke-width=\"2\" stroke=\"" +
           series + L"\"/><text x=\"480\" y=\"18\">予測</text>\n";
    svg += L"</svg>\n";
    return svg;
}

// ---- The page ------------------------------------------------------------------------

const zbhistory::HistoryRow* LatestRow(const std::vector<zbhistory::HistoryRow>& rows,
                                       UINT uBattery) {
    const zbhistory::HistoryRow* latest = nullptr;
    for (const zbhistory::HistoryRow& row : rows) {
        if (row.battery == uBattery)
            latest = &row;
    }
    return latest;
}

std::wstring Fact(LPCWSTR lpszName, const std::wstring& value) {
    return std::wstring(L"<tr><th>") + lpszName + L"</th><td>" + value + L"</td></tr>\n";
}

std::wstring CapacityText(DWORD dwDesignMwh, DWORD dwMwh) {
    double percent = 0;
    if (!CapacityPercent(dwDesignMwh, dwMwh, &percent))
        return FormatHistoryText(L"%lu mWh", dwMwh);
    return FormatHistoryText(L"%lu mWh（%.0f%%）", dwMwh, percent);
}

std::wstring RefreshTable(const std::vector<zbhistory::RefreshRecord>& records) {
    if (records.empty())
        return L"<p>リフレッシュの記録はまだありません。</p>\n";
    std::wstring html = L"<table class=\"refreshes\">\n<tr><th>開始</th><th>終了</th>"
                        L"<th>前の満充電容量</th><th>後の満充電容量</th><th>結果</th></tr>\n";
    for (const zbhistory::RefreshRecord& record : records) {
        const bool ended = record.ended.wYear != 0;
        html += L"<tr><td>" + DateTimeText(record.started) + L"</td><td>" +
                (ended ? DateTimeText(record.ended) : L"—") + L"</td><td>" +
                CapacityText(record.designMwh, record.fullChargeBeforeMwh) + L"</td><td>" +
                (ended ? CapacityText(record.designMwh, record.fullChargeAfterMwh) : L"—") +
                L"</td><td>" + Escape(RefreshOutcomeText(record)) + L"</td></tr>\n";
    }
    return html + L"</table>\n";
}

std::wstring BatterySection(const std::vector<zbhistory::HistoryRow>& rows, UINT uBattery) {
    const zbhistory::HistoryRow* latest = LatestRow(rows, uBattery);
    if (!latest)
        return L"";
    const std::vector<zbhistory::RefreshRecord> records =
        zbhistory::RefreshRecordsOf(rows, uBattery);
    const HealthClassView health = HealthClassViewOf(latest->health);
    size_t checks = 0;
    for (const zbhistory::HistoryRow& row : rows) {
        if (row.battery == uBattery && row.event == zbhistory::HistoryEvent::Check)
            ++checks;
    }
    std::wstring html = L"<section class=\"battery\">\n<h2>" + Escape(BatteryLabel(uBattery)) +
                        L"（ID: " + Escape(latest->id) + L"）</h2>\n<table class=\"facts\">\n";
    html += Fact(L"最新の記録", DateTimeText(latest->time));
    html += Fact(L"設計容量", FormatHistoryText(L"%lu mWh", latest->designMwh));
    html += Fact(L"満充電容量", CapacityText(latest->designMwh, latest->fullChargeMwh));
    html += Fact(L"充放電回数", FormatHistoryText(L"%lu 回", latest->cycles));
    html += Fact(L"診断結果", L"<strong>" + Escape(LoadText(health.uStatusId)) + L"</strong>　" +
                                  Escape(LoadText(health.uMessageId)));
    html += Fact(L"前回のリフレッシュ", Escape(LastRefreshText(records)));
    html += Fact(L"予測", Escape(ForecastText(zbhistory::ForecastFade(rows, uBattery))));
    html += Fact(L"記録", FormatHistoryText(L"定期チェック %u 回、リフレッシュ %u 回",
                                            static_cast<unsigned>(checks),
                                            static_cast<unsigned>(records.size())));
    html += L"</table>\n";
    html += L"<h3>満充電容量の推移</h3>\n" + Svg(BuildHistoryChart(rows, 1u << (uBattery - 1)));
    html += L"<h3>リフレッシュの記録</h3>\n" + RefreshTable(records);
    return html + L"</section>\n";
}

std::wstring Page(const std::vector<zbhistory::HistoryRow>& rows) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    std::wstring html =
        L"<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
        L"<title>バッテリ履歴レポート</title>\n<style>\n"
        L"body { font-family: \"Meiryo\", \"MS UI Gothic\", sans-serif; margin: 24px; "
        L"color: #222; background: #fff; }\n"
        L"h1 { font-size: 20px; } h2 { font-size: 17px; border-bottom: 2px solid #999; }\n"
        L"h3 { font-size: 15px; margin-top: 18px; }\n"
        L"table { border-collapse: collapse; font-size: 13px; }\n"
        L"th, td { border: 1px solid #ccc; padding: 4px 8px; text-align: left; }\n"
        L"th { background: #f2f2f2; font-weight: normal; white-space: nowrap; }\n"
        L"svg.chart { font-size: 12px; font-family: sans-serif; }\n"
        L"section.battery { margin-bottom: 32px; }\n"
        L"</style>\n</head>\n<body>\n";
    html += L"<h1>" + Escape(LoadText(IDS_APP_TITLE)) + L"　バッテリ履歴レポート</h1>\n";
    html += L"<p>作成日時: " + DateTimeText(now) + L"</p>\n";
    bool any = false;
    for (UINT battery = 1; battery <= 2; ++battery) {
        const std::wstring section = BatterySection(rows, battery);
        any = any || !section.empty();
        html += section;
    }
    if (!any)
        html += L"<p>バッテリの履歴はまだありません。</p>\n";
    return html + L"</body>\n</html>\n";
}

} // namespace

// Written whole or not at all: a failure leaves the previous file (or
// none), never half a page.
HRESULT WriteHistoryHtmlReport(LPCWSTR path, const std::vector<zbhistory::HistoryRow>& rows) {
    if (IsNullArg(path, L"WriteHistoryHtmlReport", __LINE__, L"path"))
        return E_POINTER;
    return WriteFileWhole(path, ToUtf8(Page(rows)));
}

} // namespace zbmain
