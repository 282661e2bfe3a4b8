#include "scenario_support.h"

#include "common/reg.h"
#include "sim/powrprof/power_store.h"

#include <algorithm>
#include <iostream>
#include <regex>

namespace scenario {
namespace {

constexpr wchar_t kPipe1[] = L"\\\\.\\pipe\\vadovur_pipe1";
constexpr wchar_t kPipe2[] = L"\\\\.\\pipe\\vadovur_pipe2";
constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";
constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";
constexpr DWORD kRecordSize = 24;
constexpr DWORD kConnectPollMs = 5;

Notice DecodeNotice(const BYTE* bytes) {
    Notice notice = {};
    memcpy(&notice.message, bytes, 4);
    memcpy(&notice.battery, bytes + 4, 4);
    memcpy(&notice.wparam, bytes + 8, 8);
    memcpy(&notice.lparam, bytes + 16, 8);
    return notice;
}

std::vector<INT64> FieldOf(const std::vector<Notice>& notices, UINT32 message, UINT32 battery,
                           bool anyBattery) {
    std::vector<INT64> values;
    for (const Notice& n : notices) {
        if (n.message == message && (anyBattery || n.battery == battery))
            values.push_back(static_cast<INT64>(n.wparam));
    }
    return values;
}

std::wstring StripStamp(const std::wstring& line) {
    // "[yyyy/mm/dd hh:mm:ss.mmm] text"
    const size_t end = line.find(L"] ");
    return end == std::wstring::npos ? line : line.substr(end + 2);
}

} // namespace

WineVersionFor::WineVersionFor(const wchar_t* exe, const wchar_t* version)
    : key_(std::wstring(L"Software\\Wine\\AppDefaults\\") + exe) {
    wchar_t old[64] = {};
    had_ = SUCCEEDED(CReg::GetSZ(HKEY_CURRENT_USER, key_.c_str(), L"Version", old, sizeof(old)));
    old_ = old;
    EXPECT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, key_.c_str(), L"Version", version));
}

WineVersionFor::~WineVersionFor() {
    if (had_)
        CReg::SetSZ(HKEY_CURRENT_USER, key_.c_str(), L"Version", old_.c_str());
    else
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
}

// ---- NoticeRecorder ---------------------------------------------------------

NoticeRecorder::NoticeRecorder() : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this] { Run(); });
}

NoticeRecorder::~NoticeRecorder() {
    SetEvent(stop_.Get());
    thread_.join();
}

void NoticeRecorder::Run() {
    zb::UniqueHandle pipe;
    while (!pipe) {
        if (WaitForSingleObject(stop_.Get(), kConnectPollMs) != WAIT_TIMEOUT)
            return;
        pipe.Reset(CreateFileW(kPipe1, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr));
    }
    connected_ = true;
    zb::UniqueHandle ioEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    BYTE record[kRecordSize] = {};
    DWORD filled = 0;
    for (;;) {
        OVERLAPPED ov = {};
        ov.hEvent = ioEvent.Get();
        ResetEvent(ioEvent.Get());
        if (!ReadFile(pipe.Get(), record + filled, kRecordSize - filled, nullptr, &ov) &&
            GetLastError() != ERROR_IO_PENDING)
            break;
        const HANDLE waits[] = {ioEvent.Get(), stop_.Get()};
        DWORD got = 0;
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(pipe.Get());
            GetOverlappedResult(pipe.Get(), &ov, &got, TRUE);
            break;
        }
        if (!GetOverlappedResult(pipe.Get(), &ov, &got, FALSE) || got == 0)
            break;
        filled += got;
        if (filled == kRecordSize) {
            std::lock_guard<std::mutex> guard(lock_);
            notices_.push_back(DecodeNotice(record));
            filled = 0;
        }
    }
    closed_ = true;
}

std::vector<Notice> NoticeRecorder::Notices() const {
    std::lock_guard<std::mutex> guard(lock_);
    return notices_;
}

bool NoticeRecorder::WaitFor(const std::function<bool(const Notice&)>& pred, DWORD timeoutMs) {
    return testenv::WaitUntil(
        [&] {
            const std::vector<Notice> notices = Notices();
            return std::any_of(notices.begin(), notices.end(), pred);
        },
        timeoutMs);
}

