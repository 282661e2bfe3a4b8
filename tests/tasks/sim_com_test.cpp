// The simulated Task Scheduler's COM objects answer as Windows' Task
// Scheduler 2.0 does: the codes, paths and values a caller sees, checked one
// interface at a time.
#include "tasks/tasks_test_support.h"

#include "common/handles.h"

#include <taskschd.h>
#include <wrl/client.h>

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

} // namespace
