#include "refresh/power_scheme_xp.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"
#include "refresh/power_plan.h"
#include "refresh/refresh_tool.h"
#include "refresh/resource.h"

#include <atomic>
#include <memory>

namespace zbrefresh {

namespace {

const wchar_t kPowerCfgKey[] = L"Control Panel\\PowerCfg";

// Error-log entries of the scheme operations: the refresh tool's texts 104
// and 105 serve the power scheme on XP as well.
constexpr UINT kErrSchemeCall = IDS_ERR_REFRESH;           // 104: a PowrProf call failed
constexpr UINT kErrSchemeSetting = IDS_ERR_REFRESH_STATUS; // 105: a setting write failed

// The watcher gets eleven looks of 500 ms to end.
constexpr DWORD kWatcherEndWaitMs = 11 * 500;

void LogSchemeError(HWND hWnd, UINT uMessageId, DWORD dwCode) {
    WriteErrorLog(uMessageId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, GetErrorTextModule(hWnd));
}

// Name and description of the refresh scheme from the settings.
struct RefreshSchemeTexts {
    WCHAR szName[CPowerSchemeXP::kTextChars] = {};
    WCHAR szDesc[CPowerSchemeXP::kTextChars] = {};
    RefreshSchemeTexts() {
        GetRegRefreshPowerSchemeName(szName, ARRAYSIZE(szName));
        GetRegRefreshPowerSchemeDesc(szDesc, ARRAYSIZE(szDesc));
    }
};

// What the watcher thread shares with the window thread. The thread holds
// its own reference, so nothing it uses goes away before it ends.
struct PowerSchemeWatch {
    std::atomic<bool> running{false};
    zb::UniqueHandle stopEvent; // set by EndPowerSchemeNotifyThread
    HWND hWnd = nullptr;
};

// Window thread only.
std::shared_ptr<PowerSchemeWatch> g_watch;
zb::UniqueHandle g_watchThread;

} // namespace

// ---------------------------------------------------------------------------
// Entry points of the refresh window

void ApplyRefreshPowerSchemeXP(HWND hWnd) {
    CPowerSchemeArrayXP schemes;
    schemes.EnumPowerSchemes();
    CPowerSchemeXP active;
    DWORD rc = schemes.GetActivePowerScheme(&active);
    if (rc != ERROR_SUCCESS) {
        LogSchemeError(hWnd, kErrSchemeCall, rc);
        return;
    }

    const UINT refreshIndex = GetRegRefreshPowerSetting();
    const RefreshSchemeTexts texts;
    if (active.GetIndex() == refreshIndex &&
        zbpower::SameSchemeName(active.GetName(), texts.szName))
        return;

    UINT target = schemes.GetPowerSchemeID(texts.szName);
    if (target == POWER_SCHEME_NONE) {
        CPowerSchemeXP refresh(refreshIndex, texts.szName, texts.szDesc);
        rc = refresh.WriteRefreshPowerScheme();
        if (rc != ERROR_SUCCESS) {
            LogSchemeError(hWnd, kErrSchemeCall, rc);
            return;
        }
        const HRESULT hr = SetRegRefreshPowerSetting(refresh.GetIndex());
        if (FAILED(hr)) {
            LogSchemeError(hWnd, kErrSchemeSetting, static_cast<DWORD>(hr));
            return;
        }
        target = refresh.GetIndex();
        schemes.EnumPowerSchemes();
    }

    // The user's scheme is saved before it is replaced: a scheme switched
    // without its record could never be given back.
    const HRESULT hr = SetRegUserPowerSetting(active.GetIndex());
    if (FAILED(hr)) {
        LogSchemeError(hWnd, kErrSchemeSetting, static_cast<DWORD>(hr));
        return;
    }
    rc = schemes.SetActivePowerScheme(target);
    if (rc != ERROR_SUCCESS)
        LogSchemeError(hWnd, kErrSchemeCall, rc);
}

DWORD ActivateRefreshPowerSchemeXP() {
    CPowerSchemeArrayXP schemes;
    schemes.EnumPowerSchemes();
    return schemes.SetActivePowerScheme(GetRegRefreshPowerSetting());
}

void RestorePowerSchemeXP(HWND hWnd) {
    RestoreToolPowerPlan(hWnd, nullptr, zbpower::PowerApi::kSchemesXP);
}

bool IsRefreshPowerSchemeActiveXP() {
    CPowerSchemeArrayXP schemes;
    schemes.EnumPowerSchemes();
    CPowerSchemeXP active;
    if (schemes.GetActivePowerScheme(&active) != ERROR_SUCCESS)
        return false;
    const RefreshSchemeTexts texts;
    return active.GetIndex() == GetRegRefreshPowerSetting() &&
           zbpower::SameSchemeName(active.GetName(), texts.szName);
}

// ---------------------------------------------------------------------------
// Watcher

namespace {

DWORD WINAPI PowerSchemeNotifyThread(LPVOID lpParameter) {
    const std::unique_ptr<std::shared_ptr<PowerSchemeWatch>> param(
        static_cast<std::shared_ptr<PowerSchemeWatch>*>(lpParameter));
    const std::shared_ptr<PowerSchemeWatch> watch = *param;

    zb::UniqueRegKey key;
    const LONG rcOpen = RegCreateKeyExW(HKEY_CURRENT_USER, kPowerCfgKey, 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    if (rcOpen != ERROR_SUCCESS) {
        LogSchemeError(watch->hWnd, IDS_ERR_WATCH_KEY_OPEN, static_cast<DWORD>(rcOpen));
        return 0;
    }
    zb::UniqueHandle changed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed) {
        LogSchemeError(watch->hWnd, IDS_ERR_WATCH_EVENT_CREATE, GetLastError());
        return 0;
    }

    while (watch->running) {
        const LONG rc = RegNotifyChangeKeyValue(key.Get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET,
                                                changed.Get(), TRUE);
        if (rc != ERROR_SUCCESS) {
            LogSchemeError(watch->hWnd, IDS_ERR_WATCH_KEY_NOTIFY, static_cast<DWORD>(rc));
            break;
        }
        const HANDLE waits[] = {changed.Get(), watch->stopEvent.Get()};
        const DWORD wait = WaitForMultipleObjects(ARRAYSIZE(waits), waits, FALSE, INFINITE);
        if (wait == WAIT_FAILED) {
            LogSchemeError(watch->hWnd, IDS_ERR_WATCH_EVENT_WAIT, GetLastError());
            break;
        }
        if (wait != WAIT_OBJECT_0)
            break; // asked to end
        if (watch->running && !IsRefreshPowerSchemeActiveXP())
            SendMessageW(watch->hWnd, WM_USER_POWERCFGCHANGED, 0, 0);
        // Only a further change may wake the next wait.
        ResetEvent(changed.Get());
    }
    return 0;
}

// Waits for the thread while serving what other threads send to this one,
// so that a watcher inside SendMessageW to our window can finish.
void WaitServingSentMessages(HANDLE hThread, DWORD dwTimeoutMs) {
    // Unsigned difference of GetTickCount: right across its 49-day wrap.
    const DWORD start = GetTickCount();
    for (;;) {
        // Serves what is already waiting, including messages the thread has
        // seen before (which would not wake the wait below).
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= dwTimeoutMs)
            return;
        const DWORD wait = MsgWaitForMultipleObjectsEx(1, &hThread, dwTimeoutMs - elapsed,
                                                       QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (wait != WAIT_OBJECT_0 + 1)
            return; // ended, timed out or failed
    }
}

} // namespace

BOOL StartPowerSchemeNotifyThread(HWND hWnd) {
    WriteLog(L"StartPowerSchemeNotifyThread", __LINE__, L"電源設定監視を開始します\n");
    if (g_watchThread)
        EndPowerSchemeNotifyThread();

    auto watch = std::make_shared<PowerSchemeWatch>();
    watch->hWnd = hWnd;
    watch->stopEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!watch->stopEvent) {
        LogSchemeError(hWnd, IDS_ERR_WATCH_THREAD, GetLastError());
        return FALSE;
    }
    watch->running = true;
    auto param = std::make_unique<std::shared_ptr<PowerSchemeWatch>>(watch);
    g_watchThread.Reset(CreateThread(nullptr, 0, PowerSchemeNotifyThread, param.get(), 0, nullptr));
    if (!g_watchThread) {
        const DWORD err = GetLastError();
        watch->running = false;
        LogSchemeError(hWnd, IDS_ERR_WATCH_THREAD, err);
        return FALSE;
    }
    param.release(); // the thread owns it now
    g_watch = watch;
    return TRUE;
}

void EndPowerSchemeNotifyThread() {
    WriteLog(L"EndPowerSchemeNotifyThread", __LINE__, L"電源設定監視を終了します\n");
    if (g_watch) {
        g_watch->running = false;
        SetEvent(g_watch->stopEvent.Get());
    }
    if (g_watchThread) {
        WaitServingSentMessages(g_watchThread.Get(), kWatcherEndWaitMs);
        g_watchThread.Reset();
    }
    g_watch.reset();
}

} // namespace zbrefresh
