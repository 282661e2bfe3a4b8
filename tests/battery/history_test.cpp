// The battery history file: rows as text, the bound, a torn last row, and
// the fade forecast.
#include "battery/history.h"

#include "battery/battery.h"
#include "support/suite_env.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zbhistory::HistoryEvent;
using zbhistory::HistoryRow;

namespace {

HistoryRow Row(UINT battery, HistoryEvent event, const SYSTEMTIME& time, DWORD fcc,
               const wchar_t* id = L"BAT-20240105-1a2b") {
    HistoryRow row;
    row.time = time;
    row.utcOffsetMinutes = 9 * 60;
    row.battery = battery;
    row.id = id;
    row.event = event;
    row.designMwh = 50000;
    row.fullChargeMwh = fcc;
    row.cycles = 12;
    row.health = 0;
    return row;
}

// Day n after 2026-01-01 at noon.
SYSTEMTIME Day(int n) {
    SYSTEMTIME base = testenv::MakeTime(2026, 1, 1, 12);
    FILETIME ft = {};
    SystemTimeToFileTime(&base, &ft);
    ULARGE_INTEGER t = {};
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    t.QuadPart += static_cast<ULONGLONG>(n) * 86400ull * 10000000ull;
    ft.dwLowDateTime = t.LowPart;
    ft.dwHighDateTime = t.HighPart;
    SYSTEMTIME out = {};
    FileTimeToSystemTime(&ft, &out);
    return out;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

TEST(HistoryRowText, FormatsAndParsesEveryField) {
    HistoryRow row = Row(2, HistoryEvent::RefreshEnd, testenv::MakeTime(2026, 12, 8, 9, 43, 15),
                         43210, L"名前,\"x\"-20240105-1a2b");
    row.utcOffsetMinutes = -(3 * 60 + 30);
    row.health = 0x11;
    row.hasStatus = true;
    row.status = 3;
    const std::string line = zbhistory::FormatHistoryRow(row);
    EXPECT_EQ(0u, line.find("2026-12-08T09:43:15-03:30,2,\""));
    EXPECT_NE(std::string::npos, line.find(",refresh-end,50000,43210,12,17,3"));

    HistoryRow back;
    ASSERT_TRUE(zbhistory::ParseHistoryRow(line + "\r", &back));
    EXPECT_EQ(row.id, back.id);
    EXPECT_EQ(-(3 * 60 + 30), back.utcOffsetMinutes);
    EXPECT_EQ(15, back.time.wSecond);
    EXPECT_EQ(HistoryEvent::RefreshEnd, back.event);
    EXPECT_EQ(43210u, back.fullChargeMwh);
    EXPECT_TRUE(back.hasStatus);
    EXPECT_EQ(3u, back.status);

    // Not rows: the header, a cut row, an impossible date, a third battery.
    EXPECT_FALSE(zbhistory::ParseHistoryRow(zbhistory::HISTORY_HEADER, &back));
    EXPECT_FALSE(zbhistory::ParseHistoryRow(line.substr(0, line.size() / 2), &back));
    EXPECT_FALSE(
        zbhistory::ParseHistoryRow("2026-02-30T09:00:00+09:00,1,A,check,50000,43210,12,0", &back));
    EXPECT_FALSE(
        zbhistory::ParseHistoryRow("2026-02-03T09:00:00+09:00,3,A,check,50000,43210,12,0", &back));
}

class HistoryFileTest : public testenv::SuiteStateTest {
protected:
    std::wstring Path() { return testenv::LogPath(zbhistory::HISTORY_FILE_NAME); }
};

// A writer that died half-way leaves a row without its line break; it is
// not read (a cut number would read as a whole one), and the next append
// replaces it rather than gluing onto it.
TEST_F(HistoryFileTest, TornLastRowIsSkippedAndOverwritten) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_EQ(S_OK, zbhistory::GetHistoryPath(path, ARRAYSIZE(path)));
    EXPECT_EQ(Path(), path);
    std::vector<HistoryRow> rows;
    ASSERT_EQ(S_OK, zbhistory::ReadHistory(path, &rows)); // no file: empty
    EXPECT_TRUE(rows.empty());

    const HistoryRow first = Row(1, HistoryEvent::Check, Day(0), 48000);
    ASSERT_EQ(S_OK, zbhistory::AppendHistoryRow(path, first));
    std::vector<unsigned char> bytes = testenv::ReadFileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(std::string(zbhistory::HISTORY_HEADER) + "\r\n" + zbhistory::FormatHistoryRow(first) +
                  "\r\n",
              text);

    const std::string torn =
        zbhistory::FormatHistoryRow(Row(1, HistoryEvent::Check, Day(1), 47123));
    WriteBytes(path, text + torn.substr(0, torn.size() - 1)); // "4712", a whole-looking number
    ASSERT_EQ(S_OK, zbhistory::ReadHistory(path, &rows));
    ASSERT_EQ(1u, rows.size());

    ASSERT_EQ(S_OK, zbhistory::AppendHistoryRow(path, Row(2, HistoryEvent::Check, Day(2), 46000)));
    ASSERT_EQ(S_OK, zbhistory::ReadHistory(path, &rows));
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(48000u, rows[0].fullChargeMwh);
    EXPECT_EQ(46000u, rows[1].fullChargeMwh);
    EXPECT_TRUE(zbhistory::HasCheckRowOnDay(rows, 2, Day(2)));
    EXPECT_FALSE(zbhistory::HasCheckRowOnDay(rows, 1, Day(2)));
}

// Every refresh row stays; of the checks, each battery keeps its newest.
TEST_F(HistoryFileTest, BoundKeepsRefreshRowsAndNewestChecksPerBattery) {
    std::vector<HistoryRow> rows;
    rows.push_back(Row(1, HistoryEvent::RefreshStart, Day(0), 40000));
    rows.push_back(Row(1, HistoryEvent::RefreshEnd, Day(0), 47000));
    for (int day = 1; day <= static_cast<int>(zbhistory::HISTORY_MAX_CHECK_ROWS); ++day) {
        rows.push_back(Row(1, HistoryEvent::Check, Day(day), 47000));
        if (day <= 10)
            rows.push_back(Row(2, HistoryEvent::Check, Day(day), 30000));
    }
    const std::wstring path = Path();
    ASSERT_EQ(S_OK, zbhistory::WriteHistoryFile(path.c_str(), rows));
    // At the bound: nothing goes. One more check of battery 1: its oldest goes.
    ASSERT_EQ(S_OK, zbhistory::AppendHistoryRow(path.c_str(),
                                                Row(1, HistoryEvent::Check, Day(5000), 46000)));
    std::vector<HistoryRow> read;
    ASSERT_EQ(S_OK, zbhistory::ReadHistory(path.c_str(), &read));
    ASSERT_EQ(rows.size(), read.size());
    EXPECT_EQ(HistoryEvent::RefreshStart, read[0].event);
    EXPECT_EQ(HistoryEvent::RefreshEnd, read[1].event);
    // Battery 1's day-1 check went; battery 2's day-1 check stayed.
    EXPECT_EQ(2u, read[2].battery);
    EXPECT_EQ(Day(1).wDay, read[2].time.wDay);
    EXPECT_EQ(46000u, read.back().fullChargeMwh);
    size_t checks1 = 0;
    for (const HistoryRow& row : read)
        checks1 += row.battery == 1 && row.event == HistoryEvent::Check;
    EXPECT_EQ(zbhistory::HISTORY_MAX_CHECK_ROWS, checks1);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((path + L".tmp").c_str()));
}

