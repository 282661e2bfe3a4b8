// The routine battery check: warnings about worn batteries (notification,
// warning dialog, and charging switched off for the worst), the periodic
// refresh reminder without nagging, and the charge mode a cut-off refresh
// left at "no charge".
#include "sched/sched.h"

#include "battery/battery.h"
#include "battery/history.h"
#include "battery/refresh_repair.h"
#include "common/handles.h"
#include "common/log.h"
#include "common/notify_icon.h"
#include "common/settings.h"
#include "common/toast.h"
#include "common/util.h"
#include "ipc/contract.h"
#include "sched/resource.h"
#include "sched/sched_logic.h"

namespace zbsched {

namespace {

constexpr size_t kTextCch = 260;

struct ResText {
    WCHAR text[kTextCch];
    ResText(HINSTANCE hInstance, UINT uId) : text() {
        LoadStringW(hInstance, uId, text, static_cast<int>(ARRAYSIZE(text)));
    }
    operator LPCWSTR() const { return text; }
};

void WriteSchedError(HINSTANCE hInstance, UINT uId, DWORD dwCode) {
    WriteErrorLog(uId, ERRLOG_CAPTION_ID, ERRLOG_FILE, dwCode, hInstance);
}

HRESULT DisplayToastLogged(HINSTANCE hInstance, UINT nKind, UINT uTextId) {
    const ResText text(hInstance, uTextId);
    const KX_NTF_TOAST_REQUEST request = MakeToastRequest(nKind, text);
    const HRESULT hr = GetToastLibrary().DisplayToast(&request);
    if (FAILED(hr))
        WriteLog(L"StartDaySetting", __LINE__, L"Fail To KX_NTF_DisplayToast. hr: %08x.\n", hr);
    return hr;
}

// One kind of notification: its icon, its balloon and its toast.
struct Notice {
    UINT tip;
    UINT icon;
    UINT balloon;
    UINT toastKind;
    UINT toastText;
    LPCWSTR iconFailure; // trace format of a failed icon
    bool needsIcon;      // nothing more is shown without the icon
};

constexpr Notice kWarningNotice = {IDS_WARNING_TIP,
                                   IDI_TRAY_WARNING,
                                   IDS_WARNING_BALLOON,
                                   3,
                                   IDS_WARNING_TOAST,
                                   L"Fail to AddNotifyIcon(). dwRet: %08x.",
                                   true};
constexpr Notice kCautionNotice = {IDS_CAUTION_TIP,
                                   IDI_TRAY_CAUTION,
                                   IDS_CAUTION_BALLOON,
                                   2,
                                   IDS_CAUTION_TOAST,
                                   L"Failed To AddNotifyIcon. dwRet: %08x.",
                                   false};
constexpr Notice kChargeModeNotice = {IDS_CHARGEMODE_TIP,
                                      IDI_SMALL,
                                      IDS_CHARGEMODE_BALLOON,
                                      9,
                                      IDS_CHARGEMODE_TOAST,
                                      L"Failed To AddNotifyIcon. dwRet: %08x.",
                                      false};

// The icon, then the toast or the warning balloon on the caution icon.
void ShowHealthNotice(HWND hWnd, SchedState& state, const Notice& notice) {
    const ResText tip(state.instance, notice.tip);
    const DWORD dwRet = AddNotifyIcon(hWnd, tip, notice.icon, &state.notif);
    if (dwRet != 0) {
        WriteLog(L"StartDaySetting", __LINE__, notice.iconFailure, dwRet);
        if (notice.needsIcon)
            return;
    }
    if (GetToastLibrary().IsToastMode()) {
        DisplayToastLogged(state.instance, notice.toastKind, notice.toastText);
        return;
    }
    const ResText title(state.instance, IDS_WARNING_TITLE);
    const ResText text(state.instance, notice.balloon);
    const DWORD dwBalloon = OpenBalloonCaution(hWnd, title, text, tip, notice.icon, &state.notif);
    if (dwBalloon != 0)
        WriteLog(L"StartDaySetting", __LINE__, L"Fail to OpenBalloonCaution(). dwRet: %08x.",
                 dwBalloon);
}

void ResetHideFlag(int nWarningType, DWORD dwBattNo) {
    const HRESULT hr = SetRegHideWarningDialog(nWarningType, 0, dwBattNo);
    if (FAILED(hr))
        WriteLog(L"StartDaySetting", __LINE__, L"Fail to SetRegHideWarningDialog(). hr: %08x.", hr);
}

// The health pass of one battery; true when it was warned about.
bool CheckBatteryHealth(HWND hWnd, SchedState& state, CBattery& battery) {
    const DWORD dwBattNo = battery.GetBattNo();
    if (FAILED(battery.InitStartDay()))
        WriteSchedError(state.instance, IDS_ERR_START_DAY_INIT, 0);
    SYSTEM_POWER_STATUS sps = {};
    if (!GetPowerStatusDoubleCheck(&sps, &battery) || sps.BatteryFlag == 255 ||
        sps.BatteryLifePercent == 0 || (sps.BatteryFlag & 0x80))
        return false;
    const DWORD dwHealth = battery.GetBatteryHealth();
    if (dwHealth == BATTERY_HEALTH_WARNING) {
        WriteLog(L"StartDaySetting", __LINE__, L"(health == BATTERY_HEALTH_WARNING");
        ShowHealthNotice(hWnd, state, kWarningNotice);
        OpenWarningDialog(hWnd, state, WARNINGTYPE_DETERIORATION, dwBattNo);
        ResetHideFlag(WARNINGTYPE_CAUTION, dwBattNo);
        return true;
    }
    if (dwHealth == BATTERY_HEALTH_CAUTION) {
        WriteLog(L"StartDaySetting", __LINE__, L"(health == BATTERY_HEALTH_CAUTION");
        ShowHealthNotice(hWnd, state, kCautionNotice);
        if (!battery.IsBatteryChargeDisabled()) {
            const HRESULT hr = battery.SetFlagDisableBatteryCharge(TRUE);
            if (FAILED(hr))
                WriteLog(L"StartDaySetting", __LINE__,
                         L"Fail to SetFlagDisableBatteryCharge(TRUE). hr: %08x.", hr);
        }
        OpenWarningDialog(hWnd, state, WARNINGTYPE_CAUTION, dwBattNo);
        return true;
    }
    ResetHideFlag(WARNINGTYPE_DETERIORATION, dwBattNo);
    ResetHideFlag(WARNINGTYPE_CAUTION, dwBattNo);
    DWORD dwMode = 0;
    if (battery.IsChargeModeSupported() && SUCCEEDED(battery.GetChargeMode(&dwMode)) &&
        dwMode >= CHARGEMODE_REFRESH_NEEDED)
        ShowHealthNotice(hWnd, state, kChargeModeNotice);
    return false;
}

DWORD AddReminderIcon(HWND hWnd, SchedState& state) {
    const ResText tip(state.instance, IDS_REMINDER_TIP);
    const DWORD dwRet = AddNotifyIcon(hWnd, tip, IDI_SMALL, &state.notif);
    if (dwRet != 0)
        WriteSchedError(state.instance, IDS_ERR_ADD_ICON, dwRet);
    return dwRet;
}

DWORD ShowReminderBalloon(HWND hWnd, SchedState& state, UINT uTextId, DWORD dwStyle) {
    const ResText title(state.instance, IDS_REMINDER_TITLE);
    const ResText text(state.instance, uTextId);
    const DWORD dwRet = OpenBalloonEx(hWnd, title, text, IDI_SMALL, dwStyle, &state.notif);
    if (dwRet != 0)
        WriteSchedError(state.instance, IDS_ERR_BALLOON, dwRet);
    return dwRet;
}

// The overdue reminder; bGuardToast: the toast is shown only while none is
// on screen (batteries without charge modes).
void ShowOverdueReminder(HWND hWnd, SchedState& state, bool bGuardToast) {
    AddReminderIcon(hWnd, state);
    if (!IsBalloonDue())
        return;
    if (!GetToastLibrary().IsToastMode()) {
        ShowReminderBalloon(hWnd, state, IDS_OVERDUE_BALLOON, BALLOON_WARNING);
        return;
    }
    if (bGuardToast && state.toastShowing) {
        WriteLog(L"StartDaySetting", __LINE__, L"Toast is Showing!...........");
        return;
    }
    // Only a toast on screen holds back the next one: after a failed display
    // the library never reports an end that would clear the flag.
    const HRESULT hr = DisplayToastLogged(state.instance, 4, IDS_REMINDER_TOAST);
    if (bGuardToast && SUCCEEDED(hr))
        state.toastShowing = true;
    WriteLog(L"StartDaySetting", __LINE__, L"Showing log........... hr: %08x.", hr);
}

void ShowChargeModeReminder(HWND hWnd, SchedState& state, const SYSTEMTIME& now,
                            const SYSTEMTIME& last, int nMonths) {
    if (IsChargeModeRefBalloonDue(last, nMonths)) {
        AddReminderIcon(hWnd, state);
        if (GetToastLibrary().IsToastMode())
            DisplayToastLogged(state.instance, nMonths == 1 ? 5 : 6, IDS_REMINDER_TOAST);
        else
            ShowReminderBalloon(hWnd, state,
                                nMonths == 1 ? IDS_ONE_MONTH_BALLOON : IDS_TWO_MONTHS_BALLOON,
                                BALLOON_INFO);
    }
    const HRESULT hr = SetRegChargeModeRefBalloon(&now);
    if (FAILED(hr))
        WriteLog(L"StartDaySetting", __LINE__, L"Fail to SetRegChargeModeRefBalloon(). hr: %08x.",
                 hr);
}

enum class PassResult { kNext, kStop };

// The reminder pass of one battery; kStop once a reminder stage is reached
// (at most one reminder per run) or the routine must end.
PassResult CheckBatteryReminder(HWND hWnd, SchedState& state, CBattery* pBattery, UINT battNo,
                                const SYSTEMTIME& now) {
    SYSTEMTIME reserved = {};
    if (SUCCEEDED(GetRegRefreshResevation(battNo == 1 ? RESERVATION_BATT1 : RESERVATION_BATT2,
                                          &reserved)) &&
        CompareSystemTime(&reserved, &now) > 0)
        return PassResult::kNext;
    if (!pBattery)
        return PassResult::kNext;
    SYSTEMTIME start = {};
    BOOL bDisable = FALSE;
    if (FAILED(pBattery->GetStartDay(&start, &bDisable))) {
        WriteSchedError(state.instance, IDS_ERR_START_DAY_READ, 0);
        return PassResult::kNext;
    }
    if (IsStartDayUnset(start))
        return PassResult::kNext;
    if (!IsPassedMonth(static_cast<int>(GetRegRefreshIntervalFirst()), &start, &now)) {
        pBattery->DelFirstCheckPointRefreshDay();
        return PassResult::kNext;
    }
    SYSTEMTIME checkPoint = {};
    if (FAILED(pBattery->GetFirstCheckPointRefreshDay(&checkPoint))) {
        ShowBalloon(nullptr, hWnd, false, state);
        return PassResult::kStop;
    }
    if (!IsPassedMonth(static_cast<int>(GetRegRefreshIntervalSecond()), &checkPoint, &now))
        return PassResult::kNext;

    SYSTEMTIME last = {};
    if (FAILED(pBattery->GetLastRefreshDay(&last)))
        last = start;
    const int nInterval = static_cast<int>(GetRegRefreshInterval());
    bool bGuardToast = true;
    bool bReduced = false;
    if (pBattery->IsChargeModeSupported()) {
        DWORD dwMode = 0;
        if (FAILED(pBattery->GetChargeMode(&dwMode)))
            return PassResult::kNext;
        bGuardToast = false;
        bReduced = dwMode != CHARGEMODE_FULL;
    }
    switch (GetReminderStage(now, last, nInterval, bReduced)) {
    case ReminderStage::kNone:
        return PassResult::kNext;
    case ReminderStage::kOneMonth:
        ShowChargeModeReminder(hWnd, state, now, last, 1);
        return PassResult::kStop;
    case ReminderStage::kTwoMonths:
        ShowChargeModeReminder(hWnd, state, now, last, 2);
        return PassResult::kStop;
    case ReminderStage::kOverdue:
    default:
        ShowOverdueReminder(hWnd, state, bGuardToast);
        return PassResult::kStop;
    }
}

void RunDaySetting(HWND hWnd, SchedState& state) {
    WriteLog(L"StartDaySetting", __LINE__, L"StartDaySetting begin");
    if (!FileExistsCurrentPath(MAIN_EXE_NAME) || FindWindowW(MAIN_WINDOW_CLASS, nullptr))
        return;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    if (FAILED(SetRegLastBatteryStatusCheckTime(&now)))
        WriteLog(L"StartDaySetting", __LINE__,
                 L"Fail to SetRegLastBatteryStatusCheckTime(%d/%d/%d %d:%d).", now.wYear,
                 now.wMonth, now.wDay, now.wHour, now.wMinute);

    // Fresh battery objects for every run: a battery may have been swapped
    // since the last one.
    CBatteryArray batteries;
    // The day's history row comes first: the warnings below may end the run.
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = batteries.GetBattery(battNo);
        if (!pBattery)
            continue;
        const HRESULT hr = zbhistory::RecordDailyCheck(*pBattery);
        if (FAILED(hr))
            WriteLog(L"StartDaySetting", __LINE__,
                     L"Fail to RecordDailyCheck() of battery %u. hr: %08x.", battNo, hr);
    }
    bool bWarned = false;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = batteries.GetBattery(battNo);
        if (pBattery && CheckBatteryHealth(hWnd, state, *pBattery))
            bWarned = true;
    }
    if (bWarned)
        return;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        if (CheckBatteryReminder(hWnd, state, batteries.GetBattery(battNo), battNo, now) ==
            PassResult::kStop)
            return;
    }
}

} // namespace

