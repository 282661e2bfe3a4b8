#include "refresh/power_plan.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/util.h"
#include "refresh/resource.h"

#include <strsafe.h>

namespace zbrefresh {

const GUID REFRESH_POWER_PLAN_GUID = {
    0xc112aae6, 0x9692, 0x45a9, {0x91, 0x30, 0x0a, 0xbf, 0x58, 0x0f, 0x06, 0xa5}};
const GUID POWER_NO_SUBGROUP_GUID = {
    0xfea3413e, 0x7e05, 0x4911, {0x9a, 0x71, 0x70, 0x03, 0x31, 0xf1, 0xc2, 0x94}};
const GUID POWER_PASSWORD_ON_WAKE_GUID = {
    0x0e796bdb, 0x100d, 0x47d6, {0xa2, 0xd5, 0xf7, 0xd2, 0xda, 0xa5, 0x1f, 0x51}};

namespace {

// The name field holds 512 bytes; the read is limited to 511 of them.
constexpr DWORD kFriendlyNameReadBytes = 511;

void LogPowerError(HWND hWnd, UINT uMessageId, DWORD dwCode) {
    WriteErrorLog(uMessageId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, GetErrorTextModule(hWnd));
}

} // namespace

HINSTANCE GetErrorTextModule(HWND hWnd) {
    if (hWnd) {
        if (auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWnd, GWLP_HINSTANCE)))
            return module;
    }
    return GetModuleHandleW(nullptr);
}

// ---------------------------------------------------------------------------
// CPowerScheme

CPowerScheme::CPowerScheme()
    : m_guid(GUID_NULL), m_szFriendlyName{}, m_bPasswordAC(false), m_bPasswordDC(false) {}

CPowerScheme::CPowerScheme(const GUID& guid) : CPowerScheme() {
    m_guid = guid;
}

CPowerScheme::CPowerScheme(const CPowerScheme& other) : CPowerScheme() {
    CopyDataFrom(other);
}

CPowerScheme& CPowerScheme::operator=(const CPowerScheme& other) {
    if (this != &other)
        CopyDataFrom(other);
    return *this;
}

void CPowerScheme::CopyDataFrom(const CPowerScheme& other) {
    m_guid = other.m_guid;
    StringCchCopyW(m_szFriendlyName, ARRAYSIZE(m_szFriendlyName), other.m_szFriendlyName);
    m_bPasswordAC = other.m_bPasswordAC;
    m_bPasswordDC = other.m_bPasswordDC;
}

bool CPowerScheme::IsEmpty() const {
    return IsEqualGUID(m_guid, GUID_NULL) != 0;
}

DWORD CPowerScheme::ImportScheme(LPCWSTR lpstrFileName, const GUID& guidScheme) {
    if (!lpstrFileName) {
        LogNullArg(L"CPowerScheme::ImportScheme", __LINE__, L"lpstrFileName");
        return ERROR_INVALID_PARAMETER;
    }
    GUID wanted = guidScheme;
    GUID* pGuid = &wanted;
    const DWORD rc = m_powrprof.PowerImportPowerScheme(nullptr, lpstrFileName, &pGuid);
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"CPowerScheme::ImportScheme", __LINE__, L"PowerImportPowerScheme", rc);
        return rc;
    }
    if (!pGuid)
        return ERROR_INVALID_DATA;
    m_guid = *pGuid;
    // The system hands out a buffer of its own only when it chose the identifier.
    if (pGuid != &wanted)
        LocalFree(pGuid);
    return ReadFriendlyName();
}

