#include "sim/powrprof/power_store.h"

#include "common/handles.h"

#include <strsafe.h>

#include <stdio.h>
#include <wchar.h>

#include <algorithm>

namespace simpower {

const GUID kBalancedPlan = {
    0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
const GUID kHighPerformancePlan = {
    0x8c5e7fda, 0xe8bf, 0x4a96, {0x9a, 0x85, 0xa6, 0xe2, 0x3a, 0x8c, 0x63, 0x5c}};
const GUID kPowerSaverPlan = {
    0xa1841308, 0x3541, 0x4fab, {0xbc, 0x81, 0xf7, 0x15, 0x56, 0xf2, 0x0b, 0x4a}};
const GUID kNoSubgroup = {
    0xfea3413e, 0x7e05, 0x4911, {0x9a, 0x71, 0x70, 0x03, 0x31, 0xf1, 0xc2, 0x94}};
const GUID kSleepSubgroup = {
    0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}};
const GUID kStandbyTimeout = {
    0x29f6c1db, 0x86da, 0x48c5, {0x9f, 0xdb, 0xf2, 0xb6, 0x7b, 0x1f, 0x44, 0xda}};
const GUID kHibernateTimeout = {
    0x9d7815a6, 0x7ee4, 0x497e, {0x88, 0x88, 0x51, 0x5a, 0x05, 0xf0, 0x23, 0x64}};
const GUID kVideoSubgroup = {
    0x7516b95f, 0xf776, 0x4464, {0x8c, 0x53, 0x06, 0x16, 0x7f, 0x40, 0xcc, 0x99}};
const GUID kVideoTimeout = {
    0x3c0bc021, 0xc8a8, 0x4e07, {0xa9, 0x73, 0x6b, 0x14, 0xcb, 0xcb, 0x2b, 0x7e}};
const GUID kDiskSubgroup = {
    0x0012ee47, 0x9041, 0x4b5d, {0x9b, 0x77, 0x53, 0x5f, 0xba, 0x8b, 0x14, 0x42}};
const GUID kDiskTimeout = {
    0x6738e2c4, 0xe8a5, 0x4a42, {0xb1, 0x6a, 0xe0, 0x40, 0xe7, 0x69, 0x75, 0x6e}};
const GUID kBatterySubgroup = {
    0xe73a048d, 0xbf27, 0x4f12, {0x97, 0x31, 0x8b, 0x20, 0x76, 0xe8, 0x89, 0x1f}};
const GUID kCriticalBatteryAction = {
    0x637ea02f, 0xbbcb, 0x4015, {0x8e, 0x2c, 0xa1, 0xc7, 0xb9, 0xc0, 0xb5, 0x46}};
const GUID kLowBatteryAction = {
    0xd8742dcb, 0x3e6a, 0x4b3c, {0xb3, 0xfe, 0x37, 0x46, 0x23, 0xcd, 0xcf, 0x06}};
const GUID kLockConsoleOnWake = {
    0x0e796bdb, 0x100d, 0x47d6, {0xa2, 0xd5, 0xf7, 0xd2, 0xda, 0xa5, 0x1f, 0x51}};

namespace {

const wchar_t kPlansKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
const wchar_t kActivePlanValue[] = L"ActivePowerScheme";
const wchar_t kFriendlyNameValue[] = L"FriendlyName";
const wchar_t kDescriptionValue[] = L"Description";
const wchar_t kAcIndexValue[] = L"ACSettingIndex";
const wchar_t kDcIndexValue[] = L"DCSettingIndex";

const wchar_t kXpKey[] = L"Control Panel\\PowerCfg";
const wchar_t kXpSchemesKey[] = L"Control Panel\\PowerCfg\\PowerPolicies";
const wchar_t kXpGlobalKey[] = L"Control Panel\\PowerCfg\\GlobalPowerPolicy";
const wchar_t kXpActiveValue[] = L"CurrentPowerPolicy";
const wchar_t kXpLastIdValue[] = L"LastID";
const wchar_t kXpNameValue[] = L"Name";
const wchar_t kXpDescriptionValue[] = L"Description";
const wchar_t kXpPoliciesValue[] = L"Policies";

const wchar_t kLockName[] = L"Global\\zbsim.power.lock";
const DWORD kLockTimeoutMs = 10000;

// ---- Lock ------------------------------------------------------------------

HANDLE StoreMutex() {
    static HANDLE mutex = CreateMutexW(nullptr, FALSE, kLockName);
    return mutex;
}

class StoreLock {
public:
    StoreLock() {
        HANDLE mutex = StoreMutex();
        if (!mutex)
            return;
        const DWORD wait = WaitForSingleObject(mutex, kLockTimeoutMs);
        // An owner that died without releasing left the store as it was:
        // every write below is a single registry call or is redone by seeding.
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            held_ = mutex;
    }
    ~StoreLock() {
        if (held_)
            ReleaseMutex(held_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Held() const { return held_ != nullptr; }

private:
    HANDLE held_ = nullptr;
};

// ---- Registry --------------------------------------------------------------

DWORD OpenKey(HKEY root, const std::wstring& path, bool create, zb::UniqueRegKey* key) {
    if (create)
        return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                               key->Put(), nullptr);
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key->Put());
}

DWORD ReadText(HKEY key, const wchar_t* name, std::wstring* text) {
    DWORD type = 0;
    DWORD cb = 0;
    DWORD rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &cb);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    std::vector<wchar_t> buffer(cb / sizeof(wchar_t) + 1, L'\0');
    cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &cb);
    if (rc != ERROR_SUCCESS)
        return rc;
    buffer.back() = L'\0';
    text->assign(buffer.data());
    return ERROR_SUCCESS;
}

