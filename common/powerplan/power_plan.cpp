#include "common/powerplan/power_plan.h"

#include "common/log.h"

#include <strsafe.h>

namespace zbpower {

const GUID REFRESH_POWER_PLAN_GUID = {
    0xc112aae6, 0x9692, 0x45a9, {0x91, 0x30, 0x0a, 0xbf, 0x58, 0x0f, 0x06, 0xa5}};
const GUID POWER_NO_SUBGROUP_GUID = {
    0xfea3413e, 0x7e05, 0x4911, {0x9a, 0x71, 0x70, 0x03, 0x31, 0xf1, 0xc2, 0x94}};
const GUID POWER_PASSWORD_ON_WAKE_GUID = {
    0x0e796bdb, 0x100d, 0x47d6, {0xa2, 0xd5, 0xf7, 0xd2, 0xda, 0xa5, 0x1f, 0x51}};

namespace {

// The name field holds 512 bytes; the read is limited to 511 of them.
constexpr DWORD kFriendlyNameReadBytes = 511;

} // namespace

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

} // namespace zbpower
