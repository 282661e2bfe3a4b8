#include "main/config_file.h"

#include "battery/refresh_repair.h"
#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"

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

// One "Setting" key as the file has it.
struct FileMode {
    bool found = false;
    bool valid = false; // a mode a person can choose, written as decimal digits
    DWORD mode = 0;
};

// The modes the charge mode dialog offers, as the battery pages read them:
// full, 50 to 64 (the 50 % mode) and 65 to 80 (the 80 % mode). Anything else
// (the value that holds charging off, a refresh-needed mark, a level no
// charger knows) would leave the battery charging wrongly or not at all.
bool IsOwnerChargeMode(DWORD dwMode) {
    return dwMode == CHARGEMODE_FULL || (dwMode >= CHARGEMODE_50 && dwMode <= CHARGEMODE_80);
}

// Read as text, not with GetPrivateProfileIntW: that one makes 0 of any
// text and a negative or huge number of its digits, so a damaged value
// would pass as some other mode.
FileMode ReadMode(LPCWSTR lpszKey, LPCWSTR lpszPath) {
    // No value of ours looks like this default: it tells a missing key.
    static const wchar_t kMissing[] = L"?";
    WCHAR szText[16] = {};
    GetPrivateProfileStringW(kSectionSetting, lpszKey, kMissing, szText, ARRAYSIZE(szText),
                             lpszPath);
    FileMode result;
    if (lstrcmpW(szText, kMissing) == 0)
        return result;
    result.found = true;
    DWORD value = 0;
    size_t digits = 0;
    for (const WCHAR* p = szText; *p; ++p, ++digits) {
        if (*p < L'0' || *p > L'9' || digits >= 3)
            return result;
        value = value * 10 + static_cast<DWORD>(*p - L'0');
    }
    result.valid = digits > 0 && IsOwnerChargeMode(value);
    result.mode = value;
    return result;
}

// What the file asks of each battery (not found: leave it alone). Both
// per-battery keys win; otherwise the old one-key "ChargeMode" serves both
// batteries; otherwise a lone per-battery key (a file exported without the
// other battery) serves its own battery.
void PlanModes(const FileMode& mode, const FileMode& mode1, const FileMode& mode2,
               FileMode (&target)[2]) {
    if (mode1.found && mode2.found) {
        target[0] = mode1;
        target[1] = mode2;
    } else if (mode.found) {
        target[0] = mode;
        target[1] = mode;
    } else {
        target[0] = mode1;
        target[1] = mode2;
    }
}

struct BatteryChange {
    CBattery* battery = nullptr;
    DWORD oldMode = 0;
    DWORD newMode = 0;
};

// Puts back the modes of the first nCount changes, which were written.
void RollBack(const BatteryChange* pChanges, size_t nCount, ChargeModeWriter writer) {
    for (size_t i = 0; i < nCount; ++i) {
        const BatteryChange& change = pChanges[i];
        const HRESULT hr = writer(change.battery, change.oldMode);
        if (FAILED(hr))
            WriteLog(L"ImportConfigFile", __LINE__,
                     L"Fail to put back charge mode %u of battery %u. hr: %08x.\n", change.oldMode,
                     change.battery->GetBattNo(), hr);
    }
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
        if (!m_write(lpszSection, lpszKey, lpszValue, m_path)) {
            // Taken before anything else runs: the trace's own file calls
            // would replace it.
            const DWORD dwError = GetLastError();
            return Fail(L"WritePrivateProfileString", lpszKey,
                        dwError != ERROR_SUCCESS ? dwError : ERROR_WRITE_FAULT);
        }
        // The profile functions report success for some paths they cannot
        // write (too long for them, say): only a value that reads back landed.
        WCHAR szBack[32] = {};
        GetPrivateProfileStringW(lpszSection, lpszKey, L"", szBack, ARRAYSIZE(szBack), m_path);
        if (lstrcmpW(szBack, lpszValue) != 0)
            return Fail(L"GetPrivateProfileString", lpszKey, ERROR_WRITE_FAULT);
        return true;
    }

    bool WriteMode(LPCWSTR lpszKey, DWORD dwMode) {
        WCHAR szValue[16] = {};
        StringCchPrintfW(szValue, ARRAYSIZE(szValue), L"%u", dwMode);
        return Write(kSectionSetting, lpszKey, szValue);
    }

    DWORD FirstError() const { return m_dwFirstError; }

