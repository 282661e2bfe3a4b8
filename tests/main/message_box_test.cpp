// The message box and the sleep countdown as a user meets them: shown by a
// helper program, found, read and pressed from this one.
#include "main/message_box.h"

#include "sim/machine.h"
#include "support/suite_env.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitMs = 15000;
const wchar_t kTitle[] = L"バッテリ・リフレッシュ＆診断ツール";
const wchar_t kHelper[] = L"main_dialogs_helper.exe";

std::wstring TextOf(HWND hwnd) {
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

// The first child whose text starts with prefix.
HWND FindChildText(HWND parent, const std::wstring& prefix) {
    struct Search {
        std::wstring prefix;
        HWND found;
    } search = {prefix, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (TextOf(child).compare(0, s->prefix.size(), s->prefix) == 0) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The dialog once it is on screen (its controls made and filled).
HWND WaitForDialog(const wchar_t* title) {
    HWND dialog = nullptr;
    testenv::WaitUntil(
        [&] {
            dialog = FindWindowW(L"#32770", title);
            return dialog && IsWindowVisible(dialog);
        },
        kWaitMs);
    return dialog;
}

// Only Move and Close are left in the system menu, as the helper reports
// (a system menu cannot be read from another process).
void ExpectTrimmedSystemMenu(HWND dialog) {
    HANDLE report = nullptr;
    testenv::WaitUntil([&] { return (report = GetPropW(dialog, L"SystemMenuTrimmed")) != nullptr; },
                       kWaitMs);
    EXPECT_EQ(reinterpret_cast<HANDLE>(1), report) << "Size, Maximize, Minimize or Restore left";
}

// The helper process; a failed check that leaves its dialog open ends it.
class Helper {
public:
    explicit Helper(const wchar_t* mode) : process_(testenv::StartProgram(kHelper, mode)) {}
    ~Helper() {
        if (process_) {
            TerminateProcess(process_, 99);
            CloseHandle(process_);
        }
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    bool Started() const { return process_ != nullptr; }

    // Its exit code, or -1 when it did not end in time.
    int WaitExit() {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_, kWaitMs) != WAIT_OBJECT_0)
            return -1;
        GetExitCodeProcess(process_, &code);
        return static_cast<int>(code);
    }

private:
    HANDLE process_;
};

DWORD SuspendCount() {
    sim::Machine machine = {};
    EXPECT_EQ(0u, sim::ReadMachine(&machine));
    return machine.suspendCount;
}

class MessageBoxTest : public testenv::SuiteStateTest,
                       public ::testing::WithParamInterface<const wchar_t*> {
protected:
    void SetUp() override {
        SuiteStateTest::SetUp();
        ASSERT_EQ(0, testenv::SetUpMachine(L"profile=one"));
        // The Windows version Wine reports to the helper.
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_CURRENT_USER, VersionKey().c_str(), L"Version", REG_SZ,
                                  GetParam(), (lstrlenW(GetParam()) + 1) * sizeof(wchar_t)));
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, VersionKey().c_str());
        SuiteStateTest::TearDown();
    }
    static std::wstring VersionKey() {
        return std::wstring(L"Software\\Wine\\AppDefaults\\") + kHelper;
    }
    static void SetPCSleep(DWORD seconds) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZEL\\VADOvur\\Refresh",
                                  L"PCSleep", REG_DWORD, &seconds, sizeof(seconds)));
    }
    static bool IsXP() { return lstrcmpW(GetParam(), L"winxp64") == 0; }
};

TEST_P(MessageBoxTest, SleepCountdown) {
    // Abort: the computer stays awake.
    SetPCSleep(30);
    DWORD before = SuspendCount();
    std::unique_ptr<Helper> helper = std::make_unique<Helper>(L"sleep");
    ASSERT_TRUE(helper->Started());
    HWND dialog = WaitForDialog(kTitle);
    ASSERT_NE(nullptr, dialog);
    EXPECT_NE(nullptr, FindChildText(dialog, L"あと30秒でスリープ状態へ移行します。\n"));
    ExpectTrimmedSystemMenu(dialog);
    HWND abort = FindChildText(dialog, L"中止");
    ASSERT_NE(nullptr, abort);
    SendMessageW(abort, BM_CLICK, 0, 0);
    EXPECT_EQ(0, helper->WaitExit());
    EXPECT_EQ(before, SuspendCount());

    // A few seconds: the text counts down, then the notebook sleeps.
    SetPCSleep(3);
    helper = std::make_unique<Helper>(L"sleep");
    ASSERT_TRUE(helper->Started());
    dialog = WaitForDialog(kTitle);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(testenv::WaitUntil(
        [&] { return FindChildText(dialog, L"あと2秒") || FindChildText(dialog, L"あと1秒"); },
        kWaitMs))
        << "the countdown text did not change";
    EXPECT_EQ(0, helper->WaitExit());
    EXPECT_EQ(before + 1, SuspendCount());

    // No time at all: asleep at the first tick.
    SetPCSleep(0);
    EXPECT_EQ(0, testenv::RunProgram(kHelper, L"sleep", kWaitMs));
    EXPECT_EQ(before + 2, SuspendCount());
}

// Windows XP has no task dialog: a classic box with a plain OK button.
TEST_P(MessageBoxTest, OneCustomButtonAnswersZero) {
    Helper helper(L"message");
    ASSERT_TRUE(helper.Started());
    HWND dialog = WaitForDialog(L"テストの表題");
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"テストの表題", TextOf(dialog));
    EXPECT_NE(nullptr, FindChildText(dialog, L"本文のテキスト"));
    if (!IsXP()) // the classic box keeps the system's own menu
        ExpectTrimmedSystemMenu(dialog);
    HWND button = FindChildText(dialog, IsXP() ? L"OK" : L"閉じる");
    ASSERT_NE(nullptr, button);
    SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_EQ(IsXP() ? IDOK : 0, helper.WaitExit());
}

INSTANTIATE_TEST_SUITE_P(Versions, MessageBoxTest, ::testing::Values(L"win7", L"winxp64"));

} // namespace
