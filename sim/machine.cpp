// The one simulated machine of the Wine prefix, in a file that every
// process maps, under a machine-wide mutex.
#include "sim/machine.h"

#include "common/handles.h"
#include "sim/diag.h"

#include <shlobj.h>
#include <strsafe.h>

namespace sim {
namespace {

const wchar_t kStateFolder[] = L"zbsim";
const wchar_t kStateFile[] = L"machine.state";
const wchar_t kLockName[] = L"Global\\zbsim.machine.lock";
const wchar_t kSettingsKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";
const wchar_t kNotChargeLimitValue[] = L"NotChargeLimit";

constexpr uint32_t kMagic = 0x4D53425A; // "ZBSM"
constexpr uint32_t kVersion = 3;        // raised with every change of the layout
constexpr DWORD kLockTimeoutMs = 10000;

// The file's layout. lastUpdate is the wall-clock time (FILETIME ticks) up
// to which the physics has run, so that the state survives every process
// and the catch-up works across them.
struct SharedFile {
    uint32_t magic;
    uint32_t version;
    uint32_t size;
    uint32_t reserved;
    uint64_t lastUpdate;
    Machine machine;
};

// Opened once per process and kept until the process ends: the power-event
// watcher thread may use it up to the last moment, so it is deliberately
// never torn down; the system closes the handles at exit.
struct SharedState {
    HANDLE lock;
    SharedFile* file;
};

SharedState g_state;
DWORD g_openError;
INIT_ONCE g_openOnce = INIT_ONCE_STATIC_INIT;

uint64_t Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

DWORD OpenShared() {
    wchar_t path[MAX_PATH];
    if (DWORD rc = StatePath(path, ARRAYSIZE(path)))
        return rc;
    wchar_t folder[MAX_PATH];
    StringCchCopyW(folder, ARRAYSIZE(folder), path);
    *wcsrchr(folder, L'\\') = L'\0';
    if (!CreateDirectoryW(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return LogFailure(L"CreateDirectoryW", GetLastError());

    zb::UniqueHandle lock(CreateMutexW(nullptr, FALSE, kLockName));
    if (!lock)
        return LogFailure(L"CreateMutexW", GetLastError());
    zb::UniqueHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return LogFailure(L"CreateFileW", GetLastError());
    // Unnamed: every process maps the same file, and the views of one file
    // are coherent; a name would only pin an old section if the file were
    // replaced.
    zb::UniqueHandle mapping(
        CreateFileMappingW(file.Get(), nullptr, PAGE_READWRITE, 0, sizeof(SharedFile), nullptr));
    if (!mapping)
        return LogFailure(L"CreateFileMappingW", GetLastError());
    void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view)
        return LogFailure(L"MapViewOfFile", GetLastError());
    // The view keeps the mapping and the file alive on its own.
    g_state.lock = lock.Release();
    g_state.file = static_cast<SharedFile*>(view);
    return 0;
}

BOOL CALLBACK OpenOnce(PINIT_ONCE, PVOID, PVOID*) {
    g_openError = OpenShared();
    return TRUE;
}

// Holds the machine-wide lock. A previous holder that died inside leaves
// the mutex abandoned; its last write was a whole-record copy, so the state
// is taken as it stands.
class Locked {
public:
    Locked() {
        InitOnceExecuteOnce(&g_openOnce, OpenOnce, nullptr, nullptr);
        if (g_openError) {
            error_ = g_openError;
            return;
        }
        const DWORD wait = WaitForSingleObject(g_state.lock, kLockTimeoutMs);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            error_ = wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
            LogFailure(L"WaitForSingleObject", error_);
            return;
        }
        held_ = true;
        Prepare();
    }
    ~Locked() {
        if (held_)
            ReleaseMutex(g_state.lock);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    DWORD Error() const { return error_; }
    Machine& State() { return g_state.file->machine; }

private:
    // Creates the default machine in a new (all-zero) or outdated file, then
    // runs the physics up to now.
    void Prepare() {
        SharedFile& f = *g_state.file;
        const uint64_t now = Now();
        if (f.magic != kMagic || f.version != kVersion || f.size != sizeof(SharedFile)) {
            Machine fresh;
            BuildProfile(L"one", &fresh);
            fresh.notChargeLimit = ReadNotChargeLimit();
            f.machine = fresh;
            f.lastUpdate = now;
            f.size = sizeof(SharedFile);
            f.version = kVersion;
            f.magic = kMagic;
        }
        // A clock set back costs no time; it does not run the physics backwards.
        const double elapsed = now > f.lastUpdate ? (now - f.lastUpdate) / 1e7 : 0.0;
        Advance(f.machine, elapsed * f.machine.speed);
        f.lastUpdate = now;
    }

    DWORD error_ = 0;
    bool held_ = false;
};

uint32_t NextTag(uint32_t tag) {
    return tag + 1 ? tag + 1 : 1;
}

} // namespace

DWORD StatePath(wchar_t* path, size_t cchPath) {
    wchar_t data[MAX_PATH] = {};
    const HRESULT hr =
        SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data);
    if (FAILED(hr))
        return LogFailure(L"SHGetFolderPathW", static_cast<DWORD>(hr));
    if (FAILED(StringCchPrintfW(path, cchPath, L"%s\\%s\\%s", data, kStateFolder, kStateFile)))
        return ERROR_INSUFFICIENT_BUFFER;
    return 0;
}

DWORD ReadMachine(Machine* out) {
    if (!out)
        return ERROR_INVALID_PARAMETER;
    Locked locked;
    if (DWORD rc = locked.Error())
        return rc;
    *out = locked.State();
    return 0;
}

DWORD ModifyMachine(MachineChange change, void* context, wchar_t* error, size_t cchError) {
    if (error && cchError)
        error[0] = L'\0';
    if (!change)
        return ERROR_INVALID_PARAMETER;
    Locked locked;
    if (DWORD rc = locked.Error())
        return rc;
    Machine next = locked.State();
    if (DWORD rc = change(next, context))
        return rc;
    // The new conditions take effect at once (a charger starts, a discharge
    // stops), not only at the next access.
    Advance(next, 0.0);
    if (DWORD rc = Validate(next, error, cchError))
        return rc;
    locked.State() = next;
    return 0;
}

DWORD ReplaceMachine(const Machine& next, wchar_t* error, size_t cchError) {
    Machine replacement = next;
    replacement.notChargeLimit = ReadNotChargeLimit();
    return Modify(
        [&replacement](Machine& m) -> DWORD {
            Machine fresh = replacement;
            fresh.suspended = 0;
            fresh.suspendCount = m.suspendCount;
            fresh.resumeCount = m.resumeCount + (m.suspended ? 1 : 0);
            fresh.installCalls = m.installCalls;
            fresh.uninstallCalls = m.uninstallCalls;
            fresh.simSeconds = 0.0;
            for (uint32_t i = 0; i < kBatterySlots; ++i)
                fresh.battery[i].tag = NextTag(m.battery[i].tag);
            m = fresh;
            return 0;
        },
        error, cchError);
}

uint32_t ReadNotChargeLimit() {
    zb::UniqueRegKey key;
    DWORD value = kDefaultNotChargeLimit;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, key.Put()) !=
        ERROR_SUCCESS)
        return kDefaultNotChargeLimit;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.Get(), kNotChargeLimitValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return kDefaultNotChargeLimit;
    return value;
}

} // namespace sim