HRESULT StartDaySetting(HWND hWnd, SchedState& state) {
    zb::UniqueHandle guard(CreateMutexW(nullptr, FALSE, ROUTINE_MUTEX_NAME));
    const DWORD dwErr = GetLastError();
    // Only another run holding the mutex stops this one; a mutex that could
    // not be made at all leaves the check unguarded rather than skipped.
    if (dwErr == ERROR_ALREADY_EXISTS || dwErr == ERROR_ACCESS_DENIED) {
        WriteLog(L"StartDaySetting", __LINE__,
                 L"===============StartDaySetting re-enter, exit!===============.\n");
        return E_FAIL;
    }
    RunDaySetting(hWnd, state);
    return S_OK;
}

bool IsBalloonDue() {
    SYSTEMTIME balloon = {}, now = {};
    GetLocalTime(&now);
    const bool bStored = SUCCEEDED(GetRegBalloon(&balloon));
    return IsBalloonDueAt(bStored, balloon, now);
}

bool IsChargeModeRefBalloonDue(const SYSTEMTIME& last, int nMonths) {
    SYSTEMTIME stored = {};
    const bool bStored = SUCCEEDED(GetRegChargeModeRefBalloon(&stored));
    return IsChargeModeRefBalloonDueAt(bStored, stored, last, nMonths);
}