DWORD WriteText(HKEY key, const wchar_t* name, const wchar_t* text) {
    const DWORD cb = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), cb);
}

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
    DWORD type = 0;
    DWORD cb = sizeof(*value);
    const DWORD rc =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &cb);
    if (rc != ERROR_SUCCESS)
        return rc;
    return (type == REG_DWORD && cb == sizeof(*value)) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD WriteDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        DWORD cch = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name);
    }
    return names;
}

// ---- Plans -----------------------------------------------------------------

std::wstring PlanPath(const GUID& plan) {
    return std::wstring(kPlansKey) + L"\\" + GuidToText(plan);
}

std::wstring SettingPath(const GUID& plan, const GUID* subgroup, const GUID& setting) {
    return PlanPath(plan) + L"\\" + GuidToText(subgroup ? *subgroup : kNoSubgroup) + L"\\" +
           GuidToText(setting);
}

struct KnownSetting {
    const GUID* subgroup;
    const GUID* setting;
    DWORD ac;
    DWORD dc;
    const wchar_t* label;
};

// Defaults of the settings the simulation knows, as a plan without its own
// value reads them.
const KnownSetting kKnownSettings[] = {
    {&kSleepSubgroup, &kStandbyTimeout, 1800, 900, L"sleep"},
    {&kSleepSubgroup, &kHibernateTimeout, 0, 10800, L"hibernate"},
    {&kVideoSubgroup, &kVideoTimeout, 600, 300, L"display off"},
    {&kDiskSubgroup, &kDiskTimeout, 1200, 600, L"disk off"},
    {&kBatterySubgroup, &kCriticalBatteryAction, 2, 2, L"critical battery action"},
    {&kBatterySubgroup, &kLowBatteryAction, 0, 0, L"low battery action"},
    {&kNoSubgroup, &kLockConsoleOnWake, 1, 1, L"password on wake"},
};

const KnownSetting* FindKnownSetting(const GUID& subgroup, const GUID& setting) {
    for (const KnownSetting& known : kKnownSettings) {
        if (IsEqualGUID(*known.subgroup, subgroup) && IsEqualGUID(*known.setting, setting))
            return &known;
    }
    return nullptr;
}

DWORD WritePlanLocked(const PowerPlan& plan) {
    zb::UniqueRegKey key;
    DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, PlanPath(plan.guid), true, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    if ((rc = WriteText(key.Get(), kFriendlyNameValue, plan.name.c_str())) != ERROR_SUCCESS ||
        (rc = WriteText(key.Get(), kDescriptionValue, plan.description.c_str())) != ERROR_SUCCESS)
        return rc;
    for (const PlanSetting& s : plan.settings) {
        zb::UniqueRegKey settingKey;
        rc = OpenKey(HKEY_LOCAL_MACHINE, SettingPath(plan.guid, &s.subgroup, s.setting), true,
                     &settingKey);
        if (rc != ERROR_SUCCESS)
            return rc;
        if ((rc = WriteDword(settingKey.Get(), kAcIndexValue, s.ac)) != ERROR_SUCCESS ||
            (rc = WriteDword(settingKey.Get(), kDcIndexValue, s.dc)) != ERROR_SUCCESS)
            return rc;
    }
    return ERROR_SUCCESS;
}

