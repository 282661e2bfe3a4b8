// The reservation dialog: sets or cancels the next automatic refresh. It is
// only the user interface; what a reservation is and how it is registered,
// read and cancelled is ReservationService's (main/reservation.h).
#include "main/main_app.h"

#include "common/help.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/util.h"
#include "common/window_base.h"
#include "common/wrappers.h"
#include "ipc/contract.h"
#include "main/message_box.h"
#include "main/program_ids.h"
#include "main/reservation.h"

#include <commctrl.h>
#include <strsafe.h>
#include <wchar.h>

#include <memory>

namespace zbmain {

namespace {

constexpr DWORD kReservationHelpTopic = 10132;
constexpr size_t kPasswordCch = 257;
constexpr size_t kArgumentsCch = 64;

// The dialog's tasks are reached through one scheduler, chosen as it opens.
struct ReservationState {
    ReservationState(MainApp& owner, CBatteryArray* pBatteries)
        : app(owner), batteries(pBatteries), tasks(CreateTaskScheduling(owner.instance)),
          reservation(*tasks, owner.instance) {}

    MainApp& app;
    CBatteryArray* batteries;
    bool changed = false;
    std::unique_ptr<TaskScheduling> tasks;
    ReservationService reservation;
};

bool Checked(HWND hDlg, int id) {
    return IsDlgButtonChecked(hDlg, id) == BST_CHECKED;
}

void EnableItems(HWND hDlg, std::initializer_list<int> ids, BOOL bEnable) {
    for (int id : ids)
        EnableWindow(GetDlgItem(hDlg, id), bEnable);
}

void ShowItems(HWND hDlg, std::initializer_list<int> ids) {
    for (int id : ids)
        ShowWindow(GetDlgItem(hDlg, id), SW_SHOW);
}

void EnablePickers(HWND hDlg, BOOL bEnable) {
    EnableItems(hDlg, {IDC_RESV_DATE, IDC_RESV_TIME, IDC_RESV_PASSWORD}, bEnable);
}

// The pickers follow the battery boxes and the radio buttons.
void UpdateEnabling(HWND hDlg) {
    const BOOL any = Checked(hDlg, IDC_RESV_BATT1) || Checked(hDlg, IDC_RESV_BATT2);
    EnableItems(hDlg, {IDC_RESV_ON, IDC_RESV_OFF, IDC_RESV_PASSWORD_LABEL}, any);
    EnablePickers(hDlg, any && Checked(hDlg, IDC_RESV_ON));
}

void GetPickedTime(HWND hDlg, SYSTEMTIME* pTime) {
    if (IsNullArg(pTime, L"DateTime_GetSystemtimeYearHour", __LINE__, L"lpSystime"))
        return;
    SYSTEMTIME date = {};
    SYSTEMTIME time = {};
    SendDlgItemMessageW(hDlg, IDC_RESV_DATE, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&date));
    SendDlgItemMessageW(hDlg, IDC_RESV_TIME, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time));
    *pTime = date;
    pTime->wHour = time.wHour;
    pTime->wMinute = time.wMinute;
    pTime->wSecond = 0;
    pTime->wMilliseconds = 0;
}

void SetPickedTime(HINSTANCE hInstance, HWND hDlg, const SYSTEMTIME& time) {
    for (int id : {IDC_RESV_DATE, IDC_RESV_TIME}) {
        const LRESULT result = SendDlgItemMessageW(hDlg, id, DTM_SETSYSTEMTIME, GDT_VALID,
                                                   reinterpret_cast<LPARAM>(&time));
        if (!result)
            WriteErrorLog(IDS_ERR_DATETIME, ERRLOG_CAPTION_ID, ERRLOG_FILE,
                          static_cast<DWORD>(result), hInstance);
    }
}

bool PasswordAsked() {
    return IsUserAdministrator() || (IsWindowsXP() && GetRegLimited() != 0);
}

void ShowNotes(HINSTANCE hInstance, HWND hDlg) {
    const bool xp = IsWindowsXP() != FALSE;
    const bool win7 = IsWindows7OrLater() != FALSE;
    const bool admin = IsUserAdministrator() != FALSE;
    const ReservationNotes notes =
        ReservationNotesFor(xp, win7, IsWindows8OrLater() != FALSE, admin, GetRegLimited() != 0);
    if (notes.disabled)
        EnableItems(hDlg,
                    {IDC_RESV_GROUP, IDC_RESV_ON, IDC_RESV_OFF, IDC_RESV_DATE, IDC_RESV_TIME,
                     IDC_RESV_PASSWORD_LABEL, IDC_RESV_PASSWORD, IDC_SLEEP_CHECK},
                    FALSE);
    WCHAR note[512] = L"";
    for (UINT id : notes.noteText) {
        WCHAR part[256] = L"";
        if (!id || !LoadStringW(hInstance, id, part, ARRAYSIZE(part)))
            continue;
        if (note[0])
            StringCchCatW(note, ARRAYSIZE(note), L"\r");
        StringCchCatW(note, ARRAYSIZE(note), part);
    }
    if (note[0])
        SetDlgItemTextW(hDlg, IDC_RESV_NOTE, note);
    if (!xp && admin)
        WriteLog(L"ReservationDlg", __LINE__,
                 win7 ? L"ReservationDlg::IsWin7OrLater,szMsg=%s \n"
                      : L"ReservationDlg::NotWin7OrLater,szMsg=%s \n",
                 note);
    else if (!xp)
        WriteLog(L"ReservationDlg", __LINE__, L"ReservationDlg::Not admin\n");
    for (size_t i = 0; i < notes.shownCount; ++i)
        ShowWindow(GetDlgItem(hDlg, notes.shown[i]), SW_SHOW);
}

