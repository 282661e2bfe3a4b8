// The battery history file: its rows as text, reading and appending with
// the same care as the logs, the bound, and the fade forecast.
#include "battery/history.h"

#include "battery/battery.h"
#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"

#include <strsafe.h>

#include <cmath>
#include <map>

namespace zbhistory {

namespace {

constexpr int kOpenAttempts = 10;
constexpr DWORD kOpenRetryMs = 100;
constexpr LONGLONG kTicksPerSecond = 10000000;
constexpr double kSecondsPerDay = 86400.0;
// The average Gregorian month, for a rate "per month".
constexpr double kDaysPerMonth = 365.2425 / 12.0;
// A fade so slow that the level lies this far ahead is no forecast.
constexpr double kForecastHorizonDays = 100.0 * 365.2425;
// Offsets beyond the widest time zone are no offsets.
constexpr LONG kMaxOffsetMinutes = 14 * 60;

const char* EventName(HistoryEvent event) {
    switch (event) {
    case HistoryEvent::RefreshStart:
        return "refresh-start";
    case HistoryEvent::RefreshEnd:
        return "refresh-end";
    case HistoryEvent::Check:
    default:
        return "check";
    }
}

bool EventFromName(const std::string& name, HistoryEvent* event) {
    if (name == "check")
        *event = HistoryEvent::Check;
    else if (name == "refresh-start")
        *event = HistoryEvent::RefreshStart;
    else if (name == "refresh-end")
        *event = HistoryEvent::RefreshEnd;
    else
        return false;
    return true;
}

// Invalid UTF-8 (a torn multi-byte character) is no text.
bool FromUtf8(const std::string& text, std::wstring* out) {
    out->clear();
    if (text.empty())
        return true;
    const int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (cch <= 0)
        return false;
    out->assign(static_cast<size_t>(cch), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(),
                               static_cast<int>(text.size()), &(*out)[0], cch) == cch;
}

// The id is the one field that is free text (the firmware's battery name);
// it is quoted when it holds a separator, and line breaks, which would
// split the row, become spaces.
std::string CsvField(const std::wstring& text) {
    std::string field = ToUtf8(text);
    for (char& c : field) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    if (field.find_first_of(",\"") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

bool SplitCsv(const std::string& line, std::vector<std::string>* fields) {
    fields->clear();
    std::string field;
    size_t i = 0;
    for (;;) {
        field.clear();
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size())
                    return false; // an unclosed quote: a torn row
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < line.size() && line[i] != ',')
                return false;
        } else {
            while (i < line.size() && line[i] != ',')
                field += line[i++];
        }
        fields->push_back(field);
        if (i >= line.size())
            return true;
        ++i; // the comma
    }
}

bool ParseDword(const std::string& text, DWORD* value) {
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<DWORD>(v);
    return true;
}

bool ParseDigits(const std::string& text, size_t pos, size_t count, WORD* value) {
    if (pos + count > text.size())
        return false;
    WORD v = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = static_cast<WORD>(v * 10 + (text[i] - '0'));
    }
    *value = v;
    return true;
}

// "yyyy-mm-ddThh:mm:ss+hh:mm" (or "Z" for UTC).
bool ParseTime(const std::string& text, SYSTEMTIME* time, LONG* offsetMinutes) {
    SYSTEMTIME st = {};
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':')
        return false;
    if (!ParseDigits(text, 0, 4, &st.wYear) || !ParseDigits(text, 5, 2, &st.wMonth) ||
        !ParseDigits(text, 8, 2, &st.wDay) || !ParseDigits(text, 11, 2, &st.wHour) ||
        !ParseDigits(text, 14, 2, &st.wMinute) || !ParseDigits(text, 17, 2, &st.wSecond))
        return false;
    LONG offset = 0;
    if (text.size() == 20 && text[19] == 'Z') {
        offset = 0;
    } else {
        WORD hours = 0;
        WORD minutes = 0;
        if (text.size() != 25 || (text[19] != '+' && text[19] != '-') || text[22] != ':' ||
            !ParseDigits(text, 20, 2, &hours) || !ParseDigits(text, 23, 2, &minutes) ||
            minutes >= 60)
            return false;
        offset = hours * 60 + minutes;
        if (text[19] == '-')
            offset = -offset;
    }
    if (offset > kMaxOffsetMinutes || offset < -kMaxOffsetMinutes)
        return false;
    // The calendar check: no 31st of April, no 25 o'clock.
    FILETIME ft = {};
    if (!SystemTimeToFileTime(&st, &ft))
        return false;
    SYSTEMTIME back = {};
    if (!FileTimeToSystemTime(&ft, &back))
        return false;
    *time = back;
    time->wMilliseconds = 0;
    *offsetMinutes = offset;
    return true;
}

