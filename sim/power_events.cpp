#include "sim/power_events.h"

#include "common/handles.h"
#include "sim/diag.h"
#include "sim/machine.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace sim {
namespace {

// A window gets this long to handle one notification; a hung window only
// delays the watcher, it never stops it.
constexpr UINT kSendTimeoutMs = 2000;
// Windows also reports a status change when the charge moves this much.
constexpr uint32_t kStatusStepPercent = 3;

struct Snapshot {
    uint32_t acOnline;
    uint32_t suspended;
    uint32_t suspendCount;
    uint32_t resumeCount;
    uint32_t percent; // 255: no battery
    uint32_t batteryBits;
};

Snapshot Take(const Machine& m) {
    Snapshot s{m.acOnline, m.suspended, m.suspendCount, m.resumeCount, SystemPercent(m), 0};
    for (uint32_t i = 0; i < kBatterySlots; ++i) {
        const Battery& b = m.battery[i];
        const uint32_t bits =
            (b.present ? 1u : 0u) | (IsCharging(b) ? 2u : 0u) | (IsDischarging(b) ? 4u : 0u);
        s.batteryBits |= bits << (i * 4);
    }
    return s;
}

struct Events {
    bool suspend;
    bool resume;
    bool status;
    bool acdc;
    bool percent;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId())
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> ProcessWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

void Broadcast(HWND hwnd, WPARAM event) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, WM_POWERBROADCAST, event, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &result);
}

// A POWERBROADCAST_SETTING with a DWORD of data.
struct SettingRecord {
    GUID PowerSetting;
    DWORD DataLength;
    DWORD Data;
};
static_assert(sizeof(SettingRecord) == offsetof(POWERBROADCAST_SETTING, Data) + sizeof(DWORD),
              "same layout as POWERBROADCAST_SETTING with 4 bytes of data");

// Records whose window did not answer in time: it may still read them when
// it wakes up, so they are kept for the life of the process.
std::vector<std::unique_ptr<SettingRecord>>& ParkedRecords() {
    static auto* parked = new std::vector<std::unique_ptr<SettingRecord>>();
    return *parked;
}

// Sent within the process, so the window reads the record in place; Wine
// does not carry this pointer to other processes.
void SendSetting(HWND hwnd, const GUID& setting, DWORD value) {
    auto record = std::make_unique<SettingRecord>(SettingRecord{setting, sizeof(DWORD), value});
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                             reinterpret_cast<LPARAM>(record.get()), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &result))
        ParkedRecords().push_back(std::move(record));
}

// GUID_ACDC_POWER_SOURCE: 0 AC, 1 battery.
DWORD PowerSource(const Snapshot& s) {
    return s.acOnline ? 0 : 1;
}

// The settings a new window learns once, with their own thread: Windows
// queues them at the registration and the window gets them whenever its
// thread next takes sent messages, however long it is busy (the refresh
// tool waits seconds for pipe clients while it is created). A timed send
// would lose them, and the refresh would wait for a change that may never
// come.
struct InitialSettings {
    HWND hwnd;
    SettingRecord acdc;
    SettingRecord percent;
    bool hasPercent;
};

DWORD WINAPI DeliverInitialSettings(void* param) {
    std::unique_ptr<InitialSettings> settings(static_cast<InitialSettings*>(param));
    SendMessageW(settings->hwnd, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                 reinterpret_cast<LPARAM>(&settings->acdc));
    if (settings->hasPercent)
        SendMessageW(settings->hwnd, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                     reinterpret_cast<LPARAM>(&settings->percent));
    return 0;
}

void SendCurrentSettings(HWND hwnd, const Snapshot& s) {
    auto settings = std::make_unique<InitialSettings>(
        InitialSettings{hwnd,
                        {GUID_ACDC_POWER_SOURCE, sizeof(DWORD), PowerSource(s)},
                        {GUID_BATTERY_PERCENTAGE_REMAINING, sizeof(DWORD), s.percent},
                        s.percent != 255});
    zb::UniqueHandle thread(
        CreateThread(nullptr, 0, DeliverInitialSettings, settings.get(), 0, nullptr));
    if (!thread) {
        LogFailure(L"CreateThread", GetLastError());
        return;
    }
    settings.release(); // the thread owns it now
}

void Deliver(HWND hwnd, const Events& e, const Snapshot& s) {
    if (e.suspend)
        Broadcast(hwnd, PBT_APMSUSPEND);
    if (e.resume) {
        Broadcast(hwnd, PBT_APMRESUMEAUTOMATIC);
        Broadcast(hwnd, PBT_APMRESUMESUSPEND);
    }
    if (e.status)
        Broadcast(hwnd, PBT_APMPOWERSTATUSCHANGE);
    if (e.acdc)
        SendSetting(hwnd, GUID_ACDC_POWER_SOURCE, PowerSource(s));
    if (e.percent)
        SendSetting(hwnd, GUID_BATTERY_PERCENTAGE_REMAINING, s.percent);
}

class Watcher {
public:
    void Poll() {
        Machine m;
        if (ReadMachine(&m))
            return;
        const Snapshot now = Take(m);
        if (!started_) {
            seen_ = now;
            statusPercent_ = now.percent;
            started_ = true;
        }
        Events e = {};
        e.suspend = now.suspendCount != seen_.suspendCount;
        e.resume = now.resumeCount != seen_.resumeCount;
        seen_.suspendCount = now.suspendCount;
        seen_.resumeCount = now.resumeCount;
        // While asleep nothing else is reported; the differences are
        // delivered after the wake-up.
        if (!now.suspended) {
            e.acdc = now.acOnline != seen_.acOnline;
            e.percent = now.percent != seen_.percent && now.percent != 255;
            const uint32_t step = now.percent > statusPercent_ ? now.percent - statusPercent_
                                                               : statusPercent_ - now.percent;
            e.status = e.acdc || now.batteryBits != seen_.batteryBits || step >= kStatusStepPercent;
            if (e.status)
                statusPercent_ = now.percent;
            seen_ = now;
        }

        std::vector<HWND> windows = ProcessWindows();
        std::vector<HWND> known;
        for (HWND hwnd : windows) {
            const bool isNew = std::find(known_.begin(), known_.end(), hwnd) == known_.end();
            if (!isNew) {
                Deliver(hwnd, e, now);
                known.push_back(hwnd);
                continue;
            }
            Deliver(hwnd, Events{e.suspend, e.resume, false, false, false}, now);
            // A new window learns the current settings once, as Windows
            // tells every window right after it registers for them.
            if (!now.suspended) {
                SendCurrentSettings(hwnd, now);
                known.push_back(hwnd);
            }
        }
        known_.swap(known);
    }

private:
    bool started_ = false;
    Snapshot seen_ = {};
    uint32_t statusPercent_ = 0;
    std::vector<HWND> known_;
};

DWORD WINAPI WatchThread(void*) {
    Watcher watcher;
    for (;;) {
        Sleep(kWatchIntervalMs);
        watcher.Poll();
    }
}

} // namespace

void StartPowerEventWatcher() {
    static LONG started = 0;
    if (InterlockedExchange(&started, 1))
        return;
    // The thread runs this module's code until the process ends; pin the
    // module so that a FreeLibrary cannot unmap it underneath.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&StartPowerEventWatcher), &self)) {
        LogFailure(L"GetModuleHandleExW", GetLastError());
        return;
    }
    zb::UniqueHandle thread(CreateThread(nullptr, 0, WatchThread, nullptr, 0, nullptr));
    if (!thread)
        LogFailure(L"CreateThread", GetLastError());
}

} // namespace sim
