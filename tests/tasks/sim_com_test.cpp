// The simulated Task Scheduler's COM objects answer as Windows' Task
// Scheduler 2.0 does: the codes, paths and values a caller sees, checked one
// interface at a time.
#include "tasks/tasks_test_support.h"

#include "sim/tasks/task_interfaces.h"

#include "common/handles.h"

#include <taskschd.h>
#include <wrl/client.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using namespace taskstest;

const wchar_t kTaskNs[] = L"http://schemas.microsoft.com/windows/2004/02/mit/task";
const wchar_t kNull[] = L"<null>";

// A BSTR argument made from text (null for nullptr).
class Arg {
public:
    explicit Arg(const wchar_t* text) : bstr_(text ? SysAllocString(text) : nullptr) {}
    explicit Arg(const std::wstring& text) : Arg(text.c_str()) {}
    operator BSTR() const { return bstr_.Get(); }

private:
    zb::UniqueBstr bstr_;
};

// The text of a BSTR getter, kNull for a null string, or the failure code.
template <typename Getter> std::wstring Text(Getter get) {
    BSTR out = reinterpret_cast<BSTR>(static_cast<INT_PTR>(-1));
    const HRESULT hr = get(&out);
    if (FAILED(hr)) {
        wchar_t code[16];
        swprintf(code, 16, L"%08lX", static_cast<unsigned long>(hr));
        return code;
    }
    zb::UniqueBstr owner(out);
    return out ? std::wstring(out) : kNull;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring TaskXml(const std::wstring& settings = L"", const wchar_t* root = L"Task",
                     bool ns = true,
                     const wchar_t* actions = L"<Exec><Command>a.exe</Command></Exec>") {
    return std::wstring(L"<?xml version=\"1.0\"?>\n<") + root +
           (ns ? std::wstring(L" xmlns=\"") + kTaskNs + L"\"" : L"") +
           L">\n  <RegistrationInfo><Description>d</Description></RegistrationInfo>\n"
           L"  <Settings>" +
           settings + L"</Settings>\n  <Actions>" + actions + L"</Actions>\n</" + root + L">\n";
}

class SimScheduler : public TaskTest {
protected:
    void SetUp() override {
        TaskTest::SetUp();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ITaskService,
                                         reinterpret_cast<void**>(service_.GetAddressOf())));
    }
    void Connect() {
        VARIANT none;
        VariantInit(&none);
        ASSERT_EQ(S_OK, service_->Connect(none, none, none, none));
        ASSERT_EQ(S_OK, service_->GetFolder(nullptr, &root_));
    }
    // The path of the folder GetFolder opened, or the failure code.
    std::wstring FolderPath(HRESULT hr, ITaskFolder* folder) {
        return FAILED(hr) ? Text([&](BSTR*) { return hr; })
                          : Text([&](BSTR* out) { return folder->get_Path(out); });
    }
    HRESULT Register(ITaskFolder* folder, const wchar_t* name, const wchar_t* xml, LONG flags,
                     IRegisteredTask** task = nullptr) {
        VARIANT none;
        VariantInit(&none);
        return folder->RegisterTask(Arg(name), Arg(xml), flags, none, none, TASK_LOGON_NONE, none,
                                    task);
    }

    ComPtr<ITaskService> service_;
    ComPtr<ITaskFolder> root_;
};

TEST_F(SimScheduler, ServiceChecksArgumentsFirstAndMakesDefinitionsUnconnected) {
    EXPECT_EQ(E_POINTER, service_->get_TargetServer(nullptr));
    EXPECT_EQ(E_POINTER, service_->get_ConnectedUser(nullptr));
    EXPECT_EQ(E_POINTER, service_->get_ConnectedDomain(nullptr));
    EXPECT_EQ(L"800704E3", Text([&](BSTR* out) { return service_->get_TargetServer(out); }));
    ComPtr<ITaskFolder> folder;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED), service_->GetFolder(nullptr, &folder));
    ComPtr<ITaskDefinition> definition;
    EXPECT_EQ(S_OK, service_->NewTask(0, &definition));
    Connect();
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = ARRAYSIZE(computer);
    GetComputerNameW(computer, &size);
    EXPECT_EQ(computer, Text([&](BSTR* out) { return service_->get_TargetServer(out); }));
}

