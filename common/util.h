// Small functions every program of the suite shares: its own paths and
// processes, the command-line map, the user checks, calendar arithmetic on
// local SYSTEMTIMEs, the two battery-state retry loops, DPI-scaled drawing
// and window sizing, and ANSI-to-UTF-16 text conversion.
//
// Every function logs its own failures to the trace log and checks its
// pointer arguments ("<name> is NULL.").
#pragma once

#include <windows.h>

#include <map>
#include <string>

// ---------------------------------------------------------------------------
// Paths and processes

// Directory of the running program, with a trailing backslash.
// 0, the Win32 error of GetModuleFileNameW, or ERROR_INVALID_PARAMETER.
DWORD GetCurrentPath(LPWSTR lpszPath, size_t cchPath);

// True when FindFirstFileW finds the path.
BOOL FileExists(LPCWSTR lpszPath);

// FileExists of the program directory + lpszFileName.
BOOL FileExistsCurrentPath(LPCWSTR lpszFileName);

// Starts program directory + lpszExeName with ShellExecuteExW ("open").
// When phProcess is given it receives the process handle (the caller closes
// it). 0, the Win32 error, or ERROR_INVALID_PARAMETER for a null argument.
DWORD CurrentModuleExe(LPCWSTR lpszExeName, LPCWSTR lpszArgs, int nShowCmd,
                       HANDLE* phProcess = nullptr);

// System directory joined with lpszFileName, falling back to
// "C:\WINDOWS\system32\". 0; ERROR_PATH_NOT_FOUND when no path fits;
// ERROR_INVALID_PARAMETER for a null argument.
DWORD CombineSystemPath(LPCWSTR lpszFileName, LPWSTR lpszOutputPath, size_t cchOutputPath);

// The install helpers may import and delete only files inside the suite's
// own program folder (<Program Files>\VADOvur). Both paths are made full
// first, so "..\" cannot climb out of it.
BOOL IsAllowedPath(LPCWSTR lpszPath);

// True when lpszPath is lpszBase itself or lies below it: case-insensitive,
// and the base must be followed by a path separator, so that a sibling
// folder whose name merely starts with the base's ("VADOvurEvil") is not
// taken for it. Neither text is normalised here.
BOOL IsPathWithinFolder(LPCWSTR lpszPath, LPCWSTR lpszBase);

// Writes bytes as the whole file at lpszPath, or leaves what was there: they
// go to "<path>.tmp", are flushed, and the temporary file is moved over the
// path. S_OK, or the failed call's Win32 error as an HRESULT (logged).
HRESULT WriteFileWhole(LPCWSTR lpszPath, const std::string& bytes);

// ---------------------------------------------------------------------------
// Command line

// Switches and arguments, keyed by their exact text (case-sensitive).
using CommandLineMap = std::map<std::wstring, std::wstring>;

// Splits the process command line with CommandLineToArgvW: every argument
// (argument 0 too) becomes a key with an empty value; a next argument that
// does not begin with "/" becomes the value of a preceding "/" switch and is
// not a key of its own. FALSE only when the text cannot be split at all.
BOOL ParseCommandLine(CommandLineMap& mapArgs);

// The switch (exact text, "/" included) is on the command line.
bool HasSwitch(const CommandLineMap& mapArgs, LPCWSTR lpszSwitch);

// The same for a given command-line text.
BOOL ParseCommandLineText(LPCWSTR lpszCommandLine, CommandLineMap& mapArgs);

// ---------------------------------------------------------------------------
// Users

// The process user as "DOMAIN\user" (GetUserNameExW, NameSamCompatible),
// *pcchName characters in and out as there. The security library is loaded
// for the call only, so a resident program does not keep it mapped. FALSE
// with the last error set on failure.
BOOL GetSamCompatibleName(LPWSTR lpszName, PULONG pcchName);

// True when lpstrPasswd is the password of the current session's user.
BOOL CheckPasswd(LPCWSTR lpstrPasswd);

// True when the current user is in both the local "Users" and
// "Administrators" groups or only in "Administrators" (indirect membership
// included).
BOOL IsUserAdministrator();

// ---------------------------------------------------------------------------
// Dates (local SYSTEMTIMEs)

// -1, 0 or 1, like CompareFileTime, without time-zone conversion.
int CompareSystemTime(const SYSTEMTIME* pTimeA, const SYSTEMTIME* pTimeB);

// Whole seconds since 1970-01-01 00:00 UTC of a local time, and back.
BOOL SystemTimeToSeconds(const SYSTEMTIME* pLocalTime, LONGLONG* pllSeconds);
BOOL SecondsToSystemTime(LONGLONG llSeconds, SYSTEMTIME* pLocalTime);

// Adds whole minutes or days in absolute time, so a daylight-saving change
// in between moves the clock hour.
BOOL AddMinutes(const SYSTEMTIME* pTime, SYSTEMTIME* pResult, LONGLONG llMinutes);
BOOL AddDays(const SYSTEMTIME* pTime, SYSTEMTIME* pResult, LONGLONG llDays);

