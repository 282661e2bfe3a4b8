// The firmware's own battery methods, each one request through the device
// library with this object's battery number.
#include "battery/battery.h"

#include "common/log.h"
#include "common/settings.h"

#include <strsafe.h>

// The write methods take one 32-bit argument and answer one 32-bit word.
uint32_t CBattery::CallWriteMethod(uint32_t code, DWORD value, uint32_t* data) {
    uint32_t in = value;
    *data = 0;
    return CallMethod(code, &in, sizeof(in), data, sizeof(*data));
}

uint32_t CBattery::CallMethod(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                              uint32_t* returned) {
    uint32_t ignored = 0;
    return CellioDeviceControl(m_uiBattNo, code, in, inSize, out, outSize,
                               returned ? returned : &ignored);
}

HRESULT CBattery::AslMethodBBIF(BBIF* lpBBIF) {
    if (!lpBBIF) {
        LogNullArg(L"CBattery::AslMethodBBIF", __LINE__, L"lpBBIF");
        return E_POINTER;
    }
    BBIF record = {};
    uint32_t returned = 0;
    const uint32_t result =
        CallMethod(CELLIO_METHOD_BBIF, nullptr, 0, &record, sizeof(record), &returned);
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodBBIF", __LINE__,
                 L"Fail to AslMethodBBIF().DeviceIoControl(),errcode=%d\n", result);
        return E_FAIL;
    }
    // The name is the firmware's; make sure it ends inside its field.
    record.szBattName[sizeof(record.szBattName) - 1] = '\0';
    *lpBBIF = record;
    const CStrConversion name(record.szBattName);
    WriteLog(L"CBattery::AslMethodBBIF", __LINE__,
             L"AslMethodBBIF():dwSN: %d, dwProduct: %d, dwStartDate: %d, dwBatteryName: %s, "
             L"dwDCAP: %d, dwFCC: %d, dwCycle: %d.\n",
             record.dwSN, record.dwProduct, record.dwStartDate, name.GetString(), record.dwDCAP,
             record.dwFCC, record.dwCycle);
    return S_OK;
}

HRESULT CBattery::AslMethodBBST(BBST* lpBBST) {
    if (!lpBBST) {
        LogNullArg(L"CBattery::AslMethodBBST", __LINE__, L"lpBBST");
        return E_POINTER;
    }
    ZeroMemory(lpBBST, sizeof(*lpBBST));
    BBST record = {};
    const uint32_t result = CallMethod(CELLIO_METHOD_BBST, nullptr, 0, &record, sizeof(record));
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodBBST", __LINE__,
                 L"Fail to AslMethodBBST().DeviceIoControl(),errcode=%d\n", result);
        return E_FAIL;
    }
    lpBBST->dwRemaining = record.dwRemaining;
    lpBBST->dwReserved1 = record.dwReserved1;
    lpBBST->dwReserved2 = record.dwReserved2;
    lpBBST->dwTemperature = record.dwTemperature;
    WriteLog(L"CBattery::AslMethodBBST", __LINE__, L"Success to AslMethodBBST().\n");
    return S_OK;
}

HRESULT CBattery::AslMethodHealth(DWORD* dwHealth) {
    if (!dwHealth) {
        LogNullArg(L"CBattery::AslMethodHealth", __LINE__, L"dwHealth");
        return E_POINTER;
    }
    *dwHealth = 0;
    uint32_t health = 0;
    const uint32_t result = CallMethod(CELLIO_METHOD_HEALTH, nullptr, 0, &health, sizeof(health));
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodHealth", __LINE__,
                 L"Fail to AslMethodHealth().DeviceIoControl(),errcode=%d\n", result);
        return E_FAIL;
    }
    *dwHealth = health;
    WriteLog(L"CBattery::AslMethodHealth", __LINE__,
             L"Success to AslMethodHealth().DeviceIoControl()\n");
    return S_OK;
}

