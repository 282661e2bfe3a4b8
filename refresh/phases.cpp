#include "refresh/phases.h"

#include <stddef.h>

#include "battery/battery.h"
#include "battery/refresh_repair.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/util.h"
#include "common/wrappers.h"
#include "ipc/pipe.h"
#include "ipc/session_user.h"
#include "refresh/battery_select.h"
#include "refresh/refresh_logic.h"
#include "refresh/resource.h"

namespace zbrefresh {

namespace {

constexpr UINT kTickAfterStartMs = 1000;  // first look after the discharge starts
constexpr UINT kTickNextBatteryMs = 1000; // first look at the next battery
constexpr UINT kTickPhaseMs = 60000;      // the phases' regular look

void LogRefreshError(UINT uMessageId, DWORD dwCode) {
    WriteErrorLog(uMessageId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, GetRefreshStartup().instance);
}

void ArmTickTimer(HWND hWnd, UINT uElapse) {
    if (!SetTimer(hWnd, REFRESH_TIMER_TICK, uElapse, nullptr))
        LogApiFailure(L"ArmTickTimer", __LINE__, L"SetTimer", GetLastError());
}

void SendModeNotice(CPipeToDlg* pPipe, const RefreshPhaseState* pState) {
    pPipe->SendAll(WM_USER_REFMODE,
                   static_cast<ULONGLONG>(static_cast<LONGLONG>(pState->live.mode)),
                   pState->live.battery);
}

void SendProgressNotice(CPipeToDlg* pPipe, const RefreshPhaseState* pState) {
    pPipe->SendAll(WM_USER_REFPROGRESS, static_cast<ULONGLONG>(pState->live.progress.load()),
                   pState->live.battery);
}

void SetProgress(CPipeToDlg* pPipe, RefreshPhaseState* pState, int progress) {
    pState->live.progress = progress;
    SendProgressNotice(pPipe, pState);
}

void AdvanceTo(CPipeToDlg* pPipe, RefreshPhaseState* pState, RefreshModeValue mode) {
    pState->live.mode = mode;
    SendModeNotice(pPipe, pState);
}

// Marks the phase failed; the dispatcher's error tail takes it from there.
HRESULT FailPhase(RefreshPhaseState* pState, LPCWSTR lpszProgressText, HRESULT hr) {
    if (lpszProgressText)
        WriteProgressLog(pState->live.battery, kProgressError, lpszProgressText);
    pState->live.mode = REFRESH_MODE_ERROR;
    return hr;
}

// Every handler starts the same way: a missing argument leaves the mode at
// -1; otherwise the mode is put back and the work may begin.
HRESULT EnterPhase(LPCWSTR lpszFunction, int nLine, CPipeToDlg* pPipe, CBattery* pBattery,
                   RefreshPhaseState* pState) {
    if (!pState) {
        LogNullArg(lpszFunction, nLine, L"pState");
        return E_POINTER;
    }
    const LONG previous = pState->live.mode.exchange(REFRESH_MODE_ERROR);
    if (!pBattery) {
        LogNullArg(lpszFunction, nLine, L"pBattery");
        return E_POINTER;
    }
    if (!pPipe) {
        LogNullArg(lpszFunction, nLine, L"pPipe");
        return E_POINTER;
    }
    pState->live.mode = previous;
    return S_OK;
}

// The power status for the charge phases; E_FAIL (mode -1, progress-log
// line) when it cannot be read or the battery's state is unknown.
HRESULT ReadChargePhasePowerStatus(CBattery* pBattery, RefreshPhaseState* pState,
                                   SYSTEM_POWER_STATUS* pStatus) {
    *pStatus = {};
    if (!GetPowerStatusDoubleCheck(pStatus, pBattery))
        return FailPhase(pState, L"Invalid Power Status.", E_FAIL);
    if (pStatus->BatteryFlag == BATTERY_FLAG_UNKNOWN)
        return FailPhase(pState, L"Invalid Battery Status.", E_FAIL);
    return S_OK;
}

// Switches the firmware's refresh on: ADPC 0, pause, CHGC 0, pause. Stops at
// the first failure so that charging is never held off without a discharge.
HRESULT StartRefresh(CBattery* pBattery) {
    HRESULT hr = pBattery->AslMethodADPC(ADPC_START_REFRESH);
    if (FAILED(hr))
        return hr;
    PauseBetweenRefreshSwitches();
    hr = pBattery->AslMethodCHGC(CHGC_REFRESHING);
    if (FAILED(hr))
        return hr;
    PauseBetweenRefreshSwitches();
    return S_OK;
}

// Both charge phases wait for the battery to charge, and another program
// (an import, a repair, anything that calls the firmware) may change its
// charge mode meanwhile: held below its goal, the battery would keep the
// phase, and the machine awake, for ever. So each tick checks that the
// battery still has the mode the phase charges with. A level a person can
// choose is taken as the owner's new choice: in the first charge the
// battery gets it back after its refresh (and charges fully until then); in
// the second charge it already has it. Anything else is overwritten. The
// phase fails (status 7) when the mode cannot be put back.
HRESULT KeepChargePhaseMode(CBattery* pBattery, RefreshPhaseState* pState, bool bFirstCharge) {
    DWORD found = 0;
    if (FAILED(pBattery->AslMethodRBCL(&found)))
        return S_OK;                        // a battery without a charge mode has nothing to defend
    DWORD wanted = pState->savedChargeMode; // the second charge: the mode given back
    if (bFirstCharge)
        wanted = pState->chargeModeMarked ? pState->savedChargeMode : CHARGEMODE_FULL;
    if (found == wanted)
        return S_OK;

    const UINT battNo = pBattery->GetBattNo();
    WriteLog(L"KeepChargePhaseMode", __LINE__,
             L"Charge mode of battery %u changed to %d during charging (expected %d).\n", battNo,
             found, wanted);
    if (IsPersonChargeLevel(found, GetRegNotChargeLimit())) {
        pState->savedChargeMode = found;
        if (!bFirstCharge)
            return S_OK;
        pState->chargeModeMarked = false;
        pState->chargeModeReleased = found != CHARGEMODE_FULL;
        // The record is what a run that dies now would give back.
        ForgetOriginalChargeMode(battNo);
        if (pState->chargeModeReleased)
            RecordOriginalChargeMode(battNo, found);
        wanted = CHARGEMODE_FULL;
        if (found == wanted)
            return S_OK;
    }

    HRESULT hr = pBattery->AslMethodWBCL(wanted);
    DWORD readBack = found;
    if (SUCCEEDED(hr) && (FAILED(pBattery->AslMethodRBCL(&readBack)) || readBack != wanted))
        hr = E_FAIL;
    if (FAILED(hr)) {
        LogRefreshError(IDS_ERR_CHARGE_MODE_RESTORE, GetLastError());
        return FailPhase(pState, L"Could not change Charge Mode.", hr);
    }
    WriteLog(L"KeepChargePhaseMode", __LINE__, L"Charge mode of battery %u set back to %d.\n",
             battNo, wanted);
    WriteProgressLog(pState->live.battery, L"INFORMATION %s (%04X)", L"Changed charge mode.",
                     wanted);
    return S_OK;
}

// The start time of a battery's cool-down, taken at its first tick.
LONGLONG ElapsedCoolDownMinutes(CoolDownClock& clock) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    if (!clock.started) {
        clock.start = now;
        clock.started = true;
    }
    return CalcElapsedMinutes(clock.start, now);
}

// A scheduler of this very user stores the outcome itself when the notice
// reaches it (PIPE_USER_SAME); without any scheduler the tool may suspend.
int CheckSchedulerUser() {
    return PipeCheckUser(PIPE3_NAME);
}

// Status 7 and its notice; the close timer; the ABORTED line.
void RunErrorTail(HWND hWnd, CPipeToDlg* pPipe, RefreshPhaseState* pState) {
    ReportRefreshAbort(hWnd, pPipe, pState, REFRESH_STATUS_FAILED, false);
    WriteProgressLog(pState->live.battery, kProgressAborted, L"An error occured.");
}

// The next battery of the queue begins: fresh phase data, a new progress
// log, its charge mode released, the other battery held.
void BeginNextBattery(HWND hWnd, RefreshQueue* pQueue, RefreshPhaseState* pState) {
    CBattery* pBattery = pQueue->front();
    pState->battery = pBattery;
    pState->live.mode = REFRESH_MODE_CHARGING1;
    pState->live.progress = 0;
    pState->live.battery = pBattery->GetBattNo();
    pState->capacity = pBattery->GetRemainingPercent();
    // The second charge must see this battery take charge, not the last one.
    pState->chargingSeen = false;
    DeleteProgressLog(pState->live.battery);
    WriteProgressLog(pState->live.battery, kProgressStart);
    ReportRefreshStarted(pBattery, &pState->events);
    if (!PrepareBatteryChargeModes(hWnd, pState, L"[chager another battery]"))
        return;
    ArmTickTimer(hWnd, kTickNextBatteryMs);
}

} // namespace

