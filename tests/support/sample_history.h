// A battery history with something to show: about seven months of daily
// checks of two batteries whose gauges drift down, and two refreshes of
// battery 1 that put the full-charge capacity back up. For the tests of the
// history's views and for the screenshots; fixed dates, so pictures stay
// the same from run to run.
#pragma once

#include <windows.h>

#include <vector>

#include "battery/history.h"

namespace testenv {

std::vector<zbhistory::HistoryRow> SampleHistory();

// The sample in the suite's history file (replacing it); S_OK or the error.
HRESULT WriteSampleHistory();

} // namespace testenv