bool NoticeRecorder::WaitForMode(UINT32 battery, INT64 mode, DWORD timeoutMs) {
    return WaitFor(
        [&](const Notice& n) {
            return n.message == kModeNotice && n.battery == battery &&
                   static_cast<INT64>(n.wparam) == mode;
        },
        timeoutMs);
}

std::vector<INT64> ModesOf(const std::vector<Notice>& notices, UINT32 battery) {
    return FieldOf(notices, kModeNotice, battery, false);
}

std::vector<INT64> ProgressOf(const std::vector<Notice>& notices, UINT32 battery) {
    return FieldOf(notices, kProgressNotice, battery, false);
}

std::vector<INT64> ErrorsOf(const std::vector<Notice>& notices) {
    return FieldOf(notices, kErrorNotice, 0, true);
}

bool SendRequest(UINT32 message, UINT64 wparam) {
    zb::UniqueHandle pipe;
    testenv::WaitUntil(
        [&] {
            pipe.Reset(CreateFileW(kPipe2, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   0, nullptr));
            return pipe.IsValid();
        },
        5000);
    if (!pipe)
        return false;
    BYTE record[kRecordSize] = {};
    memcpy(record, &message, 4);
    memcpy(record + 8, &wparam, 8);
    DWORD written = 0;
    return WriteFile(pipe.Get(), record, kRecordSize, &written, nullptr) && written == kRecordSize;
}

// ---- ToolProcess ------------------------------------------------------------

ToolProcess::ToolProcess(const std::wstring& args)
    : process_(testenv::StartProgram(L"zbRefresh.exe", args)) {
    if (process_)
        id_ = GetProcessId(process_.Get());
}

ToolProcess::~ToolProcess() {
    if (Running()) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
    }
}

int ToolProcess::Wait(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<int>(code);
}

bool ToolProcess::Running() const {
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

// ---- Machine ----------------------------------------------------------------

sim::Machine ReadMachine() {
    sim::Machine m = {};
    EXPECT_EQ(0u, sim::ReadMachine(&m));
    return m;
}

sim::Battery ReadBattery(UINT battNo) {
    return ReadMachine().battery[battNo == 1 ? 0 : 1];
}

void SetUpMachine(const wchar_t* profile, const std::function<void(sim::Machine&)>& edit) {
    ASSERT_EQ(0u, SimSetupProfile(profile));
    ASSERT_EQ(0u, sim::Modify([&](sim::Machine& m) -> DWORD {
                  edit(m);
                  return 0;
              }));
}

void SetSpeed(double speed) {
    ASSERT_EQ(0u, SimSetSpeed(speed));
}

void SetPercent(sim::Battery& b, double percent) {
    b.remaining = b.fullChargeCapacity * percent / 100.0;
    b.chargeLatched = 0;
}

// ---- Settings and records ---------------------------------------------------

void SetRefreshSetting(const wchar_t* name, DWORD value) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, name, value));
}

void SetUserRefreshSetting(const wchar_t* name, DWORD value) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, kRefreshKey, name, value));
}

LONG LastRefreshStatus() {
    DWORD status = 0;
    if (FAILED(CReg::GetDW(HKEY_CURRENT_USER, kSuiteKey, L"LastRefreshStatus", &status)))
        return -1;
    return static_cast<LONG>(status);
}

std::wstring LastRefreshUser() {
    wchar_t user[260] = {};
    CReg::GetSZ(HKEY_CURRENT_USER, kSuiteKey, L"LastRefreshUser", user, sizeof(user));
    return user;
}

std::wstring LastRefreshDate(const std::wstring& ownId) {
    const std::wstring key = std::wstring(kSuiteKey) + L"\\BatteryInfo\\" + ownId;
    wchar_t date[260] = {};
    CReg::GetSZ(HKEY_LOCAL_MACHINE, key.c_str(), L"LastRefreshDate", date, sizeof(date));
    return date;
}

std::wstring Today() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t text[16] = {};
    swprintf(text, 16, L"%04d/%02d/%02d", now.wYear, now.wMonth, now.wDay);
    return text;
}

std::vector<zbhistory::HistoryRow> HistoryRows() {
    std::vector<zbhistory::HistoryRow> rows;
    const std::wstring path = testenv::LogPath(zbhistory::HISTORY_FILE_NAME);
    EXPECT_EQ(S_OK, zbhistory::ReadHistory(path.c_str(), &rows));
    return rows;
}