PowerPlan SeedPlan(const GUID& guid, const wchar_t* name, const wchar_t* description, DWORD sleepAc,
                   DWORD sleepDc, DWORD videoAc, DWORD videoDc) {
    PowerPlan plan{guid, name, description, {}};
    plan.settings = {
        {kSleepSubgroup, kStandbyTimeout, sleepAc, sleepDc},
        {kSleepSubgroup, kHibernateTimeout, 0, 10800},
        {kVideoSubgroup, kVideoTimeout, videoAc, videoDc},
        {kDiskSubgroup, kDiskTimeout, 1200, 600},
        {kNoSubgroup, kLockConsoleOnWake, 1, 1},
    };
    return plan;
}

// Creates the usual three plans when the store is new (or was reset).
DWORD EnsurePlansLocked() {
    zb::UniqueRegKey key;
    DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, kPlansKey, true, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    std::wstring active;
    if (ReadText(key.Get(), kActivePlanValue, &active) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    const PowerPlan seeds[] = {
        SeedPlan(kBalancedPlan, L"バランス", L"必要に応じてパフォーマンスと消費電力を調整します。",
                 1800, 900, 600, 300),
        SeedPlan(kHighPerformancePlan, L"高パフォーマンス", L"パフォーマンスを優先します。", 3600,
                 1800, 900, 600),
        SeedPlan(kPowerSaverPlan, L"省電力", L"できる限り消費電力を抑えます。", 900, 600, 300, 120),
    };
    for (const PowerPlan& plan : seeds) {
        if (!PlanExists(plan.guid) && (rc = WritePlanLocked(plan)) != ERROR_SUCCESS)
            return rc;
    }
    return WriteText(key.Get(), kActivePlanValue, GuidToText(kBalancedPlan).c_str());
}

// Runs body under the lock on a seeded plan store.
template <typename F> DWORD WithPlans(F&& body) {
    StoreLock lock;
    if (!lock.Held())
        return ERROR_TIMEOUT;
    const DWORD rc = EnsurePlansLocked();
    if (rc != ERROR_SUCCESS)
        return rc;
    return body();
}

DWORD OpenPlan(const GUID& plan, zb::UniqueRegKey* key) {
    const DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, PlanPath(plan), false, key);
    return rc == ERROR_SUCCESS ? rc : ERROR_FILE_NOT_FOUND;
}

// ---- XP schemes ------------------------------------------------------------

std::wstring XpSchemePath(UINT index) {
    return std::wstring(kXpSchemesKey) + L"\\" + std::to_wstring(index);
}

bool ParseIndex(const std::wstring& text, UINT* index) {
    if (text.empty() || text.size() > 9)
        return false;
    UINT value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<UINT>(c - L'0');
    }
    *index = value;
    return true;
}

POWER_POLICY MakeXpPolicy(ULONG videoAc, ULONG videoDc, ULONG idleAc, ULONG idleDc, ULONG spinAc,
                          ULONG spinDc, ULONG hibernateAc, ULONG hibernateDc) {
    POWER_POLICY p = {};
    p.user.Revision = 1;
    p.user.IdleAc.Action = PowerActionSleep;
    p.user.IdleDc.Action = PowerActionSleep;
    p.user.IdleTimeoutAc = idleAc;
    p.user.IdleTimeoutDc = idleDc;
    p.user.IdleSensitivityAc = 50;
    p.user.IdleSensitivityDc = 50;
    p.user.MaxSleepAc = PowerSystemSleeping3;
    p.user.MaxSleepDc = PowerSystemSleeping3;
    p.user.VideoTimeoutAc = videoAc;
    p.user.VideoTimeoutDc = videoDc;
    p.user.SpindownTimeoutAc = spinAc;
    p.user.SpindownTimeoutDc = spinDc;
    p.user.OptimizeForPowerDc = TRUE;
    p.mach.Revision = 1;
    p.mach.MinSleepAc = PowerSystemSleeping1;
    p.mach.MinSleepDc = PowerSystemSleeping1;
    p.mach.ReducedLatencySleepAc = PowerSystemSleeping1;
    p.mach.ReducedLatencySleepDc = PowerSystemSleeping1;
    p.mach.DozeS4TimeoutAc = hibernateAc;
    p.mach.DozeS4TimeoutDc = hibernateDc;
    return p;
}

