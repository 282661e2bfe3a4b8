// The history dialog of the diagnosis page: the full-charge capacity of both
// batteries over time with each refresh's before and after, the last
// refresh and the forecast in words, and the report saved as HTML or CSV.
#include "main/main_app.h"

#include <commdlg.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "battery/history.h"
#include "common/handles.h"
#include "common/log.h"
#include "common/window_base.h"
#include "main/history_chart.h"
#include "main/history_report.h"
#include "main/message_box.h"
#include "main/program_ids.h"

namespace zbmain {

namespace {

struct HistoryState {
    explicit HistoryState(MainApp& owner) : app(owner) {}
    MainApp& app;
    std::vector<zbhistory::HistoryRow> rows;
    HistoryChart chart;
};

// ---- Drawing ---------------------------------------------------------------------------

// GDI objects selected for the time of one drawing step.
class Selected {
public:
    Selected(HDC hdc, HGDIOBJ object) : hdc_(hdc), previous_(SelectObject(hdc, object)) {}
    ~Selected() { SelectObject(hdc_, previous_); }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;

private:
    HDC hdc_;
    HGDIOBJ previous_;
};

using UniquePen = zb::UniqueResource<zb::NullableTraits<HPEN, DeleteObject>>;

// A pen of any width; dashed ones need the geometric kind above one pixel.
HPEN MakePen(COLORREF colour, int width, bool dashed) {
    LOGBRUSH brush = {BS_SOLID, colour, 0};
    return ExtCreatePen(PS_GEOMETRIC | (dashed ? PS_DASH : PS_SOLID) | PS_ENDCAP_FLAT, width,
                        &brush, 0, nullptr);
}

void Line(HDC hdc, int x1, int y1, int x2, int y2) {
    MoveToEx(hdc, x1, y1, nullptr);
    LineTo(hdc, x2, y2);
}

void Text(HDC hdc, int x, int y, const std::wstring& text, UINT align) {
    SetTextAlign(hdc, align);
    TextOutW(hdc, x, y, text.c_str(), static_cast<int>(text.size()));
}

SIZE TextSize(HDC hdc, const std::wstring& text) {
    SIZE size = {};
    GetTextExtentPoint32W(hdc, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

// The legend row above the plot: one line sample per battery shown, the
// refresh mark and the forecast.
void DrawLegend(HDC hdc, const HistoryChart& chart, int x, int y, int unit, int lineHeight) {
    const int middle = y + lineHeight / 2;
    for (const ChartSeries& series : chart.series) {
        UniquePen pen(MakePen(HISTORY_SERIES_COLOUR[series.battery == 2 ? 1 : 0], unit * 2, false));
        Selected use(hdc, pen.Get());
        Line(hdc, x, middle, x + unit * 20, middle);
        const std::wstring label = BatteryLabel(series.battery);
        Text(hdc, x + unit * 24, y, label, TA_LEFT | TA_TOP);
        x += unit * 36 + TextSize(hdc, label).cx;
    }
    {
        UniquePen pen(MakePen(HISTORY_REFRESH_COLOUR, unit * 3, false));
        Selected use(hdc, pen.Get());
        Line(hdc, x + unit * 4, y + 1, x + unit * 4, y + lineHeight - 1);
        const std::wstring label = L"リフレッシュ（前 → 後）";
        Text(hdc, x + unit * 10, y, label, TA_LEFT | TA_TOP);
        x += unit * 22 + TextSize(hdc, label).cx;
    }
    UniquePen pen(MakePen(HISTORY_AXIS_COLOUR, unit * 2, true));
    Selected use(hdc, pen.Get());
    Line(hdc, x, middle, x + unit * 20, middle);
    Text(hdc, x + unit * 24, y, L"予測", TA_LEFT | TA_TOP);
}

void DrawChart(HDC hdc, const RECT& area, const HistoryChart& chart, HFONT hFont) {
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    FillRect(hdc, &area, white);
    Selected font(hdc, hFont);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, HISTORY_AXIS_COLOUR);
    const int lineHeight = TextSize(hdc, L"1%").cy;
    const int unit = (std::max)(1, lineHeight / 12); // pens grow with the font (DPI)

    if (chart.series.empty()) {
        RECT text = area;
        DrawTextW(hdc, L"バッテリの履歴はまだありません。", -1, &text,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        return;
    }
    const int left = area.left + TextSize(hdc, L"100%").cx + lineHeight;
    const int right = area.right - lineHeight;
    const int top = area.top + lineHeight * 3;
    const int bottom = area.bottom - lineHeight * 2;
    auto x = [&](double day) { return static_cast<int>(ChartX(chart, left, right, day) + 0.5); };
    auto y = [&](double percent) {
        return static_cast<int>(ChartY(chart, top, bottom, percent) + 0.5);
    };

    DrawLegend(hdc, chart, left, area.top + lineHeight / 2, unit, lineHeight);
    {
        UniquePen grid(MakePen(HISTORY_GRID_COLOUR, 1, false));
        Selected use(hdc, grid.Get());
        for (const ChartTick& tick : chart.percentTicks) {
            Line(hdc, left, y(tick.value), right, y(tick.value));
            Text(hdc, left - lineHeight / 2, y(tick.value) - lineHeight / 2, tick.label,
                 TA_RIGHT | TA_TOP);
        }
        for (const ChartTick& tick : chart.dayTicks) {
            Line(hdc, x(tick.value), top, x(tick.value), bottom);
            Text(hdc, x(tick.value), bottom + lineHeight / 3, tick.label, TA_CENTER | TA_TOP);
        }
    }
    {
        UniquePen frame(MakePen(HISTORY_AXIS_COLOUR, 1, false));
        Selected use(hdc, frame.Get());
        Selected hollow(hdc, GetStockObject(NULL_BRUSH));
        Rectangle(hdc, left, top, right + 1, bottom + 1);
    }

    HRGN clip = CreateRectRgn(left, top - lineHeight * 2, right + 1, bottom + 1);
    SelectClipRgn(hdc, clip);
    for (const ChartSeries& series : chart.series) {
        const COLORREF colour = HISTORY_SERIES_COLOUR[series.battery == 2 ? 1 : 0];
        {
            UniquePen pen(MakePen(colour, unit * 2, false));
            Selected use(hdc, pen.Get());
            for (size_t i = 0; i < series.points.size(); ++i) {
                const ChartPoint& point = series.points[i];
                if (i == 0 || point.startsStretch)
                    MoveToEx(hdc, x(point.day), y(point.percent), nullptr);
                else
                    LineTo(hdc, x(point.day), y(point.percent));
            }
        }
        if (series.hasForecast) {
            UniquePen pen(MakePen(colour, unit * 2, true));
            Selected use(hdc, pen.Get());
            Line(hdc, x(series.forecastFrom.day), y(series.forecastFrom.percent),
                 x(series.forecastTo.day), y(series.forecastTo.percent));
        }
        UniquePen guide(CreatePen(PS_DOT, 1, HISTORY_REFRESH_COLOUR));
        UniquePen mark(MakePen(HISTORY_REFRESH_COLOUR, unit * 3, false));
        SetTextColor(hdc, HISTORY_REFRESH_COLOUR);
        for (const ChartRefresh& refresh : series.refreshes) {
            const int at = x(refresh.day);
            {
                Selected use(hdc, guide.Get());
                Line(hdc, at, top, at, bottom);
            }
            Selected use(hdc, mark.Get());
            Line(hdc, at, y(refresh.beforePercent), at, y(refresh.afterPercent));
            const int dot = unit * 3;
            Selected fill(hdc, GetStockObject(DC_BRUSH));
            SetDCBrushColor(hdc, HISTORY_REFRESH_COLOUR);
            Ellipse(hdc, at - dot, y(refresh.afterPercent) - dot, at + dot + 1,
                    y(refresh.afterPercent) + dot + 1);
            const double high = (std::max)(refresh.beforePercent, refresh.afterPercent);
            const int gap = dot + lineHeight / 2;
            const int beside = refresh.labelOnLeft ? at - gap : at + gap;
            // On white, so that a line passing behind it does not cross it out.
            SetBkMode(hdc, OPAQUE);
            SetBkColor(hdc, RGB(255, 255, 255));
            Text(hdc, beside, y(high) - lineHeight / 2, refresh.label,
                 (refresh.labelOnLeft ? TA_RIGHT : TA_LEFT) | TA_TOP);
            SetBkMode(hdc, TRANSPARENT);
        }
        SetTextColor(hdc, HISTORY_AXIS_COLOUR);
    }
    SelectClipRgn(hdc, nullptr);
    DeleteObject(clip);
}

// Drawn into a bitmap first and copied, so that the chart does not flicker.
void OnDrawItem(const DRAWITEMSTRUCT& item, const HistoryState& state, HFONT hFont) {
    const RECT& rc = item.rcItem;
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    HDC memory = CreateCompatibleDC(item.hDC);
    zb::UniqueBitmap bitmap(CreateCompatibleBitmap(item.hDC, width, height));
    if (!memory || !bitmap) {
        LogApiFailure(L"HistoryDlgProc", __LINE__, L"CreateCompatibleBitmap", GetLastError());
        if (memory)
            DeleteDC(memory);
        return;
    }
    {
        Selected use(memory, bitmap.Get());
        const RECT area = {0, 0, width, height};
        DrawChart(memory, area, state.chart, hFont);
        BitBlt(item.hDC, rc.left, rc.top, width, height, memory, 0, 0, SRCCOPY);
    }
    DeleteDC(memory);
}

// ---- Texts and saving ------------------------------------------------------------------

bool HasRows(const std::vector<zbhistory::HistoryRow>& rows, UINT uBattery) {
    for (const zbhistory::HistoryRow& row : rows) {
        if (row.battery == uBattery)
            return true;
    }
    return false;
}

void SetSummaries(HWND hDlg, const HistoryState& state) {
    const int ids[2] = {IDC_HISTORY_SUMMARY1, IDC_HISTORY_SUMMARY2};
    for (UINT battery = 1; battery <= 2; ++battery) {
        std::wstring text;
        if (HasRows(state.rows, battery))
            text = BatteryLabel(battery) + L": " +
                   LastRefreshText(zbhistory::RefreshRecordsOf(state.rows, battery)) + L"\n" +
                   ForecastText(zbhistory::ForecastFade(state.rows, battery));
        else if (battery == 1 && state.rows.empty())
            text = L"定期チェックとリフレッシュのたびに、満充電容量が記録されます。";
        SetDlgItemTextW(hDlg, ids[battery - 1], text.c_str());
    }
}

bool EndsWith(const std::wstring& text, LPCWSTR lpszTail) {
    const size_t length = lstrlenW(lpszTail);
    return text.size() >= length && lstrcmpiW(text.c_str() + text.size() - length, lpszTail) == 0;
}

void OnSave(HWND hDlg, const HistoryState& state) {
    WCHAR path[MAX_PATH] = L"vadovur_history.html";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hDlg;
    ofn.lpstrFilter = L"HTML レポート (*.html)\0*.html\0CSV ファイル (*.csv)\0*.csv\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = ARRAYSIZE(path);
    ofn.lpstrTitle = L"レポートの保存";
    ofn.lpstrDefExt = L"html";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn)) {
        const DWORD error = CommDlgExtendedError();
        if (error != 0)
            WriteLog(L"HistoryDlgProc", __LINE__, L"Fail to GetSaveFileName(). ErrorCode: %08x.",
                     error);
        return;
    }
    // The CSV choice gets its extension even when the name was typed
    // without one (the default extension is the HTML one).
    std::wstring target = path;
    const bool csv =
        EndsWith(target, L".csv") ||
        (ofn.nFilterIndex == 2 && !EndsWith(target, L".html") && !EndsWith(target, L".htm"));
    if (csv && !EndsWith(target, L".csv")) {
        if (EndsWith(target, L".html"))
            target.resize(target.size() - 5);
        target += L".csv";
    }
    // The CSV is the history's rows under its header, as "/report x.csv"
    // writes it.
    const HRESULT hr = csv ? zbhistory::WriteHistoryFile(target.c_str(), state.rows)
                           : WriteHistoryHtmlReport(target.c_str(), state.rows);
    if (FAILED(hr))
        TaskDlgMessageBox(hDlg, IDS_HISTORY_SAVE_FAILED, IDS_APP_TITLE, MB_OK | MB_ICONERROR);
}

void OnInit(HWND hDlg, HistoryState& state) {
    state.app.historyDialog = hDlg;
    SetWindowTextW(hDlg, state.app.title);
    WCHAR path[MAX_PATH] = L"";
    HRESULT hr = zbhistory::GetHistoryPath(path, ARRAYSIZE(path));
    if (SUCCEEDED(hr))
        hr = zbhistory::ReadHistory(path, &state.rows);
    if (FAILED(hr))
        WriteLog(L"HistoryDlgProc", __LINE__, L"Fail to ReadHistory(). hr: %08x.", hr);
    state.chart = BuildHistoryChart(state.rows, 3);
    SetSummaries(hDlg, state);
}

INT_PTR CALLBACK HistoryDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    HistoryState* state = zb::DialogState<HistoryState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        OnInit(hDlg, *state);
        return TRUE;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID != IDC_HISTORY_CHART)
            return FALSE;
        OnDrawItem(*item, *state, reinterpret_cast<HFONT>(SendMessageW(hDlg, WM_GETFONT, 0, 0)));
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_HISTORY_SAVE:
            OnSave(hDlg, *state);
            break;
        case IDOK:
        case IDCANCEL:
            EndDialog(hDlg, LOWORD(wParam));
            break;
        default:
            break;
        }
        return TRUE;
    case WM_NCDESTROY:
        if (state->app.historyDialog == hDlg)
            state->app.historyDialog = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void ShowHistoryDialog(MainApp& app, HWND hOwner) {
    const INT_PTR result = zb::DialogBoxWithState<HistoryDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_HISTORY), hOwner, std::make_unique<HistoryState>(app));
    if (result == -1)
        LogApiFailure(L"ShowHistoryDialog", __LINE__, L"DialogBoxParam", GetLastError());
}

} // namespace zbmain
