// The notification icon as Wine's notification area shows it: every icon is
// a child window of class "__winex11_tray_icon" inside the top-level
// "__winex11_standalone_tray" of the prefix's desktop process.
#include "common/notify_icon.h"

#include "support/suite_env.h"

#include <gtest/gtest.h>

namespace {

using testenv::CountTrayIcons;

constexpr UINT kIconNormal = 129;
constexpr UINT kIconOther = 101;
constexpr DWORD kWaitMs = 10000;

HWND FirstTrayIcon() {
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    return tray ? FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr) : nullptr;
}

// The window that owns the icon; it records the shell's callbacks.
struct Callback {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

LRESULT CALLBACK OwnerWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NOTIFYICON || msg == WM_NOTIFYICON_CAUTION) {
        auto* last = reinterpret_cast<Callback*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (last && LOWORD(lParam) == WM_LBUTTONDOWN)
            *last = Callback{msg, wParam, lParam};
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

class NotifyIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = OwnerWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"NotifyIconTestOwner";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowW(wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(nullptr, hwnd_);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&callback_));
        ASSERT_NE(nullptr, FindWindowW(L"Shell_TrayWnd", nullptr))
            << "no notification area: is this the X11 driver under Xvfb (run-x11)?";
    }
    void TearDown() override {
        PostNcDestroy(hwnd_, &notif_);
        DestroyWindow(hwnd_);
    }

    bool WaitIcons(int count) {
        return testenv::PumpUntil([&] { return CountTrayIcons() == count; }, kWaitMs);
    }

    // Clicks the icon in the notification area and returns the callback
    // the window got (message 0 when none came).
    Callback Click() {
        callback_ = Callback{};
        HWND icon = FirstTrayIcon();
        if (!icon)
            return callback_;
        PostMessageW(icon, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        PostMessageW(icon, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
        testenv::PumpUntil([&] { return callback_.message != 0; }, kWaitMs);
        return callback_;
    }

    HWND hwnd_ = nullptr;
    NOTIFYICONDATAW notif_ = {};
    Callback callback_;
};

TEST_F(NotifyIconTest, AddUpdateRemoveAndAddAgain) {
    ASSERT_TRUE(WaitIcons(0));
    ASSERT_EQ(0u, AddNotifyIcon(hwnd_, L"first", kIconNormal, &notif_));
    EXPECT_TRUE(WaitIcons(1));
    EXPECT_EQ(static_cast<DWORD>(NIF_MESSAGE | NIF_ICON | NIF_TIP | 0x80), notif_.uFlags);
    EXPECT_EQ(WM_NOTIFYICON, notif_.uCallbackMessage);

    // A second add of the same icon updates it.
    ASSERT_EQ(0u, AddNotifyIcon(hwnd_, L"second", kIconOther, &notif_));
    EXPECT_EQ(1, CountTrayIcons());
    EXPECT_STREQ(L"second", notif_.szTip);

    // Version 4: the event in the low word of lParam, the icon id in the
    // high word and the click's screen position in wParam (older versions
    // put the icon id, 0, there).
    Callback clicked = Click();
    EXPECT_EQ(WM_NOTIFYICON, clicked.message);
    EXPECT_EQ(0, HIWORD(clicked.lParam));
    EXPECT_NE(0u, clicked.wParam);

    // A balloon on the icon; the version stays 4 afterwards.
    EXPECT_EQ(0u,
              OpenBalloonEx(hwnd_, L"タイトル", L"本文", kIconNormal, BALLOON_WARNING, &notif_));
    EXPECT_EQ(4u, notif_.uVersion);
    EXPECT_EQ(1, CountTrayIcons());
    EXPECT_NE(0u, Click().wParam);

    EXPECT_EQ(0u, PostNcDestroy(hwnd_, &notif_));
    EXPECT_TRUE(WaitIcons(0));

    ASSERT_EQ(0u, AddNotifyIcon(hwnd_, L"again", kIconNormal, &notif_));
    EXPECT_TRUE(WaitIcons(1));
    clicked = Click();
    EXPECT_EQ(WM_NOTIFYICON, clicked.message);
    EXPECT_NE(0u, clicked.wParam) << "the icon came back without version 4";
}

TEST_F(NotifyIconTest, BalloonWithoutIconFailsAndShowsNothing) {
    ASSERT_TRUE(WaitIcons(0));
    const DWORD error = OpenBalloonEx(hwnd_, L"t", L"m", kIconNormal, BALLOON_INFO, &notif_);
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), error);
    EXPECT_EQ(0, CountTrayIcons());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              OpenBalloonEx(hwnd_, nullptr, L"m", kIconNormal, BALLOON_INFO, &notif_));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              AddNotifyIcon(hwnd_, L"tip", kIconNormal, nullptr));
}

// The caution form adds the icon with its balloon in one step, and updates
// an icon that is already there; its clicks come as WM_NOTIFYICON_CAUTION.
TEST_F(NotifyIconTest, CautionBalloonAddsOrUpdates) {
    ASSERT_TRUE(WaitIcons(0));
    ASSERT_EQ(0u, OpenBalloonCaution(hwnd_, L"警告", L"本文", L"tip", kIconOther, &notif_));
    EXPECT_TRUE(WaitIcons(1));
    EXPECT_EQ(0u, OpenBalloonCaution(hwnd_, L"警告", L"本文2", nullptr, kIconNormal, &notif_));
    EXPECT_EQ(1, CountTrayIcons());
    EXPECT_STREQ(L"tip", notif_.szTip);
    EXPECT_EQ(WM_NOTIFYICON_CAUTION, Click().message);
}

} // namespace
