// Standard battery data of one battery (tag, information, status,
// chemistry, device name) and its power status.
//
// The requests travel one of two routes, chosen on every call by the
// device library's platform type: through the library by battery number
// (type 0), or to the operating system's battery device found by name.
#include "battery/battery.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/power_status.h"

#include <powrprof.h>
#include <setupapi.h>
#include <strsafe.h>

#include <functional>
#include <vector>

namespace {

// Battery device interface class {72631E54-78A4-11D0-BCF7-00AA00B7B32A}.
const GUID kBatteryDeviceClass = {
    0x72631e54, 0x78a4, 0x11d0, {0xbc, 0xf7, 0x00, 0xaa, 0x00, 0xb7, 0xb3, 0x2a}};

struct DevInfoTraits {
    using Type = HDEVINFO;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) noexcept { SetupDiDestroyDeviceInfoList(h); }
};
using UniqueDevInfo = zb::UniqueResource<DevInfoTraits>;

// One conversation with a battery over one route. On the operating-system
// route the device stays open for the conversation and is closed with it.
class CBatteryChannel {
public:
    // Device library, by battery number.
    explicit CBatteryChannel(UINT uiBattNo) : m_uiBattNo(uiBattNo) {}
    // Operating-system device at lpszPath.
    explicit CBatteryChannel(LPCWSTR lpszPath) : m_lpszPath(lpszPath) {}

