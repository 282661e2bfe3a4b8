// A refresh from the main screen: the confirmation's refusals, a whole run
// with the real refresh tool, and an abort.
#include "main_ui_support.h"

#include <string>

using namespace mainui;

namespace {

// Opens the confirmation of a battery page's Start button; null when none came.
HWND OpenConfirmation(MainScreen& main, UINT battNo) {
    ui::SelectTab(main.Dialog(), IDC_TAB, battNo);
    ui::Click(main.Dialog(), battNo == 1 ? IDC_BUTTON_REFRESH1 : IDC_BUTTON_REFRESH2);
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = ui::FindTopWindow(main.Pid(), L"#32770", kTitle, true);
            return found && ui::Control(found, IDC_CONFIRM_TEXT);
        },
        ui::kWaitMs);
    return found && ui::Control(found, IDC_CONFIRM_TEXT) ? found : nullptr;
}

// Yes on the confirmation must be refused with the message; the dialog is
// shown again afterwards.
void ExpectRefusal(MainScreen& main, HWND confirm, const wchar_t* text) {
    ui::Click(confirm, IDOK);
    HWND box = ui::WaitForMessageBox(main.Pid(), kTitle, ui::kWaitMs, confirm);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(text));
    ui::Answer(box, IDOK);
    EXPECT_TRUE(testenv::WaitUntil([&] { return IsWindowVisible(confirm) != FALSE; }, ui::kWaitMs));
    EXPECT_EQ(nullptr, ui::FindTopWindow(main.Pid(), L"RefreshWnd", nullptr));
}

} // namespace

TEST_F(MainScreenTest, ConfirmationRefusesWithoutMainsOrBatteryAndStaysOpen) {
    SetUpMachine(L"one");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND confirm = OpenConfirmation(main, 1);
    ASSERT_NE(nullptr, confirm);
    EXPECT_NE(std::wstring::npos, ui::Text(confirm, IDC_CONFIRM_TEXT).find(L"時間"));
    EXPECT_TRUE(ui::IsVisible(confirm, IDC_SLEEP_CHECK));

    ASSERT_EQ(0u, SimSetAcOnline(false));
    ExpectRefusal(main, confirm, L"ACアダプタが接続されていません。");
    ASSERT_EQ(0u, SimSetAcOnline(true));
    ASSERT_EQ(0u, SimSetBatteryPresent(1, false));
    ExpectRefusal(main, confirm, L"バッテリが接続されていません。");

    ui::Click(confirm, IDCANCEL);
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(confirm); }, ui::kWaitMs));
    EXPECT_TRUE(IsWindowEnabled(main.Window()));
}

// A main screen installed without the refresh tool: a folder of its own with
// the program and the libraries it loads, but no zbRefresh.exe.
TEST_F(MainScreenTest, ConfirmationRefusesWhenTheRefreshToolIsMissing) {
    const std::wstring bin = testenv::BinDir();
    const std::wstring folder = bin + L"norefresh\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* file :
         {L"zbMain.exe", L"cellio.dll", L"KX_NTF.dll", L"powrprof.dll", L"taskschd.dll"})
        CopyFileW((bin + file).c_str(), (folder + file).c_str(), FALSE);
    SetUpMachine(L"one");
    {
        ui::Program program(L"norefresh\\zbMain.exe", L"");
        HWND window = ui::WaitForWindow(program.Id(), L"zbMain", kTitle);
        ASSERT_NE(nullptr, window);
        HWND dialog = FindWindowExW(window, nullptr, L"#32770", nullptr);
        ASSERT_NE(nullptr, dialog);
        ui::SelectTab(dialog, IDC_TAB, 1);
        ui::Click(dialog, IDC_BUTTON_REFRESH1);
        HWND confirm = nullptr;
        ASSERT_TRUE(testenv::WaitUntil(
            [&] {
                confirm = ui::FindTopWindow(program.Id(), L"#32770", kTitle, true);
                return confirm && ui::Control(confirm, IDC_CONFIRM_TEXT);
            },
            ui::kWaitMs));
        ui::Click(confirm, IDOK);
        HWND box = ui::WaitForMessageBox(program.Id(), kTitle, ui::kWaitMs, confirm);
        ASSERT_NE(nullptr, box);
        EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(L"ファイルが存在しません。"));
        ui::Answer(box, IDOK);
        EXPECT_TRUE(
            testenv::WaitUntil([&] { return IsWindowVisible(confirm) != FALSE; }, ui::kWaitMs));
    }
    for (const wchar_t* file :
         {L"zbMain.exe", L"cellio.dll", L"KX_NTF.dll", L"powrprof.dll", L"taskschd.dll"})
        DeleteFileW((folder + file).c_str());
    RemoveDirectoryW(folder.c_str());
}
