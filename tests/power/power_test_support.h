// What the power tests share: a clean suite state and a fresh simulated
// power manager for every test, and readers for the plans and the logs.
//
// MinGW's powrprof.h has no include guard, so this header does not bring it
// in: a test includes either the suite's power headers (through
// common/wrappers.h) or the simulation's store (sim/powrprof/power_store.h).
#pragma once

#include <windows.h>

#include "support/suite_env.h"

#include <string>
#include <vector>

namespace powertest {

// Clean suite state, and the power manager's plans and XP schemes back at
// the system's defaults (Balanced active; XP "Portable/Laptop", index 1).
class PowerTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Turns the trace log on (HKLM ...\Refresh "Log" = 1).
void EnableTrace();

// Lines of vadovur_error.log without their time stamp, e.g. "E110(0x2)".
std::vector<std::wstring> ErrorEntries();
// How many entries start with the given id text ("E110").
size_t CountEntries(const wchar_t* id);
// True when some trace line contains the text.
bool TraceContains(const wchar_t* text);

// Setting identifiers, as Windows names them.
const GUID& SleepSubgroup();
const GUID& StandbyTimeout();
const GUID& HibernateTimeout();

// The active plan and the plans listed, through the system's PowrProf.
GUID ActivePlan();
bool PlanListed(const GUID& plan);
// The plan's index of a setting; 0xFFFFFFFF when it cannot be read.
DWORD PlanValue(const GUID& plan, const GUID& subgroup, const GUID& setting, bool ac);

// A file in the temporary folder, deleted when the object goes.
class TempFile {
public:
    // bytes as given (UTF-8 text, or anything).
    TempFile(const wchar_t* name, const std::string& bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const wchar_t* Path() const { return m_path.c_str(); }

private:
    std::wstring m_path;
};

// Moves a file aside for the life of the object and puts it back after.
class FileMovedAside {
public:
    explicit FileMovedAside(const std::wstring& path);
    ~FileMovedAside();
    FileMovedAside(const FileMovedAside&) = delete;
    FileMovedAside& operator=(const FileMovedAside&) = delete;
    bool Moved() const { return m_moved; }

private:
    std::wstring m_path;
    bool m_moved;
};

// A hidden window that records the power broadcasts and application
// messages it is sent. A top-level one gets the simulated power events; a
// message-only one gets nothing but what is sent to it directly.
class MessageRecorder {
public:
    enum class Kind { TopLevel, MessageOnly };
    explicit MessageRecorder(Kind kind = Kind::TopLevel);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    HWND Window() const { return m_hWnd; }
    struct Record {
        UINT message;
        WPARAM wParam;
    };
    const std::vector<Record>& Records() const { return m_records; }
    size_t Count(UINT message) const;

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_hWnd;
    std::vector<Record> m_records;
};

} // namespace powertest