DWORD SimSuspend() {
    return sim::Modify([](sim::Machine& m) -> DWORD {
        if (!m.suspended) {
            m.suspended = 1;
            ++m.suspendCount;
        }
        return 0;
    });
}

DWORD SimResume() {
    return sim::Modify([](sim::Machine& m) -> DWORD {
        if (m.suspended) {
            m.suspended = 0;
            ++m.resumeCount;
        }
        return 0;
    });
}

DWORD SimSetAcOnline(bool online) {
    return sim::Modify([online](sim::Machine& m) -> DWORD {
        m.acOnline = online ? 1 : 0;
        return 0;
    });
}

DWORD SimSetBatteryPresent(uint32_t battNo, bool present) {
    if (battNo < 1 || battNo > sim::kBatterySlots)
        return ERROR_INVALID_PARAMETER;
    return sim::Modify([battNo, present](sim::Machine& m) -> DWORD {
        sim::Battery& b = m.battery[battNo - 1];
        if (present && !b.present) {
            // A battery put in is a new device to Windows: new tag, new charge.
            b.tag = sim::NextTag(b.tag);
            b.chargeLatched = 0;
        }
        b.present = present ? 1 : 0;
        return 0;
    });
}

DWORD SimSetSpeed(double speed) {
    if (!(speed >= 0.0 && speed <= sim::kMaxSpeed))
        return ERROR_INVALID_PARAMETER;
    return sim::Modify([speed](sim::Machine& m) -> DWORD {
        m.speed = speed;
        return 0;
    });
}

DWORD SimSetupProfile(const wchar_t* profile) {
    sim::Machine m;
    if (!profile || !sim::BuildProfile(profile, &m))
        return ERROR_NOT_FOUND;
    return sim::ReplaceMachine(m);
}