HRESULT CBattery::AslMethodPSTS(DWORD* lpdwPwrState) {
    if (!lpdwPwrState) {
        LogNullArg(L"CBattery::AslMethodPSTS", __LINE__, L"lpdwPwrState");
        return E_POINTER;
    }
    uint32_t state = 0;
    const uint32_t result = CallMethod(CELLIO_METHOD_PSTS, nullptr, 0, &state, sizeof(state));
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodPSTS", __LINE__,
                 L"Fail toAslMethodPSTS(). DeviceIoControl(),errcode=%d\n", result);
        return E_FAIL;
    }
    *lpdwPwrState = state;
    WriteLog(L"CBattery::AslMethodPSTS", __LINE__, L"dwPwrState: %d,m_uiBattNo = %d\n", state,
             m_uiBattNo);
    return S_OK;
}

HRESULT CBattery::AslMethodRBCL(DWORD* lpdwFull) {
    if (!lpdwFull) {
        LogNullArg(L"CBattery::AslMethodRBCL", __LINE__, L"lpdwFull");
        return E_POINTER;
    }
    uint32_t mode = 0;
    if (CallMethod(CELLIO_METHOD_RBCL, nullptr, 0, &mode, sizeof(mode)) != 0)
        return E_FAIL;
    *lpdwFull = mode;
    if (!IsRegModeEnabled())
        return S_OK;

    const DWORD copy = GetRegCurrentMode(m_uiBattNo);
    WriteLog(L"CBattery::AslMethodRBCL", __LINE__, L"GetChargeMode for Kestrel From Reg! Val = %d",
             copy);
    *lpdwFull = ReconcileChargeMode(
        mode, copy, [this](DWORD value) { return SUCCEEDED(AslMethodWBCL(value)); },
        [this](DWORD value) { SetRegCurrentMode(m_uiBattNo, value); });
    return S_OK;
}

HRESULT CBattery::AslMethodWBSD(DWORD dwDate) {
    uint32_t data = 0;
    const uint32_t result = CallWriteMethod(CELLIO_METHOD_WBSD, dwDate, &data);
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodWBSD", __LINE__, L"Fail to DeviceIoControl()\n");
        return E_FAIL;
    }
    WriteLog(L"CBattery::AslMethodWBSD", __LINE__, L"dwDate: %d, Data: %d\n", dwDate, data);
    // A written first-use date is worth a trace outside our own logs.
    WCHAR entry[256] = {};
    StringCchPrintfW(entry, ARRAYSIZE(entry), L"Write start date! dwDate: %d, Data : %d\n", dwDate,
                     data);
    if (WriteEventLogInfo(entry, 0) != ERROR_SUCCESS)
        WriteLog(L"CBattery::AslMethodWBSD", __LINE__, L"Fail to WriteEventLogInfo()\n");
    return S_OK;
}

HRESULT CBattery::AslMethodADPC(DWORD dwRefresh) {
    uint32_t data = 0;
    const uint32_t result = CallWriteMethod(CELLIO_METHOD_ADPC, dwRefresh, &data);
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodADPC", __LINE__,
                 L"Fail AslMethodADPC(). DeviceIoControl(),errcode=%d\n", result);
        return E_FAIL;
    }
    WriteLog(L"CBattery::AslMethodADPC", __LINE__, L"dwRefresh: %d, Data: %d\n", dwRefresh, data);
    return S_OK;
}

HRESULT CBattery::AslMethodCHGC(DWORD dwInhibit) {
    uint32_t data = 0;
    const uint32_t result = CallWriteMethod(CELLIO_METHOD_CHGC, dwInhibit, &data);
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodCHGC", __LINE__,
                 L"Failt to AslMethodCHGC().DeviceIoControl(),errcode=%d\n", result);
        return E_FAIL;
    }
    WriteLog(L"CBattery::AslMethodCHGC", __LINE__, L"dwInhibit: %d, Data: %d\n", dwInhibit, data);
    return S_OK;
}

HRESULT CBattery::AslMethodWBCL(DWORD dwChargeMode) {
    uint32_t data = 0;
    const uint32_t result = CallWriteMethod(CELLIO_METHOD_WBCL, dwChargeMode, &data);
    if (result != 0) {
        WriteLog(L"CBattery::AslMethodWBCL", __LINE__,
                 L"Failt to AslMethodWBCL().DeviceIoControl(),errcode=%d \n", result);
        return E_FAIL;
    }
    if (IsRegModeEnabled())
        SetRegCurrentMode(m_uiBattNo, dwChargeMode);
    return S_OK;
}