// ---------------------------------------------------------------------------

void LogPowerStatusFields(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszPrefix,
                          const SYSTEM_POWER_STATUS& status) {
    // The fourth byte is Reserved1 in older SDKs and SystemStatusFlag in
    // newer ones; reach it by position.
    const BYTE statusFlag = reinterpret_cast<const BYTE*>(
        &status)[offsetof(SYSTEM_POWER_STATUS, BatteryLifePercent) + 1];
    WriteLog(lpszFunction, nLine,
             L"%sACLineStatus = %02x, BatteryFlag = %02x, BatteryLifePercent = %02x, Reserved1 = "
             L"%02x, BatteryLifeTime = %02x, BatteryFullLifeTime = %02x\n",
             lpszPrefix, status.ACLineStatus, status.BatteryFlag, status.BatteryLifePercent,
             statusFlag, status.BatteryLifeTime, status.BatteryFullLifeTime);
}

void LogPowerState(CBattery* pBattery, LPCWSTR lpszFunction, int nLine) {
    if (!GetRefreshStartup().traceEnabled)
        return;
    if (!pBattery) {
        LogNullArg(lpszFunction, nLine, L"pBattery");
        return;
    }
    SYSTEM_POWER_STATUS sps = {};
    if (pBattery->GetBatteryPowerStatus(&sps)) {
        LogPowerStatusFields(lpszFunction, nLine, L"", sps);
    } else {
        WriteLog(lpszFunction, nLine, L"Fail to GetSystemPowerStatus(): %08x\n", GetLastError());
    }
    DWORD flags = 0;
    if (SUCCEEDED(pBattery->AslMethodPSTS(&flags)))
        WriteLog(lpszFunction, nLine, L"リフレッシュステータス ADPC=%d / CHGC=%d\n",
                 flags & PSTS_ADPC, flags & PSTS_CHGC);
    else
        WriteLog(lpszFunction, nLine, L"リフレッシュステータス取得失敗\n");
}

