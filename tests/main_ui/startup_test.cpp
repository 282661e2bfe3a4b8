// How zbMain.exe starts: the hand-over to a running main screen, the
// command line's console messages, and the read-me on the first start.
#include "main_ui_support.h"

#include "battery/history.h"
#include "battery/refresh_repair.h"
#include "common/handles.h"
#include "common/reg.h"
#include "common/settings.h"
#include "ipc/pipe.h"

#include <psapi.h>

#include <fstream>

using namespace mainui;

namespace {

constexpr WORD kShowReadMe = 0x800B;
constexpr wchar_t kInvalidOption[] = L"無効なコマンドラインオプションが指定されています。";

// Runs a second program to its end; its standard error.
std::wstring RunToEnd(const std::wstring& args, int* exitCode = nullptr) {
    ui::Program program(L"zbMain.exe", args);
    const int code = program.Wait();
    if (exitCode)
        *exitCode = code;
    return program.StdErr();
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

constexpr wchar_t kLockedByRefresh[] = L"リフレッシュ中のため、充電モードを変更できません。";

// A configuration file that sets both batteries.
std::wstring ModeFile(const wchar_t* name, const wchar_t* mode1, const wchar_t* mode2) {
    const std::wstring file = TempFile(name);
    DeleteFileW(file.c_str());
    WritePrivateProfileStringW(L"Version", L"VadovurConfigVersion", L"1.0.0.0", file.c_str());
    WritePrivateProfileStringW(L"Setting", L"ChargeMode1", mode1, file.c_str());
    WritePrivateProfileStringW(L"Setting", L"ChargeMode2", mode2, file.c_str());
    return file;
}

// Presses OK in a battery's charge mode dialog with the 50 % mode ticked;
// the message box it answers with, or null.
HWND ChooseFiftyPercent(MainScreen& main, UINT battNo) {
    HWND dialog = main.OpenChargeMode(battNo);
    if (!dialog)
        return nullptr;
    ui::ClickText(dialog, IDC_CM_50_TEXT);
    if (!testenv::WaitUntil([&] { return ui::IsChecked(dialog, IDC_CM_50); }, ui::kWaitMs))
        return nullptr;
    ui::Click(dialog, IDOK);
    return ui::WaitForMessageBox(main.Pid(), kTitle, 3000, dialog);
}

} // namespace

TEST_F(MainScreenTest, ASecondInstanceHandsOverOrComplainsAndEnds) {
    SetUpMachine(L"one");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);

    int code = -1;
    EXPECT_EQ(L"", RunToEnd(L"", &code)) << "no arguments: silent";
    EXPECT_EQ(0, code);
    EXPECT_NE(std::wstring::npos, RunToEnd(L"/sleep", &code).find(kInvalidOption));
    EXPECT_EQ(0, code);
    EXPECT_NE(std::wstring::npos,
              RunToEnd(L"/import C:\\x.ini").find(L"設定画面が表示されています。"));
    EXPECT_TRUE(IsWindow(dialog)) << "the running screen was touched";

    // "/comp" hands over a stored outcome, which first closes the small
    // dialogs.
    SetUserSetting(L"LastRefreshStatus", 0);
    EXPECT_EQ(L"", RunToEnd(L"/comp", &code));
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(dialog); }, ui::kWaitMs));
}

TEST_F(MainScreenTest, AnUpperCaseSwitchIsInvalidYetTheScreenStarts) {
    SetUpMachine(L"one");
    MainScreen main(L"/ICON");
    ASSERT_TRUE(main.Ready());
    EXPECT_TRUE(IsWindowVisible(main.Window()));
    EXPECT_NE(std::wstring::npos, main.Process().StdErr().find(kInvalidOption));
}

TEST_F(MainScreenTest, ConfigPathsAreCheckedBeforeAnyFileIsTouched) {
    SetUpMachine(L"one");
    const std::wstring noPath = L"設定ファイルのパスは指定していません。";
    EXPECT_NE(std::wstring::npos, RunToEnd(L"/import").find(noPath));
    EXPECT_NE(std::wstring::npos, RunToEnd(L"/import /sleep").find(noPath));

    // A long path that is no UNC path: refused, the file left as it was.
    std::wstring longPath = TempFile(L"");
    while (longPath.size() < 290)
        longPath += L"d\\";
    longPath += L"zbmain.ini";
    ASSERT_GT(longPath.size(), 260u);
    EXPECT_NE(std::wstring::npos, RunToEnd(L"/export \"" + longPath + L"\"").find(kInvalidOption));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(longPath.c_str()));
}

