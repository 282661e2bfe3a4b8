// The reserved refresh: its two one-time tasks (the refresh, and a wake-up
// "SleepDelay" minutes earlier so that a sleeping notebook is awake in time)
// and the stored reservation the battery pages and the refresh tool read.
//
// The rules live in ReservationService, which reaches the Windows Task
// Scheduler only through TaskScheduling; the dialog is only its user
// interface, and tests drive the service with a scheduler of their own.
#pragma once

#include <windows.h>

#include <memory>

namespace zbmain {

// One task as the reservation registers it. The texts belong to the caller
// and need only live through the call.
struct ScheduledTask {
    LPCWSTR modulePath;
    LPCWSTR name;
    LPCWSTR author;
    LPCWSTR description;
    SYSTEMTIME start; // local time
    BOOL wakeToRun;
    LPCWSTR arguments;
    LPCWSTR user;
    LPCWSTR password;
};

// The operations the reservation needs of the Task Scheduler, each with the
// layer's HRESULT. Tasks are named as GetSchedulerName builds them.
class TaskScheduling {
public:
    virtual ~TaskScheduling() = default;
    // Creates the task or updates it in place, enabled.
    virtual HRESULT Add(const ScheduledTask& task) = 0;
    // The start time of the enabled task; fails for a missing or disabled one.
    virtual HRESULT GetStartDay(LPCWSTR lpszName, SYSTEMTIME* pStart) = 0;
    // The arguments the task starts the refresh tool with.
    virtual HRESULT GetActionArg(LPCWSTR lpszName, LPWSTR lpszArgs, size_t cchArgs) = 0;
    // Enables or disables the task; it stays registered.
    virtual HRESULT Enable(LPCWSTR lpszName, BOOL bEnable) = 0;
};

// Task Scheduler 1.0 on Windows XP, 2.0 on every later Windows; chosen once
// here. hInstance gives the 2.0 task folder and the refresh tool's path.
std::unique_ptr<TaskScheduling> CreateTaskScheduling(HINSTANCE hInstance);

// The refresh tool's full path (program directory + "zbRefresh.exe"); a
// directory that cannot be read writes error-log entry 123 and leaves the
// bare file name.
void RefreshToolPath(HINSTANCE hInstance, LPWSTR lpszPath, size_t cchPath);

// The account the tasks run as: the SAM-compatible name, else the user name.
void ReservationUser(LPWSTR lpszUser, size_t cchUser);

// What a person asks for: when, which batteries, sleep afterwards, and the
// account (its password may be empty where the system asks for none).
struct ReservationRequest {
    SYSTEMTIME start;
    bool battery1;
    bool battery2;
    bool sleep;
    LPCWSTR user;
    LPCWSTR password;
};

class ReservationService {
public:
    // hInstance gives the task names, author and description strings.
    ReservationService(TaskScheduling& tasks, HINSTANCE hInstance)
        : m_tasks(tasks), m_hInstance(hInstance) {}

    // Registers the refresh task, then the wake-up task, then stores the
    // reservation (a storage failure is only written to the error log).
    // 1 without doing anything when no battery is asked for; the first
    // failing registration's result at once.
    HRESULT Add(const ReservationRequest& request);
    // Disables both tasks and deletes the stored reservation; E_FAIL when
    // any of the three failed.
    HRESULT Cancel();
    // The reserved refresh task's arguments; empty when they cannot be read.
    void ReadArguments(LPWSTR lpszArgs, size_t cchArgs);
    // The reserved refresh task's start time.
    HRESULT ReadStart(SYSTEMTIME* pStart);

private:
    HRESULT AddTask(LPCWSTR lpszPath, LPCWSTR lpszName, const SYSTEMTIME& start, LPCWSTR lpszArgs,
                    const ReservationRequest& request);
    HRESULT EnableTask(UINT uStringId, BOOL bEnable);

    TaskScheduling& m_tasks;
    HINSTANCE m_hInstance;
};

} // namespace zbmain