bool PrepareBatteryChargeModes(HWND hWnd, RefreshPhaseState* pState, LPCWSTR lpszTracePrefix) {
    CBattery* pBattery = pState->battery;
    pState->chargeModeReleased = false;
    pState->chargeModeMarked = false;

    DWORD mode = 0;
    const HRESULT hrRead = pBattery->AslMethodRBCL(&mode);
    pState->savedChargeMode = SUCCEEDED(hrRead) ? mode : 0;
    WriteLog(L"PrepareBatteryChargeModes", __LINE__, L"%s充電モード= %d\n", lpszTracePrefix,
             pState->savedChargeMode);
    if (FAILED(hrRead)) {
        WriteLog(L"PrepareBatteryChargeModes", __LINE__, L"%sDoes not support ChargeMode.",
                 lpszTracePrefix);
    } else {
        switch (DecideChargeModeAtStart(mode)) {
        case ChargeModeAtStart::Release:
            // Recorded first: a run that dies before giving it back leaves
            // the owner's mode for the next run to restore.
            RecordOriginalChargeMode(pBattery->GetBattNo(), mode);
            if (FAILED(pBattery->AslMethodWBCL(CHARGEMODE_FULL))) {
                LogRefreshError(IDS_ERR_CHARGE_MODE_SET, GetLastError());
                SendMessageW(hWnd, WM_CLOSE, 0, 0);
                return false;
            }
            pState->chargeModeReleased = true;
            WriteLog(L"PrepareBatteryChargeModes", __LINE__, L"%s充電モードを解除\n",
                     lpszTracePrefix);
            break;
        case ChargeModeAtStart::Marked:
            pState->chargeModeMarked = true;
            break;
        case ChargeModeAtStart::Keep:
            break;
        }
    }

    if (StopChargeOtherBattery(pBattery, TRUE) == 0)
        WriteLog(L"PrepareBatteryChargeModes", __LINE__, L"%sStopChargeOtherBattery Failed!\n",
                 lpszTracePrefix);
    return true;
}

DWORD EndRefresh(CBattery* pBattery) {
    return EndBatteryRefresh(pBattery);
}

void StartCloseTimer(HWND hWnd, RefreshPhaseState* pState) {
    if (pState->closeTimerRunning)
        return;
    if (!SetTimer(hWnd, REFRESH_TIMER_CLOSE, REFRESH_CLOSE_TIMEOUT_MS, nullptr)) {
        LogApiFailure(L"StartCloseTimer", __LINE__, L"SetTimer", GetLastError());
        return;
    }
    pState->closeTimerRunning = true;
}

