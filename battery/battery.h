// The battery object: the one view every program has of one physical
// battery (its number, identity, health, charge mode, dates and refresh
// estimates), and the array that holds one object per battery present.
//
// Standard battery data (tag, information, status) travels either through
// the device library by battery number, or to the operating system's
// battery device, as the library's platform type says. The firmware's own
// battery methods always go through the device library.
#pragma once

#include <windows.h>

#include <batclass.h>

#include <functional>
#include <memory>

#include "battery/cellio.h"
#include "battery/firmware.h"
#include "common/settings.h"
#include "common/util.h"

// Health classes.
constexpr DWORD BATTERY_HEALTH_GOOD = 0;
constexpr DWORD BATTERY_HEALTH_WARNING = 10;
constexpr DWORD BATTERY_HEALTH_CAUTION = 20; // the worse of the two

// Charge modes (the firmware's charge limit). CHARGEMODE_NOTCHARGE, the
// mode that holds charging off, is the "NotChargeLimit" setting.
constexpr DWORD CHARGEMODE_FULL = 0;
constexpr DWORD CHARGEMODE_80 = 80;
constexpr DWORD CHARGEMODE_50 = 50;
// Bit 7: the battery needs a refresh and charges fully until it is done.
constexpr DWORD CHARGEMODE_REFRESH_NEEDED = 0x80;
// Registry copy of a mode that was never stored; any copy above
// CHARGEMODE_COPY_MAX counts as not stored.
constexpr DWORD CHARGEMODE_NOT_SET = CURRENTMODE_NOT_SET;
constexpr DWORD CHARGEMODE_COPY_MAX = 100;
#define CHARGEMODE_NOTCHARGE (GetRegNotChargeLimit())

// Platform types of CellioGetPlatformType.
constexpr int PLATFORM_TYPE_DEVICE_LIBRARY = 0;  // standard requests by battery number
constexpr int PLATFORM_TYPE_FIRMWARE_HEALTH = 1; // health from the firmware; no start date

// ---------------------------------------------------------------------------
// Figures the battery object derives, as plain functions.

// "<name>-<yyyymmdd>-<serial, lower-case hex, at least 4 digits>", the
// key of a battery's history. dwProduct is the manufacture date word.
HRESULT FormatOwnId(LPCWSTR lpszBattName, DWORD dwProduct, DWORD dwSN, LPWSTR lpszOwnId,
                    size_t cchOwnId);

// Year, month and day of a firmware date word (day bits 0-4, month bits
// 5-8, year - 1980 in bits 9-14), in an otherwise zero SYSTEMTIME.
SYSTEMTIME DecodeBatteryDate(DWORD dwDate);

// Remaining charge in percent of the full-charge capacity, halves rounded up.
BYTE CalcRemainingPercent(DWORD dwRemaining, DWORD dwFCC);

// The same from the operating system's records, truncated; 255 when a
// capacity is unknown.
BYTE CalcStandardRemainingPercent(ULONG ulCapacity, ULONG ulFullChargedCapacity);

// Full-charge capacity in percent of dwLifeRate percent of the design
// capacity, at most 100.
BYTE CalcFullChargeRatio(DWORD dwDCAP, DWORD dwFCC, DWORD dwLifeRate);

// Above 50: good; 31 to 50: warning; 30 and below: caution.
DWORD HealthFromFullChargeRatio(BYTE bRatio);

// Battery flag of a SYSTEM_POWER_STATUS for one battery: 4 below 5 %,
// 2 up to 32 %, none up to 66 %, 1 above; 8 added while charging.
BYTE BatteryFlagForLevel(BYTE bPercent, BOOL bCharging);

// What reading a charge mode makes of the registry copy (kept while
// "IsRegModeEnabled" holds): a copy above CHARGEMODE_COPY_MAX was never
// stored, so the firmware's mode is stored (storeCopy); a stored copy that
// differs is written to the firmware (writeMode) and reported when the
// write succeeds. A firmware mode marked CHARGEMODE_REFRESH_NEEDED is left
// alone. Returns the mode to report.
DWORD ReconcileChargeMode(DWORD dwFirmwareMode, DWORD dwCopy,
                          const std::function<bool(DWORD)>& writeMode,
                          const std::function<void(DWORD)>& storeCopy);

// Default of "RefreshLimit" for the machine the library reports.
DWORD RefreshLimitForPlatform(const driver::_SYSTEM_PLATFORM_INFO& info);

// ---------------------------------------------------------------------------

class CBattery : public IBatteryPowerSource {
public:
    // Reads the battery's identity from the firmware. A battery whose
    // firmware does not answer still gets an object, with empty name and
    // identity.
    explicit CBattery(UINT uiBattNo);
    CBattery(const CBattery&) = delete;
    CBattery& operator=(const CBattery&) = delete;

    UINT GetBattNo() const { return m_uiBattNo; }
    LPCWSTR GetOWNID() const { return m_szOWNID; }
    LPCWSTR GetBattName() const { return m_szBattName; }
    LPCWSTR GetChemistry() const { return m_szChemistry; }
    LPCWSTR GetDevicePath() const { return m_szDevicePath; }
    DWORD GetDesignCapacity() const { return m_BBIFST.dwDCAP; }
    const BBIF& GetBBIF() const { return m_BBIFST; }
    BOOL IsChargeModeSupported() const { return m_bChargeModeSupported; }
    void SetRefreshState(int nState) { m_nRefreshState = nState; }
    int GetRefreshState() const { return m_nRefreshState; }
    // Everything but nickel chemistries ("NiMH", "NiCd", ...).
    BOOL IsNonNickelChemistry() const;
    HRESULT RefreshBBIF();

