// schtasks.exe for the test prefix: the part of Windows' command-line tool
// that the suite's installer and its users need, on the simulated Task
// Scheduler's store.
//
//   schtasks /create /xml FILE /tn NAME [/f]
//   schtasks /change /tn NAME /delay mmmm:ss | /enable | /disable
//   schtasks /delete /tn NAME [/f]
//   schtasks /query [/tn NAME] [/xml]
//   schtasks /run /tn NAME
//
// As Windows' tool: switches in any case, with "/" or "-"; exit code 0 on
// success and 1 on any error (E_FAIL for a /create without its file or
// name), with "SUCCESS: ..." on standard output and "ERROR: ..." on
// standard error. A refused command changes nothing.
// Every run is recorded with its command line (sim::RecordCommandLine).
#include "sim/tasks/task_model.h"
#include "sim/tasks/task_runner.h"
#include "sim/tasks/task_store.h"
#include "sim/text_io.h"

#include <strsafe.h>

#include <string>
#include <vector>

namespace {

using namespace simtasks;
using sim::FormatText;

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
// Windows' tool ends a /create that lacks its task's arguments with E_FAIL.
constexpr int kExitMissingArguments = static_cast<int>(E_FAIL);

void Out(const std::wstring& text) {
    sim::WriteText(STD_OUTPUT_HANDLE, text);
}

int Fail(const std::wstring& text) {
    sim::WriteText(STD_ERROR_HANDLE, L"ERROR: " + text + L"\r\n");
    return kExitError;
}

int Syntax(const wchar_t* command) {
    return Fail(FormatText(L"Invalid syntax.\r\nType \"SCHTASKS %s/?\" for usage.", command));
}

int BadOption(const std::wstring& option, const wchar_t* command) {
    return Fail(FormatText(L"Invalid argument/option - '%s'.\r\nType \"SCHTASKS %s/?\" for usage.",
                           option.c_str(), command));
}

// The system's text for a Win32 code, as Windows' tool prints it.
int FailCode(DWORD rc) {
    wchar_t text[256] = {};
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, rc, 0,
                        text, ARRAYSIZE(text), nullptr))
        StringCchPrintfW(text, ARRAYSIZE(text), L"Error %lu.", rc);
    std::wstring message = text;
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
        message.pop_back();
    return Fail(message);
}

// One command's switches: "/name" or "-name", case-insensitive; the values
// of the switches that take one.
struct Options {
    std::wstring command;
    std::vector<std::pair<std::wstring, std::wstring>> values;
    std::vector<std::wstring> flags;

    bool Has(const wchar_t* flag) const {
        for (const auto& f : flags) {
            if (f == flag)
                return true;
        }
        return false;
    }
    const std::wstring* Value(const wchar_t* name) const {
        for (const auto& v : values) {
            if (v.first == name)
                return &v.second;
        }
        return nullptr;
    }
};

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

bool IsSwitch(const wchar_t* arg) {
    return arg[0] == L'/' || arg[0] == L'-';
}

// Reads the switches after the command; an unknown or repeated switch, or a
// value-taking one without its value, sets *bad to that argument.
bool ParseOptions(int argc, wchar_t** argv, const std::vector<std::wstring>& valued,
                  const std::vector<std::wstring>& plain, Options* options, std::wstring* bad) {
    for (int i = 2; i < argc; ++i) {
        if (!IsSwitch(argv[i])) {
            *bad = argv[i];
            return false;
        }
        const std::wstring name = Lower(argv[i] + 1);
        bool known = false;
        for (const auto& v : valued) {
            if (v != name)
                continue;
            known = true;
            if (i + 1 >= argc || options->Value(name.c_str())) {
                *bad = argv[i];
                return false;
            }
            options->values.emplace_back(name, argv[++i]);
        }
        for (const auto& p : plain) {
            if (p != name)
                continue;
            known = true;
            if (options->Has(name.c_str())) {
                *bad = argv[i];
                return false;
            }
            options->flags.push_back(name);
        }
        if (!known) {
            *bad = argv[i];
            return false;
        }
    }
    return true;
}

