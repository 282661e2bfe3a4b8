#include "refresh/battery_select.h"

#include "battery/battery.h"
#include "battery/refresh_repair.h"
#include "common/log.h"
#include "common/settings.h"
#include "ipc/pipe.h"
#include "ipc/session_user.h"

namespace zbrefresh {

namespace {

// Outcomes this part stores (LastRefreshStatus).
constexpr DWORD kStatusBatteryCheckFailed = 3;
constexpr DWORD kStatusAcMissing = 5;

// The other battery's charge mode as StopChargeOtherBattery found it, and
// which battery it belongs to (0: nothing saved). Reverting writes it back
// only to that battery: in an all-batteries run the other battery changes
// from one battery to the next, and a mode read from one battery must never
// land on the other.
DWORD g_dwSavedOtherMode = 0;
UINT g_uiSavedOtherBattNo = 0;

struct BatteryCheckTexts {
    LPCWSTR readFailed;
    LPCWSTR flagUnknown;
};

constexpr BatteryCheckTexts kMainBatteryTexts = {
    L"[GetRefBattery]main battery powerstatus check failed!\n",
    L"[GetRefBattery]main battery powerstatus check failed BATTERY_FLAG_UNKNOWN!\n"};
constexpr BatteryCheckTexts kSecondBatteryTexts = {
    L"[GetRefBattery]secondary battery powerstatus check failed!\n",
    L"[GetRefBattery]secondary battery powerstatus check failed BATTERY_FLAG_UNKNOWN!\n"};

// Reads one battery's power status into *pStatus; false (status 3) when it
// cannot be refreshed.
bool CheckBattery(CBattery* pBattery, const BatteryCheckTexts& texts,
                  SYSTEM_POWER_STATUS* pStatus) {
    if (!GetPowerStatusDoubleCheck(pStatus, pBattery)) {
        WriteLog(L"GetRefBattery", __LINE__, texts.readFailed);
        return false;
    }
    if (pStatus->BatteryFlag == BATTERY_FLAG_UNKNOWN) {
        WriteLog(L"GetRefBattery", __LINE__, texts.flagUnknown);
        return false;
    }
    return pBattery->GetDesignCapacity() != 0 && !(pStatus->BatteryFlag & BATTERY_FLAG_NO_BATTERY);
}

bool FailRefreshStart(DWORD status) {
    SetLastRefreshStatus(nullptr, status);
    RunMainDlg(RUNMAINDLG_COMP);
    return false;
}

// Saves the other battery's mode and sets "NotChargeLimit"; 1 when the
// battery reads back that limit, or when there is no other battery.
int HoldOtherBattery(UINT otherNo) {
    if (CBatteryArray().GetCount() < 2)
        return 1;
    CBattery* pOther = GetRefreshBattery(otherNo);
    DWORD mode = 0;
    const HRESULT hrRead = pOther->AslMethodRBCL(&mode);
    WriteLog(L"StopChargeOtherBattery", __LINE__, L"stop charge 充電モード= %d\n", mode);
    if (FAILED(hrRead)) {
        WriteLog(L"StopChargeOtherBattery", __LINE__, L"Does not support ChargeMode.");
        g_uiSavedOtherBattNo = 0;
        return 0;
    }
    const DWORD limit = GetRegNotChargeLimit();
    // A battery found held off charging was held by a run that died; the
    // owner never chose that mode, so it gets full charging back unless a
    // record says what it had.
    if (mode == limit && !GetRecordedChargeMode(otherNo, &mode))
        mode = CHARGEMODE_FULL;
    g_dwSavedOtherMode = mode;
    g_uiSavedOtherBattNo = otherNo;
    if (mode & CHARGEMODE_REFRESH_NEEDED)
        return 0;
    RecordOriginalChargeMode(otherNo, mode);
    if (FAILED(pOther->AslMethodWBCL(limit)))
        return 0;
    DWORD readBack = 0;
    if (FAILED(pOther->AslMethodRBCL(&readBack)))
        return 0;
    return readBack == limit ? 1 : 0;
}

// Writes the saved mode back to the battery it was read from. This does not
// depend on both batteries still being there: when the refreshed battery is
// taken out, the held one must still get its mode back, or it would never
// charge again.
int RevertOtherBattery(UINT otherNo) {
    if (g_uiSavedOtherBattNo != otherNo) {
        WriteLog(L"StopChargeOtherBattery", __LINE__, L"No saved charge mode of battery %u.\n",
                 otherNo);
        return 1;
    }
    WriteLog(L"StopChargeOtherBattery", __LINE__, L"revert charge 充電モード= %d\n",
             g_dwSavedOtherMode);
    if (FAILED(GetRefreshBattery(otherNo)->AslMethodWBCL(
            ChargeModeToGiveBack(otherNo, g_dwSavedOtherMode))))
        return 0;
    // Absent, the battery keeps its record for whoever sees it next.
    ForgetOriginalChargeMode(otherNo);
    return 1;
}

} // namespace

CBattery* GetRefreshBattery(UINT uiBattNo) {
    // Made at the first ask, which is the tool's start-up, and never
    // destroyed before the process ends (the window keeps pointers to them).
    static CBattery battery1(1);
    static CBattery battery2(2);
    if (uiBattNo == 1)
        return &battery1;
    if (uiBattNo == 2)
        return &battery2;
    return nullptr;
}

bool GetRefBattery(RefreshQueue* pQueue) {
    CommandLineMap args;
    ParseCommandLine(args);
    return GetRefBattery(pQueue, args);
}

bool GetRefBattery(RefreshQueue* pQueue, const CommandLineMap& args) {
    if (!pQueue) {
        LogNullArg(L"GetRefBattery", __LINE__, L"pQueue");
        return false;
    }
    const bool b1 = args.count(L"/b1") != 0;
    const bool b2 = args.count(L"/b2") != 0;
    const bool all = !b1 && !b2;
    if (all)
        WriteLog(L"GetRefBattery", __LINE__, L"[GetRefBattery]Refresh all batteries!\n");

    SYSTEM_POWER_STATUS status = {};
    if (b1 || all) {
        WriteLog(L"GetRefBattery", __LINE__, L"[GetRefBattery]Refresh main battery!\n");
        CBattery* pBattery = GetRefreshBattery(1);
        if (!CheckBattery(pBattery, kMainBatteryTexts, &status))
            return FailRefreshStart(kStatusBatteryCheckFailed);
        pQueue->push_back(pBattery);
    }
    if (b2 || all) {
        CBattery* pBattery = GetRefreshBattery(2);
        if (!CheckBattery(pBattery, kSecondBatteryTexts, &status))
            return FailRefreshStart(kStatusBatteryCheckFailed);
        pQueue->push_back(pBattery);
    }
    if (status.ACLineStatus != AC_LINE_ONLINE) {
        WriteLog(L"GetRefBattery", __LINE__, L"[GetRefBattery]AC is not connected!\n");
        return FailRefreshStart(kStatusAcMissing);
    }
    if (args.count(L"/nomain") == 0)
        RunMainDlg(args.count(L"/sleep") ? RUNMAINDLG_ICON | RUNMAINDLG_SLEEP : RUNMAINDLG_ICON);
    return true;
}

void RunMainDlg(UINT64 code) {
    if (PipeCheckUser(PIPE3_NAME) != PIPE_USER_SAME)
        return;
    CPipe pipe;
    if (!pipe.PipeRetry(PIPE3_NAME, 50, 5))
        return;
    WriteLog(L"RunMainDlg", __LINE__, L"メインダイアログ起動します\n");
    PipeRecord record = {};
    record.message = WM_USER_RUNMAINDLG;
    record.wparam = code;
    pipe.Send(&record, sizeof(record));
    pipe.Close();
}

int StopChargeOtherBattery(CBattery* pBattery, BOOL bStop) {
    if (!pBattery) {
        LogNullArg(L"StopChargeOtherBattery", __LINE__, L"pBattery");
        return 0;
    }
    const UINT otherNo = pBattery->GetBattNo() == 1 ? 2 : 1;
    return bStop ? HoldOtherBattery(otherNo) : RevertOtherBattery(otherNo);
}

} // namespace zbrefresh
