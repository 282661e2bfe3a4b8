// Copying the batteries' charge modes to a configuration file and back
// ("/import" and "/export" of the main screen). The file is an
// initialisation file:
//
//   [Version]  VadovurConfigVersion=1.0.0.0
//   [Setting]  ChargeMode=<battery 1>   (files of older releases have only this)
//              ChargeMode1=<battery 1>
//              ChargeMode2=<battery 2>
//
// Only the charge modes travel; no other setting is exported.
#pragma once

#include <windows.h>

#include "battery/battery.h"

namespace zbmain {

constexpr wchar_t CONFIG_VERSION[] = L"1.0.0.0";

// WritePrivateProfileStringW's shape, so that a test can fail one write.
using ProfileStringWriter = BOOL(WINAPI*)(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                          LPCWSTR lpFileName);

// Applies the file's charge modes to the present batteries:
//   0                      done (also when the file names no mode at all)
//   ERROR_NOT_SUPPORTED    the file is of another version
//   ERROR_FUNCTION_FAILED  no version key (or no file), or a battery's
//                          mode could not be written
DWORD ImportConfigFile(LPCWSTR lpszPath, const CBatteryArray& batteries);

// Writes the present batteries' charge modes: 0, or the last error of the
// first write that failed (ERROR_WRITE_FAULT when the writer set none).
DWORD ExportConfigFile(LPCWSTR lpszPath, const CBatteryArray& batteries,
                       ProfileStringWriter writer = WritePrivateProfileStringW);

} // namespace zbmain