// Asks on the console; anything but Y (or no answer) is No.
bool Confirm(const std::wstring& question) {
    Out(question);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char answer[16] = {};
    DWORD read = 0;
    if (!in || in == INVALID_HANDLE_VALUE ||
        !ReadFile(in, answer, sizeof(answer) - 1, &read, nullptr) || read == 0) {
        Out(L"\r\n");
        return false;
    }
    return answer[0] == 'y' || answer[0] == 'Y';
}

bool TaskPathArg(const Options& options, std::wstring* path) {
    const std::wstring* name = options.Value(L"tn");
    return name && NormalizeTaskPath(*name, path) && *path != L"\\";
}

// Reads the switches of a command that names one task with /tn. False
// when the command line is refused; its error is then printed and the exit
// code is in *exitCode.
bool ReadTaskCommand(int argc, wchar_t** argv, const wchar_t* command,
                     const std::vector<std::wstring>& valued,
                     const std::vector<std::wstring>& plain, Options* options, std::wstring* path,
                     int* exitCode) {
    std::wstring bad;
    std::vector<std::wstring> withName = valued;
    withName.push_back(L"tn");
    if (!ParseOptions(argc, argv, withName, plain, options, &bad)) {
        *exitCode = BadOption(bad, command);
        return false;
    }
    if (!options->Value(L"tn")) {
        *exitCode = Syntax(command);
        return false;
    }
    if (!TaskPathArg(*options, path)) {
        *exitCode = FailCode(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

std::wstring NextRunText(const std::wstring& path, const XmlNode& task) {
    SYSTEMTIME when;
    std::wstring boundary;
    if (!NextRun(task, FiredBoundary(path), &when, &boundary))
        return L"N/A";
    return FormatText(L"%04u/%02u/%02u %02u:%02u:%02u", when.wYear, when.wMonth, when.wDay,
                      when.wHour, when.wMinute, when.wSecond);
}

// ---- /create -----------------------------------------------------------------------

int Create(int argc, wchar_t** argv) {
    Options options;
    std::wstring bad;
    if (!ParseOptions(argc, argv, {L"xml", L"tn"}, {L"f"}, &options, &bad))
        return BadOption(bad, L"/CREATE ");
    std::wstring path;
    const std::wstring* file = options.Value(L"xml");
    if (!file || !options.Value(L"tn")) {
        Syntax(L"/CREATE ");
        return kExitMissingArguments;
    }
    if (!TaskPathArg(options, &path))
        return FailCode(ERROR_INVALID_NAME);
    std::vector<char> bytes;
    DWORD readError = 0;
    if (!sim::ReadWholeFile(file->c_str(), &bytes, &readError))
        return FailCode(readError);
    std::wstring text;
    if (!sim::DecodeText(bytes, &text))
        return Fail(L"The task XML is malformed.");
    std::wstring why;
    XmlPtr task = ParseXml(text, &why);
    if (!task)
        return Fail(L"The task XML is malformed.\r\n" + why);
    switch (CheckTaskXml(*task)) {
    case TaskXmlFault::None:
        break;
    case TaskXmlFault::UnexpectedNode:
        return Fail(L"The task XML contains an unexpected node.");
    case TaskXmlFault::Namespace:
        return Fail(L"The task XML contains an element or attribute from an unexpected namespace.");
    case TaskXmlFault::InvalidValue:
        return Fail(
            L"The task XML contains a value which is incorrectly formatted or out of range.");
    case TaskXmlFault::MissingNode:
        return Fail(L"The task XML is missing a required element or attribute.");
    }

    StoreLock lock;
    if (DWORD rc = lock.Error())
        return FailCode(rc);
    if (TaskExists(path) && !options.Has(L"f") &&
        !Confirm(FormatText(L"WARNING: The task name \"%s\" already exists. Do you want to "
                            L"replace it (Y/N)? ",
                            options.Value(L"tn")->c_str())))
        return Fail(
            FormatText(L"The task \"%s\" was not replaced.", options.Value(L"tn")->c_str()));
    std::wstring folder, name;
    SplitTaskPath(path, &folder, &name);
    if (DWORD rc = CreateTaskFolder(folder); rc && rc != ERROR_ALREADY_EXISTS)
        return FailCode(rc);
    if (DWORD rc = WriteTask(path, *task))
        return FailCode(rc);
    ForgetRunState(path);
    Out(FormatText(L"SUCCESS: The scheduled task \"%s\" has successfully been created.\r\n",
                   options.Value(L"tn")->c_str()));
    return kExitOk;
}

// ---- /change -----------------------------------------------------------------------

// The trigger kinds whose schema has a Delay.
bool TakesDelay(const std::wstring& element) {
    return element == L"LogonTrigger" || element == L"BootTrigger" || element == L"EventTrigger" ||
           element == L"RegistrationTrigger" || element == L"SessionStateChangeTrigger";
}

int Change(int argc, wchar_t** argv) {
    Options options;
    std::wstring path;
    int exitCode = kExitError;
    if (!ReadTaskCommand(argc, argv, L"/CHANGE ", {L"delay"}, {L"enable", L"disable"}, &options,
                         &path, &exitCode))
        return exitCode;
    const std::wstring* delay = options.Value(L"delay");
    const bool enable = options.Has(L"enable");
    const bool disable = options.Has(L"disable");
    if (!delay && !enable && !disable)
        return Syntax(L"/CHANGE ");
    if (enable && disable)
        return Fail(L"Invalid syntax. /ENABLE and /DISABLE cannot be used together.");
    std::wstring duration;
    if (delay && !DelayToDuration(*delay, &duration))
        return Fail(L"Invalid /DELAY value. Specify it in mmmm:ss format.");

    StoreLock lock;
    if (DWORD rc = lock.Error())
        return FailCode(rc);
    XmlPtr task;
    if (DWORD rc = ReadTask(path, &task))
        return FailCode(rc == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : rc);
    if (delay) {
        XmlPtr triggers = Child(*task, L"Triggers");
        bool changed = false;
        for (const auto& trigger : triggers ? triggers->children : std::vector<XmlPtr>()) {
            if (!TakesDelay(trigger->name))
                continue;
            SetPathText(*trigger, L"Delay", duration);
            changed = true;
        }
        if (!changed)
            return Fail(L"The task has no trigger that takes a delay: /DELAY applies to "
                        L"ONSTART, ONLOGON and ONEVENT triggers only.");
    }
    if (enable || disable)
        SetPathBool(*task, L"Settings/Enabled", enable);
    if (DWORD rc = WriteTask(path, *task))
        return FailCode(rc);
    Out(FormatText(L"SUCCESS: The parameters of scheduled task \"%s\" have been changed.\r\n",
                   options.Value(L"tn")->c_str()));
    return kExitOk;
}

// ---- /delete, /run ---------------------------------------------------------------

int Delete(int argc, wchar_t** argv) {
    Options options;
    std::wstring path;
    int exitCode = kExitError;
    if (!ReadTaskCommand(argc, argv, L"/DELETE ", {}, {L"f"}, &options, &path, &exitCode))
        return exitCode;
    StoreLock lock;
    if (DWORD rc = lock.Error())
        return FailCode(rc);
    if (!TaskExists(path))
        return FailCode(ERROR_FILE_NOT_FOUND);
    if (!options.Has(L"f") &&
        !Confirm(FormatText(L"WARNING: Are you sure you want to remove the task \"%s\" (Y/N)? ",
                            options.Value(L"tn")->c_str()))) {
        Out(FormatText(L"INFO: The scheduled task \"%s\" was not deleted.\r\n",
                       options.Value(L"tn")->c_str()));
        return kExitOk;
    }
    if (DWORD rc = DeleteTaskFile(path))
        return FailCode(rc);
    Out(FormatText(L"SUCCESS: The scheduled task \"%s\" was successfully deleted.\r\n",
                   options.Value(L"tn")->c_str()));
    return kExitOk;
}

int RunNow(int argc, wchar_t** argv) {
    Options options;
    std::wstring path;
    int exitCode = kExitError;
    if (!ReadTaskCommand(argc, argv, L"/RUN ", {}, {}, &options, &path, &exitCode))
        return exitCode;
    if (DWORD rc = FireTask(path))
        return FailCode(rc);
    Out(FormatText(L"SUCCESS: Attempted to run the scheduled task \"%s\".\r\n",
                   options.Value(L"tn")->c_str()));
    return kExitOk;
}

// ---- /query ------------------------------------------------------------------------

int Query(int argc, wchar_t** argv) {
    Options options;
    std::wstring bad;
    if (!ParseOptions(argc, argv, {L"tn"}, {L"xml"}, &options, &bad))
        return BadOption(bad, L"/QUERY ");
    std::vector<std::wstring> paths;
    StoreLock lock;
    if (DWORD rc = lock.Error())
        return FailCode(rc);
    if (options.Value(L"tn")) {
        std::wstring path;
        if (!TaskPathArg(options, &path))
            return FailCode(ERROR_INVALID_NAME);
        if (!TaskExists(path))
            return FailCode(ERROR_FILE_NOT_FOUND);
        paths.push_back(path);
    } else if (DWORD rc = ListAllTasks(&paths)) {
        return FailCode(rc);
    }

    if (options.Has(L"xml")) {
        if (options.Value(L"tn")) {
            XmlPtr task;
            if (DWORD rc = ReadTask(paths[0], &task))
                return FailCode(rc);
            Out(WriteXml(*task));
            return kExitOk;
        }
        std::wstring all = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Tasks>\r\n";
        for (const auto& path : paths) {
            XmlPtr task;
            if (ReadTask(path, &task))
                continue;
            all += L"  <!-- " + path + L" -->\r\n";
            std::wstring element = WriteElement(*task);
            size_t start = 0;
            while (start < element.size()) {
                const size_t end = element.find(L"\r\n", start);
                all += L"  " + element.substr(start, end - start) + L"\r\n";
                start = end == std::wstring::npos ? element.size() : end + 2;
            }
        }
        Out(all + L"</Tasks>\r\n");
        return kExitOk;
    }

    std::wstring currentFolder;
    std::wstring table;
    for (const auto& path : paths) {
        std::wstring folder, name;
        SplitTaskPath(path, &folder, &name);
        if (folder != currentFolder) {
            currentFolder = folder;
            table += L"\r\nFolder: " + folder + L"\r\n";
            table += FormatText(L"%-40s %-22s %-15s\r\n", L"TaskName", L"Next Run Time", L"Status");
            table += std::wstring(40, L'=') + L" " + std::wstring(22, L'=') + L" " +
                     std::wstring(15, L'=') + L"\r\n";
        }
        XmlPtr task;
        if (ReadTask(path, &task)) {
            table += FormatText(L"%-40s %-22s %-15s\r\n", name.c_str(), L"N/A", L"Could not read");
            continue;
        }
        table +=
            FormatText(L"%-40s %-22s %-15s\r\n", name.c_str(), NextRunText(path, *task).c_str(),
                       TaskEnabled(*task) ? L"Ready" : L"Disabled");
    }
    if (paths.empty())
        table = L"INFO: There are no scheduled tasks presently available at your access level.\r\n";
    Out(table);
    return kExitOk;
}

int Usage() {
    Out(L"\r\nSCHTASKS /parameter [arguments]\r\n\r\n"
        L"Description:\r\n"
        L"    Enables an administrator to create, delete, query, change, run and\r\n"
        L"    end scheduled tasks (the simulated Task Scheduler of the test prefix).\r\n\r\n"
        L"Parameter List:\r\n"
        L"    /Create /XML file /TN taskname [/F]\r\n"
        L"    /Delete /TN taskname [/F]\r\n"
        L"    /Query  [/TN taskname] [/XML]\r\n"
        L"    /Change /TN taskname {/DELAY mmmm:ss | /ENABLE | /DISABLE}\r\n"
        L"    /Run    /TN taskname\r\n"
        L"    /?      Displays this help message.\r\n");
    return kExitOk;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2)
        return Query(argc, argv);
    if (!IsSwitch(argv[1]))
        return BadOption(argv[1], L"");
    const std::wstring command = Lower(argv[1] + 1);
    if (command == L"?")
        return Usage();
    if (command == L"create")
        return Create(argc, argv);
    if (command == L"change")
        return Change(argc, argv);
    if (command == L"delete")
        return Delete(argc, argv);
    if (command == L"query")
        return Query(argc, argv);
    if (command == L"run")
        return RunNow(argc, argv);
    return BadOption(argv[1], L"");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // What the suite's programs ran, for the tests to read back exactly.
    sim::RecordCommandLine(L"schtasks");
    return Run(argc, argv);
}
