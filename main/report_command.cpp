// "/report <path>": the battery history written out as a file, without a
// window.
#include "main/main_app.h"

#include <shlwapi.h>

#include "battery/history.h"
#include "common/log.h"
#include "main/history_report.h"
#include "main/program_ids.h"

namespace zbmain {

namespace {

enum class ReportType { Csv, Html, Other };

ReportType ReportTypeOf(LPCWSTR lpszPath) {
    LPCWSTR extension = PathFindExtensionW(lpszPath);
    if (lstrcmpiW(extension, L".csv") == 0)
        return ReportType::Csv;
    if (lstrcmpiW(extension, L".html") == 0 || lstrcmpiW(extension, L".htm") == 0)
        return ReportType::Html;
    return ReportType::Other;
}

DWORD Win32Of(HRESULT hr) {
    if (SUCCEEDED(hr))
        return 0;
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
        return HRESULT_CODE(hr);
    return ERROR_WRITE_FAULT;
}

} // namespace

DWORD WriteHistoryReport(LPCWSTR lpszPath, LPCWSTR lpszHistoryPath) {
    DWORD result = CheckConfigPath(lpszPath);
    if (result != 0)
        return result;
    const ReportType type = ReportTypeOf(lpszPath);
    if (type == ReportType::Other) {
        WriteLog(L"WriteHistoryReport", __LINE__, L"Unknown report type: %s\n", lpszPath);
        return ERROR_BAD_FORMAT;
    }
    std::vector<zbhistory::HistoryRow> rows;
    HRESULT hr = lpszHistoryPath ? zbhistory::ReadHistory(lpszHistoryPath, &rows) : E_POINTER;
    if (FAILED(hr)) {
        WriteLog(L"WriteHistoryReport", __LINE__, L"Fail to ReadHistory(). hr: %08x.\n", hr);
        return ERROR_READ_FAULT;
    }
    hr = type == ReportType::Csv ? zbhistory::WriteHistoryFile(lpszPath, rows)
                                 : WriteHistoryHtmlReport(lpszPath, rows);
    if (FAILED(hr))
        WriteLog(L"WriteHistoryReport", __LINE__, L"Fail to write the report. hr: %08x.\n", hr);
    return Win32Of(hr);
}

UINT ConsoleMessageForReport(DWORD dwResult, bool bEmptyPath) {
    switch (dwResult) {
    case 0:
        return 0;
    case ERROR_BAD_PATHNAME:
        return bEmptyPath ? IDS_REPORT_NO_PATH : IDS_INVALID_OPTION;
    case ERROR_BAD_FORMAT:
        return IDS_REPORT_BAD_TYPE;
    case ERROR_READ_FAULT:
        return IDS_REPORT_READ_FAILED;
    case ERROR_ACCESS_DENIED:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return IDS_REPORT_CREATE_FAILED;
    default:
        return IDS_REPORT_FAILED;
    }
}

} // namespace zbmain
