// The log files as the other programs and the user see them: names,
// encoding and line formats, the trace switch, and appending while another
// process or thread holds the file.
#include "common/log.h"
#include "common/reg.h"
#include "common/settings.h"

#include "support/suite_env.h"

#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kTraceLog[] = L"vadovur_refresh.log";
const wchar_t kErrorLog[] = L"vadovur_error.log";
const wchar_t kProgress1[] = L"vadovur_progress_01.log";
const wchar_t kProgress2[] = L"vadovur_progress_02.log";

bool FileExists(const wchar_t* name) {
    return GetFileAttributesW(testenv::LogPath(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// "[yyyy/mm/dd hh:mm:ss.mmm]" and what follows it; empty when the line
// does not start with a well-formed stamp.
std::wstring AfterStamp(const std::wstring& line) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, used = 0;
    if (swscanf(line.c_str(), L"[%d/%d/%d %d:%d:%d.%d]%n", &y, &mo, &d, &h, &mi, &s, &ms, &used) !=
            7 ||
        line.compare(0, 1, L"[") != 0 || line[used - 1] != L']' || used != 25)
        return L"";
    return line.substr(used);
}

std::wstring PidField() {
    wchar_t pid[16] = {};
    swprintf(pid, 16, L"[%08X]", GetCurrentProcessId());
    return pid;
}

class LogTest : public testenv::SuiteStateTest {
protected:
    static void SetTrace(DWORD value) {
        ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"Log", value));
    }
};

TEST_F(LogTest, TraceLineHasStampProcessFunctionLineAndMessage) {
    SetTrace(1);
    WriteLog(L"CReg::GetDW", 42, L"%s is NULL.\n", L"lpName");
    LogApiFailure(L"StartDaySetting", 7, L"LoadImage", 5);
    const auto lines = testenv::ReadLogLines(kTraceLog);
    ASSERT_EQ(2u, lines.size());
    // A message ending in "\n" leaves a bare line feed before "\r\n".
    EXPECT_EQ(PidField() + L"[CReg::GetDW][42] lpName is NULL.\n", AfterStamp(lines[0]));
    EXPECT_EQ(PidField() + L"[StartDaySetting][7] Fail to LoadImage(). ErrorCode: 00000005.\n",
              AfterStamp(lines[1]));
}

TEST_F(LogTest, TraceIsWrittenOnlyWhileTheSwitchIsOn) {
    WriteLog(L"F", 1, L"key missing");
    SetTrace(0);
    WriteLog(L"F", 2, L"switch 0");
    EXPECT_FALSE(FileExists(kTraceLog));
    WriteProgressLog(1, L"START!");
    WriteErrorLog(9001, ERRLOG_CAPTION_ID, ERRLOG_FILE, 3, GetModuleHandleW(nullptr));
    EXPECT_EQ(1u, testenv::ReadLogLines(kProgress1).size());
    EXPECT_EQ(1u, testenv::ReadLogLines(kErrorLog).size());

    // The switch is read for every line: running programs follow it at once.
    SetTrace(1);
    WriteLog(L"F", 3, L"on");
    SetTrace(0);
    WriteLog(L"F", 4, L"off again");
    const auto lines = testenv::ReadLogLines(kTraceLog);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(PidField() + L"[F][3] on", AfterStamp(lines[0]));
}

TEST_F(LogTest, NewFileStartsWithByteOrderMarkAndIsHidden) {
    WriteProgressLog(2, L"START!");
    WriteProgressLog(2, L"COMPLETED!");
    const auto bytes = testenv::ReadFileBytes(testenv::LogPath(kProgress2));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    const std::wstring text = testenv::ReadLogText(kProgress2);
    EXPECT_EQ(std::wstring::npos, text.find(L'\xFEFF')) << "second byte-order mark";
    const DWORD attributes = GetFileAttributesW(testenv::LogPath(kProgress2).c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(LogTest, EmptiedFileGetsTheByteOrderMarkAgain) {
    const std::wstring path = testenv::LogPath(kProgress1);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    WriteProgressLog(1, L"START!");
    const auto bytes = testenv::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
}

TEST_F(LogTest, ProgressOfEveryBatteryButTheFirstGoesToTheSecondFile) {
    WriteProgressLog(1, L"CHARGING1  (Progress:%d %%, Capacity:%d %%)", 10, 55);
    WriteProgressLog(0, L"zero");
    WriteProgressLog(2, L"two");
    WriteProgressLog(3, L"three");
    const auto first = testenv::ReadLogLines(kProgress1);
    ASSERT_EQ(1u, first.size());
    EXPECT_EQ(L" CHARGING1  (Progress:10 %, Capacity:55 %)", AfterStamp(first[0]));
    const auto second = testenv::ReadLogLines(kProgress2);
    ASSERT_EQ(3u, second.size());
    EXPECT_EQ(L" zero", AfterStamp(second[0]));
    EXPECT_EQ(L" three", AfterStamp(second[2]));

    // Deleting follows the same choice of file.
    EXPECT_TRUE(DeleteProgressLog(3));
    EXPECT_FALSE(FileExists(kProgress2));
    EXPECT_TRUE(FileExists(kProgress1));
    EXPECT_FALSE(DeleteProgressLog(2));
}

TEST_F(LogTest, LongMessageIsWrittenCutButStillEndsItsLine) {
    SetTrace(1);
    const std::wstring longText(LOG_MESSAGE_CCH + 100, L'x');
    WriteLog(L"F", 1, L"%s", longText.c_str());
    WriteProgressLog(1, L"%s", longText.c_str());
    WriteLog(L"F", 2, L"next");
    WriteProgressLog(1, L"next");
    for (const wchar_t* name : {kTraceLog, kProgress1}) {
        const auto lines = testenv::ReadLogLines(name);
        ASSERT_EQ(2u, lines.size()) << name;
        EXPECT_EQ(LOG_LINE_CCH - 3, lines[0].size()) << name;
        EXPECT_EQ(L'x', lines[0].back()) << name;
        EXPECT_NE(std::wstring::npos, lines[1].find(L"] next")) << name;
    }
}

TEST_F(LogTest, ErrorLineCarriesResourceTextAndCode) {
    EXPECT_EQ(0,
              WriteErrorLog(9001, ERRLOG_CAPTION_ID, ERRLOG_FILE, 0x1F, GetModuleHandleW(nullptr)));
    WriteErrorLog(9999, ERRLOG_CAPTION_ID, ERRLOG_FILE, 0x80004005, GetModuleHandleW(nullptr));
    const auto lines = testenv::ReadLogLines(kErrorLog);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L" バッテリ情報を取得できませんでした。(0x1f)", AfterStamp(lines[0]));
    EXPECT_EQ(L" (0x80004005)", AfterStamp(lines[1])) << "a missing string is an empty text";
}

TEST_F(LogTest, NullArgumentsAreLoggedUnderTheFunctionName) {
    SetTrace(1);
    wchar_t path[MAX_PATH] = L"unchanged";
    CreateLogFilePath(path, ARRAYSIZE(path), nullptr);
    EXPECT_STREQ(L"unchanged", path);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), WriteEventLogInfo(nullptr, 0));
    const auto lines = testenv::ReadLogLines(kTraceLog);
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::wstring::npos, lines[0].find(L"[CreateLogFilePath]"));
    EXPECT_NE(std::wstring::npos, lines[0].find(L"] szFilename is NULL.\n"));
    EXPECT_NE(std::wstring::npos, lines[1].find(L"[WriteEventLogInfo]"));
    EXPECT_NE(std::wstring::npos, lines[1].find(L"] szLog is NULL.\n"));
}