DWORD CPowerScheme::ReadFriendlyName() {
    m_szFriendlyName[0] = L'\0';
    DWORD cb = kFriendlyNameReadBytes;
    DWORD rc = m_powrprof.PowerReadFriendlyName(nullptr, &m_guid, nullptr, nullptr,
                                                reinterpret_cast<UCHAR*>(m_szFriendlyName), &cb);
    if (rc == ERROR_MORE_DATA) {
        // Longer than the field: the plan is still usable, its name stays empty.
        m_szFriendlyName[0] = L'\0';
        rc = ERROR_SUCCESS;
    }
    m_szFriendlyName[ARRAYSIZE(m_szFriendlyName) - 1] = L'\0';
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"CPowerScheme::ReadFriendlyName", __LINE__, L"PowerReadFriendlyName", rc);
        return rc;
    }

    DWORD value = 0;
    rc = m_powrprof.PowerReadACValueIndex(nullptr, &m_guid, &POWER_NO_SUBGROUP_GUID,
                                          &POWER_PASSWORD_ON_WAKE_GUID, &value);
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"CPowerScheme::ReadFriendlyName", __LINE__, L"PowerReadACValueIndex", rc);
        return rc;
    }
    m_bPasswordAC = value != 0;
    rc = m_powrprof.PowerReadDCValueIndex(nullptr, &m_guid, &POWER_NO_SUBGROUP_GUID,
                                          &POWER_PASSWORD_ON_WAKE_GUID, &value);
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"CPowerScheme::ReadFriendlyName", __LINE__, L"PowerReadDCValueIndex", rc);
        return rc;
    }
    m_bPasswordDC = value != 0;
    return ERROR_SUCCESS;
}

DWORD CPowerScheme::GetActiveScheme() {
    GUID* pActive = nullptr;
    const DWORD rc = m_powrprof.PowerGetActiveScheme(nullptr, &pActive);
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"CPowerScheme::GetActiveScheme", __LINE__, L"PowerGetActiveScheme", rc);
        return rc;
    }
    if (!pActive)
        return ERROR_INVALID_DATA;
    m_guid = *pActive;
    LocalFree(pActive);
    return ReadFriendlyName();
}

DWORD CPowerScheme::SetActiveScheme() {
    if (IsEmpty())
        return ERROR_INVALID_PARAMETER;
    const DWORD rc = m_powrprof.PowerSetActiveScheme(nullptr, &m_guid);
    if (rc != ERROR_SUCCESS)
        LogApiFailure(L"CPowerScheme::SetActiveScheme", __LINE__, L"PowerSetActiveScheme", rc);
    return rc;
}

DWORD CPowerScheme::DeleteScheme() {
    if (IsEmpty())
        return ERROR_INVALID_PARAMETER;
    const DWORD rc = m_powrprof.PowerDeleteScheme(nullptr, &m_guid);
    if (rc != ERROR_SUCCESS)
        LogApiFailure(L"CPowerScheme::DeleteScheme", __LINE__, L"PowerDeleteScheme", rc);
    return rc;
}

// ---------------------------------------------------------------------------
// CPowerSchemeArray

DWORD CPowerSchemeArray::EnumPowerScheme() {
    m_schemes.clear();
    // One wrapper for the enumeration itself; each listed plan has its own.
    CPowrProfWrapper powrprof;
    for (ULONG index = 0;; ++index) {
        GUID guid = GUID_NULL;
        DWORD cb = sizeof(guid);
        const DWORD rc = powrprof.PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, index,
                                                 reinterpret_cast<UCHAR*>(&guid), &cb);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) {
            LogApiFailure(L"CPowerSchemeArray::EnumPowerScheme", __LINE__, L"PowerEnumerate", rc);
            return rc;
        }
        CPowerScheme scheme(guid);
        const DWORD rcName = scheme.ReadFriendlyName();
        if (rcName != ERROR_SUCCESS) {
            WriteLog(L"CPowerSchemeArray::EnumPowerScheme", __LINE__,
                     L"Fail to ReadFriendlyName(): %d.\n", rcName);
            return rcName;
        }
        m_schemes.push_back(scheme);
    }
}

CPowerScheme CPowerSchemeArray::GetPowerScheme(const GUID* lpGUID) const {
    if (!lpGUID) {
        LogNullArg(L"CPowerSchemeArray::GetPowerScheme", __LINE__, L"lpGUID");
        return CPowerScheme();
    }
    for (const CPowerScheme& scheme : m_schemes) {
        if (IsEqualGUID(scheme.GetGuid(), *lpGUID))
            return scheme;
    }
    return CPowerScheme();
}

// ---------------------------------------------------------------------------
// Entry points of the refresh window

