// The battery history: one row per battery for each routine check (at most
// one a day) and for the start and end of each refresh, kept in
// "vadovur_history.csv" beside the logs. It shows what the gauge reported
// over time and what each refresh changed; the main screen's history dialog
// and "/report" draw from it.
//
// The file is UTF-8 with the header line below. Rows are only appended;
// a torn last line (a writer that died half-way) is skipped on reading. The
// file is bounded: every refresh row stays, and of the "check" rows the
// newest HISTORY_MAX_CHECK_ROWS per battery; trimming rewrites the file
// atomically.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CBattery;

namespace zbhistory {

constexpr wchar_t HISTORY_FILE_NAME[] = L"vadovur_history.csv";
constexpr char HISTORY_HEADER[] = "time,battery,id,event,design_mwh,full_charge_mwh,cycles,health";
constexpr size_t HISTORY_MAX_CHECK_ROWS = 3000;

enum class HistoryEvent { Check, RefreshStart, RefreshEnd };

struct HistoryRow {
    SYSTEMTIME time = {};      // local time of the row
    LONG utcOffsetMinutes = 0; // local time minus UTC, in minutes
    UINT battery = 0;          // 1 or 2
    std::wstring id;           // the battery's own id
    HistoryEvent event = HistoryEvent::Check;
    DWORD designMwh = 0;
    DWORD fullChargeMwh = 0;
    DWORD cycles = 0;
    DWORD health = 0;       // the firmware's health word
    bool hasStatus = false; // refresh-end rows: the refresh's outcome
    DWORD status = 0;
};

// One line without its line break; and back. Parse fails on anything that
// is not a whole, well-formed row (a torn line, the header, garbage).
std::string FormatHistoryRow(const HistoryRow& row);
bool ParseHistoryRow(const std::string& line, HistoryRow* row);

// Path of the history file (the log folder, as the logs).
HRESULT GetHistoryPath(LPWSTR lpszPath, size_t cchPath);

// Every well-formed row of the file, oldest first. A missing file is an
// empty history (S_OK); a file that cannot be read is its error.
HRESULT ReadHistory(LPCWSTR lpszPath, std::vector<HistoryRow>* rows);

// Appends one row (the header first into a new or empty file), trimming
// the file when it outgrows its bound. Failures are logged and returned;
// no caller stops for them.
HRESULT AppendHistoryRow(LPCWSTR lpszPath, const HistoryRow& row);

// The header and the rows as a whole new file, written beside the target
// first and then moved over it, so that a reader never sees half a file.
HRESULT WriteHistoryFile(LPCWSTR lpszPath, const std::vector<HistoryRow>& rows);

// The rows the bound keeps, in their order: every refresh row, and of each
// battery's "check" rows the newest maxCheckRows.
std::vector<HistoryRow> BoundHistoryRows(const std::vector<HistoryRow>& rows,
                                         size_t maxCheckRows = HISTORY_MAX_CHECK_ROWS);

// The current local time and its offset from UTC into the row.
void StampHistoryRowNow(HistoryRow* row);

// Whether the history already holds a "check" row of the battery on the
// local calendar day of day.
bool HasCheckRowOnDay(const std::vector<HistoryRow>& rows, UINT battery, const SYSTEMTIME& day);

// A row of the battery as it is now: capacities and cycle count from the
// standard battery information (so also where the firmware's own methods
// are missing), the battery's own id, and the firmware's health word (where
// the firmware has no health method, the diagnosis's grade of the standard
// capacities). Fails when the standard information cannot be read.
HRESULT MakeBatteryRow(CBattery& battery, HistoryEvent event, HistoryRow* row);

// Appends the row to the history file at GetHistoryPath.
HRESULT AppendToHistory(const HistoryRow& row);

// The routine check's row: appended unless the battery has one of today
// already. S_FALSE when it had.
HRESULT RecordDailyCheck(CBattery& battery);

// A refresh as the history shows it: the full-charge capacity at its start
// and at its end. Each "refresh-start" row pairs with the battery's next
// "refresh-end" row; a start without an end (a refresh still running, or
// one whose program died) is no record, nor is an end without a start.
struct RefreshRecord {
    UINT battery = 0;
    SYSTEMTIME started = {};
    SYSTEMTIME ended = {};
    DWORD designMwh = 0;
    DWORD fullChargeBeforeMwh = 0;
    DWORD fullChargeAfterMwh = 0;
    bool hasStatus = false;
    DWORD status = 0;
};
std::vector<RefreshRecord> RefreshRecordsOf(const std::vector<HistoryRow>& rows, UINT battery);

// The fade of the full-charge capacity: a least-squares line through the
// "check" rows of the battery now in the bay (the id of its newest row)
// since its last completed refresh, when the gauge last learnt the cells
// (an aborted refresh, a "refresh-end" row with a status, taught it
// nothing); enough only when those rows span FORECAST_MIN_DAYS days. The
// month is the one in which the line reaches ReplacementLevelMwh of the
// newest row's design capacity, at the earliest the newest row's month; a
// level more than a hundred years ahead is no forecast.
constexpr int FORECAST_MIN_DAYS = 30;
struct FadeForecast {
    bool enough = false;
    double mwhPerMonth = 0;          // capacity lost per month (positive when fading)
    double percentPerMonth = 0;      // the same in percent of the design capacity
    bool reachesReplacement = false; // false when not fading
    WORD replacementYear = 0;        // month the capacity is expected to reach
    WORD replacementMonth = 0;       // the level the diagnosis advises replacing at
};
// The design capacity's share the diagnosis calls good is the
// "BatteryLifeRate" setting's; the two-argument form reads it.
FadeForecast ForecastFade(const std::vector<HistoryRow>& rows, UINT battery);
FadeForecast ForecastFade(const std::vector<HistoryRow>& rows, UINT battery, DWORD dwLifeRate);

// The highest full-charge capacity at which the diagnosis no longer calls
// the battery good (and advises replacing it); 0 without a design capacity.
DWORD ReplacementLevelMwh(DWORD dwDesignMwh, DWORD dwLifeRate);

} // namespace zbhistory