void RecordRefreshStart(RefreshPhaseState* pState) {
    if (!pState || !pState->battery)
        return;
    pState->historyOpen = true;
    zbhistory::HistoryRow& row = pState->historyStart;
    row = zbhistory::HistoryRow();
    row.battery = pState->battery->GetBattNo();
    if (FAILED(zbhistory::MakeBatteryRow(*pState->battery, zbhistory::HistoryEvent::RefreshStart,
                                         &row)))
        return;
    zbhistory::AppendToHistory(row);
}

void RecordRefreshEnd(RefreshPhaseState* pState, LONG status) {
    if (!pState || !pState->historyOpen || !pState->battery)
        return;
    pState->historyOpen = false;
    zbhistory::HistoryRow row;
    if (FAILED(zbhistory::MakeBatteryRow(*pState->battery, zbhistory::HistoryEvent::RefreshEnd,
                                         &row))) {
        // Nothing was read at the start either: there is no row to give.
        if (pState->historyStart.time.wYear == 0)
            return;
        row = pState->historyStart;
        row.event = zbhistory::HistoryEvent::RefreshEnd;
        zbhistory::StampHistoryRowNow(&row);
    }
    row.hasStatus = status != REFRESH_STATUS_COMPLETED;
    row.status = static_cast<DWORD>(status);
    zbhistory::AppendToHistory(row);
}

bool IsAbortNews(const RefreshPhaseState& state, LONG status) {
    // The first abort is the outcome; what follows from it (an unplugged
    // adapter makes the battery look odd, say) must not replace it. Only a
    // phase failure (7) gives way once to the event that caused it, when
    // the event is seen after the failure (a battery taken out while a
    // phase was reading it).
    return !state.aborted ||
           (state.abortStatus == REFRESH_STATUS_FAILED && status != REFRESH_STATUS_FAILED);
}

void ReportRefreshAbort(HWND hWnd, CPipeToDlg* pPipe, RefreshPhaseState* pState, LONG status,
                        bool bArm) {
    if (!IsAbortNews(*pState, status)) {
        WriteLog(L"ReportRefreshAbort", __LINE__, L"Already aborted; status %d not reported.\n",
                 status);
        return;
    }
    pState->aborted = true;
    pState->abortStatus = status;
    RecordRefreshEnd(pState, status);
    if (CheckSchedulerUser() != PIPE_USER_SAME)
        SetLastRefreshStatus(hWnd, static_cast<DWORD>(status));
    if (pPipe)
        pPipe->ResendAll(WM_USER_REFERROR, static_cast<ULONGLONG>(status), pState->live.battery);
    if (bArm) {
        pState->errorArmed = true;
        pState->errorCode = status;
    }
    StartCloseTimer(hWnd, pState);
}

// ---------------------------------------------------------------------------
// Phase handlers

