// simctl: looks at and changes the simulated notebook that every program
// of the suite sees through cellio.dll.
//
// Exit codes: 0 done, 1 the machine could not be read or written, 2 bad
// command line or bad input (nothing was changed).
#include "sim/machine.h"
#include "sim/text_io.h"
#include "sim/powrprof/power_store.h"
#include "sim/tasks/task_model.h"
#include "sim/tasks/task_runner.h"
#include "sim/tasks/task_store.h"

#include "battery/firmware.h"
#include "common/handles.h"

#include <stdio.h>
#include <strsafe.h>

#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// ---- Output ----------------------------------------------------------------------

void Write(DWORD stdHandle, const std::wstring& text) {
    sim::WriteText(stdHandle, text);
}

void Out(const std::wstring& text) {
    sim::WriteText(STD_OUTPUT_HANDLE, text);
}

int Error(int code, const std::wstring& message) {
    Write(STD_ERROR_HANDLE, L"simctl: " + message + L"\n");
    return code;
}

// Describes a failure of the shared machine itself.
int MachineError(DWORD rc, const wchar_t* what) {
    wchar_t text[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, rc, 0, text,
                   ARRAYSIZE(text), nullptr);
    return Error(kExitFailed, sim::FormatText(L"%s failed: error %lu %s", what, rc, text));
}

// ---- help ------------------------------------------------------------------------

int Help() {
    std::wstring text =
        L"simctl - the simulated notebook (AC adapter, batteries 1 and 2, firmware)\n"
        L"The machine lives in <common application data>\\zbsim\\machine.state and is\n"
        L"shared by every process of the Wine prefix (cellio.dll, simctl, ...).\n"
        L"\n"
        L"  simctl setup <profile>         replace the machine with a built-in profile\n"
        L"  simctl setup --file <path>     replace it with a setup file (below)\n"
        L"  simctl status [--json]         show every field\n"
        L"  simctl ac on|off               plug or unplug the AC adapter\n"
        L"  simctl battery 1|2 remove|insert\n"
        L"  simctl suspend | resume        put the machine to sleep / wake it\n"
        L"  simctl speed <factor>          simulated seconds per real second (0 pauses)\n"
        L"  simctl set <1|2> <field> <value>        change a battery\n"
        L"  simctl set machine <field> <value>      change the machine\n"
        L"  simctl path                    print the state file's path\n"
        L"  simctl plans [reset]           power plans and XP schemes of the simulated\n"
        L"                                 power manager (powrprof.dll); reset = defaults\n"
        L"  simctl tasks                   the simulated Task Scheduler's tasks: name,\n"
        L"                                 enabled, next run, wake flag, action\n"
        L"  simctl tasks fire <name>       run a task's action now\n"
        L"  simctl tasks due --at \"YYYY-MM-DD HH:MM\"\n"
        L"                                 run every enabled task whose time trigger falls\n"
        L"                                 at or before then and has not run yet; on a\n"
        L"                                 suspended machine a task with the wake flag\n"
        L"                                 resumes it first, the others wait for resume\n"
        L"\n"
        L"profiles:\n";
    size_t count = 0;
    const sim::ProfileInfo* profiles = sim::Profiles(&count);
    for (size_t i = 0; i < count; ++i)
        text += sim::FormatText(L"  %-14s %s\n", profiles[i].name, profiles[i].description);
    text += L"\nfields (numbers in decimal or 0x hex, switches 0/1 or on/off):\n";
    text += sim::FieldHelp();
    text += L"\n"
            L"setup file: UTF-8 or UTF-16 text, one key=value per line, # comments.\n"
            L"  It starts from no battery present (both slots holding a healthy battery),\n"
            L"  or from a profile when the first key is profile=<name>. Machine fields by\n"
            L"  name (ac=off), battery fields as battery1.<field> / battery2.<field>\n"
            L"  (battery2.present=1, battery2.percent=35). percent and remaining apply\n"
            L"  after every other key. The whole file is checked before anything changes.\n"
            L"\n"
            L"physics: about 2 h from empty to full at design capacity (tapering above\n"
            L"  80 %), about 3 h from full to empty; charge modes 80 and 50 stop there,\n"
            L"  NotChargeLimit (registry, default 5) holds charging, 0 and 128+ charge\n"
            L"  fully. ADPC 0 discharges even on AC; the firmware sets ADPC again at 3 %\n"
            L"  (refreshend). Time runs lazily: whoever reads the machine advances it.\n"
            L"  Cycles count each fcc's worth of discharge.\n"
            L"\n"
            L"gauge: fcc is what the gauge reports, truecap what the cells hold (0: the\n"
            L"  same). A discharge down to refreshend followed by a charge to full sets\n"
            L"  fcc to truecap; a charge after a shallower discharge lets the gauge's\n"
            L"  error grow by 1 % of truecap, up to 20 %. An exact gauge stays exact.\n";
    Out(text);
    return kExitOk;
}