TEST_F(SimScheduler, FolderPathsAreReadAsWindowsReadsThem) {
    Connect();
    struct {
        const wchar_t* name;
        HRESULT hr;
    } const creates[] = {
        {nullptr, E_INVALIDARG},
        {L"/", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {L"\\", E_INVALIDARG},
        {L"\\zbtest w\\F1\\F2", S_OK},
        {L"\\zbtest w", HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {L"zbtest w\\F1", HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {L"\\zbtest w\\F1\\", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
    };
    VARIANT none;
    VariantInit(&none);
    for (const auto& c : creates) {
        ComPtr<ITaskFolder> made;
        EXPECT_EQ(c.hr, root_->CreateFolder(Arg(c.name), none, &made))
            << Narrow(c.name ? c.name : kNull);
    }

    // From the service: the path as given, the root for nothing.
    struct Open {
        const wchar_t* given;
        const wchar_t* path;
    };
    const auto expectOpens = [&](ITaskFolder* from, const std::vector<Open>& opens) {
        for (const Open& o : opens) {
            ComPtr<ITaskFolder> folder;
            const HRESULT hr = from ? from->GetFolder(Arg(o.given), &folder)
                                    : service_->GetFolder(Arg(o.given), &folder);
            EXPECT_EQ(o.path, FolderPath(hr, folder.Get())) << Narrow(o.given ? o.given : kNull);
        }
    };
    expectOpens(nullptr, {
                             {nullptr, L"\\"},
                             {L"", L"\\"},
                             {L"\\", L"\\"},
                             {L"\\zbtest w\\F1\\F2", L"\\zbtest w\\F1\\F2"},
                             {L"zbtest w\\F1\\F2", L"zbtest w\\F1\\F2"},
                             {L".", L"8007007B"},
                             {L"/", L"8007007B"},
                             {L"\\zbtest w\\F1\\", L"8007007B"},
                             {L"\\zbtest w\\none", L"80070003"},
                         });

    // From a sub-folder every path is relative to it, with or without "\".
    ComPtr<ITaskFolder> sub;
    ASSERT_EQ(S_OK, service_->GetFolder(Arg(L"zbtest w"), &sub));
    expectOpens(sub.Get(), {
                               {nullptr, L"80070057"},
                               {L"\\", L"8007007B"},
                               {L"", L"zbtest w"},
                               {L"\\F1\\F2", L"zbtest w\\F1\\F2"},
                               {L"F1\\F2", L"zbtest w\\F1\\F2"},
                               {L"\\zbtest w", L"80070003"},
                           });
    EXPECT_EQ(L"F2", Text([&](BSTR* out) {
                  ComPtr<ITaskFolder> f2;
                  sub->GetFolder(Arg(L"F1\\F2"), &f2);
                  return f2->get_Name(out);
              }));

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY), root_->DeleteFolder(Arg(L"\\zbtest w"), 0));
    EXPECT_EQ(E_ACCESSDENIED, root_->DeleteFolder(nullptr, 0));
    EXPECT_EQ(E_ACCESSDENIED, root_->DeleteFolder(Arg(L""), 0));
    EXPECT_EQ(S_OK, sub->DeleteFolder(Arg(L"F1\\F2"), 0));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), sub->DeleteFolder(Arg(L"F1\\F2"), 0));
}

TEST_F(SimScheduler, FoldersListTheirSubFolders) {
    Connect();
    VARIANT none;
    VariantInit(&none);
    ComPtr<ITaskFolder> made;
    ASSERT_EQ(S_OK, root_->CreateFolder(Arg(L"\\zbtest c\\F1"), none, &made));
    ASSERT_EQ(S_OK, root_->CreateFolder(Arg(L"\\zbtest c\\F2"), none, &made));
    ComPtr<ITaskFolder> parent;
    ASSERT_EQ(S_OK, root_->GetFolder(Arg(L"\\zbtest c"), &parent));
    EXPECT_EQ(E_POINTER, parent->GetFolders(0, nullptr));
    ComPtr<ITaskFolderCollection> folders;
    ASSERT_EQ(S_OK, parent->GetFolders(0, &folders));
    // The list is as it was when asked for.
    ASSERT_EQ(S_OK, root_->CreateFolder(Arg(L"\\zbtest c\\F3"), none, &made));
    LONG count = 0;
    ASSERT_EQ(S_OK, folders->get_Count(&count));
    EXPECT_EQ(2, count);

    const VARTYPE types[] = {VT_I1,  VT_I2,  VT_I4,  VT_I8,  VT_UI1,
                             VT_UI2, VT_UI4, VT_UI8, VT_INT, VT_UINT};
    for (VARTYPE type : types) {
        VARIANT index;
        VariantInit(&index);
        index.vt = type;
        index.ullVal = 2;
        ComPtr<ITaskFolder> item;
        const HRESULT hr = folders->get_Item(index, &item);
        EXPECT_EQ(L"\\zbtest c\\F2", FolderPath(hr, item.Get())) << type;
        index.ullVal = 3;
        EXPECT_EQ(E_INVALIDARG, folders->get_Item(index, &item)) << type;
    }
    VARIANT byName;
    VariantInit(&byName);
    byName.vt = VT_BSTR;
    byName.bstrVal = SysAllocString(L"F1");
    ComPtr<ITaskFolder> first;
    const HRESULT hr = folders->get_Item(byName, &first);
    EXPECT_EQ(L"\\zbtest c\\F1", FolderPath(hr, first.Get()));
    VariantClear(&byName);

    void* none2 = nullptr;
    EXPECT_EQ(E_NOINTERFACE, folders->QueryInterface(IID_IEnumVARIANT, &none2));
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, folders->get__NewEnum(&unknown));
    EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(IID_IEnumUnknown, &none2));
    ComPtr<IEnumVARIANT> items;
    ASSERT_EQ(S_OK, unknown.As(&items));
    EXPECT_EQ(S_OK, items->Skip(0));
    EXPECT_EQ(S_OK, items->Skip(2));
    EXPECT_EQ(S_FALSE, items->Skip(1));
    ULONG fetched = 99;
    EXPECT_EQ(S_FALSE, items->Next(1, nullptr, &fetched));
    EXPECT_EQ(0u, fetched);
    ASSERT_EQ(S_OK, items->Reset());
    EXPECT_EQ(E_POINTER, items->Next(1, nullptr, &fetched));
    VARIANT got[3] = {};
    ASSERT_EQ(S_FALSE, items->Next(3, got, &fetched));
    ASSERT_EQ(2u, fetched);
    for (ULONG i = 0; i < fetched; ++i) {
        ASSERT_EQ(VT_DISPATCH, got[i].vt);
        ComPtr<ITaskFolder> folder;
        ASSERT_EQ(S_OK, got[i].pdispVal->QueryInterface(IID_PPV_ARGS(&folder)));
        EXPECT_EQ(i ? L"F2" : L"F1", Text([&](BSTR* out) { return folder->get_Name(out); }));
        VariantClear(&got[i]);
    }
}