private:
    bool Fail(LPCWSTR lpszCall, LPCWSTR lpszKey, DWORD dwError) {
        WriteLog(L"ExportConfigFile", __LINE__, L"Fail to %s(%s). ErrorCode: %08x.\n", lpszCall,
                 lpszKey, dwError);
        if (m_dwFirstError == ERROR_SUCCESS)
            m_dwFirstError = dwError;
        return false;
    }

    LPCWSTR m_path;
    ProfileStringWriter m_write;
    DWORD m_dwFirstError = ERROR_SUCCESS;
};

} // namespace

HRESULT WriteBatteryChargeMode(CBattery* pBattery, DWORD dwMode) {
    if (IsNullArg(pBattery, L"WriteBatteryChargeMode", __LINE__, L"pBattery"))
        return E_POINTER;
    return pBattery->AslMethodWBCL(dwMode);
}

DWORD ImportConfigFile(LPCWSTR lpszPath, const CBatteryArray& batteries, ChargeModeWriter writer) {
    if (IsAnyNullArg({{lpszPath, L"lpszPath"}, {reinterpret_cast<const void*>(writer), L"writer"}},
                     L"ImportConfigFile", __LINE__))
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

    const FileMode modes[] = {ReadMode(kKeyMode, lpszPath), ReadMode(kKeyMode1, lpszPath),
                              ReadMode(kKeyMode2, lpszPath)};
    // The whole file is judged before any battery is touched: a refused
    // import changes nothing.
    for (const FileMode& mode : modes) {
        if (mode.found && !mode.valid) {
            WriteLog(L"ImportConfigFile", __LINE__, L"A charge mode in %s is not one to set.\n",
                     lpszPath);
            return ERROR_FUNCTION_FAILED;
        }
    }
    FileMode target[2];
    PlanModes(modes[0], modes[1], modes[2], target);

    // The administrator's enforced mode may be imported (it changes
    // nothing the policy would not); any other mode for a present battery
    // refuses the whole file.
    DWORD policy = 0;
    const bool enforced = GetPolicyChargeMode(&policy);

    // Each battery's present mode is read first, so that a write that fails
    // half-way can be undone.
    BatteryChange changes[2];
    size_t count = 0;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = batteries.GetBattery(battNo);
        if (!pBattery || !target[battNo - 1].found)
            continue;
        if (enforced && target[battNo - 1].mode != policy) {
            WriteLog(L"ImportConfigFile", __LINE__,
                     L"Battery %u: charge mode %u refused, the administrator enforces %u.\n",
                     battNo, target[battNo - 1].mode, policy);
            return ERROR_ACCESS_DISABLED_BY_POLICY;
        }
        BatteryChange& change = changes[count];
        change.battery = pBattery;
        change.newMode = target[battNo - 1].mode;
        const HRESULT hr = pBattery->GetChargeMode(&change.oldMode);
        if (FAILED(hr)) {
            WriteLog(L"ImportConfigFile", __LINE__,
                     L"Fail to GetChargeMode() of battery %u. hr: %08x.\n", battNo, hr);
            return ERROR_FUNCTION_FAILED;
        }
        ++count;
    }

    for (size_t i = 0; i < count; ++i) {
        const HRESULT hr = writer(changes[i].battery, changes[i].newMode);
        if (FAILED(hr)) {
            WriteLog(L"ImportConfigFile", __LINE__,
                     L"Fail to set charge mode %u of battery %u. hr: %08x.\n", changes[i].newMode,
                     changes[i].battery->GetBattNo(), hr);
            RollBack(changes, i, writer);
            return ERROR_FUNCTION_FAILED;
        }
    }
    for (size_t i = 0; i < count; ++i)
        OwnerChargeModeWritten(changes[i].battery->GetBattNo());
    return ERROR_SUCCESS;
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

    // The file is made (or opened) here first: for a path they cannot take,
    // the profile functions' own answer is not to be relied on (some report
    // success and write nothing), the file system's is.
    zb::UniqueHandle hFile(CreateFileW(lpszPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        const DWORD dwError = GetLastError();
        LogApiFailure(L"ExportConfigFile", __LINE__, L"CreateFile", dwError);
        return dwError;
    }
    hFile.Reset();

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