// ---- status ----------------------------------------------------------------------

std::wstring DateText(uint32_t word) {
    return sim::FormatText(L"%04u-%02u-%02u", ((word >> 9) & 0x3F) + 1980, (word >> 5) & 0xF,
                           word & 0x1F);
}

std::wstring FatDateText(uint32_t word) {
    return sim::FormatText(L"%04u-%02u-%02u", ((word >> 9) & 0x7F) + 1980, (word >> 5) & 0xF,
                           word & 0x1F);
}

std::wstring Chemistry(const sim::Battery& b) {
    std::wstring text;
    for (char c : b.chemistry) {
        if (!c)
            break;
        text += static_cast<wchar_t>(c);
    }
    return text;
}

std::wstring Name(const sim::Battery& b) {
    return std::wstring(b.name, wcsnlen(b.name, sim::kNameChars));
}

// The charge a battery holds, also while it is out of the machine.
uint32_t HeldPercent(const sim::Battery& b) {
    sim::Battery held = b;
    held.present = 1;
    return sim::RemainingPercent(held);
}

double Celsius(double tenthsKelvin) {
    return tenthsKelvin / 10.0 - 273.15;
}

std::wstring StatusText(const sim::Machine& m, const wchar_t* path) {
    SYSTEM_POWER_STATUS power;
    sim::FillPowerStatus(m, &power);
    std::wstring text = sim::FormatText(L"state file: %s\n", path);
    text += sim::FormatText(L"machine: AC %s, %s, speed %g, platform %u (kind %u, code 0x%X), "
                            L"ambient %.1f C, simulated %.0f s\n",
                            m.acOnline ? L"on" : L"off", m.suspended ? L"suspended" : L"awake",
                            m.speed, m.platformType, m.platformKind, m.platformCode,
                            Celsius(m.ambient), m.simSeconds);
    text += sim::FormatText(
        L"  power status: percent %u, flag 0x%02X; NotChargeLimit %u; firmware ends "
        L"refresh discharges at %u %%; suspends %u, resumes %u; install %u, "
        L"uninstall %u\n",
        power.BatteryLifePercent, power.BatteryFlag, m.notChargeLimit, m.refreshEndPercent,
        m.suspendCount, m.resumeCount, m.installCalls, m.uninstallCalls);
    for (uint32_t i = 0; i < sim::kBatterySlots; ++i) {
        const sim::Battery& b = m.battery[i];
        const wchar_t* activity = sim::IsCharging(b)      ? L"charging"
                                  : sim::IsDischarging(b) ? L"discharging"
                                                          : L"idle";
        text += sim::FormatText(L"battery %u: %s \"%s\" %s serial 0x%X tag %u\n", i + 1,
                                b.present ? L"present" : L"absent", Name(b).c_str(),
                                Chemistry(b).c_str(), b.serial, b.tag);
        text += sim::FormatText(
            L"  %u %% (%.0f of %u mWh, design %u, true %u), %s %+.0f mW, %.1f C, cycles %u\n",
            HeldPercent(b), b.remaining, b.fullChargeCapacity, b.designCapacity,
            b.trueCapacity ? b.trueCapacity : b.fullChargeCapacity, activity, b.rate,
            Celsius(b.temperature), b.cycleCount);
        text += sim::FormatText(
            L"  charge mode %u, ADPC %u, CHGC %u, mode support %u, protect %u, "
            L"health %u, made %s, first use %s (protect flag %u)\n",
            b.chargeMode, b.adpc, b.chgc, b.chargeModeSupported, b.protectSupported, b.health,
            FatDateText(b.manufactureDate).c_str(), DateText(b.startDate).c_str(),
            (b.startDate & START_DATE_PROTECT_FLAG) ? 1u : 0u);
    }
    return text;
}

