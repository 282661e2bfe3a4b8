#include "refresh_observer.h"

#include <stdio.h>

namespace observer {
namespace {

constexpr wchar_t kWindowClass[] = L"ZbRefreshObserver";
constexpr DWORD kConnectPollMs = 20;

void Acknowledge(LONGLONG reason) {
    CPipeClient request;
    if (!request.PipeRetry(PIPE2_NAME, 50, 5))
        return;
    request.SendMessageW(WM_USER_REFERROR, static_cast<UINT64>(reason));
    request.Close();
}

} // namespace

RefreshObserver::RefreshObserver() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

RefreshObserver::~RefreshObserver() {
    pipe_.Close();
    if (window_)
        DestroyWindow(window_);
}

bool RefreshObserver::Connect(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!pipe_.Connect(window_, PIPE1_NAME)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(kConnectPollMs);
    }
    return pipe_.StartReceive() != FALSE;
}

bool RefreshObserver::Pump(DWORD waitMs, const std::function<void(const Notice&)>& onNotice) {
    onNotice_ = onNotice;
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT) == WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    onNotice_ = nullptr;
    return IsRefreshToolRunning();
}

LRESULT CALLBACK RefreshObserver::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<RefreshObserver*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    switch (message) {
    case WM_USER_REFMODE:
    case WM_USER_REFPROGRESS:
    case WM_USER_REFERROR:
    case WM_USER_REFPOWERPLAN: {
        const Notice notice = {message, static_cast<UINT>(lParam),
                               static_cast<LONGLONG>(static_cast<INT_PTR>(wParam)),
                               GetTickCount64()};
        if (self && self->onNotice_)
            self->onNotice_(notice);
        if (message == WM_USER_REFERROR)
            Acknowledge(notice.value);
        return 0;
    }
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

bool IsRefreshToolRunning() {
    return RefreshToolMutexExists();
}

const char* ModeName(LONGLONG mode) {
    switch (mode) {
    case 0:
        return "CHARGING1";
    case 1:
        return "REFRESHING";
    case 2:
        return "COOLDOWN1";
    case 3:
        return "COOLDOWN2";
    case 4:
        return "CHARGING2";
    case 5:
        return "DONE";
    default:
        return "ERROR";
    }
}

std::string DescribeBattery(const sim::Battery& b) {
    if (!b.present)
        return "absent";
    char text[160];
    const char* state = sim::IsCharging(b)      ? "charging"
                        : sim::IsDischarging(b) ? "discharging"
                                                : "idle";
    snprintf(text, sizeof(text), "%3u %%  %5.1f C  %-11s %+6.1f W  ADPC %u CHGC %u  mode %u",
             sim::RemainingPercent(b), b.temperature / 10.0 - 273.15, state, b.rate / 1000.0,
             b.adpc, b.chgc, b.chargeMode);
    return text;
}

sim::Machine ReadMachineNow() {
    sim::Machine m = {};
    if (sim::ReadMachine(&m) != 0)
        m = sim::Machine();
    return m;
}

} // namespace observer