HRESULT ProcFirstCHGC(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState) {
    HRESULT hr = EnterPhase(L"ProcFirstCHGC", __LINE__, pPipe, pBattery, pState);
    if (FAILED(hr))
        return hr;

    SYSTEM_POWER_STATUS sps;
    hr = ReadChargePhasePowerStatus(pBattery, pState, &sps);
    if (FAILED(hr))
        return hr;

    const unsigned capacity = pState->capacity;
    SetProgress(pPipe, pState, CalcFirstChargeProgress(capacity));
    WriteLog(L"ProcFirstCHGC", __LINE__, L"ProcFirstCHGC progress=%d\n",
             pState->live.progress.load());
    WriteProgressLog(pState->live.battery, L"CHARGING1  (Progress:%d %%, Capacity:%d %%)",
                     pState->live.progress.load(), capacity);
    hr = KeepChargePhaseMode(pBattery, pState, true);
    if (FAILED(hr))
        return hr;

    const DWORD completeMax = GetRegBatteryChargeCompleteMax();
    const DWORD complete = GetRegBatteryChargeComplete();
    if (capacity < completeMax)
        WriteLog(L"ProcFirstCHGC", __LINE__, L"初回充電 %d％ / %d％ / %d％\n,battery=%d", capacity,
                 complete, completeMax, pState->live.battery.load());
    const FirstChargeStep step =
        DecideFirstCharge(capacity, completeMax, complete, [pBattery](int wanted) {
            return WaitForChargingState(wanted, pBattery) != FALSE;
        });
    if (step == FirstChargeStep::Stay)
        return S_OK;
    if (step == FirstChargeStep::StayUntilNotCharging) {
        WriteLog(L"ProcFirstCHGC", __LINE__, L"バッテリ残量100、充電中フラグ=%x\n",
                 sps.BatteryFlag & BATTERY_FLAG_CHARGING);
        // On XP the battery watch timer keeps looking.
        if (!IsWindowsXP())
            ArmTickTimer(hWnd, kTickPhaseMs);
        return S_OK;
    }

    WriteLog(L"ProcFirstCHGC", __LINE__, L"初回充電完了=%d％\n", capacity);
    LogPowerState(pBattery, L"ProcFirstCHGC", __LINE__);
    DWORD flags = 0;
    if (SUCCEEDED(pBattery->AslMethodPSTS(&flags)))
        WriteLog(L"ProcFirstCHGC", __LINE__, L"リフレッシュステータス ADPC=%x / CHGC=%x\n",
                 flags & PSTS_ADPC, flags & PSTS_CHGC);
    else
        WriteLog(L"ProcFirstCHGC", __LINE__, L"リフレッシュステータス取得失敗\n");

    AdvanceTo(pPipe, pState, REFRESH_MODE_REFRESHING);
    const HRESULT hrStart = StartRefresh(pBattery);
    flags = 0;
    pBattery->AslMethodPSTS(&flags);
    WriteLog(L"ProcFirstCHGC", __LINE__, L"Start refreshing ADPC=%x / CHGC=%x\n", flags & PSTS_ADPC,
             flags & PSTS_CHGC);
    if (FAILED(hrStart)) {
        LogRefreshError(IDS_ERR_REFRESH, static_cast<DWORD>(hrStart));
        FailPhase(pState, L"Could not start refreshing.", hrStart);
    } else {
        WriteLog(L"ProcFirstCHGC", __LINE__, L"リフレッシュを開始します battery = %d\n",
                 pState->live.battery.load());
        WriteProgressLog(pState->live.battery, kProgressInformation, L"Start refreshing.");
        RecordRefreshStart(pState);
    }
    ArmTickTimer(hWnd, kTickAfterStartMs);
    return hrStart;
}

HRESULT ProcRefresh(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState) {
    HRESULT hr = EnterPhase(L"ProcRefresh", __LINE__, pPipe, pBattery, pState);
    if (FAILED(hr))
        return hr;

    const unsigned capacity = pState->capacity;
    SetProgress(pPipe, pState, CalcRefreshingProgress(capacity));
    WriteLog(L"ProcRefresh", __LINE__, L"ProcRefresh progress=%d\n", pState->live.progress.load());
    WriteProgressLog(pState->live.battery, L"REFRESHING (Progress:%d %%, Capacity:%d %%)",
                     pState->live.progress.load(), capacity);

    DWORD flags = 0;
    hr = pBattery->AslMethodPSTS(&flags);
    if (FAILED(hr)) {
        LogRefreshError(IDS_ERR_REFRESH_STATUS, static_cast<DWORD>(hr));
        return FailPhase(pState, nullptr, hr);
    }
    WriteLog(L"ProcRefresh", __LINE__, L"リフレッシュステータス ADPC=%x / CHGC=%x\n",
             flags & PSTS_ADPC, flags & PSTS_CHGC);

    switch (ClassifyRefreshFlags(flags)) {
    case RefreshFlagsState::Released:
        // The firmware gave the refresh up. After a sleep that is the sleep's
        // doing (status 6); otherwise the phase failed.
        WriteLog(L"ProcRefresh", __LINE__, L"リフレッシュ解除されました bSuspend=%d\n",
                 pState->suspended ? 1 : 0);
        if (!pState->suspended)
            return FailPhase(pState, nullptr, E_FAIL);
        ReportRefreshAbort(hWnd, pPipe, pState, REFRESH_STATUS_RESUMED, false);
        return S_OK;
    case RefreshFlagsState::Discharging: {
        const DWORD limit = GetRegRefreshLimit();
        WriteLog(L"ProcRefresh", __LINE__, L"ProcRefresh dwLimit=%d per=%d\n", limit, capacity);
        if (ShouldStopDischarge(limit, capacity)) {
            WriteLog(L"ProcRefresh", __LINE__, L"ADPC = 1\n");
            hr = pBattery->AslMethodADPC(ADPC_END_REFRESH);
            if (FAILED(hr)) {
                LogRefreshError(IDS_ERR_ADPC, static_cast<DWORD>(hr));
                return FailPhase(pState, L"Could not stop refreshing.", hr);
            }
            // The power-status change that follows brings the next tick.
            return S_OK;
        }
        break;
    }
    case RefreshFlagsState::Ended:
        AdvanceTo(pPipe, pState, REFRESH_MODE_COOLDOWN1);
        WriteProgressLog(pState->live.battery, kProgressInformation, L"Start cool down.");
        break;
    case RefreshFlagsState::ChgcOnly:
        break;
    }
    ArmTickTimer(hWnd, kTickPhaseMs);
    return S_OK;
}

