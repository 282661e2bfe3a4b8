// Display brightness during a refresh on Windows XP: the display is set to
// the refresh level (the brightest supported level not above 50 %) on mains
// and battery power, and the user's levels are put back at the end. The
// levels are saved in HKCU ...\Refresh "StoredBrightnessAC"/"DC" for that
// time only.
#pragma once

#include <windows.h>

namespace zbrefresh {

// The video brightness interface of the platform (ntddvdeo.h).
constexpr DWORD ZB_IOCTL_VIDEO_QUERY_SUPPORTED_BRIGHTNESS = 0x230494;
constexpr DWORD ZB_IOCTL_VIDEO_QUERY_DISPLAY_BRIGHTNESS = 0x230498;
constexpr DWORD ZB_IOCTL_VIDEO_SET_DISPLAY_BRIGHTNESS = 0x23049C;
constexpr UCHAR ZB_DISPLAYPOLICY_BOTH = 3;

// The platform's DISPLAY_BRIGHTNESS record, 3 bytes.
struct DisplayBrightness {
    UCHAR ucDisplayPolicy;
    UCHAR ucACBrightness;
    UCHAR ucDCBrightness;
};
static_assert(sizeof(DisplayBrightness) == 3, "DISPLAY_BRIGHTNESS is 3 bytes");

// Highest level used during a refresh, in percent.
constexpr UCHAR REFRESH_BRIGHTNESS_THRESHOLD = 50;

// One request to the display's brightness device, with the meaning of
// DeviceIoControl. The refresh tool uses CLcdBrightnessDevice; tests put a
// fake device in its place.
class IBrightnessDevice {
public:
    virtual BOOL Control(DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                         LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned) = 0;

protected:
    ~IBrightnessDevice() = default;
};

// "\\.\LCD", opened for each request and closed again right after it, so
// the device is never held while the refresh runs.
class CLcdBrightnessDevice final : public IBrightnessDevice {
public:
    BOOL Control(DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                 DWORD nOutBufferSize, LPDWORD lpBytesReturned) override;
};

class CBrightnessControlXP {
public:
    // pDevice must outlive the object; null selects the LCD device.
    explicit CBrightnessControlXP(IBrightnessDevice* pDevice = nullptr);

    // The levels the device supports, in its order; FALSE when it reports none.
    BOOL QuerySupportedBrightness();
    BOOL GetDisplayBrightness(DisplayBrightness* pBrightness);
    BOOL SetDisplayBrightness(const DisplayBrightness& brightness);
    // Both levels at once (display policy 3).
    BOOL SetBrightness(BYTE byAC, BYTE byDC);

    // The refresh level: walking the supported levels in the device's order,
    // the level before the first one above 50 % (or that first one itself
    // when it leads the list). FALSE when no level is above 50 %.
    BOOL GetRefreshBrightnessValue(BYTE* pbyVal);

    // Saves the display's AC and DC levels. Levels already saved by a
    // refresh that never reached its clean-up are kept: the display then
    // still shows the refresh level, and saving it would lose the user's.
    BOOL StoreBrightness();
    // Puts the saved levels back and deletes them; nothing when either is
    // missing. Both stay saved when the device refuses the levels.
    BOOL RestoreBrightness();

    const BYTE* GetSupportedLevels() const { return m_byLevels; }
    DWORD GetLevelCount() const { return m_dwLevelCount; }

private:
    CLcdBrightnessDevice m_lcd;
    IBrightnessDevice* m_pDevice;
    BYTE m_byLevels[256];
    DWORD m_dwLevelCount;
};

} // namespace zbrefresh