    // 0, or the Win32 error of opening the device.
    DWORD Open() {
        if (!m_lpszPath)
            return ERROR_SUCCESS;
        m_device.Reset(CreateFileW(m_lpszPath, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        return m_device ? ERROR_SUCCESS : GetLastError();
    }

    // 0, or the library's result / the Win32 error.
    DWORD Control(DWORD dwCode, void* in, DWORD cbIn, void* out, DWORD cbOut) {
        if (!m_lpszPath) {
            uint32_t returned = 0;
            return CellioDeviceControl(m_uiBattNo, dwCode, in, cbIn, out, cbOut, &returned);
        }
        DWORD returned = 0;
        if (!DeviceIoControl(m_device.Get(), dwCode, in, cbIn, out, cbOut, &returned, nullptr))
            return GetLastError();
        return ERROR_SUCCESS;
    }

    DWORD QueryTag(ULONG* pulTag) {
        ULONG wait = 0; // do not wait for a battery to appear
        *pulTag = 0;
        return Control(IOCTL_BATTERY_QUERY_TAG, &wait, sizeof(wait), pulTag, sizeof(*pulTag));
    }

    DWORD QueryInformation(ULONG ulTag, BATTERY_QUERY_INFORMATION_LEVEL level, void* out,
                           DWORD cbOut) {
        BATTERY_QUERY_INFORMATION query = {};
        query.BatteryTag = ulTag;
        query.InformationLevel = level;
        return Control(IOCTL_BATTERY_QUERY_INFORMATION, &query, sizeof(query), out, cbOut);
    }

private:
    UINT m_uiBattNo = 0;
    LPCWSTR m_lpszPath = nullptr;
    zb::UniqueHandle m_device;
};

bool UsesDeviceLibrary() {
    return CellioGetPlatformType() == PLATFORM_TYPE_DEVICE_LIBRARY;
}

// Failure lines of one standard request, step by step. openFailed gets the
// error and the device path; the others the error.
struct RequestTexts {
    LPCWSTR function;
    LPCWSTR openFailed;
    LPCWSTR tagFailed;
    LPCWSTR requestFailed;
};

// Every standard request names the battery by its current tag: open the
// channel, ask the tag, then send the request built from it.
HRESULT RunTaggedRequest(CBatteryChannel& channel, LPCWSTR lpszDevicePath,
                         const RequestTexts& texts, const std::function<DWORD(ULONG)>& request) {
    DWORD err = channel.Open();
    if (err != ERROR_SUCCESS) {
        WriteLog(texts.function, __LINE__, texts.openFailed, err, lpszDevicePath);
        return E_FAIL;
    }
    ULONG tag = 0;
    err = channel.QueryTag(&tag);
    if (err != ERROR_SUCCESS) {
        WriteLog(texts.function, __LINE__, texts.tagFailed, err);
        return E_FAIL;
    }
    err = request(tag);
    if (err != ERROR_SUCCESS) {
        WriteLog(texts.function, __LINE__, texts.requestFailed, err);
        return E_FAIL;
    }
    return S_OK;
}

} // namespace

HRESULT CBattery::GetBatteryDeviceName(LPCWSTR lpszPath, LPWSTR lpszBuffer, DWORD cbBuffer) {
    if (!lpszPath || !lpszBuffer) {
        LogNullArg(L"CBattery::GetBatteryDeviceName", __LINE__,
                   !lpszPath ? L"lpszPath" : L"lpszBuffer");
        return E_POINTER;
    }
    static const RequestTexts texts = {
        L"CBattery::GetBatteryDeviceName",
        L"Fail to GetBatteryDeviceName().CreateFile(),errcode=%d\n",
        L"Fail to GetBatteryDeviceName().DeviceIoControl(IOCTL_BATTERY_QUERY_TAG),errcode=%d\n",
        L"Fail to GetBatteryDeviceName().DeviceIoControl(IOCTL_BATTERY_QUERY_INFORMATION),"
        L"errcode=%d\n"};
    // Always the operating system's device: this is how its devices are told apart.
    CBatteryChannel channel(lpszPath);
    const HRESULT hr = RunTaggedRequest(channel, lpszPath, texts, [&](ULONG tag) {
        return channel.QueryInformation(tag, BatteryDeviceName, lpszBuffer, cbBuffer);
    });
    if (SUCCEEDED(hr))
        WriteLog(L"CBattery::GetBatteryDeviceName", __LINE__,
                 L"Success to GetBatteryDeviceName().\n");
    return hr;
}

HRESULT CBattery::EnumBatteryDevice() {
    SYSTEM_BATTERY_STATE state = {};
    const NTSTATUS status =
        CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state));
    if (status != 0) {
        WriteLog(L"CBattery::EnumBatteryDevice", __LINE__,
                 L"Fail to CallNtPowerInformation(). ErrorCode: %08x.\n", status);
        return E_FAIL;
    }
    // The firmware name tells battery 1 and 2 apart; without one there is
    // nothing to match.
    if (m_szBattName[0] == L'\0')
        return E_FAIL;

    UniqueDevInfo devices(SetupDiGetClassDevsW(&kBatteryDeviceClass, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!devices) {
        LogApiFailure(L"CBattery::EnumBatteryDevice", __LINE__, L"SetupDiGetClassDevs",
                      GetLastError());
        return E_FAIL;
    }

    HRESULT hr = E_FAIL;
    for (DWORD j = 0;; ++j) {
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof(iface);
        if (!SetupDiEnumDeviceInterfaces(devices.Get(), nullptr, &kBatteryDeviceClass, j, &iface)) {
            const DWORD err = GetLastError();
            if (err != ERROR_NO_MORE_ITEMS)
                LogApiFailure(L"CBattery::EnumBatteryDevice", __LINE__,
                              L"SetupDiEnumDeviceInterfaces", err);
            break;
        }
        DWORD cbDetail = 0;
        if (!SetupDiGetDeviceInterfaceDetailW(devices.Get(), &iface, nullptr, 0, &cbDetail,
                                              nullptr) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            LogApiFailure(L"CBattery::EnumBatteryDevice", __LINE__,
                          L"SetupDiGetDeviceInterfaceDetail", GetLastError());
            break;
        }
        std::vector<BYTE> buffer(cbDetail + sizeof(wchar_t), 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(devices.Get(), &iface, detail, cbDetail, nullptr,
                                              nullptr)) {
            LogApiFailure(L"CBattery::EnumBatteryDevice", __LINE__,
                          L"SetupDiGetDeviceInterfaceDetail", GetLastError());
            break;
        }
        WCHAR deviceName[MAX_PATH] = {};
        // One unit short, so the name always ends in a terminator.
        if (FAILED(GetBatteryDeviceName(detail->DevicePath, deviceName,
                                        sizeof(deviceName) - sizeof(WCHAR)))) {
            WriteLog(L"CBattery::EnumBatteryDevice", __LINE__, L"Fail to GetBatteryDeviceName()");
            continue;
        }
        WriteLog(L"CBattery::EnumBatteryDevice", __LINE__, L"szDeviceName = %s, j=%d", deviceName,
                 j);
        WriteLog(L"CBattery::EnumBatteryDevice", __LINE__, L"m_szBattName = %s, m_uiBattNo=%d",
                 m_szBattName, m_uiBattNo);
        if (wcscmp(deviceName, m_szBattName) == 0) {
            WriteLog(L"CBattery::EnumBatteryDevice", __LINE__, L"Find battery device!");
            StringCchCopyW(m_szDevicePath, ARRAYSIZE(m_szDevicePath), detail->DevicePath);
            hr = S_OK;
            break;
        }
    }
    if (!SetupDiDestroyDeviceInfoList(devices.Release())) {
        LogApiFailure(L"CBattery::EnumBatteryDevice", __LINE__, L"SetupDiDestroyDeviceInfoList",
                      GetLastError());
        return E_FAIL;
    }
    return hr;
}

