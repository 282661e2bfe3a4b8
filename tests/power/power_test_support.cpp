#include "power_test_support.h"

#include "sim/powrprof/power_store.h"

namespace powertest {

namespace {

const wchar_t kRefreshSettingsKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";
const wchar_t kRecorderClass[] = L"ZbPowerTestRecorder";

} // namespace

void PowerTest::SetUp() {
    testenv::SuiteStateTest::SetUp();
    ASSERT_EQ(0u, simpower::ResetPowerStore());
}

void PowerTest::TearDown() {
    simpower::ResetPowerStore();
    testenv::SuiteStateTest::TearDown();
}

void EnableTrace() {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRefreshSettingsKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const DWORD one = 1;
    RegSetValueExW(key, L"Log", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    RegCloseKey(key);
}

std::vector<std::wstring> ErrorEntries() {
    std::vector<std::wstring> entries;
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_error.log")) {
        const size_t end = line.find(L"] ");
        if (end != std::wstring::npos)
            entries.push_back(line.substr(end + 2));
    }
    return entries;
}

size_t CountEntries(const wchar_t* id) {
    size_t count = 0;
    const std::wstring prefix = std::wstring(id) + L"(";
    for (const std::wstring& entry : ErrorEntries())
        count += entry.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return count;
}

bool TraceContains(const wchar_t* text) {
    return testenv::ReadLogText(L"vadovur_refresh.log").find(text) != std::wstring::npos;
}

const GUID& SleepSubgroup() {
    return simpower::kSleepSubgroup;
}
const GUID& StandbyTimeout() {
    return simpower::kStandbyTimeout;
}
const GUID& HibernateTimeout() {
    return simpower::kHibernateTimeout;
}

GUID ActivePlan() {
    GUID* active = nullptr;
    GUID result = GUID_NULL;
    if (PowerGetActiveScheme(nullptr, &active) == ERROR_SUCCESS && active) {
        result = *active;
        LocalFree(active);
    }
    return result;
}

bool PlanListed(const GUID& plan) {
    for (ULONG i = 0;; ++i) {
        GUID guid = GUID_NULL;
        DWORD cb = sizeof(guid);
        if (PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, i,
                           reinterpret_cast<UCHAR*>(&guid), &cb) != ERROR_SUCCESS)
            return false;
        if (IsEqualGUID(guid, plan))
            return true;
    }
}

DWORD PlanValue(const GUID& plan, const GUID& subgroup, const GUID& setting, bool ac) {
    DWORD value = 0xFFFFFFFF;
    const DWORD rc = ac ? PowerReadACValueIndex(nullptr, &plan, &subgroup, &setting, &value)
                        : PowerReadDCValueIndex(nullptr, &plan, &subgroup, &setting, &value);
    return rc == ERROR_SUCCESS ? value : 0xFFFFFFFF;
}

TempFile::TempFile(const wchar_t* name, const std::string& bytes) {
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(ARRAYSIZE(dir), dir);
    m_path = std::wstring(dir) + name;
    HANDLE file = CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

TempFile::~TempFile() {
    DeleteFileW(m_path.c_str());
}

FileMovedAside::FileMovedAside(const std::wstring& path) : m_path(path), m_moved(false) {
    m_moved = MoveFileExW(m_path.c_str(), (m_path + L".aside").c_str(),
                          MOVEFILE_REPLACE_EXISTING) != FALSE;
}

FileMovedAside::~FileMovedAside() {
    if (m_moved)
        MoveFileExW((m_path + L".aside").c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

MessageRecorder::MessageRecorder(Kind kind) : m_hWnd(nullptr) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kRecorderClass;
    RegisterClassW(&wc); // fails harmlessly when registered before
    m_hWnd = CreateWindowExW(0, kRecorderClass, L"", WS_OVERLAPPED, 0, 0, 10, 10,
                             kind == Kind::MessageOnly ? HWND_MESSAGE : nullptr, nullptr,
                             GetModuleHandleW(nullptr), this);
}

MessageRecorder::~MessageRecorder() {
    if (m_hWnd)
        DestroyWindow(m_hWnd);
}

size_t MessageRecorder::Count(UINT message) const {
    size_t count = 0;
    for (const Record& r : m_records)
        count += r.message == message ? 1 : 0;
    return count;
}

LRESULT CALLBACK MessageRecorder::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (self && (message == WM_POWERBROADCAST || message >= WM_APP))
        self->m_records.push_back({message, wParam});
    if (message == WM_POWERBROADCAST)
        return TRUE;
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

} // namespace powertest