TEST_F(MainScreenTest, ExportThenImportCarriesTheChargeModes) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        m.battery[0].chargeMode = 80;
        m.battery[1].chargeMode = 50;
    });
    const std::wstring file = TempFile(L"zbmain_roundtrip.ini");
    DeleteFileW(file.c_str());
    int code = -1;
    EXPECT_EQ(L"", RunToEnd(L"/export \"" + file + L"\"", &code));
    EXPECT_EQ(0, code);

    testenv::CleanSuiteState();
    EditMachine([](sim::Machine& m) {
        m.battery[0].chargeMode = 0;
        m.battery[1].chargeMode = 0;
    });
    EXPECT_EQ(L"", RunToEnd(L"/import \"" + file + L"\" /sleep", &code));
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    DeleteFileW(file.c_str());
}

TEST_F(MainScreenTest, TheReadMeShowsOnTheFirstStartUntilItsBoxIsTicked) {
    SetUpMachine(L"one");
    testenv::CleanSuiteState();
    {
        MainScreen main;
        ASSERT_TRUE(main.Ready());
        HWND readMe = ui::WaitForMessageBox(main.Pid(), kTitle);
        ASSERT_NE(nullptr, readMe);
        ASSERT_NE(nullptr, ui::Control(readMe, IDC_README_CHECK));
        EXPECT_FALSE(IsWindowEnabled(main.Window()));
        ui::Click(readMe, IDC_README_CHECK);
        ASSERT_TRUE(testenv::WaitUntil([&] { return ui::IsChecked(readMe, IDC_README_CHECK); },
                                       ui::kWaitMs));
        ui::Click(readMe, IDOK);
        EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(readMe); }, ui::kWaitMs));
        EXPECT_TRUE(IsWindowEnabled(main.Window()));
        EXPECT_EQ(1u, UserSetting(L"ReadMeCheck", 0));
    }
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    // The read-me is posted at creation: by the time the window has
    // answered a message sent after it, it would be there.
    ui::Settle(main.Window());
    EXPECT_EQ(nullptr, ui::WaitForMessageBox(main.Pid(), kTitle, 1500));
}

// The read-me's picture control loads its own bitmap, which the scaled one
// replaces: a person who opens the read-me again and again must not make
// the screen grow.
TEST_F(MainScreenTest, OpeningTheReadMeAgainAndAgainDoesNotGrowTheScreen) {
    SetUpMachine(L"one");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    zb::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, main.Pid()));
    ASSERT_TRUE(process.IsValid());
    const auto openAndClose = [&](int times) {
        for (int i = 0; i < times; ++i) {
            SendMessageW(main.Window(), WM_COMMAND, MAKEWPARAM(kShowReadMe, 0), 0);
            HWND readMe = WaitForDialogWith(main.Pid(), IDC_README_CHECK);
            ASSERT_NE(nullptr, readMe);
            SendMessageW(readMe, WM_COMMAND, IDCANCEL, 0);
        }
    };
    const auto privateBytes = [&] {
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof(counters);
        GetProcessMemoryInfo(process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters));
        return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    };
    openAndClose(20);
    const SIZE_T before = privateBytes();
    openAndClose(100);
    // Each open leaked about 160 KB, 100 opens some 16 MB; the heap's own
    // swings stay below 2 MB.
    EXPECT_LT(privateBytes(), before + 6 * 1024 * 1024);
}

