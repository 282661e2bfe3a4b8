// The refresh window in Wine's notification area (X11 driver under Xvfb):
// put there with its button, the icon's balloon shows the percentage (the
// main screen runs as Windows 7, which has no toasts), and the icon's menu
// aborts the refresh with the same question as the Abort button.
#include "main_ui_support.h"

#include "common/notify_icon.h"
#include "toast/kx_ntf.h"

using namespace mainui;

namespace {

using testenv::CountTrayIcons;

HWND TrayIcon() {
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    return tray ? FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr) : nullptr;
}

// The visible top-level window of a class, of any process, whose text
// holds the part; null when none.
HWND FindShowing(const wchar_t* className, const wchar_t* part) {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, className, nullptr)) != nullptr)
        if (IsWindowVisible(found) && ui::Text(found).find(part) != std::wstring::npos)
            return found;
    return nullptr;
}

bool RefreshToolRunning() {
    zb::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\vadovurMUTEX3"));
    return mutex.IsValid();
}

} // namespace

TEST_F(RefreshRunTest, FromTheNotificationAreaTheBalloonShowsProgressAndTheMenuAborts) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        m.battery[0].remaining = m.battery[0].fullChargeCapacity;
        m.battery[0].chargeLatched = 1;
    });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND refresh = StartRefresh(main);
    ASSERT_NE(nullptr, refresh);
    HWND window = GetParent(refresh);

    // Into the notification area; once the window knows the discharge has
    // begun, time almost stands still.
    ui::Click(refresh, IDC_TO_TRAY);
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 1; }, ui::kWaitMs));
    EXPECT_FALSE(IsWindowVisible(window));
    ASSERT_EQ(0u, SimSetSpeed(2000.0));
    ASSERT_TRUE(testenv::WaitUntil(
        [&] { return ui::IsEnabled(refresh, IDC_STEP_LABEL2) && ReadBattery(1).adpc == 0; },
        ui::kWaitMs));
    ASSERT_EQ(0u, SimSetSpeed(1.0));

    // The mouse over the icon: a balloon with the percentage, no toast.
    HWND icon = TrayIcon();
    ASSERT_NE(nullptr, icon);
    HWND balloon = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            PostMessageW(icon, WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
            return (balloon = FindShowing(L"tooltips_class32", L"％完了")) != nullptr;
        },
        ui::kWaitMs, 200))
        << "no balloon";
    EXPECT_EQ(PercentOf(ui::Text(refresh, IDC_PERCENT)), PercentOf(ui::Text(balloon)));
    EXPECT_EQ(nullptr, FindWindowW(KX_NTF_POPUP_CLASS, nullptr));

    // The shell restarts and has lost the icon ("TaskbarCreated"): the
    // icon comes back.
    NOTIFYICONDATAW lost = {};
    lost.cbSize = sizeof(lost);
    lost.hWnd = refresh;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &lost));
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 0; }, ui::kWaitMs));
    PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 1; }, ui::kWaitMs))
        << "the icon did not come back";

    // The keyboard (version 4 reports): the menu key opens the menu, Enter
    // brings the window back.
    PostMessageW(refresh, WM_NOTIFYICON, 0, MAKELPARAM(WM_CONTEXTMENU, 0));
    HWND keyMenu = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            return (keyMenu = ui::FindTopWindow(main.Pid(), L"#32768", nullptr, true)) != nullptr;
        },
        ui::kWaitMs))
        << "no menu from the keyboard";
    PostMessageW(refresh, WM_CANCELMODE, 0, 0);
    ASSERT_TRUE(testenv::WaitUntil(
        [&] { return ui::FindTopWindow(main.Pid(), L"#32768", nullptr, true) == nullptr; },
        ui::kWaitMs));
    PostMessageW(refresh, WM_NOTIFYICON, 0, MAKELPARAM(NIN_KEYSELECT, 0));
    ASSERT_TRUE(testenv::WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, ui::kWaitMs));
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 0; }, ui::kWaitMs));
    ui::Click(refresh, IDC_TO_TRAY);
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 1; }, ui::kWaitMs));
    icon = TrayIcon();
    ASSERT_NE(nullptr, icon);

    // The right button: the menu; its first entry aborts after the question.
    PostMessageW(icon, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
    PostMessageW(icon, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
    HWND menu = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] { return (menu = ui::FindTopWindow(main.Pid(), L"#32768", nullptr, true)) != nullptr; },
        ui::kWaitMs))
        << "no menu";
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    HWND question = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            question = ui::FindTopWindow(main.Pid(), L"#32770", kTitle, true);
            return question && question != window && ui::Control(question, IDOK) &&
                   !ui::Control(question, IDC_PERCENT);
        },
        ui::kWaitMs))
        << "no abort question";
    EXPECT_NE(std::wstring::npos,
              ui::MessageBoxText(question).find(L"バッテリのリフレッシュ＆診断を中止しますか？"));
    ui::Click(question, IDOK);

    // The tool ends through its clean-up: the discharge is stopped.
    HWND dialog = WaitForCompletion(main, kRunWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"・中止ボタンによってリフレッシュが中止されました。", ui::Text(dialog, IDC_REASON));
    EXPECT_FALSE(RefreshToolRunning());
    EXPECT_EQ(1u, ReadBattery(1).adpc);
    bool logged = false;
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_progress_01.log"))
        logged = logged || line.find(L"ABORTED!    Canceled.") != std::wstring::npos;
    EXPECT_TRUE(logged);
    EXPECT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 0; }, ui::kWaitMs));
    ui::Click(dialog, IDOK);
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return IsWindowVisible(main.Window()) != FALSE; }, ui::kWaitMs));
}