void OnInit(HWND hDlg, ReservationState& state) {
    const MainApp& app = state.app;
    for (UINT battNo : {1u, 2u}) {
        CBattery* battery = state.batteries ? state.batteries->GetBattery(battNo) : nullptr;
        if (!battery || battery->GetBatteryHealth() == BATTERY_HEALTH_CAUTION)
            EnableWindow(GetDlgItem(hDlg, battNo == 1 ? IDC_RESV_BATT1 : IDC_RESV_BATT2), FALSE);
    }
    EnableItems(hDlg, {IDC_RESV_ON, IDC_RESV_OFF, IDC_RESV_PASSWORD_LABEL}, FALSE);
    EnablePickers(hDlg, FALSE);
    SetWindowTextW(hDlg, app.title);
    state.changed = false;
    ShowItems(hDlg, {IDC_SLEEP_CHECK});
    WCHAR note[512] = L"";
    LoadStringW(app.instance, IDS_RESV_NOTE_DEFAULT, note, ARRAYSIZE(note));
    SetDlgItemTextW(hDlg, IDC_RESV_NOTE, note);

    SYSTEMTIME now = {};
    GetLocalTime(&now);
    SYSTEMTIME range[2] = {now, ReservationLatestDate(now)};
    SendDlgItemMessageW(hDlg, IDC_RESV_DATE, DTM_SETRANGE, GDTR_MIN | GDTR_MAX,
                        reinterpret_cast<LPARAM>(range));
    SendDlgItemMessageW(hDlg, IDC_RESV_TIME, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"HH:mm"));
    SetFocus(GetDlgItem(hDlg, IDOK));
    ShowNotes(app.instance, hDlg);

    SYSTEMTIME shown = now;
    if (GetReservationDisplay(app.instance, &shown)) {
        CheckRadioButton(hDlg, IDC_RESV_ON, IDC_RESV_OFF, IDC_RESV_ON);
        WCHAR args[kArgumentsCch] = L"";
        state.reservation.ReadArguments(args, ARRAYSIZE(args));
        if (wcsstr(args, L"/sleep"))
            CheckDlgButton(hDlg, IDC_SLEEP_CHECK, BST_CHECKED);
        const DWORD bits = ReservedBatteriesOf(args);
        for (UINT battNo : {1u, 2u}) {
            if (!(bits & battNo))
                continue;
            CheckDlgButton(hDlg, battNo == 1 ? IDC_RESV_BATT1 : IDC_RESV_BATT2, BST_CHECKED);
            EnableItems(hDlg, {IDC_RESV_ON, IDC_RESV_OFF, IDC_RESV_PASSWORD_LABEL}, TRUE);
            EnablePickers(hDlg, TRUE);
        }
    } else {
        shown = now;
        CheckRadioButton(hDlg, IDC_RESV_ON, IDC_RESV_OFF, IDC_RESV_OFF);
    }
    SetPickedTime(app.instance, hDlg, shown);
}

void Warn(HWND hDlg, UINT uMessageId) {
    TaskDlgMessageBox(hDlg, uMessageId, IDS_APP_TITLE, MB_OK | MB_ICONWARNING);
}