DWORD ShowBalloon(HWND hWnd, HWND hTarget, bool bForce, SchedState& state) {
    HINSTANCE hInstance = hWnd
                              ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWnd, GWLP_HINSTANCE))
                              : state.instance;
    if (!hInstance)
        return ERROR_INVALID_HANDLE;
    HWND hIconWnd = hTarget ? hTarget : hWnd;
    const ResText tip(hInstance, IDS_REMINDER_TIP);
    DWORD dwRet = AddNotifyIcon(hIconWnd, tip, IDI_SMALL, &state.notif);
    if (dwRet != 0)
        WriteSchedError(hInstance, IDS_ERR_ADD_ICON, dwRet);
    if (!bForce && !IsBalloonDue())
        return dwRet;
    if (GetToastLibrary().IsToastMode()) {
        const HRESULT hr = DisplayToastLogged(hInstance, 4, IDS_REMINDER_TOAST);
        WriteLog(L"ShowBalloon", __LINE__, L"Showing log........... hr: %08x.", hr);
        return dwRet;
    }
    const ResText title(hInstance, IDS_REMINDER_TITLE);
    const ResText text(hInstance, IDS_OVERDUE_BALLOON);
    dwRet = OpenBalloonEx(hIconWnd, title, text, IDI_SMALL, BALLOON_WARNING, &state.notif);
    if (dwRet != 0)
        WriteSchedError(hInstance, IDS_ERR_BALLOON, dwRet);
    return dwRet;
}