DWORD WriteXpSchemeLocked(UINT index, const wchar_t* name, const wchar_t* description,
                          const POWER_POLICY& policy) {
    zb::UniqueRegKey key;
    DWORD rc = OpenKey(HKEY_CURRENT_USER, XpSchemePath(index), true, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    if ((rc = WriteText(key.Get(), kXpNameValue, name)) != ERROR_SUCCESS ||
        (rc = WriteText(key.Get(), kXpDescriptionValue, description)) != ERROR_SUCCESS)
        return rc;
    return RegSetValueExW(key.Get(), kXpPoliciesValue, 0, REG_BINARY,
                          reinterpret_cast<const BYTE*>(&policy), sizeof(policy));
}

DWORD ReadXpSchemeLocked(UINT index, XpScheme* scheme) {
    zb::UniqueRegKey key;
    if (OpenKey(HKEY_CURRENT_USER, XpSchemePath(index), false, &key) != ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    scheme->index = index;
    DWORD rc = ReadText(key.Get(), kXpNameValue, &scheme->name);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (ReadText(key.Get(), kXpDescriptionValue, &scheme->description) != ERROR_SUCCESS)
        scheme->description.clear();
    DWORD type = 0;
    DWORD cb = sizeof(scheme->policy);
    rc = RegQueryValueExW(key.Get(), kXpPoliciesValue, nullptr, &type,
                          reinterpret_cast<BYTE*>(&scheme->policy), &cb);
    if (rc != ERROR_SUCCESS)
        return rc;
    return (type == REG_BINARY && cb == sizeof(scheme->policy)) ? ERROR_SUCCESS
                                                                : ERROR_INVALID_DATA;
}

DWORD ReadXpNumber(const wchar_t* name, UINT* value) {
    zb::UniqueRegKey key;
    DWORD rc = OpenKey(HKEY_CURRENT_USER, kXpKey, false, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    std::wstring text;
    if ((rc = ReadText(key.Get(), name, &text)) != ERROR_SUCCESS)
        return rc;
    return ParseIndex(text, value) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD WriteXpNumber(const wchar_t* name, UINT value) {
    zb::UniqueRegKey key;
    const DWORD rc = OpenKey(HKEY_CURRENT_USER, kXpKey, true, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    return WriteText(key.Get(), name, std::to_wstring(value).c_str());
}

// Creates XP's six schemes ("Portable/Laptop" active) when the store is new.
DWORD EnsureXpLocked() {
    zb::UniqueRegKey key;
    if (OpenKey(HKEY_CURRENT_USER, kXpSchemesKey, false, &key) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    struct Seed {
        const wchar_t* name;
        POWER_POLICY policy;
    };
    const Seed seeds[] = {
        {L"自宅または会社のデスク", MakeXpPolicy(1200, 300, 0, 1200, 0, 600, 0, 0)},
        {L"ポータブル/ラップトップ", MakeXpPolicy(900, 300, 1200, 300, 1800, 600, 10800, 7200)},
        {L"プレゼンテーション", MakeXpPolicy(0, 0, 0, 300, 0, 300, 0, 0)},
        {L"常にオン", MakeXpPolicy(1200, 1200, 0, 0, 3600, 3600, 0, 0)},
        {L"最小の電源管理", MakeXpPolicy(900, 300, 0, 0, 0, 900, 0, 0)},
        {L"バッテリの最大利用", MakeXpPolicy(900, 120, 1200, 120, 0, 60, 0, 3600)},
    };
    DWORD rc = ERROR_SUCCESS;
    for (UINT i = 0; i < ARRAYSIZE(seeds); ++i) {
        if ((rc = WriteXpSchemeLocked(i, seeds[i].name, L"", seeds[i].policy)) != ERROR_SUCCESS)
            return rc;
    }
    if ((rc = WriteXpNumber(kXpLastIdValue, ARRAYSIZE(seeds) - 1)) != ERROR_SUCCESS)
        return rc;
    return WriteXpNumber(kXpActiveValue, 1);
}

template <typename F> DWORD WithXp(F&& body) {
    StoreLock lock;
    if (!lock.Held())
        return ERROR_TIMEOUT;
    const DWORD rc = EnsureXpLocked();
    if (rc != ERROR_SUCCESS)
        return rc;
    return body();
}

std::wstring Seconds(DWORD seconds) {
    return seconds == 0 ? std::wstring(L"never") : std::to_wstring(seconds) + L" s";
}

} // namespace

// ---- Identifiers -----------------------------------------------------------

std::wstring GuidToText(const GUID& g) {
    wchar_t text[40] = {};
    StringCchPrintfW(text, ARRAYSIZE(text), L"%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                     static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                     g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool GuidFromText(const wchar_t* text, GUID* guid) {
    if (!text || !guid)
        return false;
    std::wstring t(text);
    if (t.size() == 38 && t.front() == L'{' && t.back() == L'}')
        t = t.substr(1, 36);
    if (t.size() != 36)
        return false;
    unsigned char bytes[16] = {};
    size_t n = 0;
    for (size_t i = 0; i < t.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (t[i] != L'-')
                return false;
            ++i;
            continue;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k, ++i) {
            const wchar_t c = t[i];
            int digit = -1;
            if (c >= L'0' && c <= L'9')
                digit = c - L'0';
            else if (c >= L'a' && c <= L'f')
                digit = c - L'a' + 10;
            else if (c >= L'A' && c <= L'F')
                digit = c - L'A' + 10;
            if (digit < 0 || i == 8 || i == 13 || i == 18 || i == 23)
                return false;
            value = value * 16 + digit;
        }
        bytes[n++] = static_cast<unsigned char>(value);
    }
    guid->Data1 = (static_cast<DWORD>(bytes[0]) << 24) | (static_cast<DWORD>(bytes[1]) << 16) |
                  (static_cast<DWORD>(bytes[2]) << 8) | bytes[3];
    guid->Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
    guid->Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
    memcpy(guid->Data4, bytes + 8, 8);
    return true;
}

bool IsNullGuid(const GUID& guid) {
    return IsEqualGUID(guid, GUID_NULL) != 0;
}

// ---- Plans -----------------------------------------------------------------

DWORD ListPlans(std::vector<GUID>* plans) {
    plans->clear();
    return WithPlans([&]() -> DWORD {
        zb::UniqueRegKey key;
        const DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, kPlansKey, false, &key);
        if (rc != ERROR_SUCCESS)
            return rc;
        for (const std::wstring& name : SubkeyNames(key.Get())) {
            GUID guid;
            if (GuidFromText(name.c_str(), &guid))
                plans->push_back(guid);
        }
        return ERROR_SUCCESS;
    });
}

bool PlanExists(const GUID& plan) {
    zb::UniqueRegKey key;
    return OpenPlan(plan, &key) == ERROR_SUCCESS;
}

DWORD GetActivePlan(GUID* plan) {
    return WithPlans([&]() -> DWORD {
        zb::UniqueRegKey key;
        DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, kPlansKey, false, &key);
        if (rc != ERROR_SUCCESS)
            return rc;
        std::wstring text;
        if ((rc = ReadText(key.Get(), kActivePlanValue, &text)) != ERROR_SUCCESS)
            return rc;
        return GuidFromText(text.c_str(), plan) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
    });
}

DWORD SetActivePlan(const GUID& plan) {
    return WithPlans([&]() -> DWORD {
        if (!PlanExists(plan))
            return ERROR_FILE_NOT_FOUND;
        zb::UniqueRegKey key;
        const DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, kPlansKey, false, &key);
        if (rc != ERROR_SUCCESS)
            return rc;
        return WriteText(key.Get(), kActivePlanValue, GuidToText(plan).c_str());
    });
}

DWORD CreatePlan(const PowerPlan& plan) {
    return WithPlans([&]() -> DWORD {
        if (IsNullGuid(plan.guid))
            return ERROR_INVALID_PARAMETER;
        if (PlanExists(plan.guid))
            return ERROR_ALREADY_EXISTS;
        const DWORD rc = WritePlanLocked(plan);
        if (rc != ERROR_SUCCESS)
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, PlanPath(plan.guid).c_str());
        return rc;
    });
}

DWORD DeletePlan(const GUID& plan) {
    return WithPlans([&]() -> DWORD {
        if (!PlanExists(plan))
            return ERROR_FILE_NOT_FOUND;
        GUID active = GUID_NULL;
        zb::UniqueRegKey key;
        DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, kPlansKey, false, &key);
        if (rc != ERROR_SUCCESS)
            return rc;
        std::wstring text;
        if (ReadText(key.Get(), kActivePlanValue, &text) == ERROR_SUCCESS &&
            GuidFromText(text.c_str(), &active) && IsEqualGUID(active, plan))
            return ERROR_ACCESS_DENIED;
        return RegDeleteTreeW(key.Get(), GuidToText(plan).c_str());
    });
}

