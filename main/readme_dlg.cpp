// The read-me dialog: the flow of a refresh as a picture, and the choice
// not to be shown it at every start.
#include "main/main_app.h"

#include <memory>

#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "main/program_ids.h"

namespace zbmain {

namespace {

struct ReadMeState {
    explicit ReadMeState(MainApp& owner) : app(owner) {}
    MainApp& app;
    zb::UniqueBitmap scaledPicture; // shown by the picture control
};

// Gives the picture control another bitmap and deletes the one it gives
// back, unless that is ours: the bitmap the control loaded from the
// template is no longer its own to delete once replaced, and a control that
// copies a bitmap with alpha gives the copy back.
void SwapPicture(HWND hDlg, HBITMAP hBitmap, const ReadMeState& state) {
    zb::UniqueBitmap previous(reinterpret_cast<HBITMAP>(SendDlgItemMessageW(
        hDlg, IDC_README_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hBitmap))));
    if (previous.Get() == state.scaledPicture.Get())
        previous.Release();
}

// The picture is drawn for 96 DPI; the dialog around it grows with the
// font at higher settings, so the picture is scaled (smoothly) to match,
// and its background takes this system's dialog colour.
void ScalePicture(HWND hDlg, ReadMeState& state) {
    double scaleX = 1.0;
    double scaleY = 1.0;
    if (!GetScaling(&scaleX, &scaleY))
        return;
    zb::UniqueBitmap original(static_cast<HBITMAP>(
        LoadImageW(state.app.instance, MAKEINTRESOURCEW(IDB_README_FLOW), IMAGE_BITMAP, 0, 0, 0)));
    BITMAP info = {};
    if (!original || !GetObjectW(original.Get(), sizeof(info), &info)) {
        LogApiFailure(L"ReadMeDlgProc", __LINE__, L"LoadImage", GetLastError());
        return;
    }
    const int width = static_cast<int>(info.bmWidth * scaleX);
    const int height = static_cast<int>(info.bmHeight * scaleY);
    HDC screen = GetDC(nullptr);
    state.scaledPicture.Reset(CreateCompatibleBitmap(screen, width, height));
    ReleaseDC(nullptr, screen);
    if (!state.scaledPicture)
        return;
    RECT target = {0, 0, width, height};
    HDC hdc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(hdc, state.scaledPicture.Get());
    StretchImg(state.app.instance, hdc, MAKEINTRESOURCEW(IDB_README_FLOW), target.left, target.top);
    SelectObject(hdc, previous);
    DeleteDC(hdc);
    SwapPicture(hDlg, state.scaledPicture.Get(), state);
}

void OnInit(HWND hDlg, ReadMeState& state) {
    SetWindowTextW(hDlg, state.app.title);
    CheckDlgButton(hDlg, IDC_README_CHECK, GetRegReadMeCheck() == 1 ? BST_CHECKED : BST_UNCHECKED);
    ScalePicture(hDlg, state);
}

void OnNext(HWND hDlg, const ReadMeState& state) {
    const DWORD check = IsDlgButtonChecked(hDlg, IDC_README_CHECK) == BST_CHECKED ? 1 : 0;
    const HRESULT hr = SetRegReadMeCheck(check);
    if (FAILED(hr))
        WriteErrorLog(IDS_ERR_README_WRITE, ERRLOG_CAPTION_ID, ERRLOG_FILE, static_cast<DWORD>(hr),
                      state.app.instance);
    SendMessageW(hDlg, WM_CLOSE, 0, 0);
}

INT_PTR CALLBACK ReadMeDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    ReadMeState* state = zb::DialogState<ReadMeState>(hDlg);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        OnInit(hDlg, *state);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            OnNext(hDlg, *state);
        else if (LOWORD(wParam) == IDCANCEL)
            SendMessageW(hDlg, WM_CLOSE, 0, 0);
        return TRUE;
    case WM_CLOSE:
        zb::CloseModeless(hDlg);
        return TRUE;
    case WM_DESTROY:
        // The control lets go of the picture before the state frees it.
        SwapPicture(hDlg, nullptr, *state);
        return FALSE;
    case WM_NCDESTROY:
        state->app.readMe.Forget(hDlg);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

HWND CreateReadMeDialog(MainApp& app, HWND hParent) {
    HWND hDlg = zb::CreateDialogWithState<ReadMeDlgProc>(
        app.instance, MAKEINTRESOURCEW(IDD_README), hParent, std::make_unique<ReadMeState>(app));
    if (!hDlg)
        LogApiFailure(L"WndProc", __LINE__, L"CreateDialogParam", GetLastError());
    return hDlg;
}

} // namespace zbmain
