// Stands in for the resident scheduler where the install helper looks for
// it: records each start (its own path) and each charge-mode reset it is
// sent under HKCU\Software\zbtest\scheduler, keeps a window of class
// "zbSched" open, and ends after 60 s or when closed.
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kRecordKey[] = L"Software\\zbtest\\scheduler";
constexpr UINT kResetChargeMode = 0x8603;
constexpr UINT_PTR kLifeTimer = 1;

void Record(const wchar_t* name, const std::wstring& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRecordKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    wchar_t old[1024] = {};
    DWORD cb = sizeof(old) - sizeof(wchar_t);
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(old), &cb);
    const std::wstring value = std::wstring(old) + text + L";";
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

LRESULT CALLBACK FakeSchedulerWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case kResetChargeMode:
        Record(L"Resets", std::to_wstring(wParam) + L"," + std::to_wstring(lParam));
        return 0;
    case WM_TIMER:
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hWnd, msg, wParam, lParam);
    }
}

} // namespace

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, ARRAYSIZE(self));
    Record(L"Starts", self);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FakeSchedulerWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"zbSched";
    if (!RegisterClassW(&wc))
        return 1;
    HWND wnd = CreateWindowW(L"zbSched", L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                             wc.hInstance, nullptr);
    if (!wnd)
        return 1;
    SetTimer(wnd, kLifeTimer, 60000, nullptr);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0)
        DispatchMessageW(&m);
    return 0;
}