std::wstring JsonString(const std::wstring& s) {
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 0x20) {
            out += sim::FormatText(L"\\u%04x", static_cast<unsigned>(c));
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

std::wstring StatusJson(const sim::Machine& m, const wchar_t* path) {
    SYSTEM_POWER_STATUS power;
    sim::FillPowerStatus(m, &power);
    std::wstring j = L"{\n  \"statePath\": " + JsonString(path) + L",\n  \"machine\": {";
    j += sim::FormatText(
        L"\"platform\": %u, \"kind\": %u, \"code\": %u, \"ac\": %u, \"suspended\": %u, "
        L"\"speed\": %g, \"ambient\": %.1f, \"simSeconds\": %.1f, "
        L"\"notChargeLimit\": %u, \"suspendCount\": %u, \"resumeCount\": %u, "
        L"\"installCalls\": %u, \"uninstallCalls\": %u, \"refreshend\": %u, "
        L"\"percent\": %u, \"batteryFlag\": %u},\n",
        m.platformType, m.platformKind, m.platformCode, m.acOnline, m.suspended, m.speed, m.ambient,
        m.simSeconds, m.notChargeLimit, m.suspendCount, m.resumeCount, m.installCalls,
        m.uninstallCalls, m.refreshEndPercent, power.BatteryLifePercent, power.BatteryFlag);
    j += L"  \"batteries\": [\n";
    for (uint32_t i = 0; i < sim::kBatterySlots; ++i) {
        const sim::Battery& b = m.battery[i];
        j += sim::FormatText(L"    {\"slot\": %u, \"present\": %u, \"tag\": %u, \"name\": ", i + 1,
                             b.present, b.tag);
        j += JsonString(Name(b)) + L", \"chemistry\": " + JsonString(Chemistry(b));
        j += sim::FormatText(
            L", \"serial\": %u, \"manufactured\": \"%s\", \"manufacturedWord\": %u, "
            L"\"startdate\": \"%s\", \"startdateWord\": %u, \"protectflag\": %u, "
            L"\"design\": %u, \"fcc\": %u, \"truecap\": %u, \"cycles\": %u, \"voltage\": %u, "
            L"\"remaining\": %.1f, \"percent\": %u, \"temperature\": %.1f, "
            L"\"chargemode\": %u, \"adpc\": %u, \"chgc\": %u, \"modesupport\": %u, "
            L"\"protect\": %u, \"health\": %u, \"charging\": %u, \"discharging\": %u, "
            L"\"rate\": %.1f, \"chargeLatched\": %u}%s\n",
            b.serial, FatDateText(b.manufactureDate).c_str(), b.manufactureDate,
            DateText(b.startDate).c_str(), b.startDate,
            (b.startDate & START_DATE_PROTECT_FLAG) ? 1u : 0u, b.designCapacity,
            b.fullChargeCapacity, b.trueCapacity, b.cycleCount, b.designVoltage, b.remaining,
            HeldPercent(b), b.temperature, b.chargeMode, b.adpc, b.chgc, b.chargeModeSupported,
            b.protectSupported, b.health, sim::IsCharging(b) ? 1u : 0u,
            sim::IsDischarging(b) ? 1u : 0u, b.rate, b.chargeLatched,
            i + 1 < sim::kBatterySlots ? L"," : L"");
    }
    return j + L"  ]\n}\n";
}

int Status(bool json) {
    wchar_t path[MAX_PATH] = {};
    sim::StatePath(path, ARRAYSIZE(path));
    sim::Machine m;
    if (DWORD rc = sim::ReadMachine(&m))
        return MachineError(rc, L"reading the machine");
    Out(json ? StatusJson(m, path) : StatusText(m, path));
    return kExitOk;
}

// ---- changes ---------------------------------------------------------------------

// Applies one field change under the lock; nothing is written when the
// value or the resulting machine is refused.
int SetOne(uint32_t slot, const wchar_t* field, const wchar_t* value) {
    wchar_t reason[256] = {};
    // A charge mode is judged against the suite's current setting.
    const uint32_t notChargeLimit = sim::ReadNotChargeLimit();
    const DWORD rc = sim::Modify(
        [&](sim::Machine& m) -> DWORD {
            m.notChargeLimit = notChargeLimit;
            return sim::SetField(&m, slot, field, value, reason, ARRAYSIZE(reason));
        },
        reason, ARRAYSIZE(reason));
    if (rc == ERROR_INVALID_DATA)
        return Error(kExitUsage, reason);
    if (rc)
        return MachineError(rc, L"changing the machine");
    return kExitOk;
}

bool ParseSlot(const wchar_t* text, uint32_t* slot) {
    if (wcscmp(text, L"1") == 0 || wcscmp(text, L"2") == 0) {
        *slot = text[0] - L'0';
        return true;
    }
    if (wcscmp(text, L"machine") == 0) {
        *slot = 0;
        return true;
    }
    return false;
}

int SetupFromFile(const wchar_t* path) {
    std::vector<char> bytes;
    DWORD readError = 0;
    if (!sim::ReadWholeFile(path, &bytes, &readError))
        return Error(kExitUsage, sim::FormatText(L"cannot read %s (error %lu)", path, readError));
    std::wstring text;
    if (!sim::DecodeText(bytes, &text))
        return Error(kExitUsage, sim::FormatText(L"%s is neither UTF-8 nor UTF-16 text", path));
    sim::Machine m;
    wchar_t reason[256] = {};
    if (sim::ParseSetupText(text.c_str(), &m, reason, ARRAYSIZE(reason)))
        return Error(kExitUsage, sim::FormatText(L"%s: %s", path, reason));
    if (DWORD rc = sim::ReplaceMachine(m, reason, ARRAYSIZE(reason)))
        return rc == ERROR_INVALID_DATA ? Error(kExitUsage, reason)
                                        : MachineError(rc, L"setting up the machine");
    return kExitOk;
}

int Setup(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[2], L"--file") != 0) {
        sim::Machine m;
        if (!sim::BuildProfile(argv[2], &m))
            return Error(kExitUsage,
                         sim::FormatText(L"unknown profile \"%s\" (see simctl help)", argv[2]));
        if (DWORD rc = sim::ReplaceMachine(m))
            return MachineError(rc, L"setting up the machine");
        return kExitOk;
    }
    if (argc == 4 && wcscmp(argv[2], L"--file") == 0)
        return SetupFromFile(argv[3]);
    return Error(kExitUsage, L"usage: simctl setup <profile> | simctl setup --file <path>");
}