// Seconds since 1601 in UTC; false for a time the calendar has not got.
bool UtcSeconds(const SYSTEMTIME& local, LONG offsetMinutes, double* seconds) {
    FILETIME ft = {};
    if (!SystemTimeToFileTime(&local, &ft))
        return false;
    ULARGE_INTEGER ticks = {};
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    *seconds = static_cast<double>(ticks.QuadPart / kTicksPerSecond) -
               static_cast<double>(offsetMinutes) * 60.0;
    return true;
}

// The local calendar date of a UTC instant at the given offset.
bool LocalDateOf(double utcSeconds, LONG offsetMinutes, SYSTEMTIME* date) {
    const double local = utcSeconds + static_cast<double>(offsetMinutes) * 60.0;
    if (local < 0)
        return false;
    ULARGE_INTEGER ticks = {};
    ticks.QuadPart = static_cast<ULONGLONG>(local) * kTicksPerSecond;
    FILETIME ft = {};
    ft.dwLowDateTime = ticks.LowPart;
    ft.dwHighDateTime = ticks.HighPart;
    return FileTimeToSystemTime(&ft, date) != FALSE;
}

// Opens the file for a single writer: exclusive share mode is the lock
// between the programs, as for the logs.
zb::UniqueHandle OpenForAppend(LPCWSTR lpszPath, DWORD* error) {
    zb::UniqueHandle file;
    *error = 0;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        file.Reset(CreateFileW(lpszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return file;
        *error = GetLastError();
        if (*error != ERROR_SHARING_VIOLATION)
            break;
        if (attempt + 1 < kOpenAttempts)
            Sleep(kOpenRetryMs);
    }
    return file;
}

HRESULT ReadAll(HANDLE file, std::string* bytes, LPCWSTR lpszFunction) {
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) {
        const DWORD error = GetLastError();
        LogApiFailure(lpszFunction, __LINE__, L"GetFileSizeEx", error);
        return HRESULT_FROM_WIN32(error);
    }
    // The bound keeps the file far below this; anything larger is not ours.
    if (size.QuadPart > 256 * 1024 * 1024) {
        WriteLog(lpszFunction, __LINE__, L"History file too large: %I64d bytes.\n", size.QuadPart);
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes->empty() &&
        !ReadFile(file, &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr)) {
        const DWORD error = GetLastError();
        LogApiFailure(lpszFunction, __LINE__, L"ReadFile", error);
        return HRESULT_FROM_WIN32(error);
    }
    bytes->resize(read);
    return S_OK;
}

// The whole lines of the text, without a last line that has no line break:
// that one is a writer's torn row.
void ParseLines(const std::string& bytes, std::vector<HistoryRow>* rows) {
    size_t start = 0;
    // A byte-order mark, should an editor have added one.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    for (;;) {
        const size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            return;
        HistoryRow row;
        if (ParseHistoryRow(bytes.substr(start, end - start), &row))
            rows->push_back(row);
        start = end + 1;
    }
}

bool WriteBytes(HANDLE file, const std::string& bytes, LPCWSTR lpszFunction, DWORD* error) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        *error = GetLastError();
        if (*error == 0)
            *error = ERROR_WRITE_FAULT;
        LogApiFailure(lpszFunction, __LINE__, L"WriteFile", *error);
        return false;
    }
    return true;
}

size_t CheckRowsOf(const std::vector<HistoryRow>& rows, UINT battery) {
    size_t count = 0;
    for (const HistoryRow& row : rows) {
        if (row.battery == battery && row.event == HistoryEvent::Check)
            ++count;
    }
    return count;
}

} // namespace

