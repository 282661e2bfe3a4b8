// Window sizing and centring on real (hidden) windows.
#include "common/util.h"

#include <gtest/gtest.h>

namespace {

struct Window {
    explicit Window(HWND parent = nullptr, DWORD style = WS_OVERLAPPEDWINDOW) {
        hwnd = CreateWindowExW(0, L"STATIC", L"", style, 100, 100, 400, 300, parent, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
    ~Window() {
        if (hwnd)
            DestroyWindow(hwnd);
    }
    HWND hwnd = nullptr;
};

} // namespace

TEST(CenteredWindowPosition, CentresAndClampsAtTheOrigin) {
    const RECT parent = {100, 50, 500, 350};
    POINT p = CenteredWindowPosition(parent, 200, 100);
    EXPECT_EQ(200, p.x);
    EXPECT_EQ(150, p.y);
    // A window larger than a parent at the screen's corner stays on screen.
    const RECT corner = {0, 0, 100, 100};
    p = CenteredWindowPosition(corner, 300, 300);
    EXPECT_EQ(0, p.x);
    EXPECT_EQ(0, p.y);
}

TEST(SetClientRect, GivesTheClientAreaTheSize) {
    Window w;
    ASSERT_NE(nullptr, w.hwnd);
    const RECT wanted = {0, 0, 321, 123};
    ASSERT_TRUE(SetClientRect(w.hwnd, &wanted));
    RECT client = {};
    GetClientRect(w.hwnd, &client);
    EXPECT_EQ(321, client.right - client.left);
    EXPECT_EQ(123, client.bottom - client.top);
    EXPECT_FALSE(SetClientRect(nullptr, &wanted));
}

TEST(CenterWindowOnParent, OwnedPopupMovesToItsOwnersCentre) {
    Window owner;
    ASSERT_NE(nullptr, owner.hwnd);
    MoveWindow(owner.hwnd, 100, 100, 400, 300, FALSE);
    Window popup(owner.hwnd, WS_POPUP);
    ASSERT_NE(nullptr, popup.hwnd);
    MoveWindow(popup.hwnd, 0, 0, 200, 100, FALSE);
    ASSERT_TRUE(CenterWindowOnParent(popup.hwnd));
    RECT rc = {};
    GetWindowRect(popup.hwnd, &rc);
    EXPECT_EQ(200, rc.left);
    EXPECT_EQ(200, rc.top);
    EXPECT_EQ(200, rc.right - rc.left);

    Window lonely;
    EXPECT_FALSE(CenterWindowOnParent(lonely.hwnd));
}
