// DPI-scaled bitmap drawing and window placement for the main screen.
#include "common/util.h"

#include "common/handles.h"
#include "common/log.h"

namespace {

using UniqueMemoryDc = zb::UniqueResource<zb::NullableTraits<HDC, DeleteDC>>;

// Puts the memory context's first bitmap back before the context goes.
class SelectionGuard {
public:
    SelectionGuard(HDC hdc, HGDIOBJ previous) : hdc_(hdc), previous_(previous) {}
    SelectionGuard(const SelectionGuard&) = delete;
    SelectionGuard& operator=(const SelectionGuard&) = delete;
    ~SelectionGuard() { SelectObject(hdc_, previous_); }

private:
    HDC hdc_;
    HGDIOBJ previous_;
};

void LogLastError(int nLine, LPCWSTR lpszApi) {
    WriteLog(L"StretchImg", nLine, L"Fail to %s(). ErrorCode: %08x.", lpszApi, GetLastError());
}

} // namespace

BOOL GetScaling(double* pdScaleX, double* pdScaleY) {
    if (!pdScaleX || !pdScaleY) {
        LogNullArg(L"GetScaling", __LINE__, !pdScaleX ? L"pdScaleX" : L"pdScaleY");
        return FALSE;
    }
    HDC screen = GetDC(nullptr);
    if (!screen) {
        LogApiFailure(L"GetScaling", __LINE__, L"GetDC", GetLastError());
        return FALSE;
    }
    *pdScaleX = GetDeviceCaps(screen, LOGPIXELSX) / 96.0;
    *pdScaleY = GetDeviceCaps(screen, LOGPIXELSY) / 96.0;
    ReleaseDC(nullptr, screen);
    return TRUE;
}

HBITMAP LoadFaceBitmap(HINSTANCE hInstance, LPCWSTR lpszBitmapName) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(hInstance, lpszBitmapName, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    const COLORREF face = GetSysColor(COLOR_3DFACE);
    DIBSECTION dib = {};
    if (!bitmap || face == RGB(240, 240, 240) ||
        GetObjectW(bitmap, sizeof(dib), &dib) != sizeof(dib) || dib.dsBm.bmBitsPixel != 24 ||
        !dib.dsBm.bmBits)
        return bitmap;
    BYTE* rows = static_cast<BYTE*>(dib.dsBm.bmBits);
    for (LONG y = 0; y < dib.dsBm.bmHeight; ++y) {
        BYTE* pixel = rows + y * dib.dsBm.bmWidthBytes;
        for (LONG x = 0; x < dib.dsBm.bmWidth; ++x, pixel += 3) {
            // Blue, green, red.
            if (pixel[0] == 240 && pixel[1] == 240 && pixel[2] == 240) {
                pixel[0] = GetBValue(face);
                pixel[1] = GetGValue(face);
                pixel[2] = GetRValue(face);
            }
        }
    }
    return bitmap;
}

HRESULT StretchImg(HINSTANCE hInstance, HDC hdc, LPCWSTR lpszBitmapName, int x, int y) {
    if (!hdc || !lpszBitmapName) {
        LogNullArg(L"StretchImg", __LINE__, !hdc ? L"hdc" : L"lpszBitmapName");
        return E_INVALIDARG;
    }
    // Each bitmap load is a new object of ours, deleted here so repeated
    // paints leak nothing.
    zb::UniqueBitmap bitmap(LoadFaceBitmap(hInstance, lpszBitmapName));
    if (!bitmap) {
        LogLastError(__LINE__, L"LoadImage");
        return E_HANDLE;
    }
    UniqueMemoryDc memDc(CreateCompatibleDC(hdc));
    if (!memDc) {
        LogLastError(__LINE__, L"CreateCompatibleDC");
        return E_HANDLE;
    }
    HGDIOBJ previous = SelectObject(memDc.Get(), bitmap.Get());
    if (!previous || previous == HGDI_ERROR) {
        LogLastError(__LINE__, L"SelectObject");
        return E_HANDLE;
    }
    SelectionGuard selection(memDc.Get(), previous);

    BITMAP info = {};
    if (!GetObjectW(bitmap.Get(), sizeof(info), &info)) {
        LogLastError(__LINE__, L"GetObject");
        return E_FAIL;
    }
    if (!SetStretchBltMode(hdc, HALFTONE))
        LogLastError(__LINE__, L"SetStretchBltMode");
    double scaleX = 1.0;
    double scaleY = 1.0;
    if (!GetScaling(&scaleX, &scaleY)) {
        LogLastError(__LINE__, L"GetScaling");
        scaleX = scaleY = 1.0;
    }
    const int width = static_cast<int>(info.bmWidth * scaleX);
    const int height = static_cast<int>(info.bmHeight * scaleY);
    if (!StretchBlt(hdc, x, y, width, height, memDc.Get(), 0, 0, info.bmWidth, info.bmHeight,
                    SRCCOPY)) {
        LogLastError(__LINE__, L"StretchBlt");
        return E_FAIL;
    }
    return S_OK;
}