// A running refresh tool (its mutex is enough) owns the charge modes until
// it ends: "/import" and the charge mode dialog say so and change nothing.
TEST_F(MainScreenTest, ChargeModesStayWhileARefreshToolRuns) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        m.battery[0].chargeMode = 0;
        m.battery[1].chargeMode = 80;
    });
    const std::wstring file = ModeFile(L"zbmain_busy.ini", L"50", L"50");
    zb::UniqueHandle tool(CreateMutexW(nullptr, TRUE, REFRESH_TOOL_MUTEX_NAME));
    ASSERT_TRUE(tool);
    EXPECT_NE(std::wstring::npos, RunToEnd(L"/import \"" + file + L"\"").find(kLockedByRefresh));
    EXPECT_EQ(0u, ReadBattery(1).chargeMode);
    EXPECT_EQ(80u, ReadBattery(2).chargeMode);
    {
        MainScreen main;
        ASSERT_TRUE(main.Ready());
        HWND box = ChooseFiftyPercent(main, 1);
        ASSERT_NE(nullptr, box);
        EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(kLockedByRefresh));
        ui::Answer(box, IDOK);
        EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(box); }, ui::kWaitMs));
        EXPECT_EQ(0u, ReadBattery(1).chargeMode);
    }

    tool.Reset();
    EXPECT_EQ(L"", RunToEnd(L"/import \"" + file + L"\""));
    EXPECT_EQ(50u, ReadBattery(1).chargeMode);
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    DeleteFileW(file.c_str());
}

// The administrator enforces 50 %: the charge mode dialog shows it with
// nothing to choose and says who decides; "/import" refuses any other mode
// (for either battery, and then changes neither) but takes that one.
TEST_F(MainScreenTest, AnEnforcedChargeModeIsShownLockedAndOnlyItImports) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        m.battery[0].chargeMode = 50;
        m.battery[1].chargeMode = 0;
    });
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY, L"ChargeMode", 50));
    const std::wstring other = ModeFile(L"zbmain_policy_other.ini", L"50", L"80");
    EXPECT_NE(std::wstring::npos, RunToEnd(L"/import \"" + other + L"\"")
                                      .find(L"充電モードは管理者によって管理されているため"));
    EXPECT_EQ(50u, ReadBattery(1).chargeMode);
    EXPECT_EQ(0u, ReadBattery(2).chargeMode);
    const std::wstring same = ModeFile(L"zbmain_policy_same.ini", L"50", L"50");
    EXPECT_EQ(L"", RunToEnd(L"/import \"" + same + L"\""));
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    DeleteFileW(other.c_str());
    DeleteFileW(same.c_str());

    EditMachine([](sim::Machine& m) { m.battery[0].chargeMode = 80; });
    CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"CurrentMode_batt1", 80);
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_CM_50)) << "the enforced mode, not the battery's";
    for (int id : {IDC_CM_FULL, IDC_CM_80, IDC_CM_50, IDC_CM_50_TEXT, IDOK})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
    EXPECT_TRUE(ui::IsVisible(dialog, IDC_CM_POLICY_NOTE));
    EXPECT_EQ(L"この設定は管理者によって管理されています。", ui::Text(dialog, IDC_CM_POLICY_NOTE));
    EXPECT_FALSE(ui::IsVisible(dialog, IDC_CM_ONLY_HERE));
    ui::Click(dialog, IDCANCEL);
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(dialog); }, ui::kWaitMs));
    EXPECT_EQ(80u, ReadBattery(1).chargeMode) << "the scheduler, not the dialog, enforces it";

    // Locking the three texts must not tick the choice beside each in turn.
    CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY, L"ChargeMode", 80);
    dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_CM_80));
    EXPECT_FALSE(ui::IsChecked(dialog, IDC_CM_50));
    ui::Click(dialog, IDCANCEL);
}

// A refresh that died left its records (battery 1 released from 80, battery
// 2 held from 50). The modes the owner then sets, by import or in the
// dialog, are the ones the later repair leaves in place.
TEST_F(MainScreenTest, TheOwnersModeOutlivesADeadRefreshsRecord) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        m.battery[0].chargeMode = 0;
        m.battery[1].chargeMode = 5;
    });
    ASSERT_EQ(S_OK, SetRegRefreshOriginalMode(1, 80));
    ASSERT_EQ(S_OK, SetRegRefreshOriginalMode(2, 50));
    const std::wstring file = ModeFile(L"zbmain_owner.ini", L"0", L"0");
    EXPECT_EQ(L"", RunToEnd(L"/import \"" + file + L"\""));
    RepairAfterInterruptedRefresh();
    EXPECT_EQ(0u, ReadBattery(1).chargeMode);
    EXPECT_EQ(0u, ReadBattery(2).chargeMode);
    DeleteFileW(file.c_str());

    ASSERT_EQ(S_OK, SetRegRefreshOriginalMode(1, 80));
    {
        MainScreen main;
        ASSERT_TRUE(main.Ready());
        EXPECT_EQ(nullptr, ChooseFiftyPercent(main, 1)) << "no message expected";
        EXPECT_TRUE(
            testenv::WaitUntil([] { return ReadBattery(1).chargeMode == 50; }, ui::kWaitMs));
    }
    RepairAfterInterruptedRefresh();
    EXPECT_EQ(50u, ReadBattery(1).chargeMode);
}