std::string FormatHistoryRow(const HistoryRow& row) {
    const LONG offset = row.utcOffsetMinutes;
    const LONG absOffset = offset < 0 ? -offset : offset;
    char time[40] = {};
    StringCchPrintfA(time, ARRAYSIZE(time), "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld",
                     row.time.wYear, row.time.wMonth, row.time.wDay, row.time.wHour,
                     row.time.wMinute, row.time.wSecond, offset < 0 ? '-' : '+', absOffset / 60,
                     absOffset % 60);
    char numbers[120] = {};
    StringCchPrintfA(numbers, ARRAYSIZE(numbers), "%lu,%lu,%lu,%lu", row.designMwh,
                     row.fullChargeMwh, row.cycles, row.health);
    std::string line = time;
    line += ',';
    line += std::to_string(row.battery);
    line += ',';
    line += CsvField(row.id);
    line += ',';
    line += EventName(row.event);
    line += ',';
    line += numbers;
    if (row.hasStatus) {
        line += ',';
        line += std::to_string(row.status);
    }
    return line;
}

bool ParseHistoryRow(const std::string& lineIn, HistoryRow* row) {
    if (!row)
        return false;
    std::string line = lineIn;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::vector<std::string> fields;
    if (!SplitCsv(line, &fields) || (fields.size() != 8 && fields.size() != 9))
        return false;
    HistoryRow parsed;
    DWORD battery = 0;
    if (!ParseTime(fields[0], &parsed.time, &parsed.utcOffsetMinutes) ||
        !ParseDword(fields[1], &battery) || (battery != 1 && battery != 2) ||
        !FromUtf8(fields[2], &parsed.id) || !EventFromName(fields[3], &parsed.event) ||
        !ParseDword(fields[4], &parsed.designMwh) ||
        !ParseDword(fields[5], &parsed.fullChargeMwh) || !ParseDword(fields[6], &parsed.cycles) ||
        !ParseDword(fields[7], &parsed.health))
        return false;
    parsed.battery = battery;
    if (fields.size() == 9) {
        if (!ParseDword(fields[8], &parsed.status))
            return false;
        parsed.hasStatus = true;
    }
    *row = parsed;
    return true;
}

HRESULT GetHistoryPath(LPWSTR lpszPath, size_t cchPath) {
    if (IsNullArg(lpszPath, L"zbhistory::GetHistoryPath", __LINE__, L"lpszPath"))
        return E_POINTER;
    if (cchPath == 0)
        return E_INVALIDARG;
    lpszPath[0] = L'\0';
    CreateLogFilePath(lpszPath, cchPath, HISTORY_FILE_NAME);
    return lpszPath[0] ? S_OK : E_FAIL;
}

HRESULT ReadHistory(LPCWSTR lpszPath, std::vector<HistoryRow>* rows) {
    if (IsAnyNullArg({{lpszPath, L"lpszPath"}, {rows, L"rows"}}, L"zbhistory::ReadHistory",
                     __LINE__))
        return E_POINTER;
    rows->clear();
    zb::UniqueHandle file;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        file.Reset(CreateFileW(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return S_OK;
        if (error != ERROR_SHARING_VIOLATION || attempt + 1 == kOpenAttempts) {
            LogApiFailure(L"zbhistory::ReadHistory", __LINE__, L"CreateFile", error);
            return HRESULT_FROM_WIN32(error);
        }
        Sleep(kOpenRetryMs);
    }
    std::string bytes;
    const HRESULT hr = ReadAll(file.Get(), &bytes, L"zbhistory::ReadHistory");
    if (FAILED(hr))
        return hr;
    ParseLines(bytes, rows);
    return S_OK;
}

HRESULT WriteHistoryFile(LPCWSTR lpszPath, const std::vector<HistoryRow>& rows) {
    if (IsNullArg(lpszPath, L"zbhistory::WriteHistoryFile", __LINE__, L"lpszPath"))
        return E_POINTER;
    std::string bytes = HISTORY_HEADER;
    bytes += "\r\n";
    for (const HistoryRow& row : rows) {
        bytes += FormatHistoryRow(row);
        bytes += "\r\n";
    }
    return WriteFileWhole(lpszPath, bytes);
}

std::vector<HistoryRow> BoundHistoryRows(const std::vector<HistoryRow>& rows, size_t maxCheckRows) {
    // Counted from the newest row back: the first maxCheckRows checks of a
    // battery met that way are its newest.
    std::map<UINT, size_t> kept;
    std::vector<bool> keep(rows.size(), true);
    for (size_t i = rows.size(); i-- > 0;) {
        if (rows[i].event != HistoryEvent::Check)
            continue;
        size_t& count = kept[rows[i].battery];
        if (count >= maxCheckRows)
            keep[i] = false;
        else
            ++count;
    }
    std::vector<HistoryRow> out;
    out.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        if (keep[i])
            out.push_back(rows[i]);
    }
    return out;
}