void CheckChargeMode() {
    WriteLog(L"CheckChargeMode", __LINE__, L"CheckChargeMode begin");
    const DWORD dwNotCharge = GetRegNotChargeLimit();
    CBatteryArray batteries;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = batteries.GetBattery(battNo);
        DWORD dwMode = 0;
        if (!pBattery || FAILED(pBattery->GetChargeMode(&dwMode)) || dwMode != dwNotCharge)
            continue;
        WriteLog(L"CheckChargeMode", __LINE__,
                 L"Charge Mode is CHARGEMODE_NOTCHARGE, revert to Full!");
        if (SUCCEEDED(pBattery->SetChargeMode(ChargeModeToGiveBack(battNo, CHARGEMODE_FULL))))
            WriteLog(L"CheckChargeMode", __LINE__, L"Revert Charge Mode Success!");
        else
            WriteLog(L"CheckChargeMode", __LINE__, L"Revert Charge Mode Failed!");
    }
}

void EnforcePolicyChargeMode() {
    DWORD policy = 0;
    if (!GetPolicyChargeMode(&policy))
        return;
    // A refresh holds its own modes and gives the enforced one back at its
    // end.
    if (IsRefreshToolRunning()) {
        WriteLog(L"EnforcePolicyChargeMode", __LINE__,
                 L"A refresh tool runs: the enforced charge mode waits for its end.\n");
        return;
    }
    CBatteryArray batteries;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = batteries.GetBattery(battNo);
        DWORD mode = 0;
        if (!pBattery || !pBattery->IsChargeModeSupported() ||
            FAILED(pBattery->GetChargeMode(&mode)) || mode == policy)
            continue;
        // The mark charges the battery fully until its refresh; the refresh
        // ends by giving the enforced mode back.
        if (mode & CHARGEMODE_REFRESH_NEEDED)
            continue;
        const HRESULT hr = pBattery->SetChargeMode(policy);
        WriteLog(L"EnforcePolicyChargeMode", __LINE__,
                 L"Battery %u: charge mode %u replaced by the administrator's mode %u. hr: %08x.\n",
                 battNo, mode, policy, hr);
    }
}

} // namespace zbsched