// Calendar months (negative goes back). The day is kept, or limited to the
// length of the new month; every other field is copied.
BOOL AddMonths(const SYSTEMTIME* pTime, SYSTEMTIME* pResult, int nMonths);

// 28 to 31; a month outside 1..12 gives 28.
int GetDaysInMonth(int nYear, int nMonth);

// Dates the battery firmware can hold: years 1980 to 2043.
BOOL IsValidDate(int nYear, int nMonth, int nDay);

// True when base + interval lies strictly before pNow (the current local
// time when pNow is null). Years count as twelve months.
BOOL IsPassedDate(int nYears, int nMonths, int nDays, const SYSTEMTIME* pBaseTime,
                  const SYSTEMTIME* pNow = nullptr);
BOOL IsPassedMonth(int nMonths, const SYSTEMTIME* pBaseTime, const SYSTEMTIME* pNow = nullptr);
BOOL IsPassedDay(int nDays, const SYSTEMTIME* pBaseTime, const SYSTEMTIME* pNow = nullptr);

// ---------------------------------------------------------------------------
// Battery state loops

// Anything that can give one battery's power status; CBattery
// (battery/battery.h) is the one the programs pass.
class IBatteryPowerSource {
public:
    virtual BOOL GetBatteryPowerStatus(LPSYSTEM_POWER_STATUS lpStatus) = 0;

protected:
    ~IBatteryPowerSource() = default;
};

// Charging flag of GetChargingFlag.
constexpr int CHARGING_FLAG_UNKNOWN = 0;
constexpr int CHARGING_FLAG_DISCHARGING = 1;
constexpr int CHARGING_FLAG_CHARGING = 2;
constexpr int CHARGING_FLAG_NO_BATTERY = 3;

// Battery flag of a SYSTEM_POWER_STATUS mapped to the charging flag.
int ChargingFlagFromBatteryFlag(BYTE bBatteryFlag);

// Reads the battery's power status up to "PowerSchemeTryCount" times,
// "WaitPowerSchemeTime" ms apart, until its battery flag is valid (not 255,
// no 0x80). FALSE only when a read fails; when every reading was invalid it
// still returns TRUE with the last reading for the caller to judge (and with
// no attempts at all, with *lpSyspow untouched).
BOOL GetPowerStatusDoubleCheck(LPSYSTEM_POWER_STATUS lpSyspow, IBatteryPowerSource* pBattery);

// One reading of the battery's charging flag (CHARGING_FLAG_*).
int GetChargingFlag(IBatteryPowerSource* pBattery);

// Waits up to "StateCheckRetry" x "StateCheckInterval" ms for the charging
// flag to become nChargingFlag (only 1 or 2 may be asked for).
BOOL WaitForChargingState(int nChargingFlag, IBatteryPowerSource* pBattery);

// ---------------------------------------------------------------------------
// Drawing and windows

// Screen DPI over 96 in each direction.
BOOL GetScaling(double* pdScaleX, double* pdScaleY);

// A bitmap resource drawn on the dialog face colour of Windows' standard
// theme (240, 240, 240), with that colour changed to this system's
// COLOR_3DFACE so that the picture shows no frame of another grey on the
// dialog. Null (last error set) when it cannot be loaded.
HBITMAP LoadFaceBitmap(HINSTANCE hInstance, LPCWSTR lpszBitmapName);

// Draws a bitmap resource at (x, y), scaled to the screen's DPI.
// S_OK, E_HANDLE, E_FAIL or E_INVALIDARG.
HRESULT StretchImg(HINSTANCE hInstance, HDC hdc, LPCWSTR lpszBitmapName, int x, int y);

// Resizes the window so that its client area has the rectangle's size.
BOOL SetClientRect(HWND hWnd, const RECT* pRect);

// Top-left position that puts a window of the given size in the centre of
// rcParent, never left of or above the screen's origin.
POINT CenteredWindowPosition(const RECT& rcParent, LONG lWidth, LONG lHeight);

// Moves the window (not resizing it) to the centre of its parent.
BOOL CenterWindowOnParent(HWND hWnd);

// Window text := string resource uStringId of the window's module.
void SetWindowTextFromResource(HWND hWnd, UINT uStringId);

// ---------------------------------------------------------------------------
// Text conversion

// One UTF-16 text, made from a UTF-16 text or from ANSI text in the system
// code page (Shift-JIS on the machines the suite is made for).
class CStrConversion {
public:
    explicit CStrConversion(LPCWSTR lpwstr);
    explicit CStrConversion(LPCSTR lpstr);

    LPCWSTR GetString() const { return m_str.c_str(); }
    operator LPCWSTR() const { return m_str.c_str(); }

    // Converts ANSI text into a new buffer that the caller frees with
    // LocalFree. S_OK, E_POINTER or E_FAIL.
    static HRESULT SjisToUnicode(LPCSTR lpstrSrc, LPWSTR* lpstrDst);

private:
    std::wstring m_str;
};

// UTF-16 text as UTF-8 (files meant for other programs: CSV, HTML).
std::string ToUtf8(const std::wstring& text);