    // Standard battery data -------------------------------------------------
    HRESULT GetBatteryDeviceName(LPCWSTR lpszPath, LPWSTR lpszBuffer, DWORD cbBuffer);
    // Finds the operating-system battery device whose name is this
    // battery's firmware name, and keeps its path.
    HRESULT EnumBatteryDevice();
    HRESULT GetBatteryStatus(BATTERY_STATUS* pStatus);
    HRESULT GetBatteryInformation(BATTERY_INFORMATION* pInformation);
    // At most 4 characters; cchChemistry must hold 5.
    HRESULT GetBatteryChemistry(LPWSTR lpszChemistry, size_t cchChemistry);
    BOOL IsBatteryReachable();
    // The machine's power status with this battery's flag and percentage.
    BOOL GetBatteryPowerStatus(LPSYSTEM_POWER_STATUS lpStatus) override;

    // Firmware battery methods ----------------------------------------------
    HRESULT AslMethodBBIF(BBIF* lpBBIF);
    HRESULT AslMethodBBST(BBST* lpBBST);
    HRESULT AslMethodHealth(DWORD* dwHealth);
    HRESULT AslMethodPSTS(DWORD* lpdwPwrState);
    // Reads the charge mode; with "IsRegModeEnabled", keeps the registry copy
    // in step (fills an unset copy, re-applies a stored one).
    HRESULT AslMethodRBCL(DWORD* lpdwFull);
    HRESULT AslMethodWBSD(DWORD dwDate);
    HRESULT AslMethodADPC(DWORD dwRefresh);
    HRESULT AslMethodCHGC(DWORD dwInhibit);
    HRESULT AslMethodWBCL(DWORD dwChargeMode);

    // Derived values --------------------------------------------------------
    BYTE GetRemainingPercent();
    BYTE GetStandardRemainingPercent();
    BYTE GetFullChargeRatio();
    DWORD GetBatteryHealth();
    BOOL IsBatteryProtectSupported();
    // 1 when the battery has no protect function, else the write's result.
    HRESULT SetFlagDisableBatteryCharge(BOOL bDisable);

    // Charge mode: 0 or E_FAIL.
    HRESULT GetChargeMode(DWORD* pdwMode);
    HRESULT SetChargeMode(DWORD dwMode);

    // Dates -----------------------------------------------------------------
    // First-use date and the disable-charge flag; a date the firmware never
    // got is set to today.
    HRESULT GetStartDay(SYSTEMTIME* pStartDay, BOOL* pbDisableCharge);
    HRESULT SetStartDay(WORD wYear, WORD wMonth, WORD wDay, BOOL bDisableCharge);
    HRESULT InitStartDay();
    BOOL IsBatteryChargeDisabled();
    HRESULT SetLastRefreshDay(DWORD dwYear, DWORD dwMonth, DWORD dwDay);
    HRESULT SetLastRefreshDay(const SYSTEMTIME* pDay);
    HRESULT GetLastRefreshDay(SYSTEMTIME* pDay);
    HRESULT GetFirstCheckPointRefreshDay(SYSTEMTIME* pDay);
    HRESULT SetFirstCheckPointRefreshDay(DWORD dwYear, DWORD dwMonth, DWORD dwDay, BOOL bForce);
    HRESULT SetFirstCheckPointRefreshDay(const SYSTEMTIME* pDay, BOOL bForce);
    HRESULT DelFirstCheckPointRefreshDay();

    // Refresh estimates (hours) ---------------------------------------------
    DWORD GetRefreshMaxTime();
    // Minutes in, whole hours out (rounded up): charge twice, then discharge
    // and both cool-downs. E_INVALIDARG for a negative figure.
    static HRESULT CalcMaxRefreshTime(LONG lCharge, LONG lDischarge, LONG lCoolDownTime,
                                      LONG lCoolDownLimit, DWORD* lpdwResultHour);
    // The same for a battery that is already full: charge once.
    static HRESULT CalcFullChargedRefreshTime(LONG lCharge, LONG lDischarge, LONG lCoolDownTime,
                                              LONG lCoolDownLimit, DWORD* lpdwResultHour);
    HRESULT GetEstimateRefreshTimes(DWORD* lpdwMax, DWORD* lpdwFullCharged);

private:
    // One firmware method: the library's result (0 = success).
    uint32_t CallMethod(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                        uint32_t* returned = nullptr);
    uint32_t CallWriteMethod(uint32_t code, DWORD value, uint32_t* data);

    WCHAR m_szDevicePath[MAX_PATH] = {};
    WCHAR m_szOWNID[MAX_PATH] = {};
    WCHAR m_szBattName[256] = {};
    BBIF m_BBIFST = {};
    int m_nRefreshState = 0;
    WCHAR m_szChemistry[5] = {};
    BOOL m_bChargeModeSupported = FALSE;
    UINT m_uiBattNo = 0;
};

// One battery object per battery the device library reports present.
class CBatteryArray {
public:
    CBatteryArray();
    CBatteryArray(const CBatteryArray&) = delete;
    CBatteryArray& operator=(const CBatteryArray&) = delete;

    // Battery 1 or 2; null for an absent battery or any other number.
    CBattery* GetBattery(UINT uiBattNo) const;
    int GetCount() const { return m_nCount; }
    int GetMask() const { return m_nMask; }

private:
    int m_nMask = 0;
    int m_nCount = 0;
    std::unique_ptr<CBattery> m_pBattery1;
    std::unique_ptr<CBattery> m_pBattery2;
};