DWORD DuplicatePlan(const GUID& source, const GUID& target) {
    return WithPlans([&]() -> DWORD {
        zb::UniqueRegKey from;
        if (OpenPlan(source, &from) != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        if (IsNullGuid(target))
            return ERROR_INVALID_PARAMETER;
        if (PlanExists(target))
            return ERROR_ALREADY_EXISTS;
        zb::UniqueRegKey to;
        DWORD rc = OpenKey(HKEY_LOCAL_MACHINE, PlanPath(target), true, &to);
        if (rc != ERROR_SUCCESS)
            return rc;
        rc = RegCopyTreeW(from.Get(), nullptr, to.Get());
        if (rc != ERROR_SUCCESS) {
            to.Reset();
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, PlanPath(target).c_str());
        }
        return rc;
    });
}

DWORD ReadPlanText(const GUID& plan, PlanText which, std::wstring* text) {
    return WithPlans([&]() -> DWORD {
        zb::UniqueRegKey key;
        if (OpenPlan(plan, &key) != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        const DWORD rc = ReadText(
            key.Get(), which == PlanText::FriendlyName ? kFriendlyNameValue : kDescriptionValue,
            text);
        if (rc == ERROR_FILE_NOT_FOUND)
            text->clear();
        return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    });
}

DWORD WritePlanText(const GUID& plan, PlanText which, const wchar_t* text) {
    return WithPlans([&]() -> DWORD {
        zb::UniqueRegKey key;
        if (OpenPlan(plan, &key) != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        return WriteText(key.Get(),
                         which == PlanText::FriendlyName ? kFriendlyNameValue : kDescriptionValue,
                         text);
    });
}

DWORD ReadValueIndex(const GUID& plan, const GUID* subgroup, const GUID& setting, bool ac,
                     DWORD* value) {
    return WithPlans([&]() -> DWORD {
        if (!PlanExists(plan))
            return ERROR_FILE_NOT_FOUND;
        zb::UniqueRegKey key;
        if (OpenKey(HKEY_LOCAL_MACHINE, SettingPath(plan, subgroup, setting), false, &key) ==
                ERROR_SUCCESS &&
            ReadDword(key.Get(), ac ? kAcIndexValue : kDcIndexValue, value) == ERROR_SUCCESS)
            return ERROR_SUCCESS;
        const KnownSetting* known = FindKnownSetting(subgroup ? *subgroup : kNoSubgroup, setting);
        if (!known)
            return ERROR_FILE_NOT_FOUND;
        *value = ac ? known->ac : known->dc;
        return ERROR_SUCCESS;
    });
}

DWORD WriteValueIndex(const GUID& plan, const GUID* subgroup, const GUID& setting, bool ac,
                      DWORD value) {
    return WithPlans([&]() -> DWORD {
        if (!PlanExists(plan))
            return ERROR_FILE_NOT_FOUND;
        zb::UniqueRegKey key;
        const DWORD rc =
            OpenKey(HKEY_LOCAL_MACHINE, SettingPath(plan, subgroup, setting), true, &key);
        if (rc != ERROR_SUCCESS)
            return rc;
        return WriteDword(key.Get(), ac ? kAcIndexValue : kDcIndexValue, value);
    });
}

DWORD ListSubgroups(const GUID& plan, std::vector<GUID>* subgroups) {
    subgroups->clear();
    return WithPlans([&]() -> DWORD {
        zb::UniqueRegKey key;
        if (OpenPlan(plan, &key) != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        for (const std::wstring& name : SubkeyNames(key.Get())) {
            GUID guid;
            if (GuidFromText(name.c_str(), &guid))
                subgroups->push_back(guid);
        }
        return ERROR_SUCCESS;
    });
}

DWORD ListSettings(const GUID& plan, const GUID* subgroup, std::vector<GUID>* settings) {
    settings->clear();
    return WithPlans([&]() -> DWORD {
        if (!PlanExists(plan))
            return ERROR_FILE_NOT_FOUND;
        zb::UniqueRegKey key;
        const std::wstring path =
            PlanPath(plan) + L"\\" + GuidToText(subgroup ? *subgroup : kNoSubgroup);
        if (OpenKey(HKEY_LOCAL_MACHINE, path, false, &key) != ERROR_SUCCESS)
            return ERROR_SUCCESS;
        for (const std::wstring& name : SubkeyNames(key.Get())) {
            GUID guid;
            if (GuidFromText(name.c_str(), &guid))
                settings->push_back(guid);
        }
        return ERROR_SUCCESS;
    });
}

// ---- Schemes (Windows XP) --------------------------------------------------

DWORD ListXpSchemes(std::vector<XpScheme>* schemes) {
    schemes->clear();
    return WithXp([&]() -> DWORD {
        zb::UniqueRegKey key;
        const DWORD rc = OpenKey(HKEY_CURRENT_USER, kXpSchemesKey, false, &key);
        if (rc != ERROR_SUCCESS)
            return rc;
        for (const std::wstring& name : SubkeyNames(key.Get())) {
            UINT index = 0;
            XpScheme scheme;
            if (ParseIndex(name, &index) && ReadXpSchemeLocked(index, &scheme) == ERROR_SUCCESS)
                schemes->push_back(scheme);
        }
        std::sort(schemes->begin(), schemes->end(),
                  [](const XpScheme& a, const XpScheme& b) { return a.index < b.index; });
        return ERROR_SUCCESS;
    });
}

DWORD ReadXpScheme(UINT index, XpScheme* scheme) {
    return WithXp([&]() -> DWORD { return ReadXpSchemeLocked(index, scheme); });
}

DWORD WriteXpScheme(UINT* index, const wchar_t* name, const wchar_t* description,
                    const POWER_POLICY& policy) {
    return WithXp([&]() -> DWORD {
        XpScheme existing;
        UINT target = *index;
        if (target == NEWSCHEME || ReadXpSchemeLocked(target, &existing) != ERROR_SUCCESS) {
            UINT last = 0;
            if (ReadXpNumber(kXpLastIdValue, &last) != ERROR_SUCCESS)
                last = 0;
            target = last + 1;
            const DWORD rc = WriteXpNumber(kXpLastIdValue, target);
            if (rc != ERROR_SUCCESS)
                return rc;
        }
        const DWORD rc = WriteXpSchemeLocked(target, name, description, policy);
        if (rc == ERROR_SUCCESS)
            *index = target;
        return rc;
    });
}

DWORD DeleteXpScheme(UINT index) {
    return WithXp([&]() -> DWORD {
        XpScheme scheme;
        if (ReadXpSchemeLocked(index, &scheme) != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        UINT active = 0;
        if (ReadXpNumber(kXpActiveValue, &active) == ERROR_SUCCESS && active == index)
            return ERROR_ACCESS_DENIED;
        return RegDeleteTreeW(HKEY_CURRENT_USER, XpSchemePath(index).c_str());
    });
}

DWORD GetActiveXpScheme(UINT* index) {
    return WithXp([&]() -> DWORD { return ReadXpNumber(kXpActiveValue, index); });
}

DWORD SetActiveXpScheme(UINT index, const GLOBAL_POWER_POLICY* global, const POWER_POLICY* policy) {
    return WithXp([&]() -> DWORD {
        XpScheme scheme;
        if (ReadXpSchemeLocked(index, &scheme) != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        DWORD rc = ERROR_SUCCESS;
        if (policy &&
            (rc = WriteXpSchemeLocked(index, scheme.name.c_str(), scheme.description.c_str(),
                                      *policy)) != ERROR_SUCCESS)
            return rc;
        if (global && (rc = WriteXpGlobalPolicy(*global)) != ERROR_SUCCESS)
            return rc;
        return WriteXpNumber(kXpActiveValue, index);
    });
}

DWORD ReadXpGlobalPolicy(GLOBAL_POWER_POLICY* global) {
    return WithXp([&]() -> DWORD {
        zb::UniqueRegKey key;
        DWORD type = 0;
        DWORD cb = sizeof(*global);
        if (OpenKey(HKEY_CURRENT_USER, kXpGlobalKey, false, &key) == ERROR_SUCCESS &&
            RegQueryValueExW(key.Get(), kXpPoliciesValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(global), &cb) == ERROR_SUCCESS &&
            type == REG_BINARY && cb == sizeof(*global))
            return ERROR_SUCCESS;
        // Never written: what XP starts with (lid and buttons put it to sleep).
        *global = GLOBAL_POWER_POLICY{};
        global->user.Revision = 1;
        global->user.PowerButtonAc.Action = PowerActionShutdownOff;
        global->user.PowerButtonDc.Action = PowerActionShutdownOff;
        global->user.SleepButtonAc.Action = PowerActionSleep;
        global->user.SleepButtonDc.Action = PowerActionSleep;
        global->user.LidCloseAc.Action = PowerActionSleep;
        global->user.LidCloseDc.Action = PowerActionSleep;
        global->user.GlobalFlags = EnableSysTrayBatteryMeter | EnableVideoDimDisplay;
        global->mach.Revision = 1;
        global->mach.LidOpenWakeAc = PowerSystemWorking;
        global->mach.LidOpenWakeDc = PowerSystemWorking;
        global->mach.BroadcastCapacityResolution = 25;
        return ERROR_SUCCESS;
    });
}

DWORD WriteXpGlobalPolicy(const GLOBAL_POWER_POLICY& global) {
    return WithXp([&]() -> DWORD {
        zb::UniqueRegKey key;
        const DWORD rc = OpenKey(HKEY_CURRENT_USER, kXpGlobalKey, true, &key);
        if (rc != ERROR_SUCCESS)
            return rc;
        return RegSetValueExW(key.Get(), kXpPoliciesValue, 0, REG_BINARY,
                              reinterpret_cast<const BYTE*>(&global), sizeof(global));
    });
}

// ---- Whole store -----------------------------------------------------------

DWORD ResetPowerStore() {
    StoreLock lock;
    if (!lock.Held())
        return ERROR_TIMEOUT;
    DWORD rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPlansKey);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return rc;
    // The XP key itself stays: a watcher may hold it open.
    rc = RegDeleteTreeW(HKEY_CURRENT_USER, kXpSchemesKey);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return rc;
    RegDeleteTreeW(HKEY_CURRENT_USER, kXpGlobalKey);
    zb::UniqueRegKey key;
    if (OpenKey(HKEY_CURRENT_USER, kXpKey, false, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key.Get(), kXpActiveValue);
        RegDeleteValueW(key.Get(), kXpLastIdValue);
    }
    return ERROR_SUCCESS;
}

std::wstring DescribePowerStore() {
    std::wstring out = L"Power plans (* active):\n";
    std::vector<GUID> plans;
    GUID active = GUID_NULL;
    if (ListPlans(&plans) != ERROR_SUCCESS || GetActivePlan(&active) != ERROR_SUCCESS)
        out += L"  (cannot be read)\n";
    for (const GUID& plan : plans) {
        std::wstring name;
        ReadPlanText(plan, PlanText::FriendlyName, &name);
        out += IsEqualGUID(plan, active) ? L"* " : L"  ";
        out += GuidToText(plan) + L"  " + name + L"\n";
        for (const KnownSetting& known : kKnownSettings) {
            DWORD ac = 0;
            DWORD dc = 0;
            if (known.setting == &kLockConsoleOnWake ||
                ReadValueIndex(plan, known.subgroup, *known.setting, true, &ac) != ERROR_SUCCESS ||
                ReadValueIndex(plan, known.subgroup, *known.setting, false, &dc) != ERROR_SUCCESS)
                continue;
            const bool action = known.subgroup == &kBatterySubgroup;
            out += std::wstring(L"      ") + known.label + L": AC " +
                   (action ? std::to_wstring(ac) : Seconds(ac)) + L", DC " +
                   (action ? std::to_wstring(dc) : Seconds(dc)) + L"\n";
        }
    }

    out += L"XP power schemes (* active):\n";
    std::vector<XpScheme> schemes;
    UINT activeIndex = NEWSCHEME;
    if (ListXpSchemes(&schemes) != ERROR_SUCCESS ||
        GetActiveXpScheme(&activeIndex) != ERROR_SUCCESS)
        out += L"  (cannot be read)\n";
    for (const XpScheme& s : schemes) {
        out += s.index == activeIndex ? L"* " : L"  ";
        out += std::to_wstring(s.index) + L"  " + s.name + L"\n      standby: AC " +
               Seconds(s.policy.user.IdleTimeoutAc) + L", DC " +
               Seconds(s.policy.user.IdleTimeoutDc) + L"; hibernate: AC " +
               Seconds(s.policy.mach.DozeS4TimeoutAc) + L", DC " +
               Seconds(s.policy.mach.DozeS4TimeoutDc) + L"\n";
    }
    return out;
}

} // namespace simpower
