#include "main_ui_support.h"

#include "common/reg.h"

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
    window_ = ui::WaitForWindow(program_->Id(), L"zbMain", kTitle);
    if (window_)
        dialog_ = FindWindowExW(window_, nullptr, L"#32770", nullptr);
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
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = ui::FindTopWindow(Pid(), L"#32770", kTitle, true);
            return found && ui::Control(found, IDC_CM_PROMPT);
        },
        ui::kWaitMs);
    return found && ui::Control(found, IDC_CM_PROMPT) ? found : nullptr;
}

int MainScreen::Exit() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
    return program_->Wait();
}

void MainScreenTest::SetUp() {
    SuiteStateTest::SetUp();
    SetUserSetting(L"ReadMeCheck", 1);
}

} // namespace mainui