HRESULT AppendHistoryRow(LPCWSTR lpszPath, const HistoryRow& row) {
    if (IsNullArg(lpszPath, L"zbhistory::AppendHistoryRow", __LINE__, L"lpszPath"))
        return E_POINTER;
    std::vector<HistoryRow> rows;
    {
        DWORD error = 0;
        zb::UniqueHandle file = OpenForAppend(lpszPath, &error);
        if (!file) {
            LogApiFailure(L"zbhistory::AppendHistoryRow", __LINE__, L"CreateFile", error);
            return HRESULT_FROM_WIN32(error);
        }
        std::string bytes;
        HRESULT hr = ReadAll(file.Get(), &bytes, L"zbhistory::AppendHistoryRow");
        if (FAILED(hr))
            return hr;
        // A torn last row (its writer died half-way) is cut off: appending
        // behind it would glue the new row to it, and a cut number would
        // read as a whole one.
        size_t keep = bytes.size();
        if (!bytes.empty() && bytes.back() != '\n') {
            const size_t lastBreak = bytes.rfind('\n');
            keep = lastBreak == std::string::npos ? 0 : lastBreak + 1;
            WriteLog(L"zbhistory::AppendHistoryRow", __LINE__,
                     L"Torn last row of %Iu bytes dropped.\n", bytes.size() - keep);
            bytes.resize(keep);
        }
        LARGE_INTEGER position = {};
        position.QuadPart = static_cast<LONGLONG>(keep);
        if (!SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) ||
            !SetEndOfFile(file.Get())) {
            error = GetLastError();
            LogApiFailure(L"zbhistory::AppendHistoryRow", __LINE__, L"SetEndOfFile", error);
            return HRESULT_FROM_WIN32(error);
        }
        std::string text;
        if (keep == 0) {
            text = HISTORY_HEADER;
            text += "\r\n";
        }
        text += FormatHistoryRow(row);
        text += "\r\n";
        if (!WriteBytes(file.Get(), text, L"zbhistory::AppendHistoryRow", &error))
            return HRESULT_FROM_WIN32(error);
        if (row.event != HistoryEvent::Check)
            return S_OK;
        bytes += text;
        ParseLines(bytes, &rows);
        if (CheckRowsOf(rows, row.battery) <= HISTORY_MAX_CHECK_ROWS)
            return S_OK;
    }
    // The handle is closed before the trimmed file replaces it: an open
    // file cannot be replaced.
    const HRESULT hr = WriteHistoryFile(lpszPath, BoundHistoryRows(rows));
    if (FAILED(hr))
        WriteLog(L"zbhistory::AppendHistoryRow", __LINE__, L"Fail to trim the history. hr: %08x.\n",
                 hr);
    // The row itself is written; a file that stays long is no failure.
    return S_OK;
}

void StampHistoryRowNow(HistoryRow* row) {
    if (IsNullArg(row, L"zbhistory::StampHistoryRowNow", __LINE__, L"row"))
        return;
    SYSTEMTIME utc = {};
    GetSystemTime(&utc);
    SYSTEMTIME local = {};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        LogApiFailure(L"zbhistory::StampHistoryRowNow", __LINE__,
                      L"SystemTimeToTzSpecificLocalTime", GetLastError());
        local = utc;
    }
    local.wMilliseconds = 0;
    utc.wMilliseconds = 0;
    double utcSeconds = 0;
    double localSeconds = 0;
    LONG offset = 0;
    if (UtcSeconds(utc, 0, &utcSeconds) && UtcSeconds(local, 0, &localSeconds))
        offset = static_cast<LONG>(std::floor((localSeconds - utcSeconds) / 60.0 + 0.5));
    row->time = local;
    row->utcOffsetMinutes = offset;
}

