// Test side of the toast library: a window that collects its reports, the
// popups it shows in this process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/toast.h"
#include "support/suite_env.h"

namespace toasttest {

struct Report {
    UINT uMsg;
    WPARAM nKind;
};

// A message-only window that records every report posted to it.
class ReportWindow {
public:
    ReportWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ToastTestReportWindow";
        RegisterClassW(&wc); // fails harmlessly when a previous test registered it
        hWnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
        SetWindowLongPtrW(hWnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~ReportWindow() { DestroyWindow(hWnd_); }
    ReportWindow(const ReportWindow&) = delete;
    ReportWindow& operator=(const ReportWindow&) = delete;

    HWND Get() const { return hWnd_; }
    const std::vector<Report>& Reports() const { return reports_; }
    size_t Count(UINT uMsg, WPARAM nKind) const {
        size_t n = 0;
        for (const Report& r : reports_)
            n += (r.uMsg == uMsg && r.nKind == nKind) ? 1 : 0;
        return n;
    }
    // Reports that end a toast (everything but "shown").
    size_t EndCount() const {
        size_t n = 0;
        for (const Report& r : reports_)
            n += r.uMsg != TOAST_MSG_SHOWN ? 1 : 0;
        return n;
    }

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ReportWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (self && uMsg >= TOAST_MSG_ACTIVATED && uMsg <= TOAST_MSG_FAILED) {
            self->reports_.push_back(Report{uMsg, wParam});
            return 0;
        }
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }

    HWND hWnd_ = nullptr;
    std::vector<Report> reports_;
};

// The toast popups of this process, in no particular order.
inline std::vector<HWND> FindToastPopups() {
    std::vector<HWND> popups;
    HWND hWnd = nullptr;
    while ((hWnd = FindWindowExW(nullptr, hWnd, KX_NTF_POPUP_CLASS, nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        if (pid == GetCurrentProcessId())
            popups.push_back(hWnd);
    }
    return popups;
}

inline std::wstring WindowText(HWND hWnd) {
    wchar_t text[1024] = {};
    GetWindowTextW(hWnd, text, ARRAYSIZE(text));
    return text;
}

using testenv::PumpUntil;

// Dispatches what is already queued (posted reports included).
inline void PumpPending() {
    PumpUntil([] { return false; }, 0);
}

} // namespace toasttest
