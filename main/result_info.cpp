#include "main/result_info.h"

#include "common/log.h"
#include "common/util.h"
#include "main/resource.h"

#include <strsafe.h>

namespace zbmain {
namespace {

constexpr size_t kTextCch = 256;
constexpr size_t kMessageCch = 512;

struct ResultControls {
    int nStatus;
    int nPicture;
    int nLastDate;
    UINT uPrefixId;
};

const ResultControls kBattery1 = {IDC_RESULT_STATUS1, IDC_RESULT_PICTURE1, IDC_RESULT_LASTDATE1,
                                  IDS_BATTERY_PREFIX};
const ResultControls kBattery2 = {IDC_RESULT_STATUS2, IDC_RESULT_PICTURE2, IDC_RESULT_LASTDATE2,
                                  IDS_BATTERY2_PREFIX};

class CResultFiller {
public:
    explicit CResultFiller(HWND hDlg)
        : m_hDlg(hDlg),
          m_hInstance(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hDlg, GWLP_HINSTANCE))) {}

    void ShowPlaceholders() {
        for (int nId : {IDC_RESULT_STATUS1, IDC_RESULT_STATUS2, IDC_RESULT_MESSAGE})
            SetText(nId, IDS_ACQUIRING);
        for (int nId : {IDC_RESULT_PICTURE1, IDC_RESULT_PICTURE2, IDC_RESULT_WARNING,
                        IDC_RESULT_LASTDATE1, IDC_RESULT_LASTDATE2})
            Show(nId, false);
    }

    // One battery's controls and its part of the message.
    void FillBattery(CBattery* pBattery, const ResultControls& controls) {
        if (!pBattery) {
            SetText(controls.nStatus, IDS_UNIDENTIFIED);
            SetText(controls.nLastDate, IDS_UNIDENTIFIED);
            return;
        }
        const HealthClassView view = HealthClassViewOf(pBattery->GetBatteryHealth());
        FillLastDate(pBattery, controls.nLastDate);

        // The second battery's line follows the first battery's line, or an
        // empty line where there is none.
        if (controls.uPrefixId == IDS_BATTERY2_PREFIX)
            StringCchCatW(m_szMessage, ARRAYSIZE(m_szMessage), L"\n");
        AppendText(controls.uPrefixId);
        AppendText(view.uMessageId);
        StringCchCatW(m_szMessage, ARRAYSIZE(m_szMessage), L"\n");
        m_bAnyBattery = true;

        if (view.bWarning) {
            m_bWarning = true;
            if (!pBattery->IsBatteryChargeDisabled() &&
                FAILED(pBattery->SetFlagDisableBatteryCharge(TRUE)))
                WriteLog(L"SetResultDlgInfo", __LINE__,
                         L"Fail to SetFlagDisableBatteryCharge(TRUE)");
        }
        SetPicture(controls.nPicture, view.uBitmapId);
        SetText(controls.nStatus, view.uStatusId);
    }

    void ShowMessage() {
        if (m_bWarning)
            Show(IDC_RESULT_WARNING, true);
        if (m_bAnyBattery) {
            SetDlgItemTextW(m_hDlg, IDC_RESULT_MESSAGE, m_szMessage);
        } else {
            SetText(IDC_RESULT_MESSAGE, IDS_NO_BATTERY);
        }
    }

private:
    void SetText(int nId, UINT uStringId) {
        HWND hControl = GetDlgItem(m_hDlg, nId);
        if (!hControl)
            return;
        WCHAR szText[kTextCch] = {};
        LoadStringW(m_hInstance, uStringId, szText, ARRAYSIZE(szText));
        SetWindowTextW(hControl, szText);
    }

    void Show(int nId, bool bShow) {
        if (HWND hControl = GetDlgItem(m_hDlg, nId))
            ShowWindow(hControl, bShow ? SW_SHOW : SW_HIDE);
    }

    void AppendText(UINT uStringId) {
        WCHAR szText[kTextCch] = {};
        LoadStringW(m_hInstance, uStringId, szText, ARRAYSIZE(szText));
        StringCchCatW(m_szMessage, ARRAYSIZE(m_szMessage), szText);
    }

    void FillLastDate(CBattery* pBattery, int nId) {
        HWND hControl = GetDlgItem(m_hDlg, nId);
        if (!hControl)
            return;
        SetText(nId, IDS_NOT_YET_DONE);
        SYSTEMTIME day = {};
        if (SUCCEEDED(pBattery->GetLastRefreshDay(&day))) {
            WCHAR szFormat[kTextCch] = {};
            WCHAR szDate[kTextCch] = {};
            LoadStringW(m_hInstance, IDS_DATE_FORMAT, szFormat, ARRAYSIZE(szFormat));
            StringCchPrintfW(szDate, ARRAYSIZE(szDate), szFormat, day.wYear, day.wMonth, day.wDay);
            SetWindowTextW(hControl, szDate);
        }
        ShowWindow(hControl, SW_SHOW);
    }

    // The control draws the bitmap; the one it held before is freed.
    void SetPicture(int nId, UINT uBitmapId) {
        HWND hControl = GetDlgItem(m_hDlg, nId);
        if (!hControl)
            return;
        HBITMAP hBitmap = LoadFaceBitmap(m_hInstance, MAKEINTRESOURCEW(uBitmapId));
        if (!hBitmap) {
            LogApiFailure(L"SetResultDlgInfo", __LINE__, L"LoadImage", GetLastError());
        } else if (HGDIOBJ hOld = reinterpret_cast<HGDIOBJ>(SendMessageW(
                       hControl, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hBitmap)))) {
            DeleteObject(hOld);
        }
        ShowWindow(hControl, SW_SHOW);
    }

    HWND m_hDlg;
    HINSTANCE m_hInstance;
    WCHAR m_szMessage[kMessageCch] = {};
    bool m_bAnyBattery = false;
    bool m_bWarning = false;
};

} // namespace

HealthClassView HealthClassViewOf(DWORD dwHealth) {
    switch (dwHealth) {
    case BATTERY_HEALTH_GOOD:
        return {IDS_STATUS_GOOD, IDS_RESULT_GOOD, IDB_HEALTH_GOOD, false};
    case BATTERY_HEALTH_WARNING:
        return {IDS_STATUS_WORN, IDS_RESULT_WORN, IDB_HEALTH_WORN, false};
    default:
        return {IDS_STATUS_BAD, IDS_RESULT_BAD, IDB_HEALTH_BAD, true};
    }
}

void SetResultDlgInfo(HWND hDlg, const CBatteryArray* pBatteryArray) {
    if (IsNullArg(pBatteryArray, L"SetResultDlgInfo", __LINE__, L"pBatteryArray"))
        return;
    CResultFiller filler(hDlg);
    filler.ShowPlaceholders();
    filler.FillBattery(pBatteryArray->GetBattery(1), kBattery1);
    filler.FillBattery(pBatteryArray->GetBattery(2), kBattery2);
    filler.ShowMessage();
}

} // namespace zbmain
