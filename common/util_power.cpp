// The two battery-state retry loops: a power status worth judging, and a
// wanted charging state.
#include "common/util.h"

#include "common/log.h"
#include "common/settings.h"

#include <stddef.h>

namespace {

// SYSTEM_POWER_STATUS's fourth byte is Reserved1 in older SDKs and
// SystemStatusFlag in newer ones; reach it by position.
BYTE StatusFlagByte(const SYSTEM_POWER_STATUS& status) {
    return reinterpret_cast<const BYTE*>(
        &status)[offsetof(SYSTEM_POWER_STATUS, BatteryLifePercent) + 1];
}

bool IsValidBatteryFlag(BYTE flag) {
    return flag != 255 && (flag & 0x80) == 0;
}

} // namespace

int ChargingFlagFromBatteryFlag(BYTE bBatteryFlag) {
    if (bBatteryFlag == 255)
        return CHARGING_FLAG_UNKNOWN;
    if (bBatteryFlag & 0x80)
        return CHARGING_FLAG_NO_BATTERY;
    return (bBatteryFlag & 0x08) ? CHARGING_FLAG_CHARGING : CHARGING_FLAG_DISCHARGING;
}

BOOL GetPowerStatusDoubleCheck(LPSYSTEM_POWER_STATUS lpSyspow, IBatteryPowerSource* pBattery) {
    if (!lpSyspow) {
        LogNullArg(L"GetPowerStatusDoubleCheck", __LINE__, L"lpSyspow");
        return FALSE;
    }
    if (!pBattery) {
        LogNullArg(L"GetPowerStatusDoubleCheck", __LINE__, L"pBattery");
        return FALSE;
    }
    const DWORD tries = GetRegPowerSchemeTryCount();
    const DWORD waitMs = GetRegWaitPowerSchemeTime();
    for (DWORD attempt = 0; attempt < tries; ++attempt) {
        ZeroMemory(lpSyspow, sizeof(*lpSyspow));
        if (!pBattery->GetBatteryPowerStatus(lpSyspow)) {
            WriteLog(L"GetPowerStatusDoubleCheck", __LINE__, L"Fail to GetSystemPowerStatus().\n");
            return FALSE;
        }
        WriteLog(L"GetPowerStatusDoubleCheck", __LINE__,
                 L"SYSTEM_POWER_STATUS: ACLineStatus = %02x, BatteryFlag = %02x, "
                 L"BatteryLifePercent = %02x, Reserved1 = %02x, BatteryLifeTime = %02x, "
                 L"BatteryFullLifeTime = %02x\n",
                 lpSyspow->ACLineStatus, lpSyspow->BatteryFlag, lpSyspow->BatteryLifePercent,
                 StatusFlagByte(*lpSyspow), lpSyspow->BatteryLifeTime,
                 lpSyspow->BatteryFullLifeTime);
        if (IsValidBatteryFlag(lpSyspow->BatteryFlag)) {
            WriteLog(L"GetPowerStatusDoubleCheck", __LINE__,
                     L"GetSystemPowerStatus() Succeeded.  BatteryFlag: %02x\n",
                     lpSyspow->BatteryFlag);
            return TRUE;
        }
        WriteLog(L"GetPowerStatusDoubleCheck", __LINE__, L"Invalid BatteryFlag: %02x.\n",
                 lpSyspow->BatteryFlag);
        Sleep(waitMs);
    }
    // Still TRUE: the last reading (no battery, unknown) is the caller's to judge.
    WriteLog(L"GetPowerStatusDoubleCheck", __LINE__, L"GetSystemPowerStatus()  %d times tried.\n",
             tries);
    return TRUE;
}

int GetChargingFlag(IBatteryPowerSource* pBattery) {
    if (!pBattery) {
        LogNullArg(L"GetChargingFlag", __LINE__, L"pBattery");
        return CHARGING_FLAG_UNKNOWN;
    }
    SYSTEM_POWER_STATUS status = {};
    if (!pBattery->GetBatteryPowerStatus(&status)) {
        WriteLog(L"GetChargingFlag", __LINE__, L"Fail to GetSystemPowerStatus: %08x\n",
                 GetLastError());
        return CHARGING_FLAG_UNKNOWN;
    }
    WriteLog(L"GetChargingFlag", __LINE__,
             L"ACLineStatus = %02x, BatteryFlag = %02x, BatteryLifePercent = %02x, "
             L"Reserved1 = %02x, BatteryLifeTime = %02x, BatteryFullLifeTime = %02x\n",
             status.ACLineStatus, status.BatteryFlag, status.BatteryLifePercent,
             StatusFlagByte(status), status.BatteryLifeTime, status.BatteryFullLifeTime);
    const int flag = ChargingFlagFromBatteryFlag(status.BatteryFlag);
    WriteLog(L"GetChargingFlag", __LINE__, L"nSysPowFlag = %d", flag);
    return flag;
}

BOOL WaitForChargingState(int nChargingFlag, IBatteryPowerSource* pBattery) {
    WriteLog(L"WaitForChargingState", __LINE__, L"WaitForChangingState start\n");
    if (nChargingFlag != CHARGING_FLAG_DISCHARGING && nChargingFlag != CHARGING_FLAG_CHARGING) {
        WriteLog(L"WaitForChargingState", __LINE__, L"nChargingFlag incorrect: %d\n",
                 nChargingFlag);
        return FALSE;
    }
    if (!pBattery) {
        LogNullArg(L"WaitForChargingState", __LINE__, L"pBattery");
        return FALSE;
    }
    DWORD retries = 10;
    DWORD intervalMs = 100;
    GetRegStateCheckRetry(&retries);
    GetRegStateCheckInterval(&intervalMs);
    for (DWORD attempt = 0; attempt < retries; ++attempt) {
        if (GetChargingFlag(pBattery) == nChargingFlag) {
            WriteLog(L"WaitForChargingState", __LINE__, L"充電フラグ一致 (Flag %d).\n",
                     nChargingFlag);
            return TRUE;
        }
        WriteLog(L"WaitForChargingState", __LINE__, L"充電フラグ取得リトライ [%d].\n", attempt);
        Sleep(intervalMs);
    }
    WriteLog(L"WaitForChargingState", __LINE__, L"充電フラグ不一致");
    return FALSE;
}