// A path the profile functions cannot take is a failed export, with or
// without the trace: the file never came to be.
TEST_F(MainScreenTest, AnExportThatWroteNothingIsAnError) {
    SetUpMachine(L"two");
    std::wstring unc = L"\\\\localhost\\C$\\";
    while (unc.size() < 280)
        unc += L"zbmain\\";
    unc += L"zbmain.ini";
    ASSERT_GT(unc.size(), 260u);
    std::wstring messages[2];
    for (DWORD log : {0u, 1u}) {
        SetRefreshSetting(L"Log", log);
        int code = -1;
        messages[log] = RunToEnd(L"/export \"" + unc + L"\"", &code);
        EXPECT_EQ(0, code);
    }
    EXPECT_NE(L"", messages[0]);
    EXPECT_EQ(messages[0], messages[1]);
}

// "/report <file>.csv" copies the history's whole rows (a torn last row left
// out), with or without a running screen; other types, no path and a folder
// that is not there are refused on the console.
TEST_F(MainScreenTest, ReportCopiesTheHistoryAsCsvAndRefusesWhatItCannotWrite) {
    SetUpMachine(L"one");
    const std::wstring history = testenv::LogPath(zbhistory::HISTORY_FILE_NAME);
    zbhistory::HistoryRow row;
    row.time = testenv::MakeTime(2026, 11, 2, 9, 30);
    row.utcOffsetMinutes = 540;
    row.battery = 1;
    row.id = L"BAT-20240305-0001";
    row.designMwh = 50000;
    row.fullChargeMwh = 48000;
    ASSERT_EQ(S_OK, zbhistory::AppendHistoryRow(history.c_str(), row));
    row.event = zbhistory::HistoryEvent::RefreshStart;
    ASSERT_EQ(S_OK, zbhistory::AppendHistoryRow(history.c_str(), row));
    const std::vector<unsigned char> whole = testenv::ReadFileBytes(history);
    {
        zb::UniqueHandle torn(
            CreateFileW(history.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(torn.IsValid());
        const char cut[] = "2026-11-03T09:30:00+09:00,1,BAT";
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(torn.Get(), cut, sizeof(cut) - 1, &written, nullptr));
    }
    const std::wstring file = TempFile(L"zbmain_report.csv");
    DeleteFileW(file.c_str());
    int code = -1;
    EXPECT_EQ(L"", RunToEnd(L"/report \"" + file + L"\"", &code));
    EXPECT_EQ(0, code);
    EXPECT_EQ(whole, testenv::ReadFileBytes(file));

    const std::wstring text = TempFile(L"zbmain_report.txt");
    DeleteFileW(text.c_str());
    EXPECT_NE(
        std::wstring::npos,
        RunToEnd(L"/report \"" + text + L"\"").find(L"レポートファイルの拡張子は .csv か .html"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(text.c_str()));
    EXPECT_NE(std::wstring::npos,
              RunToEnd(L"/report").find(L"レポートファイルのパスは指定していません。"));
    EXPECT_NE(std::wstring::npos, RunToEnd(L"/report \"" + TempFile(L"zb_none\\r.csv") + L"\"")
                                      .find(L"レポートファイルの作成に失敗しました。"));

    MainScreen main;
    ASSERT_TRUE(main.Ready());
    DeleteFileW(file.c_str());
    EXPECT_EQ(L"", RunToEnd(L"/report \"" + file + L"\"", &code));
    EXPECT_EQ(whole, testenv::ReadFileBytes(file));
    DeleteFileW(file.c_str());
}
