#include "main_ui_support.h"

#include "common/reg.h"
#include "main/task_scheduler.h"

namespace mainui {

namespace {

constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";
constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";

} // namespace

void SetUpMachine(const wchar_t* profile, const std::function<void(sim::Machine&)>& edit) {
    ASSERT_EQ(0u, SimSetupProfile(profile));
    EditMachine([&](sim::Machine& m) {
        m.speed = 0;
        if (edit)
            edit(m);
    });
}

void EditMachine(const std::function<void(sim::Machine&)>& edit) {
    ASSERT_EQ(0u, sim::Modify([&](sim::Machine& m) -> DWORD {
                  edit(m);
                  return 0;
              }));
}

sim::Battery ReadBattery(UINT battNo) {
    sim::Machine m = {};
    EXPECT_EQ(0u, sim::ReadMachine(&m));
    return m.battery[battNo == 1 ? 0 : 1];
}

void SetRefreshSetting(const wchar_t* name, DWORD value) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, name, value));
}

void SetUserSetting(const wchar_t* name, DWORD value) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, kSuiteKey, name, value));
}

DWORD UserSetting(const wchar_t* name, DWORD fallback) {
    DWORD value = fallback;
    if (FAILED(CReg::GetDW(HKEY_CURRENT_USER, kSuiteKey, name, &value)))
        return fallback;
    return value;
}

MainScreen::MainScreen(const std::wstring& args) : program_(new ui::Program(L"zbMain.exe", args)) {
    window_ = ui::WaitForWindow(program_->Id(), L"zbMain", kTitle, ui::kStartWaitMs);
    if (window_)
        dialog_ = FindWindowExW(window_, nullptr, L"#32770", nullptr);
    // The pages' reservation dates come from the Task Scheduler after the
    // window is first shown; a person sees them a moment later.
    if (dialog_) {
        testenv::WaitUntil(
            [&] {
                for (int id : {IDC_SCHEDULE1, IDC_SCHEDULE2}) {
                    if (ui::Control(dialog_, id) && ui::Text(dialog_, id).empty())
                        return false;
                }
                return true;
            },
            ui::kWaitMs);
    }
}

MainScreen::~MainScreen() {
    if (window_ && program_->Running())
        Exit();
}

HWND MainScreen::OpenChargeMode(UINT battNo) {
    if (!dialog_)
        return nullptr;
    ui::SelectTab(dialog_, IDC_TAB, battNo == 1 || ui::TabCount(dialog_, IDC_TAB) == 2 ? 1 : 2);
    ui::Click(dialog_, battNo == 1 ? IDC_BUTTON_CHAREGEMODE1 : IDC_BUTTON_CHAREGEMODE2);
    return WaitForDialogWith(Pid(), IDC_CM_PROMPT);
}

int MainScreen::Exit() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
    return program_->Wait();
}

HWND WaitForDialogWith(DWORD pid, int controlId) {
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = ui::FindTopWindow(pid, L"#32770", kTitle, true);
            return found && ui::Control(found, controlId);
        },
        ui::kWaitMs);
    return found && ui::Control(found, controlId) ? found : nullptr;
}

void MainScreenTest::SetUp() {
    SuiteStateTest::SetUp();
    SetUserSetting(L"ReadMeCheck", 1);
}

HWND OpenConfirmation(MainScreen& main, UINT battNo) {
    ui::SelectTab(main.Dialog(), IDC_TAB, battNo);
    ui::Click(main.Dialog(), battNo == 1 ? IDC_BUTTON_REFRESH1 : IDC_BUTTON_REFRESH2);
    return WaitForDialogWith(main.Pid(), IDC_CONFIRM_TEXT);
}

uint32_t SuspendCount() {
    sim::Machine m = {};
    sim::ReadMachine(&m);
    return m.suspendCount;
}

void RefreshRunTest::SetUp() {
    MainScreenTest::SetUp();
    SetRefreshSetting(L"Log", 1);
    SetRefreshSetting(L"RefreshCoolDownTime", 0);
    SetRefreshSetting(L"RefreshCoolDownLimit", 0);
    SetRefreshSetting(L"ADCHDelay", 0);
}