TEST_F(LogTest, LogPathIsInTheCommonApplicationDataFolder) {
    wchar_t path[MAX_PATH] = {};
    CreateLogFilePath(path, ARRAYSIZE(path), kErrorLog);
    EXPECT_EQ(testenv::LogPath(kErrorLog), path);
}

TEST_F(LogTest, EventLogEntryIsReported) {
    // Wine accepts the source and the report without keeping them; Windows
    // keeps them. Either way the call answers 0.
    EXPECT_EQ(0u, WriteEventLogInfo(L"Write start date! dwDate: 1, Data : 0\n", 0));
}

// Two threads of one process never share a line: every line in the file is
// whole, though a line attempted while the other thread writes may be lost.
TEST_F(LogTest, ConcurrentTraceLinesAreNeverMixed) {
    SetTrace(1);
    constexpr int kLines = 150;
    auto writer = [](wchar_t tag) {
        const std::wstring payload(300, tag);
        for (int i = 0; i < kLines; ++i)
            WriteLog(L"Writer", i, L"%s", payload.c_str());
    };
    std::thread a(writer, L'a');
    std::thread b(writer, L'b');
    a.join();
    b.join();
    const auto lines = testenv::ReadLogLines(kTraceLog);
    ASSERT_FALSE(lines.empty());
    EXPECT_LE(lines.size(), 2u * kLines);
    for (const auto& line : lines) {
        const std::wstring rest = AfterStamp(line);
        ASSERT_FALSE(rest.empty()) << line;
        const size_t space = rest.find(L"] ");
        ASSERT_NE(std::wstring::npos, space) << line;
        const std::wstring payload = rest.substr(space + 2);
        ASSERT_EQ(300u, payload.size()) << line;
        EXPECT_EQ(std::wstring(300, payload[0]), payload) << line;
    }
}

// Another process holding the log file exclusively, as every writer does
// for the moment of its line.
class HeldLogTest : public LogTest {
protected:
    void SetUp() override {
        LogTest::SetUp();
        ready_ = CreateEventW(nullptr, TRUE, FALSE, L"ZbTestLogHolderReady");
        release_ = CreateEventW(nullptr, TRUE, FALSE, L"ZbTestLogHolderRelease");
        ASSERT_TRUE(ready_ && release_);
    }
    void TearDown() override {
        if (holder_) {
            SetEvent(release_);
            WaitForSingleObject(holder_, 10000);
            CloseHandle(holder_);
        }
        CloseHandle(ready_);
        CloseHandle(release_);
        LogTest::TearDown();
    }
    void Hold(const wchar_t* name, DWORD maxMs) {
        const std::wstring args = L"ZbTestLogHolderReady ZbTestLogHolderRelease " +
                                  std::to_wstring(maxMs) + L" \"" + testenv::LogPath(name) + L"\"";
        holder_ = testenv::StartProgram(L"log_file_holder.exe", args);
        ASSERT_NE(nullptr, holder_);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready_, 20000));
    }
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE holder_ = nullptr;
};

TEST_F(HeldLogTest, LineWaitsForABriefHolder) {
    // The writer retries for at least 900 ms; the holder lets go after 400.
    Hold(kProgress1, 400);
    WriteProgressLog(1, L"START!");
    const auto lines = testenv::ReadLogLines(kProgress1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L" START!", AfterStamp(lines[0]));
}

TEST_F(HeldLogTest, LineIsLostWhileTheHolderKeepsTheFile) {
    // Held until after the call: the writer gives up and its caller goes on.
    Hold(kProgress1, 30000);
    WriteProgressLog(1, L"lost");
    SetEvent(release_);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder_, 10000));
    WriteProgressLog(1, L"kept");
    const auto lines = testenv::ReadLogLines(kProgress1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L" kept", AfterStamp(lines[0]));
}

} // namespace