HRESULT CBattery::GetBatteryStatus(BATTERY_STATUS* pStatus) {
    if (!pStatus) {
        LogNullArg(L"CBattery::GetBatteryStatus", __LINE__, L"pStatus");
        return E_POINTER;
    }
    static const RequestTexts texts = {
        L"CBattery::GetBatteryStatus", L"Fail to GetBatteryStatus().CreateFile(),errcode=%d\n",
        L"Fail to GetBatteryStatus().DeviceIoControl(IOCTL_BATTERY_QUERY_TAG),errcode=%d\n",
        L"Fail to GetBatteryStatus().DeviceIoControl(IOCTL_BATTERY_QUERY_STATUS),errcode=%d\n"};
    CBatteryChannel channel =
        UsesDeviceLibrary() ? CBatteryChannel(m_uiBattNo) : CBatteryChannel(m_szDevicePath);
    BATTERY_STATUS status = {};
    const HRESULT hr = RunTaggedRequest(channel, m_szDevicePath, texts, [&](ULONG tag) {
        BATTERY_WAIT_STATUS wait = {};
        wait.BatteryTag = tag; // no wait, no conditions: the status as it is
        return channel.Control(IOCTL_BATTERY_QUERY_STATUS, &wait, sizeof(wait), &status,
                               sizeof(status));
    });
    if (SUCCEEDED(hr))
        *pStatus = status;
    return hr;
}

HRESULT CBattery::GetBatteryInformation(BATTERY_INFORMATION* pInformation) {
    if (!pInformation) {
        LogNullArg(L"CBattery::GetBatteryInformation", __LINE__, L"pInformation");
        return E_POINTER;
    }
    static const RequestTexts texts = {
        L"CBattery::GetBatteryInformation",
        L"Fail to GetBatteryInformation().CreateFile(),errcode=%d\n,m_szDevicePath = %s",
        L"Fail to GetBatteryInformation().DeviceIoControl(IOCTL_BATTERY_QUERY_TAG),errcode=%x\n",
        L"Fail to GetBatteryInformation().DeviceIoControl(IOCTL_BATTERY_QUERY_INFORMATION),"
        L"errcode=%d\n"};
    CBatteryChannel channel =
        UsesDeviceLibrary() ? CBatteryChannel(m_uiBattNo) : CBatteryChannel(m_szDevicePath);
    BATTERY_INFORMATION information = {};
    const HRESULT hr = RunTaggedRequest(channel, m_szDevicePath, texts, [&](ULONG tag) {
        return channel.QueryInformation(tag, BatteryInformation, &information, sizeof(information));
    });
    if (SUCCEEDED(hr))
        *pInformation = information;
    return hr;
}