TEST(HistoryForecast, FitSinceTheLastWholeRefresh) {
    // 90 % life rate of 50000 mWh: good above 51 % of 45000, so the
    // replacement level is the highest capacity below 22950 mWh.
    EXPECT_EQ(22949u, zbhistory::ReplacementLevelMwh(50000, 90));
    EXPECT_NE(BATTERY_HEALTH_GOOD,
              HealthFromFullChargeRatio(CalcFullChargeRatio(50000, 22949, 90)));
    EXPECT_EQ(BATTERY_HEALTH_GOOD,
              HealthFromFullChargeRatio(CalcFullChargeRatio(50000, 22950, 90)));

    std::vector<HistoryRow> rows;
    // Before the refresh the gauge drifted down fast; it does not count.
    for (int day = 0; day < 60; day += 5)
        rows.push_back(Row(1, HistoryEvent::Check, Day(day), 45000 - day * 100));
    rows.push_back(Row(1, HistoryEvent::RefreshStart, Day(60), 39000));
    rows.push_back(Row(1, HistoryEvent::RefreshEnd, Day(61), 45000));
    // An aborted refresh later on relearned nothing: the fit runs across it.
    // 29 days of checks: not enough yet.
    for (int day = 62; day <= 91; ++day)
        rows.push_back(Row(1, HistoryEvent::Check, Day(day), 45000 - (day - 62) * 10));
    HistoryRow aborted = Row(1, HistoryEvent::RefreshEnd, Day(86), 44800);
    aborted.hasStatus = true;
    aborted.status = 5;
    rows.insert(rows.end() - 5, aborted);
    EXPECT_FALSE(zbhistory::ForecastFade(rows, 1, 90).enough);

    // A 30th day: 10 mWh a day, 22051 mWh to go from 45000 at day 62.
    rows.push_back(Row(1, HistoryEvent::Check, Day(92), 45000 - 30 * 10));
    const zbhistory::FadeForecast forecast = zbhistory::ForecastFade(rows, 1, 90);
    ASSERT_TRUE(forecast.enough);
    EXPECT_NEAR(10 * 365.2425 / 12, forecast.mwhPerMonth, 0.5);
    EXPECT_NEAR(forecast.mwhPerMonth / 500.0, forecast.percentPerMonth, 1e-9);
    ASSERT_TRUE(forecast.reachesReplacement);
    // Day 62 + 2205.1 = day 2267: 2032-03-17.
    EXPECT_EQ(2032, forecast.replacementYear);
    EXPECT_EQ(3, forecast.replacementMonth);

    // Another battery, a steady one, and a battery with no rows.
    std::vector<HistoryRow> steady;
    for (int day = 0; day <= 40; day += 4)
        steady.push_back(Row(2, HistoryEvent::Check, Day(day), 30000 + (day % 8)));
    const zbhistory::FadeForecast flat = zbhistory::ForecastFade(steady, 2, 90);
    EXPECT_TRUE(flat.enough);
    EXPECT_FALSE(flat.reachesReplacement);
    EXPECT_FALSE(zbhistory::ForecastFade(steady, 1, 90).enough);
}

TEST(HistoryRecords, BeforeAndAfterOfEachRefresh) {
    std::vector<HistoryRow> rows;
    rows.push_back(Row(1, HistoryEvent::RefreshStart, Day(1), 40000));
    rows.push_back(Row(2, HistoryEvent::Check, Day(1), 30000));
    rows.push_back(Row(1, HistoryEvent::RefreshEnd, Day(2), 45000));
    rows.push_back(Row(1, HistoryEvent::RefreshStart, Day(9), 44000)); // still running
    const std::vector<zbhistory::RefreshRecord> records = zbhistory::RefreshRecordsOf(rows, 1);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(40000u, records[0].fullChargeBeforeMwh);
    EXPECT_EQ(45000u, records[0].fullChargeAfterMwh);
    EXPECT_EQ(Day(2).wDay, records[0].ended.wDay);
    EXPECT_TRUE(zbhistory::RefreshRecordsOf(rows, 2).empty());
}