TEST_F(SimScheduler, RegisteringCreatesAndUpdatesAsWindowsDoes) {
    Connect();
    const std::wstring xml = TaskXml();
    const wchar_t kName[] = L"\\zbtest r\\a\\Task1";
    // A new name: every flag but "update only" creates it, in new folders.
    const struct {
        LONG flags;
        HRESULT onNew, onExisting;
    } flags[] = {
        {0, S_OK, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {TASK_CREATE, S_OK, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {TASK_UPDATE, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), S_OK},
        {TASK_CREATE_OR_UPDATE, S_OK, S_OK},
    };
    for (const auto& f : flags) {
        EXPECT_EQ(f.onNew, Register(root_.Get(), kName, xml.c_str(), f.flags)) << f.flags;
        root_->DeleteTask(Arg(kName), 0);
    }
    ASSERT_EQ(S_OK, Register(root_.Get(), kName, xml.c_str(), TASK_CREATE));
    for (const auto& f : flags)
        EXPECT_EQ(f.onExisting, Register(root_.Get(), kName, xml.c_str(), f.flags)) << f.flags;

    ComPtr<ITaskFolder> folder;
    ASSERT_EQ(S_OK, service_->GetFolder(Arg(L"\\zbtest r"), &folder));
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER),
              Register(root_.Get(), L"zbtest n", nullptr, TASK_CREATE));
    EXPECT_EQ(E_INVALIDARG, Register(folder.Get(), nullptr, xml.c_str(), TASK_CREATE));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
              Register(root_.Get(), L"zbtest r", xml.c_str(), TASK_CREATE));
    EXPECT_EQ(S_OK, Register(root_.Get(), L"zbtest r", xml.c_str(), TASK_VALIDATE_ONLY));

    const struct {
        ITaskFolder* from;
        const wchar_t* path;
        const wchar_t* result;
    } opens[] = {
        {root_.Get(), kName, L"\\zbtest r\\a\\Task1"},
        {folder.Get(), L"a\\Task1", L"\\zbtest r\\a\\Task1"},
        {root_.Get(), nullptr, L"80070057"},
        {root_.Get(), L"\\zbtest r\\a", L"80070003"},
        {root_.Get(), L"\\zbtest r\\none\\Task1", L"80070003"},
        {root_.Get(), L"\\zbtest r\\a\\none", L"80070002"},
    };
    for (const auto& o : opens) {
        ComPtr<IRegisteredTask> task;
        const HRESULT hr = o.from->GetTask(Arg(o.path), &task);
        EXPECT_EQ(o.result, FAILED(hr) ? Text([&](BSTR*) { return hr; })
                                       : Text([&](BSTR* out) { return task->get_Path(out); }))
            << Narrow(o.path ? o.path : kNull);
    }
    EXPECT_EQ(S_OK, folder->DeleteTask(Arg(L"a\\Task1"), 0));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), folder->DeleteTask(Arg(L"a\\Task1"), 0));
}

TEST_F(SimScheduler, TaskXmlIsCheckedAgainstTheSchema) {
    Connect();
    ComPtr<ITaskDefinition> definition;
    ASSERT_EQ(S_OK, service_->NewTask(0, &definition));
    const struct {
        std::wstring xml;
        HRESULT hr;
    } cases[] = {
        {TaskXml(), S_OK},
        {TaskXml(L"", L"Task", false), static_cast<HRESULT>(0x80041317)},
        {TaskXml(L"", L"TASK", false), static_cast<HRESULT>(0x80041316)},
        {TaskXml(L"<Enabled>FALSE</Enabled>"), static_cast<HRESULT>(0x80041318)},
        {TaskXml(L"<Hidden>1</Hidden>"), S_OK},
        {TaskXml(L"", L"Task", true, L""), static_cast<HRESULT>(0x80041319)},
        {TaskXml(L"<Settings>"), static_cast<HRESULT>(0x8004131A)},
        {L"", static_cast<HRESULT>(0x8004131A)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.hr, definition->put_XmlText(Arg(c.xml))) << Narrow(c.xml);
        EXPECT_EQ(c.hr, Register(root_.Get(), L"zbtest x", c.xml.c_str(), TASK_VALIDATE_ONLY))
            << Narrow(c.xml);
    }
    EXPECT_EQ(E_INVALIDARG, definition->put_XmlText(nullptr));
}