int Battery(int argc, wchar_t** argv) {
    uint32_t slot = 0;
    if (argc != 4 || !ParseSlot(argv[2], &slot) || slot == 0)
        return Error(kExitUsage, L"usage: simctl battery 1|2 remove|insert");
    bool present;
    if (wcscmp(argv[3], L"insert") == 0)
        present = true;
    else if (wcscmp(argv[3], L"remove") == 0)
        present = false;
    else
        return Error(kExitUsage, L"usage: simctl battery 1|2 remove|insert");
    if (DWORD rc = SimSetBatteryPresent(slot, present))
        return MachineError(rc, L"changing the battery");
    return kExitOk;
}

// ---- tasks -----------------------------------------------------------------------

int TaskError(DWORD rc, const wchar_t* what) {
    return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND
               ? Error(kExitUsage, sim::FormatText(L"no task %s", what))
               : MachineError(rc, what);
}

int ListTasks() {
    std::vector<std::wstring> paths;
    {
        simtasks::StoreLock lock;
        if (DWORD rc = lock.Error())
            return MachineError(rc, L"locking the task store");
        if (DWORD rc = simtasks::ListAllTasks(&paths))
            return MachineError(rc, L"listing the tasks");
    }
    std::wstring text;
    for (const std::wstring& path : paths) {
        simtasks::XmlPtr task;
        if (simtasks::ReadTask(path, &task) || task->name != L"Task") {
            text += path + L"\n  (not a readable task)\n";
            continue;
        }
        SYSTEMTIME next;
        std::wstring boundary;
        const bool hasNext =
            simtasks::NextRun(*task, simtasks::FiredBoundary(path), &next, &boundary);
        simtasks::ExecInfo exec;
        const bool hasExec = simtasks::FirstExec(*task, &exec);
        text += path + L"\n";
        text += sim::FormatText(L"  enabled %s, next run %s, wake %s%s\n",
                                simtasks::TaskEnabled(*task) ? L"yes" : L"no",
                                hasNext ? boundary.c_str() : L"none",
                                simtasks::TaskWakeToRun(*task) ? L"yes" : L"no",
                                simtasks::IsHeld(path) ? L", waiting for resume" : L"");
        text += hasExec ? L"  action \"" + exec.command + L"\" " + exec.arguments + L"\n"
                        : std::wstring(L"  no program action\n");
    }
    Out(text.empty() ? L"no tasks\n" : text);
    return kExitOk;
}

