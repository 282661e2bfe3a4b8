#include "sim/tasks/task_model.h"

#include "sim/diag.h"

#include <strsafe.h>

#include <stdio.h>

namespace simtasks {

const wchar_t kTaskNamespace[] = L"http://schemas.microsoft.com/windows/2004/02/mit/task";

XmlPtr NewTaskDocument() {
    std::wstring error;
    return ParseXml(std::wstring(L"<Task version=\"1.2\" xmlns=\"") + kTaskNamespace +
                        L"\">"
                        L"<RegistrationInfo/><Triggers/>"
                        L"<Principals><Principal id=\"Author\"/></Principals>"
                        L"<Settings>"
                        L"<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
                        L"<DisallowStartIfOnBatteries>true</DisallowStartIfOnBatteries>"
                        L"<StopIfGoingOnBatteries>true</StopIfGoingOnBatteries>"
                        L"<AllowHardTerminate>true</AllowHardTerminate>"
                        L"<StartWhenAvailable>false</StartWhenAvailable>"
                        L"<RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>"
                        L"<IdleSettings><StopOnIdleEnd>true</StopOnIdleEnd>"
                        L"<RestartOnIdle>false</RestartOnIdle></IdleSettings>"
                        L"<AllowStartOnDemand>true</AllowStartOnDemand>"
                        L"<Enabled>true</Enabled><Hidden>false</Hidden>"
                        L"<RunOnlyIfIdle>false</RunOnlyIfIdle><WakeToRun>false</WakeToRun>"
                        L"<ExecutionTimeLimit>PT72H</ExecutionTimeLimit><Priority>7</Priority>"
                        L"</Settings>"
                        L"<Actions Context=\"Author\"/></Task>",
                    &error);
}

namespace {

// The elements whose schema type is a boolean.
const wchar_t* const kBooleanElements[] = {L"Enabled",
                                           L"Hidden",
                                           L"AllowStartOnDemand",
                                           L"AllowHardTerminate",
                                           L"DisallowStartIfOnBatteries",
                                           L"StopIfGoingOnBatteries",
                                           L"StartWhenAvailable",
                                           L"RunOnlyIfNetworkAvailable",
                                           L"RunOnlyIfIdle",
                                           L"WakeToRun",
                                           L"StopOnIdleEnd",
                                           L"RestartOnIdle",
                                           L"StopAtDurationEnd",
                                           L"DisallowStartOnRemoteAppSession",
                                           L"UseUnifiedSchedulingEngine",
                                           L"Volatile"};

bool BooleansValid(const XmlNode& node) {
    if (node.children.empty()) {
        for (const wchar_t* name : kBooleanElements) {
            if (node.name == name)
                return node.text == L"true" || node.text == L"false" || node.text == L"1" ||
                       node.text == L"0";
        }
        return true;
    }
    for (const auto& child : node.children) {
        if (!BooleansValid(*child))
            return false;
    }
    return true;
}

} // namespace

TaskXmlFault CheckTaskXml(const XmlNode& root) {
    if (root.name != L"Task")
        return TaskXmlFault::UnexpectedNode;
    const wchar_t* ns = root.Attribute(L"xmlns");
    if (!ns || wcscmp(ns, kTaskNamespace) != 0)
        return TaskXmlFault::Namespace;
    if (!BooleansValid(root))
        return TaskXmlFault::InvalidValue;
    XmlPtr actions = Child(root, L"Actions");
    if (!actions || actions->children.empty())
        return TaskXmlFault::MissingNode;
    return TaskXmlFault::None;
}

std::vector<TriggerInfo> Triggers(const XmlNode& task) {
    std::vector<TriggerInfo> list;
    XmlPtr triggers = Child(task, L"Triggers");
    if (!triggers)
        return list;
    for (const auto& t : triggers->children) {
        const wchar_t* id = t->Attribute(L"id");
        list.push_back(TriggerInfo{t->name, id ? id : L"", PathText(*t, L"StartBoundary"),
                                   PathBool(*t, L"Enabled", true)});
    }
    return list;
}

bool TaskEnabled(const XmlNode& task) {
    return PathBool(task, L"Settings/Enabled", true);
}

bool TaskWakeToRun(const XmlNode& task) {
    return PathBool(task, L"Settings/WakeToRun", false);
}

bool TaskStartWhenAvailable(const XmlNode& task) {
    return PathBool(task, L"Settings/StartWhenAvailable", false);
}

bool FirstExec(const XmlNode& task, ExecInfo* exec) {
    XmlPtr actions = Child(task, L"Actions");
    if (!actions)
        return false;
    XmlPtr action = Child(*actions, L"Exec");
    if (!action)
        return false;
    exec->command = PathText(*action, L"Command");
    exec->arguments = PathText(*action, L"Arguments");
    exec->workingDirectory = PathText(*action, L"WorkingDirectory");
    return true;
}

bool ParseBoundary(const std::wstring& text, SYSTEMTIME* time) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (swscanf(text.c_str(), L"%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                &second, &used) != 6)
        return false;
    const wchar_t* rest = text.c_str() + used;
    if (*rest && *rest != L'.' && *rest != L'Z' && *rest != L'+' && *rest != L'-')
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
        year < 1601)
        return false;
    SYSTEMTIME t = {};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    FILETIME check;
    if (!SystemTimeToFileTime(&t, &check))
        return false;
    *time = t;
    return true;
}

std::wstring FormatBoundary(const SYSTEMTIME& time) {
    wchar_t text[32];
    StringCchPrintfW(text, ARRAYSIZE(text), L"%04d-%02d-%02dT%02d:%02d:%02d", time.wYear,
                     time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
    return text;
}

int CompareTimes(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    const WORD left[] = {a.wYear, a.wMonth, a.wDay, a.wHour, a.wMinute, a.wSecond};
    const WORD right[] = {b.wYear, b.wMonth, b.wDay, b.wHour, b.wMinute, b.wSecond};
    for (size_t i = 0; i < ARRAYSIZE(left); ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

bool NextRun(const XmlNode& task, const std::wstring& firedBoundary, SYSTEMTIME* when,
             std::wstring* boundary) {
    if (!TaskEnabled(task))
        return false;
    SYSTEMTIME fired = {};
    const bool hasFired = ParseBoundary(firedBoundary, &fired);
    bool found = false;
    for (const TriggerInfo& t : Triggers(task)) {
        SYSTEMTIME start;
        if (t.kind != L"TimeTrigger" || !t.enabled || !ParseBoundary(t.start, &start))
            continue;
        if (hasFired && CompareTimes(start, fired) <= 0)
            continue;
        if (!found || CompareTimes(start, *when) < 0) {
            *when = start;
            *boundary = t.start;
            found = true;
        }
    }
    return found;
}

bool DelayToDuration(const std::wstring& delay, std::wstring* duration) {
    const size_t colon = delay.find(L':');
    if (colon == std::wstring::npos || colon == 0 || colon > 4 || delay.size() - colon != 3)
        return false;
    for (size_t i = 0; i < delay.size(); ++i) {
        if (i != colon && !iswdigit(delay[i]))
            return false;
    }
    const int minutes = _wtoi(delay.substr(0, colon).c_str());
    const int seconds = _wtoi(delay.substr(colon + 1).c_str());
    if (seconds > 59)
        return false;
    wchar_t text[32];
    if (minutes == 0 && seconds == 0)
        StringCchCopyW(text, ARRAYSIZE(text), L"PT0S");
    else if (seconds == 0)
        StringCchPrintfW(text, ARRAYSIZE(text), L"PT%dM", minutes);
    else if (minutes == 0)
        StringCchPrintfW(text, ARRAYSIZE(text), L"PT%dS", seconds);
    else
        StringCchPrintfW(text, ARRAYSIZE(text), L"PT%dM%dS", minutes, seconds);
    *duration = text;
    return true;
}

DWORD RunExec(const ExecInfo& exec, DWORD* processId) {
    wchar_t command[MAX_PATH] = {};
    const DWORD len = ExpandEnvironmentStringsW(exec.command.c_str(), command, ARRAYSIZE(command));
    if (len == 0 || len > ARRAYSIZE(command))
        return ERROR_BAD_PATHNAME;
    // Task files may quote a program path with spaces, as Windows accepts.
    std::wstring program = command;
    if (program.size() >= 2 && program.front() == L'"' && program.back() == L'"')
        program = program.substr(1, program.size() - 2);
    std::wstring line = L"\"" + program + L"\"";
    if (!exec.arguments.empty())
        line += L" " + exec.arguments;
    wchar_t directory[MAX_PATH] = {};
    if (!exec.workingDirectory.empty()) {
        const DWORD dirLen = ExpandEnvironmentStringsW(exec.workingDirectory.c_str(), directory,
                                                       ARRAYSIZE(directory));
        if (dirLen == 0 || dirLen > ARRAYSIZE(directory))
            return ERROR_BAD_PATHNAME;
    }
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory[0] ? directory : nullptr, &si, &pi))
        return sim::LogFailure(L"CreateProcessW", GetLastError());
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (processId)
        *processId = pi.dwProcessId;
    return 0;
}

} // namespace simtasks