HWND StartRefresh(MainScreen& main) {
    HWND confirm = OpenConfirmation(main, 1);
    if (!confirm)
        return nullptr;
    ui::Click(confirm, IDOK);
    HWND window = ui::WaitForWindow(main.Pid(), L"RefreshWnd", nullptr);
    return window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
}

HWND WaitForRefreshDialog(DWORD pid, DWORD timeoutMs) {
    HWND dialog = nullptr;
    testenv::WaitUntil(
        [&] {
            HWND window = ui::FindTopWindow(pid, L"RefreshWnd", nullptr);
            dialog = window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
            return dialog != nullptr;
        },
        timeoutMs);
    return dialog;
}

int PercentOf(const std::wstring& text) {
    return text.empty() ? -1 : _wtoi(text.c_str());
}

HWND WaitForCompletion(MainScreen& main, DWORD timeoutMs) {
    return WaitForCompletion(main.Pid(), timeoutMs);
}

HWND WaitForCompletion(DWORD pid, DWORD timeoutMs) {
    HWND window = ui::WaitForWindow(pid, L"CompleteWnd", nullptr, timeoutMs);
    HWND dialog = window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

namespace {

constexpr const wchar_t* kCopiedFiles[] = {L"zbMain.exe", L"cellio.dll", L"KX_NTF.dll",
                                           L"powrprof.dll", L"taskschd.dll"};

} // namespace

InstalledCopy::InstalledCopy(const wchar_t* toolStandIn) : folder_(testenv::BinDir() + L"copy\\") {
    CreateDirectoryW(folder_.c_str(), nullptr);
    for (const wchar_t* file : kCopiedFiles)
        CopyFileW((testenv::BinDir() + file).c_str(), (folder_ + file).c_str(), FALSE);
    if (toolStandIn)
        CopyFileW((testenv::BinDir() + toolStandIn).c_str(), (folder_ + L"zbRefresh.exe").c_str(),
                  FALSE);
}

InstalledCopy::~InstalledCopy() {
    for (const wchar_t* file : kCopiedFiles)
        DeleteFileW((folder_ + file).c_str());
    DeleteFileW((folder_ + L"zbRefresh.exe").c_str());
    RemoveDirectoryW(folder_.c_str());
}

HWND ConfirmInCopy(ui::Program& program) {
    HWND window = ui::WaitForWindow(program.Id(), L"zbMain", kTitle);
    HWND dialog = window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
    if (!dialog)
        return nullptr;
    ui::SelectTab(dialog, IDC_TAB, 1);
    ui::Click(dialog, IDC_BUTTON_REFRESH1);
    HWND confirm = WaitForDialogWith(program.Id(), IDC_CONFIRM_TEXT);
    if (!confirm)
        return nullptr;
    ui::Click(confirm, IDOK);
    return confirm;
}

std::wstring TaskNameOf(UINT stringId) {
    HMODULE strings = LoadLibraryExW((testenv::BinDir() + L"zbMain.exe").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    wchar_t task[256] = {};
    if (strings) {
        GetSchedulerName(strings, stringId, task, ARRAYSIZE(task));
        FreeLibrary(strings);
    }
    return task;
}

HWND OpenReservation(MainScreen& main, UINT battNo) {
    ui::SelectTab(main.Dialog(), IDC_TAB, battNo);
    ui::Click(main.Dialog(), battNo == 1 ? IDC_BUTTON_RESERVE1 : IDC_BUTTON_RESERVE2);
    return WaitForDialogWith(main.Pid(), IDC_RESV_BATT1);
}

SYSTEMTIME InTwoDays() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    FILETIME file = {};
    SystemTimeToFileTime(&now, &file);
    ULARGE_INTEGER value = {{file.dwLowDateTime, file.dwHighDateTime}};
    value.QuadPart += 2ULL * 24 * 3600 * 10000000ULL;
    file = {value.LowPart, value.HighPart};
    SYSTEMTIME start = {};
    FileTimeToSystemTime(&file, &start);
    start.wHour = 5, start.wMinute = 6, start.wSecond = start.wMilliseconds = 0;
    return start;
}

} // namespace mainui