// A new definition: what is unset reads as null, settings have Windows'
// defaults; what is put in survives the XML round trip exactly.
TEST_F(SimScheduler, DefinitionsKeepUnsetValuesNullAndRoundTripTheRest) {
    ComPtr<ITaskDefinition> definition;
    ASSERT_EQ(S_OK, service_->NewTask(0, &definition));
    ComPtr<ITaskSettings> settings;
    ASSERT_EQ(S_OK, definition->get_Settings(&settings));
    const auto readSettings = [&]() {
        INT count = -1, priority = -1;
        TASK_COMPATIBILITY compat = TASK_COMPATIBILITY_AT;
        settings->get_RestartCount(&count);
        settings->get_Priority(&priority);
        settings->get_Compatibility(&compat);
        return Text([&](BSTR* out) { return settings->get_RestartInterval(out); }) + L"|" +
               Text([&](BSTR* out) { return settings->get_ExecutionTimeLimit(out); }) + L"|" +
               Text([&](BSTR* out) { return settings->get_DeleteExpiredTaskAfter(out); }) + L"|" +
               std::to_wstring(count) + L"|" + std::to_wstring(priority) + L"|" +
               std::to_wstring(compat);
    };
    EXPECT_EQ(L"<null>|PT72H|<null>|0|7|2", readSettings());

    ComPtr<IActionCollection> actions;
    ASSERT_EQ(S_OK, definition->get_Actions(&actions));
    ComPtr<IAction> action;
    ASSERT_EQ(S_OK, actions->Create(TASK_ACTION_EXEC, &action));
    ComPtr<IExecAction> exec;
    ASSERT_EQ(S_OK, action.As(&exec));
    EXPECT_EQ(L"<null>|<null>|<null>|<null>",
              Text([&](BSTR* out) { return exec->get_Path(out); }) + L"|" +
                  Text([&](BSTR* out) { return exec->get_Arguments(out); }) + L"|" +
                  Text([&](BSTR* out) { return exec->get_WorkingDirectory(out); }) + L"|" +
                  Text([&](BSTR* out) { return exec->get_Id(out); }));
    EXPECT_EQ(S_OK, exec->put_Path(nullptr));
    ASSERT_EQ(S_OK, exec->put_Path(Arg(L"task1.exe")));
    ASSERT_EQ(S_OK, exec->put_Id(Arg(L"comment")));

    ASSERT_EQ(S_OK, settings->put_RestartInterval(Arg(L"P1Y")));
    ASSERT_EQ(S_OK, settings->put_RestartCount(100));
    ASSERT_EQ(S_OK, settings->put_ExecutionTimeLimit(Arg(L"PT10M")));
    ASSERT_EQ(S_OK, settings->put_DeleteExpiredTaskAfter(nullptr));
    ASSERT_EQ(S_OK, settings->put_Priority(1));
    ASSERT_EQ(S_OK, settings->put_Compatibility(TASK_COMPATIBILITY_V1));
    ASSERT_EQ(S_OK, settings->put_StartWhenAvailable(VARIANT_TRUE));
    ComPtr<ITriggerCollection> triggers;
    ComPtr<IPrincipal> principal;
    ASSERT_EQ(S_OK, definition->get_Triggers(&triggers));
    ASSERT_EQ(S_OK, definition->get_Principal(&principal));
    EXPECT_EQ(S_OK, definition->put_Triggers(triggers.Get()));
    EXPECT_EQ(S_OK, definition->put_Principal(principal.Get()));
    EXPECT_EQ(S_OK, definition->put_Actions(actions.Get()));
    EXPECT_EQ(L"P1Y|PT10M|<null>|100|1|1", readSettings());

    // Into another definition through its XML, and back out unchanged.
    const std::wstring xml = Text([&](BSTR* out) { return definition->get_XmlText(out); });
    ComPtr<ITaskDefinition> copy;
    ASSERT_EQ(S_OK, service_->NewTask(0, &copy));
    ASSERT_EQ(S_OK, copy->put_XmlText(Arg(xml)));
    EXPECT_EQ(xml, Text([&](BSTR* out) { return copy->get_XmlText(out); }));
    ASSERT_EQ(S_OK, copy->get_Settings(&settings));
    EXPECT_EQ(L"P1Y|PT10M|<null>|100|1|1", readSettings());
    // Another definition's actions replace these.
    ComPtr<ITaskDefinition> other;
    ASSERT_EQ(S_OK, service_->NewTask(0, &other));
    ComPtr<IActionCollection> none;
    ASSERT_EQ(S_OK, other->get_Actions(&none));
    ASSERT_EQ(S_OK, copy->put_Actions(none.Get()));
    EXPECT_EQ(std::wstring::npos,
              Text([&](BSTR* out) { return copy->get_XmlText(out); }).find(L"task1.exe"));

    // Registration info and data put to null read as null.
    ASSERT_EQ(S_OK, definition->put_XmlText(Arg(TaskXml())));
    ComPtr<IRegistrationInfo> info;
    ASSERT_EQ(S_OK, definition->get_RegistrationInfo(&info));
    EXPECT_EQ(L"d", Text([&](BSTR* out) { return info->get_Description(out); }));
    ASSERT_EQ(S_OK, info->put_Description(nullptr));
    ASSERT_EQ(S_OK, definition->put_Data(Arg(L"NewTest")));
    ASSERT_EQ(S_OK, definition->put_Data(nullptr));
    EXPECT_EQ(L"<null>|<null>|<null>|<null>",
              Text([&](BSTR* out) { return info->get_Description(out); }) + L"|" +
                  Text([&](BSTR* out) { return info->get_Author(out); }) + L"|" +
                  Text([&](BSTR* out) { return info->get_Source(out); }) + L"|" +
                  Text([&](BSTR* out) { return definition->get_Data(out); }));
}

template <typename I> ComPtr<I> Query(IUnknown* from, const IID& iid) {
    ComPtr<I> to;
    from->QueryInterface(iid, reinterpret_cast<void**>(to.GetAddressOf()));
    return to;
}

// The codes of calls that failed, each followed by a comma. The calls are
// made in order: they are the elements of a braced list.
std::wstring Refused(std::initializer_list<HRESULT> results) {
    std::wstring out;
    for (HRESULT hr : results) {
        if (hr != S_OK)
            out += Text([&](BSTR*) { return hr; }) + L",";
    }
    return out;
}

// Values read by getters, each followed by "|": text (kNull for null) or
// numbers (VARIANT_TRUE is -1).
template <typename Getter> std::wstring Str(Getter get) {
    return Text(get) + L"|";
}
template <typename T, typename Getter> std::wstring Num(Getter get) {
    T value = static_cast<T>(-99);
    const HRESULT hr = get(&value);
    return (FAILED(hr) ? Text([&](BSTR*) { return hr; }) : std::to_wstring(value)) + L"|";
}