BOOL SetClientRect(HWND hWnd, const RECT* pRect) {
    if (!hWnd || !pRect) {
        LogNullArg(L"SetClientRect", __LINE__, !hWnd ? L"hWnd" : L"pRect");
        return FALSE;
    }
    RECT window = {};
    RECT client = {};
    if (!GetWindowRect(hWnd, &window) || !GetClientRect(hWnd, &client)) {
        LogApiFailure(L"SetClientRect", __LINE__, L"GetWindowRect", GetLastError());
        return FALSE;
    }
    // The frame (caption, borders, menu) keeps its size.
    const int frameX = (window.right - window.left) - (client.right - client.left);
    const int frameY = (window.bottom - window.top) - (client.bottom - client.top);
    const int width = (pRect->right - pRect->left) + frameX;
    const int height = (pRect->bottom - pRect->top) + frameY;
    WriteLog(L"SetClientRect", __LINE__, L"SetWindowPos(). hWnd: %08x. width: %d, height: %d \n",
             static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hWnd)), width, height);
    const BOOL moved = SetWindowPos(hWnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    if (!moved)
        WriteLog(L"SetClientRect", __LINE__, L"Fail to SetWindowPos(). dwRet: %08x.\n",
                 GetLastError());
    return moved;
}

POINT CenteredWindowPosition(const RECT& rcParent, LONG lWidth, LONG lHeight) {
    POINT pos = {};
    pos.x = rcParent.left + ((rcParent.right - rcParent.left) - lWidth) / 2;
    pos.y = rcParent.top + ((rcParent.bottom - rcParent.top) - lHeight) / 2;
    if (pos.x < 0)
        pos.x = 0;
    if (pos.y < 0)
        pos.y = 0;
    return pos;
}

BOOL CenterWindowOnParent(HWND hWnd) {
    if (!hWnd) {
        LogNullArg(L"CenterWindowOnParent", __LINE__, L"hWnd");
        return FALSE;
    }
    HWND parent = GetParent(hWnd);
    if (!parent)
        return FALSE;
    RECT rcParent = {};
    RECT rcWindow = {};
    if (!GetWindowRect(parent, &rcParent) || !GetWindowRect(hWnd, &rcWindow)) {
        LogApiFailure(L"CenterWindowOnParent", __LINE__, L"GetWindowRect", GetLastError());
        return FALSE;
    }
    const POINT pos = CenteredWindowPosition(rcParent, rcWindow.right - rcWindow.left,
                                             rcWindow.bottom - rcWindow.top);
    // A child window is placed in its parent's client coordinates.
    POINT target = pos;
    if (GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD) {
        ScreenToClient(parent, &target);
        if (target.x < 0)
            target.x = 0;
        if (target.y < 0)
            target.y = 0;
    }
    if (!SetWindowPos(hWnd, nullptr, target.x, target.y, 0, 0,
                      SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        LogApiFailure(L"CenterWindowOnParent", __LINE__, L"SetWindowPos", GetLastError());
        return FALSE;
    }
    return TRUE;
}

void SetWindowTextFromResource(HWND hWnd, UINT uStringId) {
    if (!hWnd) {
        LogNullArg(L"SetWindowTextFromResource", __LINE__, L"hWnd");
        return;
    }
    HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWnd, GWLP_HINSTANCE));
    wchar_t text[MAX_PATH] = {};
    if (LoadStringW(module, uStringId, text, ARRAYSIZE(text)) <= 0)
        return;
    SetWindowTextW(hWnd, text);
}