bool HasCheckRowOnDay(const std::vector<HistoryRow>& rows, UINT battery, const SYSTEMTIME& day) {
    for (const HistoryRow& row : rows) {
        if (row.battery == battery && row.event == HistoryEvent::Check &&
            row.time.wYear == day.wYear && row.time.wMonth == day.wMonth &&
            row.time.wDay == day.wDay)
            return true;
    }
    return false;
}

HRESULT MakeBatteryRow(CBattery& battery, HistoryEvent event, HistoryRow* row) {
    if (IsNullArg(row, L"zbhistory::MakeBatteryRow", __LINE__, L"row"))
        return E_POINTER;
    BATTERY_INFORMATION info = {};
    const HRESULT hr = battery.GetBatteryInformation(&info);
    if (FAILED(hr)) {
        WriteLog(L"zbhistory::MakeBatteryRow", __LINE__,
                 L"Fail to GetBatteryInformation() of battery %u. hr: %08x.\n", battery.GetBattNo(),
                 hr);
        return hr;
    }
    HistoryRow made;
    StampHistoryRowNow(&made);
    made.battery = battery.GetBattNo();
    made.id = battery.GetOWNID();
    made.event = event;
    made.designMwh = info.DesignedCapacity;
    made.fullChargeMwh =
        info.FullChargedCapacity == BATTERY_UNKNOWN_CAPACITY ? 0 : info.FullChargedCapacity;
    made.cycles = info.CycleCount;
    DWORD health = 0;
    if (FAILED(battery.AslMethodHealth(&health)))
        health = HealthFromFullChargeRatio(
            CalcFullChargeRatio(made.designMwh, made.fullChargeMwh, GetRegBatteryLifeRate()));
    made.health = health;
    *row = made;
    return S_OK;
}

HRESULT AppendToHistory(const HistoryRow& row) {
    wchar_t path[MAX_PATH] = {};
    HRESULT hr = GetHistoryPath(path, ARRAYSIZE(path));
    if (SUCCEEDED(hr))
        hr = AppendHistoryRow(path, row);
    if (FAILED(hr))
        WriteLog(L"zbhistory::AppendToHistory", __LINE__,
                 L"Fail to add a history row of battery %u. hr: %08x.\n", row.battery, hr);
    return hr;
}

HRESULT RecordDailyCheck(CBattery& battery) {
    HistoryRow row;
    HRESULT hr = MakeBatteryRow(battery, HistoryEvent::Check, &row);
    if (FAILED(hr))
        return hr;
    wchar_t path[MAX_PATH] = {};
    hr = GetHistoryPath(path, ARRAYSIZE(path));
    if (FAILED(hr))
        return hr;
    std::vector<HistoryRow> rows;
    hr = ReadHistory(path, &rows);
    if (FAILED(hr))
        return hr;
    if (HasCheckRowOnDay(rows, row.battery, row.time))
        return S_FALSE;
    return AppendToHistory(row);
}

std::vector<RefreshRecord> RefreshRecordsOf(const std::vector<HistoryRow>& rows, UINT battery) {
    std::vector<RefreshRecord> records;
    // A start without an end is a refresh still running (or one whose
    // program died); an end without a start has no before. Neither is a
    // record.
    const HistoryRow* start = nullptr;
    for (const HistoryRow& row : rows) {
        if (row.battery != battery)
            continue;
        if (row.event == HistoryEvent::RefreshStart) {
            start = &row;
        } else if (row.event == HistoryEvent::RefreshEnd && start) {
            RefreshRecord record;
            record.battery = battery;
            record.started = start->time;
            record.ended = row.time;
            record.designMwh = row.designMwh ? row.designMwh : start->designMwh;
            record.fullChargeBeforeMwh = start->fullChargeMwh;
            record.fullChargeAfterMwh = row.fullChargeMwh;
            record.hasStatus = row.hasStatus;
            record.status = row.status;
            records.push_back(record);
            start = nullptr;
        }
    }
    return records;
}