bool ParseDueTime(const wchar_t* text, SYSTEMTIME* at) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, used = 0;
    if (swscanf(text, L"%4d-%2d-%2d %2d:%2d%n", &year, &month, &day, &hour, &minute, &used) != 5 ||
        text[used])
        return false;
    return simtasks::ParseBoundary(
        sim::FormatText(L"%04d-%02d-%02dT%02d:%02d:00", year, month, day, hour, minute), at);
}

int ReportRuns(const std::vector<simtasks::DueRun>& runs) {
    int code = kExitOk;
    for (const simtasks::DueRun& run : runs) {
        switch (run.outcome) {
        case simtasks::DueRun::Ran:
            Out(sim::FormatText(L"ran %s (%s)\n", run.path.c_str(), run.boundary.c_str()));
            break;
        case simtasks::DueRun::Woke:
            Out(sim::FormatText(L"woke the machine and ran %s (%s)\n", run.path.c_str(),
                                run.boundary.c_str()));
            break;
        case simtasks::DueRun::Held:
            Out(sim::FormatText(L"%s (%s) waits for the machine to resume\n", run.path.c_str(),
                                run.boundary.c_str()));
            break;
        case simtasks::DueRun::Skipped:
            Out(sim::FormatText(L"%s (%s) was missed and does not start late\n", run.path.c_str(),
                                run.boundary.c_str()));
            break;
        case simtasks::DueRun::Failed:
            code = Error(kExitFailed, sim::FormatText(L"%s could not run: error %lu",
                                                      run.path.c_str(), run.error));
            break;
        }
    }
    return code;
}