void OnOk(HWND hDlg, ReservationState& state) {
    if (Checked(hDlg, IDC_RESV_ON) &&
        (Checked(hDlg, IDC_RESV_BATT1) || Checked(hDlg, IDC_RESV_BATT2))) {
        SYSTEMTIME now = {};
        SYSTEMTIME picked = {};
        GetLocalTime(&now);
        GetPickedTime(hDlg, &picked);
        FILETIME nowFile = {};
        FILETIME pickedFile = {};
        SystemTimeToFileTime(&now, &nowFile);
        SystemTimeToFileTime(&picked, &pickedFile);
        if (CompareFileTime(&nowFile, &pickedFile) > 0) {
            Warn(hDlg, IDS_TIME_PAST);
            return;
        }
        WCHAR password[kPasswordCch] = L"";
        if (PasswordAsked())
            GetDlgItemTextW(hDlg, IDC_RESV_PASSWORD, password, ARRAYSIZE(password));
        if (IsWindowsXP() && password[0] == L'\0') {
            Warn(hDlg, IDS_NO_PASSWORD);
            return;
        }
        if (password[0] != L'\0' && !CheckPasswd(password)) {
            Warn(hDlg, IDS_WRONG_PASSWORD);
            return;
        }
        WCHAR user[256] = L"";
        ReservationUser(user, ARRAYSIZE(user));
        ReservationRequest request = {};
        GetPickedTime(hDlg, &request.start);
        request.battery1 = Checked(hDlg, IDC_RESV_BATT1);
        request.battery2 = Checked(hDlg, IDC_RESV_BATT2);
        request.sleep = Checked(hDlg, IDC_SLEEP_CHECK);
        request.user = user;
        request.password = password;
        const HRESULT hr = state.reservation.Add(request);
        SecureZeroMemory(password, sizeof(password));
        if (FAILED(hr))
            WriteLog(L"ResevationDlgProc", __LINE__, L"Fail to ResevationAddTask(). hr: %08x.\n",
                     hr);
    } else {
        state.reservation.Cancel();
    }
    SendMessageW(state.app.mainWindow, WM_USER_UPDATEBATTERY, 0, 0);
    zb::CloseModeless(hDlg);
}

void OnCancel(HWND hDlg, const ReservationState& state) {
    if (state.changed && TaskDlgMessageBox(hDlg, IDS_DISCARD_CHANGES, IDS_APP_TITLE,
                                           MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    zb::CloseModeless(hDlg);
}

INT_PTR CALLBACK ResevationDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        OnInit(hDlg, *reinterpret_cast<ReservationState*>(lParam));
        return FALSE;
    }
    ReservationState* state = zb::DialogState<ReservationState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR*>(lParam)->code == DTN_DATETIMECHANGE)
            state->changed = true;
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk(hDlg, *state);
            break;
        case IDCANCEL:
            OnCancel(hDlg, *state);
            break;
        case IDC_BUTTON_HELP:
            OpenHelp(GetDesktopWindow(), kReservationHelpTopic);
            break;
        case IDC_RESV_BATT1:
        case IDC_RESV_BATT2:
            UpdateEnabling(hDlg);
            break;
        case IDC_RESV_ON:
        case IDC_RESV_OFF:
            state->changed = true;
            UpdateEnabling(hDlg);
            break;
        case IDC_SLEEP_CHECK:
            state->changed = true;
            break;
        default:
            break;
        }
        return TRUE;
    case WM_NCDESTROY:
        state->app.reservationDialog.Forget(hDlg);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

ReservationNotes ReservationNotesFor(bool bWindowsXP, bool bWindows7, bool bWindows8, bool bAdmin,
                                     bool bLimited) {
    ReservationNotes notes = {};
    auto show = [&notes](std::initializer_list<int> ids) {
        for (int id : ids)
            notes.shown[notes.shownCount++] = id;
    };
    if (bWindowsXP) {
        // Task Scheduler 1.0 needs the account's password, which only an
        // administrator or, with "Limited", any user may give here.
        notes.disabled = !bAdmin && !bLimited;
        if (notes.disabled)
            show({IDC_RESV_NOTE_LOGIN});
        else
            show({IDC_RESV_PASSWORD_LABEL, IDC_RESV_PASSWORD, IDC_RESV_NOTE_POWER,
                  IDC_RESV_NOTE_PASSWORD, IDC_RESV_CAUTION});
    } else if (bAdmin) {
        notes.noteText[0] = IDS_RESV_NOTE_PASSWORD;
        notes.noteText[1] = bWindows7 ? IDS_RESV_NOTE_WAKE : 0;
        show({IDC_RESV_PASSWORD_LABEL, IDC_RESV_PASSWORD, IDC_RESV_NOTE_POWER, IDC_RESV_NOTE,
              IDC_RESV_CAUTION});
    } else {
        if (bWindows7) {
            notes.noteText[0] = IDS_RESV_NOTE_WAKE;
            show({IDC_RESV_NOTE, IDC_RESV_CAUTION});
        }
        show({bWindows8 ? IDC_RESV_NOTE_SIGNIN : IDC_RESV_NOTE_LOGIN});
    }
    return notes;
}

HWND CreateReservationDialog(MainApp& app, HWND hParent, CBatteryArray* pBatteries) {
    std::unique_ptr<ReservationState> state(new ReservationState(app, pBatteries));
    HWND hDlg = zb::CreateDialogWithState<ResevationDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_RESERVATION), hParent, std::move(state));
    if (!hDlg)
        LogApiFailure(L"WndProc", __LINE__, L"CreateDialogParam", GetLastError());
    return hDlg;
}

} // namespace zbmain