HRESULT CBattery::GetBatteryChemistry(LPWSTR lpszChemistry, size_t cchChemistry) {
    if (!lpszChemistry) {
        LogNullArg(L"CBattery::GetBatteryChemistry", __LINE__, L"lpszChemistry");
        return E_POINTER;
    }
    static const RequestTexts texts = {
        L"CBattery::GetBatteryChemistry", L"",
        L"Fail to GetBatteryChemistry().DeviceIoControl(IOCTL_BATTERY_QUERY_TAG),errcode=%d\n",
        L"Fail to GetBatteryChemistry().DeviceIoControl(IOCTL_BATTERY_QUERY_INFORMATION),"
        L"errcode=%d\n"};
    // The chemistry is always asked of the device library.
    CBatteryChannel channel(m_uiBattNo);
    BATTERY_INFORMATION information = {};
    const HRESULT hr = RunTaggedRequest(channel, nullptr, texts, [&](ULONG tag) {
        return channel.QueryInformation(tag, BatteryInformation, &information, sizeof(information));
    });
    if (FAILED(hr))
        return hr;
    // Four bytes, not necessarily terminated: "LION", "NiMH", "PbAc"...
    char chemistry[5] = {};
    CopyMemory(chemistry, information.Chemistry, 4);
    const CStrConversion text(chemistry);
    if (FAILED(StringCchCopyW(lpszChemistry, cchChemistry, text.GetString())))
        return E_FAIL;
    WriteLog(L"CBattery::GetBatteryChemistry", __LINE__, L"GetBatteryChemistry(),Chemistry=%s\n",
             lpszChemistry);
    return S_OK;
}

// A battery the device library does not report present is not reachable on
// either route: taken out of its bay, it reads as "no battery" (flag 128)
// rather than as an unreadable power status, so a refresh that loses its
// battery aborts as a removal, not as an invalid status.
BOOL CBattery::IsBatteryReachable() {
    const int bayBit = m_uiBattNo == 1 ? 1 : 2;
    if ((CellioGetBatteryMask() & bayBit) == 0)
        return FALSE;
    return UsesDeviceLibrary() || SUCCEEDED(EnumBatteryDevice());
}

BOOL CBattery::GetBatteryPowerStatus(LPSYSTEM_POWER_STATUS lpStatus) {
    if (!lpStatus) {
        LogNullArg(L"CBattery::GetBatteryPowerStatus", __LINE__, L"lpStatus");
        return FALSE;
    }
    // AC line and life times stay the machine's; flag and percentage
    // become this battery's.
    if (!GetMachinePowerStatus(lpStatus))
        return FALSE;
    lpStatus->BatteryFlag = 0;
    if (!IsBatteryReachable()) {
        lpStatus->BatteryFlag = BATTERY_FLAG_NO_BATTERY;
        return TRUE;
    }
    BATTERY_INFORMATION information = {};
    if (FAILED(GetBatteryInformation(&information))) {
        lpStatus->BatteryFlag = BATTERY_FLAG_NO_BATTERY;
        return FALSE;
    }
    BATTERY_STATUS status = {};
    if (FAILED(GetBatteryStatus(&status))) {
        lpStatus->BatteryFlag = BATTERY_FLAG_NO_BATTERY;
        return TRUE;
    }
    lpStatus->BatteryLifePercent = GetRemainingPercent();
    lpStatus->BatteryFlag = BatteryFlagForLevel(lpStatus->BatteryLifePercent,
                                                (status.PowerState & BATTERY_CHARGING) != 0);
    return TRUE;
}
