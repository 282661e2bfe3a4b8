// The simulated power manager's plan export file, the stand-in for the
// binary files "powercfg /export" writes on Windows. It is text, UTF-8
// (with or without a byte-order mark) or UTF-16LE with its mark:
//
//   # comment lines and blank lines are ignored
//   ZBSIM-POWERPLAN 1                first other line, exactly
//   name=<friendly name>             required
//   description=<text>               optional
//   setting=<subgroup>,<setting>,<AC index>,<DC index>
//
// Identifiers in the usual 8-4-4-4-12 form, braces optional; indexes in
// decimal or 0x hex. Any other line makes the file invalid. The file carries
// no identifier: PowerImportPowerScheme gives the plan the one its caller
// asks for, or a new one.
#pragma once

#include "sim/powrprof/power_store.h"

namespace simpower {

// Parses a file's text. ERROR_INVALID_DATA with "line N: reason" in error.
DWORD ParsePlanText(const std::wstring& text, PowerPlan* plan, std::wstring* error);

// Reads and parses a file: ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when
// it is missing, ERROR_INVALID_DATA when it is not a plan file.
DWORD ReadPlanFile(const wchar_t* path, PowerPlan* plan, std::wstring* error);

} // namespace simpower
