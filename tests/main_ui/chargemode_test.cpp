// The charge mode dialog, end to end: what it shows, and what reaches the
// simulated battery.
#include "main_ui_support.h"

using namespace mainui;

namespace {

bool ModeBecomes(UINT battNo, uint32_t mode) {
    return testenv::WaitUntil([&] { return ReadBattery(battNo).chargeMode == mode; }, ui::kWaitMs);
}

bool Closed(HWND dialog) {
    return testenv::WaitUntil([&] { return !IsWindow(dialog); }, ui::kWaitMs);
}

} // namespace

TEST_F(MainScreenTest, ChoosingFiftyPercentByItsTextWritesFifty) {
    SetUpMachine(L"one", [](sim::Machine& m) { m.battery[0].chargeMode = 0; });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_CM_FULL));
    EXPECT_TRUE(ui::IsVisible(dialog, IDCANCEL));
    EXPECT_FALSE(ui::IsVisible(dialog, IDC_CM_REFUSAL_OK));

    ui::ClickText(dialog, IDC_CM_50_TEXT);
    ASSERT_TRUE(testenv::WaitUntil([&] { return ui::IsChecked(dialog, IDC_CM_50); }, ui::kWaitMs));
    EXPECT_FALSE(ui::IsChecked(dialog, IDC_CM_FULL));
    EXPECT_FALSE(ui::IsChecked(dialog, IDC_CM_80));

    ui::Click(dialog, IDOK);
    EXPECT_TRUE(Closed(dialog));
    EXPECT_TRUE(ModeBecomes(1, 50));
    EXPECT_TRUE(testenv::WaitUntil(
        [&] { return ui::Text(main.Dialog(), IDC_MODE_TEXT1) == L"5割充電モード"; }, ui::kWaitMs));
}

TEST_F(MainScreenTest, ModeSeventyTwoOpensOnEightyAndOkWritesEighty) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[1].chargeMode = 72; });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = main.OpenChargeMode(2);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_CM_80));
    ui::Click(dialog, IDOK);
    EXPECT_TRUE(Closed(dialog));
    EXPECT_TRUE(ModeBecomes(2, 80));
}

TEST_F(MainScreenTest, AModeOutsideTheThreeGetsTheRefusalLayout) {
    // With another charge-hold value, 5 is just a mode the dialog cannot show.
    SetRefreshSetting(L"NotChargeLimit", 7);
    SetUpMachine(L"one", [](sim::Machine& m) { m.battery[0].chargeMode = 5; });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::IsVisible(dialog, IDC_CM_REFUSAL_OK));
    EXPECT_TRUE(ui::IsVisible(dialog, IDC_CM_REFRESH_NEEDED));
    for (int id : {IDOK, IDCANCEL, IDC_CM_FULL, IDC_CM_80, IDC_CM_50, IDC_CM_PROMPT, IDC_CM_50_TEXT,
                   IDC_CM_STORAGE_NOTE})
        EXPECT_FALSE(ui::IsVisible(dialog, id)) << id;
    ui::Click(dialog, IDC_CM_REFUSAL_OK);
    EXPECT_TRUE(Closed(dialog));
    EXPECT_EQ(5u, ReadBattery(1).chargeMode);
}

TEST_F(MainScreenTest, AMissingBatteryKeepsTheDialogOpenWithMessage199) {
    SetUpMachine(L"one");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);
    ASSERT_EQ(0u, SimSetBatteryPresent(1, false));
    ui::Click(dialog, IDOK);
    HWND box = ui::WaitForMessageBox(main.Pid(), kTitle, ui::kWaitMs, dialog);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(L"バッテリが接続されていません。"));
    ui::Answer(box, IDOK);
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(box); }, ui::kWaitMs));
    EXPECT_TRUE(IsWindow(dialog));
}

// With the mode unreadable nothing is ticked; OK then is no choice of the
// user's and must not write anything (it used to write the last value the
// dialog held, full charge).
TEST_F(MainScreenTest, OkWithNothingTickedWritesNothing) {
    SetUpMachine(L"one", [](sim::Machine& m) { m.battery[0].chargeMode = 80; });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    EditMachine([](sim::Machine& m) { m.battery[0].chargeModeSupported = 0; });
    HWND dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);
    for (int id : {IDC_CM_FULL, IDC_CM_80, IDC_CM_50})
        EXPECT_FALSE(ui::IsChecked(dialog, id)) << id;
    EditMachine([](sim::Machine& m) { m.battery[0].chargeModeSupported = 1; });
    ui::Click(dialog, IDOK);
    EXPECT_TRUE(Closed(dialog));
    EXPECT_EQ(nullptr, ui::FindTopWindow(main.Pid(), L"#32770", kTitle, true));
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
}