DWORD ReplacementLevelMwh(DWORD dwDesignMwh, DWORD dwLifeRate) {
    if (dwDesignMwh == 0 || dwLifeRate == 0)
        return 0;
    // The diagnosis's own figures decide, so the level matches its verdict
    // to the mWh: the ratio only grows with the capacity, so the highest
    // capacity it does not call good is found by halving.
    auto good = [&](DWORD fcc) {
        return HealthFromFullChargeRatio(CalcFullChargeRatio(dwDesignMwh, fcc, dwLifeRate)) ==
               BATTERY_HEALTH_GOOD;
    };
    if (!good(dwDesignMwh))
        return dwDesignMwh;
    DWORD low = 0;            // not good
    DWORD high = dwDesignMwh; // good
    while (high - low > 1) {
        const DWORD mid = low + (high - low) / 2;
        if (good(mid))
            high = mid;
        else
            low = mid;
    }
    return low;
}

FadeForecast ForecastFade(const std::vector<HistoryRow>& rows, UINT battery) {
    return ForecastFade(rows, battery, GetRegBatteryLifeRate());
}

FadeForecast ForecastFade(const std::vector<HistoryRow>& rows, UINT battery, DWORD dwLifeRate) {
    FadeForecast forecast;
    // The battery now in the bay is the one of its newest row; rows of a
    // battery it replaced say nothing about it.
    const HistoryRow* newest = nullptr;
    for (const HistoryRow& row : rows) {
        if (row.battery == battery)
            newest = &row;
    }
    if (!newest)
        return forecast;
    // Only a refresh that ran to its end let the gauge relearn: before it
    // the reported capacity followed the gauge's error, not the cells. An
    // aborted one (it carries a status) changed nothing.
    size_t from = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const HistoryRow& row = rows[i];
        if (row.battery == battery && row.id == newest->id &&
            row.event == HistoryEvent::RefreshEnd && (!row.hasStatus || row.status == 0))
            from = i + 1;
    }
    std::vector<double> days;
    std::vector<double> mwh;
    double first = 0;
    DWORD design = 0;
    LONG offset = 0;
    for (size_t i = from; i < rows.size(); ++i) {
        const HistoryRow& row = rows[i];
        if (row.battery != battery || row.id != newest->id || row.event != HistoryEvent::Check)
            continue;
        double seconds = 0;
        if (!UtcSeconds(row.time, row.utcOffsetMinutes, &seconds))
            continue;
        if (days.empty())
            first = seconds;
        days.push_back((seconds - first) / kSecondsPerDay);
        mwh.push_back(static_cast<double>(row.fullChargeMwh));
        design = row.designMwh;
        offset = row.utcOffsetMinutes;
    }
    if (days.size() < 2 || design == 0)
        return forecast;
    double minDay = days[0];
    double maxDay = days[0];
    for (double d : days) {
        minDay = d < minDay ? d : minDay;
        maxDay = d > maxDay ? d : maxDay;
    }
    if (maxDay - minDay < FORECAST_MIN_DAYS)
        return forecast;

    // Least squares: mwh = a + b * day.
    const double n = static_cast<double>(days.size());
    double sumX = 0, sumY = 0;
    for (size_t i = 0; i < days.size(); ++i) {
        sumX += days[i];
        sumY += mwh[i];
    }
    const double meanX = sumX / n;
    const double meanY = sumY / n;
    double sxx = 0, sxy = 0;
    for (size_t i = 0; i < days.size(); ++i) {
        sxx += (days[i] - meanX) * (days[i] - meanX);
        sxy += (days[i] - meanX) * (mwh[i] - meanY);
    }
    if (sxx <= 0)
        return forecast;
    const double slope = sxy / sxx; // mWh per day
    const double intercept = meanY - slope * meanX;
    forecast.enough = true;
    forecast.mwhPerMonth = -slope * kDaysPerMonth;
    forecast.percentPerMonth = forecast.mwhPerMonth * 100.0 / static_cast<double>(design);
    if (slope >= 0)
        return forecast;

    const DWORD level = ReplacementLevelMwh(design, dwLifeRate);
    double reachDay = (static_cast<double>(level) - intercept) / slope;
    // A fit that already lies below the level reaches it now, not in the past.
    if (reachDay < maxDay)
        reachDay = maxDay;
    if (reachDay - maxDay > kForecastHorizonDays)
        return forecast;
    SYSTEMTIME date = {};
    if (!LocalDateOf(first + reachDay * kSecondsPerDay, offset, &date))
        return forecast;
    forecast.reachesReplacement = true;
    forecast.replacementYear = date.wYear;
    forecast.replacementMonth = date.wMonth;
    return forecast;
}

} // namespace zbhistory