HRESULT ProcCoolDown1(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState) {
    const HRESULT hr = EnterPhase(L"ProcCoolDown1", __LINE__, pPipe, pBattery, pState);
    if (FAILED(hr))
        return hr;

    const LONGLONG elapsed =
        ElapsedCoolDownMinutes(pState->coolDown1[BatteryIndex(pState->live.battery)]);
    const DWORD coolDownTime = GetRegRefreshCoolDownTime();
    if (coolDownTime > 0)
        SetProgress(pPipe, pState, CalcCoolDown1Progress(elapsed, coolDownTime));
    WriteLog(L"ProcCoolDown1", __LINE__, L"ProcCoolDown1 progress=%d\n",
             pState->live.progress.load());
    WriteLog(L"ProcCoolDown1", __LINE__, L"経過時間=%d / １次冷却時間=%d\n",
             static_cast<int>(elapsed), coolDownTime);
    WriteProgressLog(pState->live.battery, L"COOLDOWN1  (Progress:%d %%)",
                     pState->live.progress.load());

    if (IsCoolDown1Over(elapsed, coolDownTime)) {
        AdvanceTo(pPipe, pState, REFRESH_MODE_COOLDOWN2);
        WriteProgressLog(pState->live.battery, kProgressInformation, L"Start cool down2.");
    }
    ArmTickTimer(hWnd, kTickPhaseMs);
    return S_OK;
}

HRESULT ProcCoolDown2(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState) {
    HRESULT hr = EnterPhase(L"ProcCoolDown2", __LINE__, pPipe, pBattery, pState);
    if (FAILED(hr))
        return hr;

    const LONGLONG elapsed =
        ElapsedCoolDownMinutes(pState->coolDown2[BatteryIndex(pState->live.battery)]);
    const DWORD coolDownLimit = GetRegRefreshCoolDownLimit();
    if (coolDownLimit > 0)
        SetProgress(pPipe, pState, CalcCoolDown2Progress(elapsed, coolDownLimit));
    WriteLog(L"ProcCoolDown2", __LINE__, L"ProcCoolDown2 progress=%d\n",
             pState->live.progress.load());

    BBST status = {};
    const DWORD temperature =
        SUCCEEDED(pBattery->AslMethodBBST(&status)) ? status.dwTemperature : 0;
    WriteLog(L"ProcCoolDown2", __LINE__, L"dwTemp=%d / 経過時間=%d / 最大時間=%d\n", temperature,
             static_cast<int>(elapsed), coolDownLimit);
    WriteProgressLog(pState->live.battery, L"COOLDOWN2  (Progress:%d %%, %04X)",
                     pState->live.progress.load(), temperature);

    if (!IsCoolDown2Over(temperature, GetRegRefreshCoolDownTemp(), elapsed, coolDownLimit)) {
        ArmTickTimer(hWnd, kTickPhaseMs);
        return S_OK;
    }

    const DWORD stage = EndRefresh(pBattery);
    if (stage != 0) {
        LogRefreshError(IDS_ERR_REFRESH_END, stage);
        return FailPhase(pState, L"Could not change refresh mode.", E_FAIL);
    }

    if (pState->chargeModeReleased || pState->chargeModeMarked) {
        WriteLog(L"ProcCoolDown2", __LINE__, L"充電モードを元に戻します。\n");
        WriteLog(L"ProcCoolDown2", __LINE__, L"充電モード = %d\n", pState->savedChargeMode & 0x7F);
        pState->savedChargeMode = ChargeModeToGiveBack(
            pBattery->GetBattNo(), NormalizeChargeMode(pState->savedChargeMode));
        hr = pBattery->AslMethodWBCL(pState->savedChargeMode);
        if (FAILED(hr)) {
            LogRefreshError(IDS_ERR_CHARGE_MODE_RESTORE, GetLastError());
            return FailPhase(pState, L"Could not change Charge Mode.", hr);
        }
        pState->chargeModeReleased = false;
        pState->chargeModeMarked = false;
        ForgetOriginalChargeMode(pBattery->GetBattNo());
        WriteProgressLog(pState->live.battery, L"INFORMATION %s (%04X)", L"Changed charge mode.",
                         pState->savedChargeMode);
    }

    AdvanceTo(pPipe, pState, REFRESH_MODE_CHARGING2);
    WriteLog(L"ProcCoolDown2", __LINE__, L"２回目充電に移行\n");
    WriteProgressLog(pState->live.battery, kProgressInformation, L"Start charging, again.");
    return S_OK;
}

