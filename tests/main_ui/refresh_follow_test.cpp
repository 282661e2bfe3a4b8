// Following a whole refresh on the main screen as its owner watches it: the
// status line, the percentage, the three step pictures with their labels,
// on Windows 10 a toast at each new ten percent, and the diagnosis at the
// end.
#include "main_ui_support.h"

#include "toast/kx_ntf.h"

#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace mainui;

namespace {

// What the refresh dialog shows at one look: the percentage, which step
// labels are enabled, and the table index of each step's picture.
struct Look {
    int percent = -1;
    int labels = 0; // bit 0: step 1, bit 1: step 2, bit 2: step 3
    int picture[3] = {-1, -1, -1};
    bool operator==(const Look& o) const {
        return percent == o.percent && labels == o.labels && picture[0] == o.picture[0] &&
               picture[1] == o.picture[1] && picture[2] == o.picture[2];
    }
};

Look ReadLook(HWND refresh) {
    const int labels[3] = {IDC_STEP_LABEL1, IDC_STEP_LABEL2, IDC_STEP_LABEL3};
    const int pictures[3] = {IDC_STEP1, IDC_STEP2, IDC_STEP3};
    Look look;
    look.percent = PercentOf(ui::Text(refresh, IDC_PERCENT));
    for (int i = 0; i < 3; ++i) {
        look.labels |= ui::IsEnabled(refresh, labels[i]) ? 1 << i : 0;
        look.picture[i] =
            static_cast<int>(GetWindowLongPtrW(ui::Control(refresh, pictures[i]), GWLP_USERDATA)) -
            1;
    }
    return look;
}

// A look the dialog holds between two of its messages (two reads around a
// moment it was idle agree), never one taken halfway through a redraw.
bool SteadyLook(HWND refresh, Look* look) {
    if (!ui::Settle(refresh))
        return false;
    const Look first = ReadLook(refresh);
    if (!ui::Settle(refresh))
        return false;
    *look = ReadLook(refresh);
    return *look == first;
}

// Toast popups of the process, by window, with their texts.
void CollectToasts(DWORD pid, std::map<HWND, std::wstring>* toasts) {
    HWND popup = nullptr;
    while ((popup = FindWindowExW(nullptr, popup, KX_NTF_POPUP_CLASS, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(popup, &owner);
        wchar_t text[256] = {};
        if (owner == pid && !toasts->count(popup) && GetWindowTextW(popup, text, ARRAYSIZE(text)))
            (*toasts)[popup] = text;
    }
}

// The toasts a run should have raised: one for each new ten of the
// percentages the tool reported (its progress log keeps every one).
std::multiset<std::wstring> ExpectedToasts() {
    std::multiset<std::wstring> texts;
    int lastTens = 0;
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_progress_01.log")) {
        const size_t at = line.find(L"Progress:");
        if (at == std::wstring::npos)
            continue;
        const int tens = _wtoi(line.c_str() + at + 9) / 10 * 10;
        if (tens <= lastTens)
            continue;
        lastTens = tens;
        wchar_t text[128] = {};
        swprintf(text, ARRAYSIZE(text), L"バッテリリフレッシュが%3d％完了しました。", tens);
        texts.insert(text);
    }
    return texts;
}

// The main screen runs as Windows 10 (the prefix is Windows 7).
class AsWindows10 {
public:
    AsWindows10() {
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Version", REG_SZ, L"win10", sizeof(L"win10"));
    }
    ~AsWindows10() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
    AsWindows10(const AsWindows10&) = delete;
    AsWindows10& operator=(const AsWindows10&) = delete;

private:
    static constexpr wchar_t kKey[] = L"Software\\Wine\\AppDefaults\\zbMain.exe";
};

// The step drawing per mode: the enabled label, the other steps at their
// idle pictures, the running step through its three pictures (their order
// is NextStepPicture's, tested on its own).
struct StepDrawing {
    int labels;
    int step;       // 0, 1 or 2: the animated step
    int firstFrame; // table index of its first picture
};
constexpr StepDrawing kCharging = {1, 0, 0};
constexpr StepDrawing kDischarging = {2, 1, 4};
constexpr StepDrawing kRecharging = {4, 2, 8};
constexpr int kIdle[3] = {3, 7, 11};

// Checks the looks of one drawing; how many pictures its step showed.
size_t CheckDrawing(const std::vector<Look>& looks, const StepDrawing& drawing, const char* name) {
    std::set<int> shown;
    for (const Look& look : looks) {
        if (look.labels != drawing.labels)
            continue;
        for (int i = 0; i < 3; ++i) {
            if (i != drawing.step) {
                EXPECT_EQ(kIdle[i], look.picture[i]) << name << ": step " << i + 1;
            }
        }
        const int picture = look.picture[drawing.step];
        EXPECT_TRUE(picture >= drawing.firstFrame && picture <= drawing.firstFrame + 2)
            << name << ": picture " << picture;
        shown.insert(picture);
    }
    return shown.size();
}

} // namespace

TEST_F(RefreshRunTest, AWholeRefreshAnimatesEachStepToastsEachTenAndEndsInTheDiagnosis) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        m.battery[0].remaining = m.battery[0].fullChargeCapacity * 0.85;
        m.battery[0].chargeLatched = 0;
    });
    AsWindows10 windows10;
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND refresh = StartRefresh(main);
    ASSERT_NE(nullptr, refresh);
    EXPECT_FALSE(IsWindowVisible(main.Window()));

    // Slow enough for the charge step to animate, then faster.
    std::vector<Look> looks;
    std::map<HWND, std::wstring> toasts;
    bool running = false;
    double speed = 0;
    HWND complete = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            CollectToasts(main.Pid(), &toasts);
            Look look;
            if (IsWindow(refresh) && SteadyLook(refresh, &look)) {
                if (looks.empty() || !(looks.back() == look))
                    looks.push_back(look);
                running = running || ui::Text(refresh, IDC_REFRESH_STATUS) ==
                                         L"現在バッテリのリフレッシュ＆診断 実行中です。";
                const double wanted = look.labels == kCharging.labels ? 1200.0
                                      : speed > 0                     ? 3000.0
                                                                      : 0.0;
                if (wanted > speed && SimSetSpeed(wanted) == 0)
                    speed = wanted;
            }
            complete = ui::FindTopWindow(main.Pid(), L"CompleteWnd", nullptr);
            return complete != nullptr;
        },
        kRunWaitMs));
    CollectToasts(main.Pid(), &toasts);
    EXPECT_TRUE(running);

    // Before the first report: every step ready, the charge still to do.
    ASSERT_FALSE(looks.empty());
    EXPECT_EQ(7, looks.front().labels);
    EXPECT_EQ(0, looks.front().picture[0]);
    EXPECT_EQ(5, looks.front().picture[1]);
    EXPECT_EQ(10, looks.front().picture[2]);
    // Each step animates in its turn, in that order.
    EXPECT_LE(2u, CheckDrawing(looks, kCharging, "charging"));
    EXPECT_LE(2u, CheckDrawing(looks, kDischarging, "discharging"));
    EXPECT_LE(2u, CheckDrawing(looks, kRecharging, "recharging"));
    std::vector<int> order;
    for (const Look& look : looks)
        if (order.empty() || order.back() != look.labels)
            order.push_back(look.labels);
    EXPECT_EQ((std::vector<int>{7, 1, 2, 4}), order);

    // The percentage never goes back and ends at 100; a toast for each new
    // ten and none between.
    std::vector<int> percents;
    for (const Look& look : looks)
        percents.push_back(look.percent);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(100, percents.back());
    std::multiset<std::wstring> shown;
    for (const auto& toast : toasts)
        shown.insert(toast.second);
    std::multiset<std::wstring> expected = ExpectedToasts();
    expected.insert(L"バッテリのリフレッシュ＆診断が完了しました。");
    EXPECT_EQ(1u, expected.count(L"バッテリリフレッシュが100％完了しました。"));
    EXPECT_EQ(expected, shown);

    HWND dialog = FindWindowExW(complete, nullptr, L"#32770", nullptr);
    ASSERT_NE(nullptr, dialog);
    EXPECT_NE(nullptr, ui::Control(dialog, IDC_RESULT_STATUS1)) << "the completed dialog";
    EXPECT_TRUE(testenv::WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, ui::kWaitMs));
    EXPECT_NE(L"取得中", ui::Text(dialog, IDC_RESULT_MESSAGE));
    EXPECT_TRUE(ui::IsVisible(dialog, IDC_RESULT_LASTDATE1));
    const std::wstring lastDate = ui::Text(dialog, IDC_RESULT_LASTDATE1);
    ui::Click(dialog, IDOK);
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return IsWindowVisible(main.Window()) != FALSE; }, ui::kWaitMs));
    EXPECT_TRUE(ui::WaitForNoWindow(main.Pid(), L"CompleteWnd", nullptr));
    EXPECT_NE(L"未実施", ui::Text(main.Dialog(), IDC_LASTDATE1));
    EXPECT_EQ(ui::Text(main.Dialog(), IDC_LASTDATE1), lastDate) << "the completion's date";
}
