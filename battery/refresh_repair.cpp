#include "battery/refresh_repair.h"

#include "battery/battery.h"
#include "common/log.h"
#include "common/settings.h"

namespace {

void RepairBattery(CBattery* pBattery) {
    const UINT battNo = pBattery->GetBattNo();
    DWORD mode = 0;
    if (GetRecordedChargeMode(battNo, &mode)) {
        mode = ChargeModeToGiveBack(battNo, mode);
        WriteLog(L"RepairAfterInterruptedRefresh", __LINE__,
                 L"Battery %u: charge mode %u given back after an interrupted refresh.\n", battNo,
                 mode);
        if (SUCCEEDED(pBattery->AslMethodWBCL(mode)))
            ForgetOriginalChargeMode(battNo);
        else
            WriteLog(L"RepairAfterInterruptedRefresh", __LINE__,
                     L"Battery %u: the charge mode could not be written.\n", battNo);
    }

    DWORD flags = 0;
    if (FAILED(pBattery->AslMethodPSTS(&flags)))
        return;
    if ((flags & PSTS_ADPC) && (flags & PSTS_CHGC))
        return;
    WriteLog(L"RepairAfterInterruptedRefresh", __LINE__,
             L"Battery %u: refresh left on (ADPC=%x / CHGC=%x); ending it.\n", battNo,
             flags & PSTS_ADPC, flags & PSTS_CHGC);
    const DWORD stage = EndBatteryRefresh(pBattery);
    if (stage != 0)
        WriteLog(L"RepairAfterInterruptedRefresh", __LINE__,
                 L"Battery %u: ending the refresh failed (%u).\n", battNo, stage);
}

} // namespace

void RecordOriginalChargeMode(UINT uiBattNo, DWORD dwMode) {
    DWORD recorded = 0;
    if (GetRecordedChargeMode(uiBattNo, &recorded))
        return;
    if (FAILED(SetRegRefreshOriginalMode(uiBattNo, dwMode)))
        WriteLog(L"RecordOriginalChargeMode", __LINE__,
                 L"Battery %u: charge mode %u could not be recorded.\n", uiBattNo, dwMode);
}

bool GetRecordedChargeMode(UINT uiBattNo, DWORD* pdwMode) {
    return SUCCEEDED(GetRegRefreshOriginalMode(uiBattNo, pdwMode));
}

void ForgetOriginalChargeMode(UINT uiBattNo) {
    DelRegRefreshOriginalMode(uiBattNo);
}

void OwnerChargeModeWritten(UINT uiBattNo) {
    DWORD recorded = 0;
    if (!GetRecordedChargeMode(uiBattNo, &recorded))
        return;
    WriteLog(L"OwnerChargeModeWritten", __LINE__,
             L"Battery %u: the owner's charge mode replaces recorded mode %u.\n", uiBattNo,
             recorded);
    const HRESULT hr = DelRegRefreshOriginalMode(uiBattNo);
    if (FAILED(hr))
        WriteLog(L"OwnerChargeModeWritten", __LINE__,
                 L"Battery %u: the record could not be deleted. hr: %08x.\n", uiBattNo, hr);
}

DWORD ChargeModeToGiveBack(UINT uiBattNo, DWORD dwOwnerMode) {
    // A battery marked as needing a refresh keeps its mark until the refresh.
    DWORD policy = 0;
    if ((dwOwnerMode & CHARGEMODE_REFRESH_NEEDED) || !GetPolicyChargeMode(&policy))
        return dwOwnerMode;
    if (policy != dwOwnerMode)
        WriteLog(L"ChargeModeToGiveBack", __LINE__,
                 L"Battery %u: the administrator's charge mode %u is given back instead of %u.\n",
                 uiBattNo, policy, dwOwnerMode);
    return policy;
}

void SetEveryChargeModeFull(void (*onFailure)(UINT uiBattNo, HRESULT hr)) {
    CBatteryArray batteries;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = batteries.GetBattery(battNo);
        if (!pBattery || !pBattery->IsChargeModeSupported())
            continue;
        const HRESULT hr = pBattery->SetChargeMode(CHARGEMODE_FULL);
        if (FAILED(hr) && onFailure)
            onFailure(battNo, hr);
    }
}

void PauseBetweenRefreshSwitches() {
    const DWORD delay = GetRegADCHDelay();
    if (delay != 0)
        Sleep(delay);
}

DWORD EndBatteryRefresh(CBattery* pBattery) {
    if (!pBattery) {
        LogNullArg(L"EndBatteryRefresh", __LINE__, L"pBattery");
        return 2;
    }
    if (FAILED(pBattery->AslMethodADPC(ADPC_END_REFRESH)))
        return 2;
    PauseBetweenRefreshSwitches();
    if (FAILED(pBattery->AslMethodCHGC(CHGC_NORMAL)))
        return 1;
    return 0;
}

void RepairAfterInterruptedRefresh() {
    CBatteryArray batteries;
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        CBattery* pBattery = batteries.GetBattery(battNo);
        if (pBattery)
            RepairBattery(pBattery);
    }
}