HRESULT ProcSecondCHGC(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery,
                       RefreshPhaseState* pState) {
    UNREFERENCED_PARAMETER(hWnd);
    HRESULT hr = EnterPhase(L"ProcSecondCHGC", __LINE__, pPipe, pBattery, pState);
    if (FAILED(hr))
        return hr;

    const unsigned capacity = pState->capacity;
    SetProgress(pPipe, pState, CalcSecondChargeProgress(capacity, pState->savedChargeMode));
    WriteLog(L"ProcSecondCHGC", __LINE__, L"ProcSecondCHGC progress=%d\n",
             pState->live.progress.load());
    WriteProgressLog(pState->live.battery, L"CHARGING2  (Progress:%d %%, Capacity:%d %%)",
                     pState->live.progress.load(), capacity);

    SYSTEM_POWER_STATUS sps;
    hr = ReadChargePhasePowerStatus(pBattery, pState, &sps);
    if (FAILED(hr))
        return hr;
    hr = KeepChargePhaseMode(pBattery, pState, false);
    if (FAILED(hr))
        return hr;

    const DWORD completeMax = GetRegBatteryChargeCompleteMax();
    const bool chargingNow = WaitForChargingState(CHARGING_FLAG_CHARGING, pBattery) != FALSE;
    if (chargingNow)
        WriteLog(L"ProcSecondCHGC", __LINE__, L"バッテリ充電中\n");
    switch (DecideSecondCharge(capacity, completeMax, chargingNow, pState->chargingSeen)) {
    case SecondChargeStep::Stay:
        WriteLog(L"ProcSecondCHGC", __LINE__, L"バッテリ充電量不足 (%d ％)\n", capacity);
        return S_OK;
    case SecondChargeStep::Retry:
        WriteLog(L"ProcSecondCHGC", __LINE__, L"バッテリ充電フラグが立っていないため、リトライ.\n");
        return S_OK;
    case SecondChargeStep::Complete:
        break;
    }

    // The capacity was read before the charge was found ended: a battery
    // that reached its level in between (or a full charge the firmware
    // ends below 100 %) is done all the same, and the run ends at 100.
    if (pState->live.progress.load() < 100) {
        SetProgress(pPipe, pState, 100);
        WriteProgressLog(pState->live.battery, L"CHARGING2  (Progress:%d %%, Capacity:%d %%)",
                         pState->live.progress.load(), capacity);
    }
    WriteLog(L"ProcSecondCHGC", __LINE__, L"２回目充電完了%d％\n", capacity);
    LogPowerState(pBattery, L"ProcSecondCHGC", __LINE__);
    WriteProgressLog(pState->live.battery, kProgressInformation, L"Start finalizing.");
    StopChargeOtherBattery(pBattery, FALSE);
    pState->live.mode = REFRESH_MODE_DONE;
    return S_OK;
}

HRESULT ProcComplete(CPipeToDlg* pPipe, HWND hWnd, CBattery* pBattery, RefreshPhaseState* pState,
                     bool bFinish) {
    HRESULT hr = EnterPhase(L"ProcComplete", __LINE__, pPipe, pBattery, pState);
    if (FAILED(hr))
        return hr;
    WriteLog(L"ProcComplete", __LINE__, L"ProcComplete: start!mode = %d,bFinish = %d",
             pState->live.mode.load(), bFinish ? 1 : 0);

    RecordRefreshEnd(pState, REFRESH_STATUS_COMPLETED);
    SYSTEMTIME today = {};
    GetLocalTime(&today);
    hr = pBattery->SetLastRefreshDay(&today);
    if (FAILED(hr))
        LogRefreshError(IDS_ERR_REFRESH_DATE, static_cast<DWORD>(hr));
    else
        pBattery->SetFirstCheckPointRefreshDay(&today, FALSE);
    ReportRefreshCompleted(pBattery, &pState->events);

    if (bFinish) {
        WriteLog(L"ProcComplete", __LINE__, L"No more battery need to be refresh!");
        if (GetRefreshStartup().switchResv) {
            hr = DelRegRefreshResevation();
            if (FAILED(hr))
                LogRefreshError(IDS_ERR_RESERVATION_DELETE, static_cast<DWORD>(hr));
        }
        const int scheduler = CheckSchedulerUser();
        if (scheduler != PIPE_USER_SAME)
            SetLastRefreshStatus(hWnd, REFRESH_STATUS_COMPLETED);
        if (scheduler == PIPE_USER_NONE) {
            WriteLog(L"ProcComplete", __LINE__, L"休止に移行するか判定します\n");
            if (GetRefreshStartup().switchSleep) {
                WriteLog(L"ProcComplete", __LINE__, L"休止に移行します\n");
                if (!SetSuspendState(FALSE, FALSE, FALSE))
                    LogRefreshError(IDS_ERR_SUSPEND, GetLastError());
            }
        }
        WriteLog(L"ProcComplete", __LINE__, L"リフレッシュ完了\n");
        WriteProgressLog(pState->live.battery, kProgressCompleted);
        SendModeNotice(pPipe, pState);
        // Destroys the window; its clean-up runs before this returns.
        SendMessageW(hWnd, WM_CLOSE, 0, 0);
    }
    WriteLog(L"ProcComplete", __LINE__, L"ProcComplete: end!");
    return S_OK;
}

