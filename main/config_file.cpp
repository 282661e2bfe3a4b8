#include "main/config_file.h"

#include "common/log.h"

#include <strsafe.h>
#include <wchar.h>

namespace zbmain {
namespace {

constexpr wchar_t kSectionVersion[] = L"Version";
constexpr wchar_t kKeyVersion[] = L"VadovurConfigVersion";
constexpr wchar_t kSectionSetting[] = L"Setting";
constexpr wchar_t kKeyMode[] = L"ChargeMode";
constexpr wchar_t kKeyMode1[] = L"ChargeMode1";
constexpr wchar_t kKeyMode2[] = L"ChargeMode2";
constexpr int kNotFound = -1;

int ReadMode(LPCWSTR lpszKey, LPCWSTR lpszPath) {
    return static_cast<int>(GetPrivateProfileIntW(kSectionSetting, lpszKey, kNotFound, lpszPath));
}

// True when the battery is absent or took the mode.
bool ApplyMode(CBattery* pBattery, int nMode) {
    if (!pBattery)
        return true;
    const HRESULT hr = pBattery->AslMethodWBCL(static_cast<DWORD>(nMode));
    if (FAILED(hr)) {
        WriteLog(L"ImportConfigFile", __LINE__,
                 L"Fail to AslMethodWBCL(%d) of battery %u. hr: %08x.\n", nMode,
                 pBattery->GetBattNo(), hr);
        return false;
    }
    return true;
}

bool ReadBatteryMode(const CBatteryArray& batteries, UINT uiBattNo, DWORD* pdwMode) {
    CBattery* pBattery = batteries.GetBattery(uiBattNo);
    return pBattery && SUCCEEDED(pBattery->GetChargeMode(pdwMode));
}

// Remembers the error of the first failed write and goes on with the rest,
// so that one failed key does not cost the others.
class CProfileWriter {
public:
    CProfileWriter(LPCWSTR lpszPath, ProfileStringWriter writer)
        : m_path(lpszPath), m_write(writer) {}

    bool Write(LPCWSTR lpszSection, LPCWSTR lpszKey, LPCWSTR lpszValue) {
        SetLastError(ERROR_SUCCESS);
        if (m_write(lpszSection, lpszKey, lpszValue, m_path))
            return true;
        DWORD dwError = GetLastError();
        if (dwError == ERROR_SUCCESS)
            dwError = ERROR_WRITE_FAULT;
        WriteLog(L"ExportConfigFile", __LINE__,
                 L"Fail to WritePrivateProfileString(%s). ErrorCode: %08x.\n", lpszKey, dwError);
        if (m_dwFirstError == ERROR_SUCCESS)
            m_dwFirstError = dwError;
        return false;
    }

    bool WriteMode(LPCWSTR lpszKey, DWORD dwMode) {
        WCHAR szValue[16] = {};
        StringCchPrintfW(szValue, ARRAYSIZE(szValue), L"%u", dwMode);
        return Write(kSectionSetting, lpszKey, szValue);
    }

    DWORD FirstError() const { return m_dwFirstError; }

private:
    LPCWSTR m_path;
    ProfileStringWriter m_write;
    DWORD m_dwFirstError = ERROR_SUCCESS;
};

} // namespace

DWORD ImportConfigFile(LPCWSTR lpszPath, const CBatteryArray& batteries) {
    if (IsNullArg(lpszPath, L"ImportConfigFile", __LINE__, L"lpszPath"))
        return ERROR_INVALID_PARAMETER;

    WCHAR szVersion[MAX_PATH] = {};
    if (GetPrivateProfileStringW(kSectionVersion, kKeyVersion, L"", szVersion, ARRAYSIZE(szVersion),
                                 lpszPath) == 0) {
        WriteLog(L"ImportConfigFile", __LINE__, L"No configuration version in %s.\n", lpszPath);
        return ERROR_FUNCTION_FAILED;
    }
    if (_wcsnicmp(szVersion, CONFIG_VERSION, MAX_PATH) != 0) {
        WriteLog(L"ImportConfigFile", __LINE__, L"Configuration version %s does not match.\n",
                 szVersion);
        return ERROR_NOT_SUPPORTED;
    }

    const int nMode = ReadMode(kKeyMode, lpszPath);
    const int nMode1 = ReadMode(kKeyMode1, lpszPath);
    const int nMode2 = ReadMode(kKeyMode2, lpszPath);

    // Every write counts: a battery that kept its old mode is a failed
    // import even when the other battery took its new one.
    bool bAllWritten = true;
    if (nMode1 != kNotFound && nMode2 != kNotFound) {
        bAllWritten &= ApplyMode(batteries.GetBattery(1), nMode1);
        bAllWritten &= ApplyMode(batteries.GetBattery(2), nMode2);
    } else if (nMode != kNotFound) {
        bAllWritten &= ApplyMode(batteries.GetBattery(1), nMode);
        bAllWritten &= ApplyMode(batteries.GetBattery(2), nMode);
    }
    return bAllWritten ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

DWORD ExportConfigFile(LPCWSTR lpszPath, const CBatteryArray& batteries,
                       ProfileStringWriter writer) {
    if (IsAnyNullArg({{lpszPath, L"lpszPath"}, {reinterpret_cast<const void*>(writer), L"writer"}},
                     L"ExportConfigFile", __LINE__))
        return ERROR_INVALID_PARAMETER;

    DWORD dwMode1 = 0;
    DWORD dwMode2 = 0;
    const bool bHave1 = ReadBatteryMode(batteries, 1, &dwMode1);
    const bool bHave2 = ReadBatteryMode(batteries, 2, &dwMode2);
    if (!bHave1 && !bHave2)
        return ERROR_SUCCESS;

    CProfileWriter file(lpszPath, writer);
    // Without the version key the file could not be imported again, so it
    // goes first, whichever battery is there, and nothing follows it when
    // even that fails.
    if (!file.Write(kSectionVersion, kKeyVersion, CONFIG_VERSION))
        return file.FirstError();
    if (bHave1) {
        // "ChargeMode" keeps the file readable for releases that know only
        // one battery.
        file.WriteMode(kKeyMode, dwMode1);
        file.WriteMode(kKeyMode1, dwMode1);
    }
    if (bHave2)
        file.WriteMode(kKeyMode2, dwMode2);
    return file.FirstError();
}

} // namespace zbmain
