// The battery history as a report file ("/report <path>.html").
#pragma once

#include <windows.h>

#include <vector>

#include "battery/history.h"

namespace zbmain {

// Writes the history's rows as one self-contained HTML page: S_OK or the
// failure (the file is then not left half-written).
HRESULT WriteHistoryHtmlReport(LPCWSTR path, const std::vector<zbhistory::HistoryRow>& rows);

} // namespace zbmain