// What a new task's triggers element holds once every row below has run.
const wchar_t kTriggersXml[] =
    L"  <Triggers>\r\n"
    L"    <TimeTrigger id=\"t1\">\r\n"
    L"      <Repetition>\r\n"
    L"        <Interval>PT10M</Interval>\r\n"
    L"        <Duration>PT1H</Duration>\r\n"
    L"        <StopAtDurationEnd>true</StopAtDurationEnd>\r\n"
    L"      </Repetition>\r\n"
    L"      <StartBoundary>2030-01-02T03:04:05</StartBoundary>\r\n"
    L"      <EndBoundary>2031-01-01T00:00:00</EndBoundary>\r\n"
    L"      <ExecutionTimeLimit>PT1H</ExecutionTimeLimit>\r\n"
    L"      <Enabled>false</Enabled>\r\n"
    L"      <RandomDelay>PT5M</RandomDelay>\r\n"
    L"    </TimeTrigger>\r\n"
    L"    <CalendarTrigger>\r\n"
    L"      <StartBoundary>2030-01-01T08:00:00</StartBoundary>\r\n"
    L"      <RandomDelay>PT1M</RandomDelay>\r\n"
    L"      <ScheduleByDay>\r\n"
    L"        <DaysInterval>2</DaysInterval>\r\n"
    L"      </ScheduleByDay>\r\n"
    L"    </CalendarTrigger>\r\n"
    L"    <CalendarTrigger>\r\n"
    L"      <ScheduleByWeek>\r\n"
    L"        <DaysOfWeek>\r\n"
    L"          <Sunday />\r\n"
    L"          <Saturday />\r\n"
    L"        </DaysOfWeek>\r\n"
    L"        <WeeksInterval>3</WeeksInterval>\r\n"
    L"      </ScheduleByWeek>\r\n"
    L"    </CalendarTrigger>\r\n"
    L"    <CalendarTrigger>\r\n"
    L"      <ScheduleByMonth>\r\n"
    L"        <DaysOfMonth>\r\n"
    L"          <Day>1</Day>\r\n"
    L"          <Day>15</Day>\r\n"
    L"          <Day>Last</Day>\r\n"
    L"        </DaysOfMonth>\r\n"
    L"        <Months>\r\n"
    L"          <January />\r\n"
    L"          <December />\r\n"
    L"        </Months>\r\n"
    L"      </ScheduleByMonth>\r\n"
    L"    </CalendarTrigger>\r\n"
    L"    <CalendarTrigger>\r\n"
    L"      <ScheduleByMonthDayOfWeek>\r\n"
    L"        <Weeks>\r\n"
    L"          <Week>2</Week>\r\n"
    L"          <Week>Last</Week>\r\n"
    L"        </Weeks>\r\n"
    L"        <DaysOfWeek>\r\n"
    L"          <Monday />\r\n"
    L"        </DaysOfWeek>\r\n"
    L"        <Months>\r\n"
    L"          <May />\r\n"
    L"        </Months>\r\n"
    L"      </ScheduleByMonthDayOfWeek>\r\n"
    L"    </CalendarTrigger>\r\n"
    L"    <IdleTrigger>\r\n"
    L"      <Enabled>false</Enabled>\r\n"
    L"    </IdleTrigger>\r\n"
    L"    <RegistrationTrigger>\r\n"
    L"      <Delay>PT30S</Delay>\r\n"
    L"    </RegistrationTrigger>\r\n"
    L"    <BootTrigger>\r\n"
    L"      <Delay>PT1M</Delay>\r\n"
    L"    </BootTrigger>\r\n"
    L"    <LogonTrigger>\r\n"
    L"      <UserId>user</UserId>\r\n"
    L"      <Delay>PT2M</Delay>\r\n"
    L"    </LogonTrigger>\r\n"
    L"    <EventTrigger>\r\n"
    L"      <Subscription>&lt;QueryList&gt;&lt;Query Id=\"0\"&gt;&lt;Select "
    L"Path=\"System\"&gt;*&lt;/Select&gt;&lt;/Query&gt;&lt;/QueryList&gt;</Subscription>\r\n"
    L"      <Delay>PT3M</Delay>\r\n"
    L"      <ValueQueries>\r\n"
    L"        <Value name=\"source\">Event/System/Provider/@Name</Value>\r\n"
    L"      </ValueQueries>\r\n"
    L"    </EventTrigger>\r\n"
    L"    <SessionStateChangeTrigger>\r\n"
    L"      <StateChange>SessionUnlock</StateChange>\r\n"
    L"      <UserId>user</UserId>\r\n"
    L"      <Delay>PT10S</Delay>\r\n"
    L"    </SessionStateChangeTrigger>\r\n"
    L"  </Triggers>\r\n";

