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

// The firmware write of a battery's charge mode, so that a test can fail
// one battery's write.
using ChargeModeWriter = HRESULT (*)(CBattery* pBattery, DWORD dwMode);
HRESULT WriteBatteryChargeMode(CBattery* pBattery, DWORD dwMode);

// Applies the file's charge modes to the present batteries, all or none:
//   0                      done (also when the file names no mode at all)
//   ERROR_NOT_SUPPORTED    the file is of another version
//   ERROR_ACCESS_DISABLED_BY_POLICY
//                          a present battery would get a mode other than
//                          the one the administrator enforces (an import of
//                          that very mode is done)
//   ERROR_FUNCTION_FAILED  no version key (or no file), a mode the owner
//                          could not have chosen, or a battery whose mode
//                          could not be read or written; every battery then
//                          keeps (or gets back) the mode it had
// The modes written are the owner's: they replace what a refresh that died
// recorded for those batteries. Call only while no refresh tool runs.
DWORD ImportConfigFile(LPCWSTR lpszPath, const CBatteryArray& batteries,
                       ChargeModeWriter writer = WriteBatteryChargeMode);

// Writes the present batteries' charge modes: 0, or the last error of the
// first write that failed (ERROR_WRITE_FAULT when the writer set none).
DWORD ExportConfigFile(LPCWSTR lpszPath, const CBatteryArray& batteries,
                       ProfileStringWriter writer = WritePrivateProfileStringW);

} // namespace zbmain
