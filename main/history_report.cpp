// The battery history's HTML report.
#include "main/history_report.h"

namespace zbmain {

HRESULT WriteHistoryHtmlReport(LPCWSTR path, const std::vector<zbhistory::HistoryRow>& rows) {
    (void)path;
    (void)rows;
    return E_NOTIMPL;
}

} // namespace zbmain
