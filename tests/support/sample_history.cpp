#include "support/sample_history.h"

#include <math.h>

#include <algorithm>

#include "common/util.h"

namespace testenv {

namespace {

constexpr int kDays = 210;
constexpr DWORD kDesign[2] = {48000, 32000};

zbhistory::HistoryRow Row(UINT battery, int day, int hour, zbhistory::HistoryEvent event,
                          DWORD fullCharge, DWORD cycles) {
    SYSTEMTIME start = {};
    start.wYear = 2026, start.wMonth = 1, start.wDay = 6, start.wHour = 9;
    zbhistory::HistoryRow row;
    AddDays(&start, &row.time, day);
    row.time.wHour = static_cast<WORD>(hour);
    row.utcOffsetMinutes = 540;
    row.battery = battery;
    row.id = battery == 1 ? L"BTP-44A1-20240115-1a2b" : L"BTP-32B2-20240302-0c4d";
    row.event = event;
    row.designMwh = kDesign[battery - 1];
    row.fullChargeMwh = fullCharge;
    row.cycles = cycles;
    return row;
}

} // namespace

std::vector<zbhistory::HistoryRow> SampleHistory() {
    using zbhistory::HistoryEvent;
    std::vector<zbhistory::HistoryRow> rows;
    // The gauge of battery 1 loses about 2.4 % of the design a month until a
    // refresh lets it relearn (days 70 and 150); battery 2 fades slowly.
    double percent1 = 96.0;
    double percent2 = 93.0;
    for (int day = 0; day < kDays; ++day) {
        const double wobble = 0.25 * sin(day * 0.7);
        const DWORD cycles1 = 112 + day / 3;
        if (day == 70 || day == 150) {
            const DWORD before = static_cast<DWORD>(kDesign[0] * percent1 / 100);
            rows.push_back(Row(1, day, 13, HistoryEvent::RefreshStart, before, cycles1));
            percent1 = day == 70 ? 95.0 : 93.0;
            zbhistory::HistoryRow end =
                Row(1, day, 19, HistoryEvent::RefreshEnd,
                    static_cast<DWORD>(kDesign[0] * percent1 / 100), cycles1 + 1);
            end.hasStatus = true;
            end.status = 0;
            rows.push_back(end);
        }
        rows.push_back(Row(1, day, 9, HistoryEvent::Check,
                           static_cast<DWORD>(kDesign[0] * (percent1 + wobble) / 100), cycles1));
        rows.push_back(Row(2, day, 9, HistoryEvent::Check,
                           static_cast<DWORD>(kDesign[1] * (percent2 - wobble) / 100),
                           40 + day / 7));
        percent1 -= 0.08;
        percent2 -= 0.012;
    }
    // Oldest first, as the file keeps them.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const zbhistory::HistoryRow& a, const zbhistory::HistoryRow& b) {
                         return CompareSystemTime(&a.time, &b.time) < 0;
                     });
    return rows;
}

HRESULT WriteSampleHistory() {
    WCHAR path[MAX_PATH] = L"";
    const HRESULT hr = zbhistory::GetHistoryPath(path, ARRAYSIZE(path));
    if (FAILED(hr))
        return hr;
    return zbhistory::WriteHistoryFile(path, SampleHistory());
}

} // namespace testenv