int Tasks(int argc, wchar_t** argv) {
    if (argc == 2)
        return ListTasks();
    if (argc == 4 && wcscmp(argv[2], L"fire") == 0) {
        std::wstring path;
        if (!simtasks::NormalizeTaskPath(argv[3], &path) || path == L"\\")
            return Error(kExitUsage, sim::FormatText(L"bad task name \"%s\"", argv[3]));
        if (DWORD rc = simtasks::FireTask(path))
            return TaskError(rc, path.c_str());
        Out(sim::FormatText(L"ran %s\n", path.c_str()));
        return kExitOk;
    }
    if (argc == 5 && wcscmp(argv[2], L"due") == 0 && wcscmp(argv[3], L"--at") == 0) {
        SYSTEMTIME at;
        if (!ParseDueTime(argv[4], &at))
            return Error(kExitUsage,
                         sim::FormatText(L"bad time \"%s\" (YYYY-MM-DD HH:MM)", argv[4]));
        std::vector<simtasks::DueRun> runs;
        if (DWORD rc = simtasks::RunDueTasks(at, &runs))
            return MachineError(rc, L"running the due tasks");
        if (runs.empty())
            Out(L"nothing due\n");
        return ReportRuns(runs);
    }
    return Error(kExitUsage, L"usage: simctl tasks | simctl tasks fire <name> | "
                             L"simctl tasks due --at \"YYYY-MM-DD HH:MM\"");
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2)
        return Error(kExitUsage, L"no command (see simctl help)");
    const std::wstring command = argv[1];
    if (command == L"help" || command == L"--help" || command == L"-h" || command == L"/?")
        return Help();
    if (command == L"setup")
        return Setup(argc, argv);
    if (command == L"status") {
        if (argc == 2)
            return Status(false);
        if (argc == 3 && wcscmp(argv[2], L"--json") == 0)
            return Status(true);
        return Error(kExitUsage, L"usage: simctl status [--json]");
    }
    if (command == L"path") {
        wchar_t path[MAX_PATH] = {};
        if (DWORD rc = sim::StatePath(path, ARRAYSIZE(path)))
            return MachineError(rc, L"finding the state file");
        Out(std::wstring(path) + L"\n");
        return kExitOk;
    }
    if (command == L"ac") {
        if (argc != 3 || (wcscmp(argv[2], L"on") != 0 && wcscmp(argv[2], L"off") != 0))
            return Error(kExitUsage, L"usage: simctl ac on|off");
        return SetOne(0, L"ac", argv[2]);
    }
    if (command == L"battery")
        return Battery(argc, argv);
    if (command == L"suspend" || command == L"resume") {
        if (argc != 2)
            return Error(kExitUsage, sim::FormatText(L"usage: simctl %s", command.c_str()));
        const DWORD rc = command == L"suspend" ? SimSuspend() : SimResume();
        if (rc)
            return MachineError(rc, command.c_str());
        if (command == L"suspend")
            return kExitOk;
        // Tasks that fell due while the machine slept run now.
        std::vector<simtasks::DueRun> runs;
        if (DWORD tasksRc = simtasks::RunHeldTasks(&runs))
            return MachineError(tasksRc, L"running the held tasks");
        return ReportRuns(runs);
    }
    if (command == L"plans") {
        if (argc == 3 && wcscmp(argv[2], L"reset") == 0) {
            const DWORD rc = simpower::ResetPowerStore();
            return rc ? MachineError(rc, L"resetting the power plans") : kExitOk;
        }
        if (argc != 2)
            return Error(kExitUsage, L"usage: simctl plans [reset]");
        Out(simpower::DescribePowerStore());
        return kExitOk;
    }
    if (command == L"tasks")
        return Tasks(argc, argv);
    if (command == L"speed") {
        if (argc != 3)
            return Error(kExitUsage, L"usage: simctl speed <factor>");
        return SetOne(0, L"speed", argv[2]);
    }
    if (command == L"set") {
        uint32_t slot = 0;
        if (argc != 5 || !ParseSlot(argv[2], &slot))
            return Error(kExitUsage, L"usage: simctl set <1|2|machine> <field> <value>");
        return SetOne(slot, argv[3], argv[4]);
    }
    return Error(kExitUsage,
                 sim::FormatText(L"unknown command \"%s\" (see simctl help)", command.c_str()));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    return Run(argc, argv);
}