void StorePowerPlan(HWND hWnd, CPowerScheme* pPs2) {
    if (!pPs2) {
        LogNullArg(L"StorePowerPlan", __LINE__, L"pPs2");
        return;
    }
    CPowerScheme active;
    DWORD rc = active.GetActiveScheme();
    if (rc != ERROR_SUCCESS) {
        LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
        // Without the user's plan there would be nothing to return to.
        if (active.IsEmpty())
            return;
    }
    if (IsEqualGUID(active.GetGuid(), REFRESH_POWER_PLAN_GUID)) {
        // Left active by a run that died: "UserPowerPlan" still names the
        // user's plan and must not be overwritten with ours, and our plan
        // is to go at the end like any other time.
        WriteLog(L"StorePowerPlan", __LINE__, L"リフレッシュプランが有効のままです\n");
        *pPs2 = active;
        return;
    }

    WCHAR szPath[MAX_PATH] = {};
    rc = GetCurrentPath(szPath, ARRAYSIZE(szPath));
    if (rc == ERROR_SUCCESS &&
        FAILED(StringCchCatW(szPath, ARRAYSIZE(szPath), REFRESH_PLAN_FILE_NAME)))
        rc = ERROR_INSUFFICIENT_BUFFER;
    if (rc != ERROR_SUCCESS) {
        LogPowerError(hWnd, IDS_ERR_MODULE_PATH, rc);
        return;
    }

    WriteLog(L"StorePowerPlan", __LINE__, L"リフレッシュプランが存在するかチェックします\n");
    CPowerSchemeArray plans;
    plans.EnumPowerScheme();
    *pPs2 = plans.GetPowerScheme(&REFRESH_POWER_PLAN_GUID);
    if (pPs2->IsEmpty()) {
        WriteLog(L"StorePowerPlan", __LINE__, L"リフレッシュプランをインポートします\n");
        rc = pPs2->ImportScheme(szPath, REFRESH_POWER_PLAN_GUID);
        if (rc != ERROR_SUCCESS)
            LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
    }

    // The user's plan is saved before it is replaced: a plan switched
    // without its record could never be given back.
    const HRESULT hr = SetRegUserPowerPlan(&active.GetGuid());
    if (FAILED(hr)) {
        LogPowerError(hWnd, IDS_ERR_USER_PLAN_WRITE, static_cast<DWORD>(hr));
        return;
    }
    rc = pPs2->SetActiveScheme();
    if (rc != ERROR_SUCCESS)
        LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
}

void RestorePowerPlan(HWND hWnd, CPowerScheme* pPs2) {
    if (!pPs2) {
        LogNullArg(L"RestorePowerPlan", __LINE__, L"pPs2");
        return;
    }
    GUID userPlan = GUID_NULL;
    HRESULT hr = GetRegUserPowerPlan(&userPlan);
    if (FAILED(hr)) {
        LogPowerError(hWnd, IDS_ERR_USER_PLAN_READ, static_cast<DWORD>(hr));
        return;
    }

    CPowerScheme user(userPlan);
    DWORD rc = user.SetActiveScheme();
    WriteLog(L"RestorePowerPlan", __LINE__, L"SetActiveScheme=%x\n", rc);
    if (rc != ERROR_SUCCESS) {
        LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
    } else {
        WriteLog(L"RestorePowerPlan", __LINE__, L"レジストリを削除します\n");
        hr = DelRegUserPowerPlan();
        if (FAILED(hr)) {
            LogPowerError(hWnd, IDS_ERR_USER_PLAN_DELETE, static_cast<DWORD>(hr));
            return;
        }
    }

    rc = pPs2->DeleteScheme();
    WriteLog(L"RestorePowerPlan", __LINE__, L"DeleteScheme=%x\n", rc);
    if (rc != ERROR_SUCCESS)
        LogPowerError(hWnd, IDS_ERR_POWER_PLAN, rc);
}

DWORD ActivateRefreshPlan(CPowerScheme& refreshPlan) {
    return refreshPlan.SetActiveScheme();
}

bool IsRefreshPlanReplaced(const CPowerScheme& refreshPlan) {
    if (refreshPlan.IsEmpty())
        return false;
    CPowerScheme active;
    active.GetActiveScheme();
    if (active.IsEmpty())
        return false;
    return IsEqualGUID(active.GetGuid(), refreshPlan.GetGuid()) == 0;
}

} // namespace zbrefresh
