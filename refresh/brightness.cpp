#include "refresh/brightness.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"

namespace zbrefresh {

namespace {

const wchar_t kLcdDevice[] = L"\\\\.\\LCD";

} // namespace

BOOL CLcdBrightnessDevice::Control(DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                   LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                   LPDWORD lpBytesReturned) {
    zb::UniqueHandle device(CreateFileW(kLcdDevice, GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    if (!device) {
        const DWORD err = GetLastError();
        LogApiFailure(L"CLcdBrightnessDevice::Control", __LINE__, L"CreateFile", err);
        SetLastError(err);
        return FALSE;
    }
    if (!DeviceIoControl(device.Get(), dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                         nOutBufferSize, lpBytesReturned, nullptr)) {
        const DWORD err = GetLastError();
        LogApiFailure(L"CLcdBrightnessDevice::Control", __LINE__, L"DeviceIoControl", err);
        SetLastError(err);
        return FALSE;
    }
    return TRUE;
}

CBrightnessControlXP::CBrightnessControlXP(IBrightnessDevice* pDevice)
    : m_pDevice(pDevice ? pDevice : &m_lcd), m_byLevels{}, m_dwLevelCount(0) {}

BOOL CBrightnessControlXP::QuerySupportedBrightness() {
    DWORD returned = 0;
    m_dwLevelCount = 0;
    if (!m_pDevice->Control(ZB_IOCTL_VIDEO_QUERY_SUPPORTED_BRIGHTNESS, nullptr, 0, m_byLevels,
                            sizeof(m_byLevels), &returned) ||
        returned == 0)
        return FALSE;
    m_dwLevelCount = returned < sizeof(m_byLevels) ? returned : sizeof(m_byLevels);
    return TRUE;
}

BOOL CBrightnessControlXP::GetDisplayBrightness(DisplayBrightness* pBrightness) {
    if (!pBrightness) {
        LogNullArg(L"CBrightnessControlXP::GetDisplayBrightness", __LINE__, L"pBrightness");
        return FALSE;
    }
    DWORD returned = 0;
    return m_pDevice->Control(ZB_IOCTL_VIDEO_QUERY_DISPLAY_BRIGHTNESS, nullptr, 0, pBrightness,
                              sizeof(*pBrightness), &returned) &&
           returned != 0;
}

BOOL CBrightnessControlXP::SetDisplayBrightness(const DisplayBrightness& brightness) {
    DisplayBrightness record = brightness;
    DWORD returned = 0;
    return m_pDevice->Control(ZB_IOCTL_VIDEO_SET_DISPLAY_BRIGHTNESS, &record, sizeof(record),
                              nullptr, 0, &returned);
}

BOOL CBrightnessControlXP::SetBrightness(BYTE byAC, BYTE byDC) {
    return SetDisplayBrightness({ZB_DISPLAYPOLICY_BOTH, byAC, byDC});
}

BOOL CBrightnessControlXP::GetRefreshBrightnessValue(BYTE* pbyVal) {
    if (!pbyVal) {
        LogNullArg(L"CBrightnessControlXP::GetRefreshBrightnessValue", __LINE__, L"pbyVal");
        return FALSE;
    }
    if (!QuerySupportedBrightness())
        return FALSE;
    for (DWORD i = 0; i < m_dwLevelCount; ++i) {
        if (m_byLevels[i] > REFRESH_BRIGHTNESS_THRESHOLD) {
            *pbyVal = m_byLevels[i == 0 ? 0 : i - 1];
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CBrightnessControlXP::StoreBrightness() {
    if (GetRegStoredBrightnessAC() != SETTINGS_NOT_SET &&
        GetRegStoredBrightnessDC() != SETTINGS_NOT_SET) {
        WriteLog(L"CBrightnessControlXP::StoreBrightness", __LINE__,
                 L"Keeping the brightness stored by an earlier refresh.\n");
        return TRUE;
    }
    DisplayBrightness current = {};
    if (!GetDisplayBrightness(&current))
        return FALSE;
    return SUCCEEDED(SetRegStoredBrightnessAC(current.ucACBrightness)) &&
           SUCCEEDED(SetRegStoredBrightnessDC(current.ucDCBrightness));
}

BOOL CBrightnessControlXP::RestoreBrightness() {
    const DWORD ac = GetRegStoredBrightnessAC();
    const DWORD dc = GetRegStoredBrightnessDC();
    if (ac == SETTINGS_NOT_SET || dc == SETTINGS_NOT_SET)
        return FALSE;
    if (!SetBrightness(static_cast<BYTE>(ac), static_cast<BYTE>(dc)))
        return FALSE;
    DelRegStoredBrightnessAC();
    DelRegStoredBrightnessDC();
    return TRUE;
}

} // namespace zbrefresh