// ---------------------------------------------------------------------------
// Dispatcher

void RunRefreshPhases(HWND hWnd, RefreshQueue* pQueue, CPipeToDlg* pPipe,
                      RefreshPhaseState* pState) {
    WriteLog(L"RunRefreshPhases", __LINE__, L"WM_USER_REFPROC mode=%d", pState->live.mode.load());
    if (pState->aborted) {
        // The refresh is over; the window only waits for the main screen's
        // answer or the close timer.
        KillTimer(hWnd, REFRESH_TIMER_TICK);
        return;
    }
    // The phases wait for power events, and a missed one would stall the
    // refresh for good: timer 1 looks again within a minute whatever
    // happens. A phase that wants an earlier look arms it anew.
    ArmTickTimer(hWnd, kTickPhaseMs);
    if (pState->battery)
        pState->capacity = pState->battery->GetRemainingPercent();

    HRESULT hr = S_OK;
    if (pState->live.mode == REFRESH_MODE_CHARGING1)
        hr = ProcFirstCHGC(pPipe, hWnd, pState->battery, pState);
    if (pState->live.mode == REFRESH_MODE_REFRESHING && SUCCEEDED(hr))
        hr = ProcRefresh(pPipe, hWnd, pState->battery, pState);
    if (pState->live.mode == REFRESH_MODE_COOLDOWN1 && SUCCEEDED(hr))
        hr = ProcCoolDown1(pPipe, hWnd, pState->battery, pState);
    if (pState->live.mode == REFRESH_MODE_COOLDOWN2 && SUCCEEDED(hr))
        hr = ProcCoolDown2(pPipe, hWnd, pState->battery, pState);
    if (pState->live.mode == REFRESH_MODE_CHARGING2 && SUCCEEDED(hr))
        hr = ProcSecondCHGC(pPipe, hWnd, pState->battery, pState);
    if (pState->live.mode == REFRESH_MODE_DONE && SUCCEEDED(hr)) {
        CBattery* pFinished = pState->battery;
        if (pQueue && !pQueue->empty())
            pQueue->pop_front();
        WriteLog(L"RunRefreshPhases", __LINE__, L"Complete!");
        if (!pQueue || pQueue->empty()) {
            WriteLog(L"RunRefreshPhases", __LINE__, L"No more batteries!");
            ProcComplete(pPipe, hWnd, pFinished, pState, true);
        } else {
            WriteLog(L"RunRefreshPhases", __LINE__, L"refresh next battery!");
            ProcComplete(pPipe, hWnd, pFinished, pState, false);
            BeginNextBattery(hWnd, pQueue, pState);
        }
        // The last battery's completion (or a failed start of the next one)
        // has closed the window: nobody is left to tell.
        if (!IsWindow(hWnd))
            return;
    }

    switch (DecideErrorFollowUp(pState->errorArmed, pState->live.mode, hr)) {
    case ErrorFollowUp::RepeatNotice:
        WriteLog(L"RunRefreshPhases", __LINE__, L"Refresh Error! code = %d", pState->errorCode);
        if (pPipe)
            pPipe->ResendAll(WM_USER_REFERROR, static_cast<ULONGLONG>(pState->errorCode),
                             pState->live.battery);
        break;
    case ErrorFollowUp::ErrorTail:
        RunErrorTail(hWnd, pPipe, pState);
        break;
    case ErrorFollowUp::None:
        break;
    }
}

} // namespace zbrefresh
