// The battery history's views in the real zbMain.exe: the report
// "/report x.html" writes, and the history dialog of the diagnosis page.
#include "main_ui_support.h"

#include "battery/history.h"
#include "support/sample_history.h"

#include <fstream>
#include <sstream>

using namespace mainui;

namespace {

// The sample, battery 2 under an id that needs escaping in a page.
void PutHistoryInPlace() {
    std::vector<zbhistory::HistoryRow> rows = testenv::SampleHistory();
    for (zbhistory::HistoryRow& row : rows) {
        if (row.battery == 2)
            row.id = L"B2<&>";
    }
    wchar_t path[MAX_PATH] = {};
    ASSERT_EQ(S_OK, zbhistory::GetHistoryPath(path, MAX_PATH));
    ASSERT_EQ(S_OK, zbhistory::WriteHistoryFile(path, rows));
}

std::string ReadUtf8(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Utf8(const wchar_t* text) {
    char out[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out), nullptr, nullptr);
    return out;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// One page that stands alone: the chart inline, nothing fetched or run;
// both batteries with their ids escaped, each refresh's before and after.
TEST_F(MainScreenTest, ReportWritesOneSelfContainedPageWithBothBatteries) {
    SetUpMachine(L"two");
    PutHistoryInPlace();
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    const std::wstring file = std::wstring(dir) + L"zbmain_report.html";
    DeleteFileW(file.c_str());
    ui::Program program(L"zbMain.exe", L"/report \"" + file + L"\"");
    EXPECT_EQ(0, program.Wait());
    EXPECT_EQ(L"", program.StdErr());

    const std::string page = ReadUtf8(file);
    ASSERT_FALSE(page.empty());
    EXPECT_TRUE(Contains(page, "<svg"));
    EXPECT_TRUE(Contains(page, "<polyline"));
    for (const char* outside : {"<script", "http:", "https:", "src=", "href=", "url("})
        EXPECT_FALSE(Contains(page, outside)) << outside;
    EXPECT_TRUE(Contains(page, Utf8(L"<h2>バッテリ（ID: BTP-44A1-20240115-1a2b）")));
    EXPECT_TRUE(Contains(page, Utf8(L"<h2>バッテリ(セカンダリ)（ID: B2&lt;&amp;&gt;）")));
    EXPECT_FALSE(Contains(page, "B2<&>"));
    EXPECT_TRUE(Contains(page, Utf8(L"90% → 95%")));
    EXPECT_TRUE(Contains(page, Utf8(L"89% → 93%")));
    EXPECT_TRUE(Contains(page, Utf8(L"89% から 93%")));
    EXPECT_TRUE(Contains(page, Utf8(L"バッテリ性能は良好です。")));
    EXPECT_TRUE(Contains(page, Utf8(L"交換の目安に達する見込み")));
    DeleteFileW(file.c_str());
}

TEST_F(MainScreenTest, HistoryButtonOpensTheDialogWithTheLastRefresh) {
    SetUpMachine(L"two");
    PutHistoryInPlace();
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    ASSERT_TRUE(ui::IsVisible(main.Dialog(), IDC_BUTTON_HISTORY));
    ui::Click(main.Dialog(), IDC_BUTTON_HISTORY);
    HWND history = WaitForDialogWith(main.Pid(), IDC_HISTORY_CHART);
    ASSERT_NE(nullptr, history);
    EXPECT_FALSE(IsWindowEnabled(main.Window())) << "the dialog is modal";
    const std::wstring first = ui::Text(history, IDC_HISTORY_SUMMARY1);
    EXPECT_NE(std::wstring::npos, first.find(L"バッテリ: ")) << first;
    EXPECT_NE(std::wstring::npos, first.find(L"89% から 93%")) << first;
    EXPECT_NE(std::wstring::npos, ui::Text(history, IDC_HISTORY_SUMMARY2).find(L"セカンダリ"));
    EXPECT_TRUE(ui::IsVisible(history, IDC_HISTORY_SAVE));
    ui::Click(history, IDCANCEL);
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(history); }, ui::kWaitMs));
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return IsWindowEnabled(main.Window()) != FALSE; }, ui::kWaitMs));
}