// Every kind of trigger made through the collection: its interface, its
// properties' defaults, what it refuses, what it reads back and its element
// as Windows writes it. The whole definition, with settings, then passes
// put_XmlText, registration and "schtasks /query /xml" unchanged.
TEST_F(SimScheduler, TriggersOfEveryKindKeepTheirPropertiesThroughTheXml) {
    using namespace simtasks;
    using Calls = std::function<std::wstring(ITrigger*)>;
    const struct {
        TASK_TRIGGER_TYPE2 type;
        const IID& iid;
        Calls get, put;
        const wchar_t *defaults, *refused, *values;
    } rows[] = {
        {TASK_TRIGGER_TIME, IID_ITimeTrigger,
         [](ITrigger* t) {
             ComPtr<IRepetitionPattern> repeat;
             t->get_Repetition(&repeat);
             return Str([&](BSTR* o) { return t->get_Id(o); }) +
                    Str([&](BSTR* o) { return t->get_StartBoundary(o); }) +
                    Str([&](BSTR* o) { return t->get_EndBoundary(o); }) +
                    Str([&](BSTR* o) { return t->get_ExecutionTimeLimit(o); }) +
                    Num<VARIANT_BOOL>([&](VARIANT_BOOL* o) { return t->get_Enabled(o); }) +
                    Str([&](BSTR* o) {
                        return Query<ITimeTrigger>(t, IID_ITimeTrigger)->get_RandomDelay(o);
                    }) +
                    Str([&](BSTR* o) { return repeat->get_Interval(o); }) +
                    Str([&](BSTR* o) { return repeat->get_Duration(o); }) +
                    Num<VARIANT_BOOL>(
                        [&](VARIANT_BOOL* o) { return repeat->get_StopAtDurationEnd(o); });
         },
         [](ITrigger* t) {
             // A pattern of a trigger elsewhere is copied in.
             ComPtr<ITaskDefinition> other;
             ComPtr<ITriggerCollection> triggers;
             ComPtr<ITrigger> source;
             ComPtr<IRepetitionPattern> repeat;
             ComPtr<ITaskService> service;
             CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                              reinterpret_cast<void**>(service.GetAddressOf()));
             service->NewTask(0, &other);
             other->get_Triggers(&triggers);
             triggers->Create(TASK_TRIGGER_BOOT, &source);
             source->get_Repetition(&repeat);
             return Refused(
                 {t->put_Id(Arg(L"t1")), t->put_StartBoundary(Arg(L"2030-01-02T03:04:05")),
                  t->put_EndBoundary(Arg(L"2031-01-01T00:00:00")),
                  t->put_ExecutionTimeLimit(Arg(L"PT1H")), t->put_Enabled(VARIANT_FALSE),
                  Query<ITimeTrigger>(t, IID_ITimeTrigger)->put_RandomDelay(Arg(L"PT5M")),
                  repeat->put_Interval(Arg(L"PT10M")), repeat->put_Duration(Arg(L"PT1H")),
                  repeat->put_StopAtDurationEnd(VARIANT_TRUE), t->put_Repetition(nullptr),
                  t->put_Repetition(repeat.Get())});
         },
         L"<null>|<null>|<null>|<null>|-1|<null>|<null>|<null>|0|", L"80004003,",
         L"t1|2030-01-02T03:04:05|2031-01-01T00:00:00|PT1H|0|PT5M|PT10M|PT1H|-1|"},
        {TASK_TRIGGER_DAILY, IID_IDailyTrigger,
         [](ITrigger* t) {
             auto daily = Query<IDailyTrigger>(t, IID_IDailyTrigger);
             return Num<short>([&](short* o) { return daily->get_DaysInterval(o); }) +
                    Str([&](BSTR* o) { return daily->get_RandomDelay(o); });
         },
         [](ITrigger* t) {
             auto daily = Query<IDailyTrigger>(t, IID_IDailyTrigger);
             return Refused({daily->put_DaysInterval(0), daily->put_DaysInterval(-2),
                             daily->put_DaysInterval(2), daily->put_RandomDelay(Arg(L"PT1M")),
                             t->put_StartBoundary(Arg(L"2030-01-01T08:00:00"))});
         },
         L"1|<null>|", L"80070057,80070057,", L"2|PT1M|"},
        {TASK_TRIGGER_WEEKLY, IID_IWeeklyTrigger,
         [](ITrigger* t) {
             auto weekly = Query<IWeeklyTrigger>(t, IID_IWeeklyTrigger);
             return Num<short>([&](short* o) { return weekly->get_DaysOfWeek(o); }) +
                    Num<short>([&](short* o) { return weekly->get_WeeksInterval(o); }) +
                    Str([&](BSTR* o) { return weekly->get_RandomDelay(o); });
         },
         [](ITrigger* t) {
             auto weekly = Query<IWeeklyTrigger>(t, IID_IWeeklyTrigger);
             return Refused({weekly->put_DaysOfWeek(0x80), weekly->put_DaysOfWeek(0x41),
                             weekly->put_WeeksInterval(0), weekly->put_WeeksInterval(3)});
         },
         L"0|1|<null>|", L"80070057,80070057,", L"65|3|<null>|"},
        {TASK_TRIGGER_MONTHLY, IID_IMonthlyTrigger,
         [](ITrigger* t) {
             auto monthly = Query<IMonthlyTrigger>(t, IID_IMonthlyTrigger);
             return Num<long>([&](long* o) { return monthly->get_DaysOfMonth(o); }) +
                    Num<short>([&](short* o) { return monthly->get_MonthsOfYear(o); }) +
                    Num<VARIANT_BOOL>(
                        [&](VARIANT_BOOL* o) { return monthly->get_RunOnLastDayOfMonth(o); });
         },
         [](ITrigger* t) {
             auto monthly = Query<IMonthlyTrigger>(t, IID_IMonthlyTrigger);
             return Refused({monthly->put_RunOnLastDayOfMonth(VARIANT_TRUE),
                             monthly->put_DaysOfMonth(static_cast<long>(0x80000001u)),
                             monthly->put_DaysOfMonth(0x4001), monthly->put_MonthsOfYear(0x1000),
                             monthly->put_MonthsOfYear(0x801)});
         },
         L"0|0|0|", L"80070057,80070057,", L"16385|2049|-1|"},
        {TASK_TRIGGER_MONTHLYDOW, IID_IMonthlyDOWTrigger,
         [](ITrigger* t) {
             auto dow = Query<IMonthlyDOWTrigger>(t, IID_IMonthlyDOWTrigger);
             return Num<short>([&](short* o) { return dow->get_WeeksOfMonth(o); }) +
                    Num<short>([&](short* o) { return dow->get_DaysOfWeek(o); }) +
                    Num<short>([&](short* o) { return dow->get_MonthsOfYear(o); }) +
                    Num<VARIANT_BOOL>(
                        [&](VARIANT_BOOL* o) { return dow->get_RunOnLastWeekOfMonth(o); });
         },
         [](ITrigger* t) {
             auto dow = Query<IMonthlyDOWTrigger>(t, IID_IMonthlyDOWTrigger);
             return Refused({dow->put_WeeksOfMonth(0x10), dow->put_WeeksOfMonth(2),
                             dow->put_RunOnLastWeekOfMonth(VARIANT_TRUE), dow->put_DaysOfWeek(2),
                             dow->put_MonthsOfYear(0x10)});
         },
         L"0|0|0|0|", L"80070057,", L"2|2|16|-1|"},
        {TASK_TRIGGER_IDLE, IID_IIdleTrigger,
         [](ITrigger* t) {
             return Num<VARIANT_BOOL>([&](VARIANT_BOOL* o) { return t->get_Enabled(o); });
         },
         [](ITrigger* t) { return Refused({t->put_Enabled(VARIANT_FALSE)}); }, L"-1|", L"", L"0|"},
        {TASK_TRIGGER_REGISTRATION, IID_IRegistrationTrigger,
         [](ITrigger* t) {
             return Str([&](BSTR* o) {
                 return Query<IRegistrationTrigger>(t, IID_IRegistrationTrigger)->get_Delay(o);
             });
         },
         [](ITrigger* t) {
             return Refused({Query<IRegistrationTrigger>(t, IID_IRegistrationTrigger)
                                 ->put_Delay(Arg(L"PT30S"))});
         },
         L"<null>|", L"", L"PT30S|"},
        {TASK_TRIGGER_BOOT, IID_IBootTrigger,
         [](ITrigger* t) {
             return Str(
                 [&](BSTR* o) { return Query<IBootTrigger>(t, IID_IBootTrigger)->get_Delay(o); });
         },
         [](ITrigger* t) {
             return Refused({Query<IBootTrigger>(t, IID_IBootTrigger)->put_Delay(Arg(L"PT1M"))});
         },
         L"<null>|", L"", L"PT1M|"},
        {TASK_TRIGGER_LOGON, IID_ILogonTrigger,
         [](ITrigger* t) {
             auto logon = Query<ILogonTrigger>(t, IID_ILogonTrigger);
             return Str([&](BSTR* o) { return logon->get_UserId(o); }) +
                    Str([&](BSTR* o) { return logon->get_Delay(o); });
         },
         [](ITrigger* t) {
             auto logon = Query<ILogonTrigger>(t, IID_ILogonTrigger);
             return Refused({logon->put_Delay(Arg(L"PT2M")), logon->put_UserId(Arg(L"user"))});
         },
         L"<null>|<null>|", L"", L"user|PT2M|"},
        {TASK_TRIGGER_EVENT, IID_IEventTrigger,
         [](ITrigger* t) {
             auto event = Query<IEventTrigger>(t, IID_IEventTrigger);
             ComPtr<ITaskNamedValueCollection> queries;
             event->get_ValueQueries(&queries);
             LONG count = 0;
             queries->get_Count(&count);
             std::wstring out = Str([&](BSTR* o) { return event->get_Subscription(o); }) +
                                Str([&](BSTR* o) { return event->get_Delay(o); }) +
                                std::to_wstring(count) + L"|";
             for (LONG i = 1; i <= count; ++i) {
                 ComPtr<ITaskNamedValuePair> pair;
                 queries->get_Item(i, &pair);
                 out += Str([&](BSTR* o) { return pair->get_Name(o); }) +
                        Str([&](BSTR* o) { return pair->get_Value(o); });
             }
             return out;
         },
         [](ITrigger* t) {
             auto event = Query<IEventTrigger>(t, IID_IEventTrigger);
             ComPtr<ITaskNamedValueCollection> queries;
             event->get_ValueQueries(&queries);
             ComPtr<ITaskNamedValuePair> pair;
             return Refused(
                 {event->put_Subscription(Arg(L"<QueryList><Query Id=\"0\"><Select "
                                              L"Path=\"System\">*</Select></Query></QueryList>")),
                  event->put_Delay(Arg(L"PT3M")), queries->Create(Arg(L"x"), Arg(L"y"), nullptr),
                  queries->Create(Arg(L"x"), Arg(L"y"), &pair), queries->Remove(2),
                  queries->Clear(),
                  queries->Create(Arg(L"source"), Arg(L"Event/System/Provider/@Name"), &pair),
                  event->put_ValueQueries(queries.Get())});
         },
         L"<null>|<null>|0|", L"80004003,80070057,",
         L"<QueryList><Query Id=\"0\"><Select Path=\"System\">*</Select></Query></QueryList>|"
         L"PT3M|1|source|Event/System/Provider/@Name|"},
        {TASK_TRIGGER_SESSION_STATE_CHANGE, IID_ISessionStateChangeTrigger,
         [](ITrigger* t) {
             auto session = Query<ISessionStateChangeTrigger>(t, IID_ISessionStateChangeTrigger);
             return Num<int>([&](int* o) {
                        return session->get_StateChange(
                            reinterpret_cast<TASK_SESSION_STATE_CHANGE_TYPE*>(o));
                    }) +
                    Str([&](BSTR* o) { return session->get_UserId(o); }) +
                    Str([&](BSTR* o) { return session->get_Delay(o); });
         },
         [](ITrigger* t) {
             auto session = Query<ISessionStateChangeTrigger>(t, IID_ISessionStateChangeTrigger);
             return Refused(
                 {session->put_StateChange(static_cast<TASK_SESSION_STATE_CHANGE_TYPE>(5)),
                  session->put_StateChange(TASK_SESSION_UNLOCK), session->put_Delay(Arg(L"PT10S")),
                  session->put_UserId(Arg(L"user"))});
         },
         L"0|<null>|<null>|", L"80070057,", L"8|user|PT10S|"},
    };

    ComPtr<ITaskDefinition> definition;
    ASSERT_EQ(S_OK, service_->NewTask(0, &definition));
    ComPtr<ITriggerCollection> triggers;
    ASSERT_EQ(S_OK, definition->get_Triggers(&triggers));
    ComPtr<ITrigger> none;
    EXPECT_EQ(E_INVALIDARG, triggers->Create(static_cast<TASK_TRIGGER_TYPE2>(10), &none));
    EXPECT_EQ(E_POINTER, triggers->Create(TASK_TRIGGER_IDLE, nullptr));
    for (const auto& row : rows) {
        ComPtr<ITrigger> trigger;
        ASSERT_EQ(S_OK, triggers->Create(row.type, &trigger)) << row.type;
        TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
        EXPECT_EQ(S_OK, trigger->get_Type(&type));
        EXPECT_EQ(row.type, type);
        ASSERT_TRUE(Query<IUnknown>(trigger.Get(), row.iid)) << row.type;
        EXPECT_EQ(row.defaults, row.get(trigger.Get())) << row.type;
        EXPECT_EQ(row.refused, row.put(trigger.Get())) << row.type;
        EXPECT_EQ(row.values, row.get(trigger.Get())) << row.type;
    }
    // Settings beside Windows' defaults, and the action a task needs.
    ComPtr<ITaskSettings> settings;
    ASSERT_EQ(S_OK, definition->get_Settings(&settings));
    ASSERT_EQ(S_OK, settings->put_RestartInterval(Arg(L"PT5M")));
    ASSERT_EQ(S_OK, settings->put_RestartCount(3));
    ASSERT_EQ(S_OK, settings->put_DeleteExpiredTaskAfter(Arg(L"P30D")));
    ASSERT_EQ(S_OK, settings->put_StartWhenAvailable(VARIANT_TRUE));
    ASSERT_EQ(S_OK, settings->put_WakeToRun(VARIANT_TRUE));
    ComPtr<IIdleSettings> idle;
    ASSERT_EQ(S_OK, settings->get_IdleSettings(&idle));
    ASSERT_EQ(S_OK, idle->put_IdleDuration(Arg(L"PT20M")));
    ComPtr<IActionCollection> actions;
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec;
    ASSERT_EQ(S_OK, definition->get_Actions(&actions));
    ASSERT_EQ(S_OK, actions->Create(TASK_ACTION_EXEC, &action));
    ASSERT_EQ(S_OK, action.As(&exec));
    ASSERT_EQ(S_OK, exec->put_Path(Arg(L"a.exe")));

    const std::wstring xml = Text([&](BSTR* out) { return definition->get_XmlText(out); });
    const size_t from = xml.find(L"  <Triggers>");
    const size_t to = xml.find(L"  </Triggers>\r\n");
    ASSERT_NE(std::wstring::npos, to);
    EXPECT_EQ(kTriggersXml, xml.substr(from, to + 15 - from));

    ComPtr<ITaskDefinition> copy;
    ASSERT_EQ(S_OK, service_->NewTask(0, &copy));
    ASSERT_EQ(S_OK, copy->put_XmlText(Arg(xml)));
    EXPECT_EQ(xml, Text([&](BSTR* out) { return copy->get_XmlText(out); }));
    ASSERT_EQ(S_OK, copy->get_Triggers(&triggers));
    for (LONG i = 0; i < static_cast<LONG>(ARRAYSIZE(rows)); ++i) {
        ComPtr<ITrigger> trigger;
        ASSERT_EQ(S_OK, triggers->get_Item(i + 1, &trigger));
        EXPECT_EQ(rows[i].values, rows[i].get(trigger.Get())) << rows[i].type;
    }

    Connect();
    VARIANT empty;
    VariantInit(&empty);
    ComPtr<IRegisteredTask> task;
    ASSERT_EQ(S_OK, root_->RegisterTaskDefinition(Arg(L"zbtest triggers"), copy.Get(), TASK_CREATE,
                                                  empty, empty, TASK_LOGON_NONE, empty, &task));
    EXPECT_EQ(xml, Text([&](BSTR* out) { return task->get_Xml(out); }));
    const std::wstring file = MarkerPath(L"zbtest triggers.xml");
    ASSERT_EQ(
        0, Command(L"cmd.exe /c schtasks /query /xml /tn \"zbtest triggers\" > \"" + file + L"\""));
    std::string shown;
    {
        zb::UniqueHandle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(in.Get(), buffer, sizeof(buffer), &got, nullptr) && got)
            shown.append(buffer, got);
    }
    DeleteFileW(file.c_str());
    std::wstring wide(shown.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, shown.data(),
                                                        static_cast<int>(shown.size()), &wide[0],
                                                        static_cast<int>(wide.size()))));
    EXPECT_EQ(xml, wide);
}

} // namespace
