// What the simulated service reads from a task document: its time
// triggers, settings and program action, and how it runs that action.
#pragma once

#include "sim/tasks/task_xml.h"

#include <string>
#include <vector>

namespace simtasks {

extern const wchar_t kTaskNamespace[];

// A new task as NewTask gives it: version 1.2, empty registration info,
// no triggers, the "Author" principal, default settings, no actions.
XmlPtr NewTaskDocument();

// What the service's schema check finds wrong with a parsed document: a
// root that is not "Task", a root outside the Task namespace, a schema
// boolean that is not exactly "true", "false", "1" or "0" (so "FALSE" is
// refused), or no action.
enum class TaskXmlFault { None, UnexpectedNode, Namespace, InvalidValue, MissingNode };
TaskXmlFault CheckTaskXml(const XmlNode& root);

struct TriggerInfo {
    std::wstring kind; // element name: TimeTrigger, LogonTrigger, BootTrigger, ...
    std::wstring id;
    std::wstring start; // StartBoundary as written
    bool enabled;
};
std::vector<TriggerInfo> Triggers(const XmlNode& task);

bool TaskEnabled(const XmlNode& task);   // Settings/Enabled, default true
bool TaskWakeToRun(const XmlNode& task); // Settings/WakeToRun, default false
// Settings/StartWhenAvailable, default false: a start that was missed runs
// late only when this is set.
bool TaskStartWhenAvailable(const XmlNode& task);

struct ExecInfo {
    std::wstring command, arguments, workingDirectory;
};
// The first Exec action; false when the task has none.
bool FirstExec(const XmlNode& task, ExecInfo* exec);

// "YYYY-MM-DDTHH:MM:SS" with an optional fraction and zone (ignored: the
// simulated service runs on local time).
bool ParseBoundary(const std::wstring& text, SYSTEMTIME* time);
std::wstring FormatBoundary(const SYSTEMTIME& time);
// -1, 0, 1.
int CompareTimes(const SYSTEMTIME& a, const SYSTEMTIME& b);

// The earliest enabled time trigger's start of an enabled task that has not
// fired yet; false when there is none.
bool NextRun(const XmlNode& task, const std::wstring& firedBoundary, SYSTEMTIME* when,
             std::wstring* boundary);

// "mmmm:ss" (minutes 0-9999, seconds 0-59) as an XML duration "PT..M..S";
// false for anything else.
bool DelayToDuration(const std::wstring& delay, std::wstring* duration);

// Starts the action: command (environment variables expanded), quoted, then
// the arguments, in the working directory (or the caller's). Win32 code.
DWORD RunExec(const ExecInfo& exec, DWORD* processId);

} // namespace simtasks
