// The diagnosis result in a dialog with the result controls, on the
// simulated notebook (platform type 1: the health comes from the firmware's
// health word).
#include "main/result_info.h"

#include "common/settings.h"
#include "main/resource.h"
#include "sim/machine.h"
#include "support/suite_env.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int kDialogWithDates = 9224;
constexpr int kDialogWithoutDates = 9215;

INT_PTR CALLBACK PlainDlgProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

class ResultInfoTest : public testenv::SuiteStateTest {
protected:
    void TearDown() override {
        if (dialog_)
            DestroyWindow(dialog_);
        SuiteStateTest::TearDown();
    }

    void Fill(const std::wstring& machine, int dialogId = kDialogWithDates) {
        ASSERT_EQ(0, testenv::SetUpMachine(machine + L"\nplatform=1"));
        dialog_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialogId), nullptr,
                                     PlainDlgProc, 0);
        ASSERT_NE(nullptr, dialog_);
        CBatteryArray batteries;
        zbmain::SetResultDlgInfo(dialog_, &batteries);
    }

    std::wstring Text(int id) {
        wchar_t text[1024] = {};
        GetDlgItemTextW(dialog_, id, text, 1024);
        return text;
    }
    bool Visible(int id) {
        return (GetWindowLongW(GetDlgItem(dialog_, id), GWL_STYLE) & WS_VISIBLE) != 0;
    }
    bool HasPicture(int id) {
        return SendDlgItemMessageW(dialog_, id, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
    }
    static sim::Battery SimBattery(int index) {
        sim::Machine machine = {};
        EXPECT_EQ(0u, sim::ReadMachine(&machine));
        return machine.battery[index];
    }

    HWND dialog_ = nullptr;
};

const wchar_t kGood[] = L"バッテリ性能は良好です。";
const wchar_t kWorn[] = L"バッテリ性能が低下していますので、お早めに交換してください。";
const wchar_t kBad[] =
    L"著しい劣化のため、バッテリのリフレッシュは行わず、バッテリを交換してください。";

TEST_F(ResultInfoTest, GoodAndDeterioratedBatteries) {
    // Battery 1 was refreshed on 2026-03-04 (its history under its identity).
    ASSERT_EQ(0, testenv::SetUpMachine(L"profile=two"));
    {
        CBatteryArray batteries;
        ASSERT_NE(nullptr, batteries.GetBattery(1));
        ASSERT_EQ(S_OK, SetRegLastRefreshDay(batteries.GetBattery(1)->GetOWNID(), 2026, 3, 4));
    }
    Fill(L"profile=two\nbattery1.health=0\nbattery2.health=10");
    EXPECT_EQ(L"普通", Text(IDC_RESULT_STATUS1));
    EXPECT_EQ(L"劣化", Text(IDC_RESULT_STATUS2));
    EXPECT_EQ(std::wstring(L"バッテリ: ") + kGood + L"\n\nバッテリ(セカンダリ): " + kWorn + L"\n",
              Text(IDC_RESULT_MESSAGE));
    EXPECT_EQ(L"2026/03/04", Text(IDC_RESULT_LASTDATE1));
    EXPECT_EQ(L"未実施", Text(IDC_RESULT_LASTDATE2));
    EXPECT_TRUE(Visible(IDC_RESULT_PICTURE1) && HasPicture(IDC_RESULT_PICTURE1));
    EXPECT_TRUE(Visible(IDC_RESULT_PICTURE2) && HasPicture(IDC_RESULT_PICTURE2));
    EXPECT_FALSE(Visible(IDC_RESULT_WARNING));
    EXPECT_EQ(0u, SimBattery(1).startDate & 0x8000) << "a worn battery keeps charging";
}

// Battery 2 alone, in the warning class: its line follows an empty line, the
// warning picture shows, and its charging is switched off.
TEST_F(ResultInfoTest, SecondBatteryAloneInWarning) {
    Fill(L"profile=two\nbattery1.present=0\nbattery2.health=20\nbattery2.protect=1\n"
         L"battery2.protectflag=0");
    EXPECT_EQ(L"不明", Text(IDC_RESULT_STATUS1));
    EXPECT_EQ(L"不明", Text(IDC_RESULT_LASTDATE1));
    EXPECT_FALSE(Visible(IDC_RESULT_PICTURE1));
    EXPECT_EQ(L"警告", Text(IDC_RESULT_STATUS2));
    EXPECT_EQ(std::wstring(L"\nバッテリ(セカンダリ): ") + kBad + L"\n", Text(IDC_RESULT_MESSAGE));
    EXPECT_TRUE(Visible(IDC_RESULT_WARNING));
    EXPECT_NE(0u, SimBattery(1).startDate & 0x8000) << "charging was not switched off";
}

// No battery: the one message, and a dialog without the last-date texts.
TEST_F(ResultInfoTest, NoBatteryInTheDiagnosisPage) {
    Fill(L"profile=none", kDialogWithoutDates);
    EXPECT_EQ(L"不明", Text(IDC_RESULT_STATUS1));
    EXPECT_EQ(L"不明", Text(IDC_RESULT_STATUS2));
    EXPECT_EQ(L"バッテリが接続されていないか、未サポートのバッテリです。",
              Text(IDC_RESULT_MESSAGE));
    EXPECT_FALSE(Visible(IDC_RESULT_WARNING));
    EXPECT_FALSE(Visible(IDC_RESULT_PICTURE1));
}

} // namespace