std::vector<std::wstring> ProgressLines(UINT battNo) {
    std::vector<std::wstring> lines;
    for (const std::wstring& line : testenv::ReadLogLines(battNo == 1 ? L"vadovur_progress_01.log"
                                                                      : L"vadovur_progress_02.log"))
        lines.push_back(StripStamp(line));
    return lines;
}

std::vector<std::wstring> ProgressShape(UINT battNo) {
    static const std::wregex temperature(L", [0-9A-F]{4}\\)$");
    static const std::wregex figure(L"(Progress|Capacity):[0-9]+");
    std::vector<std::wstring> shape;
    for (const std::wstring& line : ProgressLines(battNo)) {
        std::wstring general = std::regex_replace(line, temperature, L", HHHH)");
        general = std::regex_replace(general, figure, L"$1:N");
        if (shape.empty() || shape.back() != general)
            shape.push_back(general);
    }
    return shape;
}

size_t TraceCount(const wchar_t* text) {
    size_t count = 0;
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_refresh.log"))
        count += line.find(text) != std::wstring::npos ? 1 : 0;
    return count;
}

bool TraceContains(const wchar_t* text) {
    return TraceCount(text) > 0;
}

// ---- Power plans ------------------------------------------------------------

PowerState ReadPowerState() {
    PowerState state;
    EXPECT_EQ(0u, simpower::GetActivePlan(&state.activePlan));
    EXPECT_EQ(0u, simpower::ListPlans(&state.plans));
    EXPECT_EQ(0u, simpower::GetActiveXpScheme(&state.activeXpScheme));
    std::vector<simpower::XpScheme> schemes;
    EXPECT_EQ(0u, simpower::ListXpSchemes(&schemes));
    for (const simpower::XpScheme& scheme : schemes)
        state.xpSchemes.push_back(scheme.index);
    return state;
}

void ExpectSamePowerState(const PowerState& before, const PowerState& after) {
    EXPECT_TRUE(IsEqualGUID(before.activePlan, after.activePlan))
        << "active plan " << simpower::GuidToText(after.activePlan);
    EXPECT_EQ(before.plans.size(), after.plans.size()) << "a plan was left behind";
    for (const GUID& plan : before.plans)
        EXPECT_TRUE(std::any_of(after.plans.begin(), after.plans.end(),
                                [&](const GUID& g) { return IsEqualGUID(g, plan) != 0; }));
    EXPECT_EQ(before.activeXpScheme, after.activeXpScheme);
    EXPECT_EQ(before.xpSchemes, after.xpSchemes);
}

std::wstring ActivePlanName() {
    GUID active = {};
    std::wstring name;
    if (simpower::GetActivePlan(&active) == 0)
        simpower::ReadPlanText(active, simpower::PlanText::FriendlyName, &name);
    return name;
}

// ---- Fixture ----------------------------------------------------------------

void RefreshScenarioTest::SetUp() {
    SuiteStateTest::SetUp();
    ASSERT_EQ(0u, simpower::ResetPowerStore());
    SetRefreshSetting(L"Log", 1);
    SetRefreshSetting(L"RefreshCoolDownTime", 0);
    SetRefreshSetting(L"RefreshCoolDownLimit", 0);
    SetRefreshSetting(L"ADCHDelay", 0);
    recorder_.reset(new NoticeRecorder());
}

void RefreshScenarioTest::TearDown() {
    recorder_.reset();
    if (HasFailure())
        KeepLogs();
    simpower::ResetPowerStore();
    SuiteStateTest::TearDown();
}

void RefreshScenarioTest::KeepLogs() {
    // The suite state is cleaned next; a failed scenario's logs are worth
    // keeping: %TEMP%\<test>.<log file>.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? info->name() : "scenario";
    for (const wchar_t* log : {L"vadovur_refresh.log", L"vadovur_error.log",
                               L"vadovur_progress_01.log", L"vadovur_progress_02.log"}) {
        const std::wstring target =
            std::wstring(temp) + std::wstring(name.begin(), name.end()) + L"." + log;
        if (CopyFileW(testenv::LogPath(log).c_str(), target.c_str(), FALSE))
            std::wcout << L"kept " << target << std::endl;
    }
}

void RefreshScenarioTest::ExpectRefreshSwitchedOff(UINT battNo) {
    const sim::Battery b = ReadBattery(battNo);
    EXPECT_EQ(1u, b.adpc) << "battery " << battNo;
    EXPECT_EQ(1u, b.chgc) << "battery " << battNo;
}

} // namespace scenario
