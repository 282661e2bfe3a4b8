// The simulated Task Scheduler 2.0 (taskschd.dll for the test prefix): an
// in-process server for CLSID_TaskScheduler whose objects read and write
// the Task XML files of the shared store (task_store.h).
//
// A task definition is its XML tree: every object of a definition (its
// registration info, settings, triggers, actions) edits the one tree, so
// what a program sets is what the store gets, and elements this service
// does not model are kept as they came. Calls it does not model answer
// E_NOTIMPL; none of them pretends to succeed.
#include <windows.h>

#include <initguid.h>

#include <oleauto.h>
#include <taskschd.h>

#include "sim/tasks/task_interfaces.h"
#include "sim/tasks/task_model.h"
#include "sim/tasks/task_runner.h"
#include "sim/tasks/task_store.h"
#include "sim/tasks/task_xml.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace simtasks;

// Errors the real service gives for the same faults.
constexpr HRESULT kSchedMissingNode = static_cast<HRESULT>(0x80041319);    // SCHED_E_MISSINGNODE
constexpr HRESULT kSchedMalformedXml = static_cast<HRESULT>(0x8004131A);   // SCHED_E_MALFORMEDXML
constexpr HRESULT kSchedUnexpectedNode = static_cast<HRESULT>(0x80041316); // SCHED_E_UNEXPECTEDNODE
constexpr HRESULT kSchedNamespace = static_cast<HRESULT>(0x80041317);      // SCHED_E_NAMESPACE
constexpr HRESULT kSchedInvalidValue = static_cast<HRESULT>(0x80041318);   // SCHED_E_INVALIDVALUE
constexpr HRESULT kSchedTaskHasNotRun = static_cast<HRESULT>(0x00041303);
const HRESULT kNotConnected = HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);

LONG g_objects = 0;
LONG g_locks = 0;

HRESULT Win32(DWORD rc) {
    return rc ? HRESULT_FROM_WIN32(rc) : S_OK;
}

// Input text as a NUL-terminated string: callers such as Wine's mstask
// pass plain strings where a BSTR is declared, and they carry no length.
std::wstring In(BSTR text) {
    return text ? std::wstring(text) : std::wstring();
}

HRESULT OutText(const std::wstring& text, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT OutBool(bool value, VARIANT_BOOL* out) {
    if (!out)
        return E_POINTER;
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// A VARIANT argument that carries text, or nothing (empty, null, missing).
bool VariantText(const VARIANT& v, std::wstring* text) {
    text->clear();
    if (v.vt == VT_BSTR) {
        *text = In(v.bstrVal);
        return true;
    }
    return v.vt == VT_EMPTY || v.vt == VT_NULL || v.vt == VT_ERROR;
}

// A VARIANT argument that carries a number of any integer type.
bool VariantNumber(const VARIANT& v, LONG* number) {
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&v), 0, VT_I4)))
        return false;
    *number = converted.lVal;
    return true;
}

// A task document as the service accepts it: well-formed XML (else
// SCHED_E_MALFORMEDXML) that passes the schema checks of CheckTaskXml.
HRESULT ParseTaskXml(const std::wstring& text, XmlPtr* doc) {
    XmlPtr parsed = ParseXml(text, nullptr);
    if (!parsed)
        return kSchedMalformedXml;
    switch (CheckTaskXml(*parsed)) {
    case TaskXmlFault::None:
        break;
    case TaskXmlFault::UnexpectedNode:
        return kSchedUnexpectedNode;
    case TaskXmlFault::Namespace:
        return kSchedNamespace;
    case TaskXmlFault::InvalidValue:
        return kSchedInvalidValue;
    case TaskXmlFault::MissingNode:
        return kSchedMissingNode;
    }
    *doc = parsed;
    return S_OK;
}

// The enumerator of a collection's _NewEnum: its items as VT_DISPATCH.
class VariantEnum : public IEnumVARIANT {
public:
    explicit VariantEnum(std::vector<IDispatch*> items) : items_(std::move(items)) {
        InterlockedIncrement(&g_objects);
    }
    virtual ~VariantEnum() {
        for (IDispatch* item : items_)
            item->Release();
        InterlockedDecrement(&g_objects);
    }
    VariantEnum(const VariantEnum&) = delete;
    VariantEnum& operator=(const VariantEnum&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumVARIANT))
            return E_NOINTERFACE;
        *ppv = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    // At the end it answers S_FALSE with nothing fetched, array or not.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        ULONG got = 0;
        if (pos_ < items_.size() && count > 0) {
            if (!items)
                return E_POINTER;
            while (got < count && pos_ < items_.size()) {
                VariantInit(&items[got]);
                items[got].vt = VT_DISPATCH;
                items[got].pdispVal = items_[pos_++];
                items[got].pdispVal->AddRef();
                ++got;
            }
        }
        if (fetched)
            *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const size_t left = items_.size() - pos_;
        pos_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
        if (!copy)
            return E_POINTER;
        for (IDispatch* item : items_)
            item->AddRef();
        VariantEnum* twin = new VariantEnum(items_);
        twin->pos_ = pos_;
        *copy = twin;
        return S_OK;
    }

private:
    std::vector<IDispatch*> items_;
    size_t pos_ = 0;
    LONG refs_ = 1;
};

// IUnknown and IDispatch for every object; late binding is not offered.
class NodeRef;

// Asked of an object to learn whether this module made it (see PartOf).
const IID kOwnObject = {
    0x5a1b0e27, 0x3c4d, 0x4f6e, {0x9a, 0x21, 0x7d, 0x10, 0x4b, 0x8e, 0x62, 0x5c}};

template <typename I> class ComObject : public I {
public:
    ComObject() { InterlockedIncrement(&g_objects); }
    virtual ~ComObject() { InterlockedDecrement(&g_objects); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, kOwnObject) && !Implements(riid))
            return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

protected:
    virtual bool Implements(REFIID riid) const = 0;

public:
    // The part of a definition's tree this object edits, if it is one.
    virtual const NodeRef* Part() const { return nullptr; }

private:
    LONG refs_ = 1;
};

// Hands a new object (reference count 1) to an out-parameter.
template <typename I, typename T> HRESULT Give(T* object, I** out) {
    if (!out) {
        object->Release();
        return E_POINTER;
    }
    *out = object;
    return S_OK;
}

// An element of a definition's tree, reached from the tree's root by a
// path (created on first use), or held directly (triggers, actions).
class NodeRef {
public:
    NodeRef(XmlPtr base, const wchar_t* path) : base_(std::move(base)), path_(path) {}

    // The element, created with the ones above it when missing (for writing).
    XmlNode& Node() const {
        XmlNode* at = base_.get();
        size_t pos = 0;
        while (pos < path_.size()) {
            size_t slash = path_.find(L'/', pos);
            if (slash == std::wstring::npos)
                slash = path_.size();
            at = EnsureChild(*at, path_.substr(pos, slash - pos).c_str()).get();
            pos = slash + 1;
        }
        return *at;
    }
    // The element, or null: reading never adds to the document, so what was
    // put in comes out unchanged.
    // The text of a child element, or fallback; reads without adding.
    std::wstring ReadText(const wchar_t* child, const wchar_t* fallback) const {
        const XmlNode* node = Find();
        return node ? PathText(*node, child, fallback) : fallback;
    }
    HRESULT GetTextOf(const wchar_t* child, BSTR* out) const {
        return GetText(child, nullptr, out);
    }
    HRESULT PutTextOf(const wchar_t* child, BSTR value) const { return PutText(child, value); }
    const XmlNode* Find() const {
        return path_.empty() ? base_.get() : HasPath(*base_, path_.c_str()) ? &Walk() : nullptr;
    }

protected:
    // A value that is not in the document reads as its default; one without
    // a default (fallback null) reads as a null string, as on Windows.
    HRESULT GetText(const wchar_t* child, const wchar_t* fallback, BSTR* out) const {
        if (!out)
            return E_POINTER;
        const XmlNode* node = Find();
        if (node && HasPath(*node, child))
            return OutText(PathText(*node, child), out);
        if (!fallback) {
            *out = nullptr;
            return S_OK;
        }
        return OutText(fallback, out);
    }
    // A null or empty text removes the element: the value is unset again.
    HRESULT PutText(const wchar_t* child, BSTR value) const {
        if (!value || !value[0])
            RemoveChild(Node(), child);
        else
            SetPathText(Node(), child, In(value));
        return S_OK;
    }
    HRESULT GetBool(const wchar_t* child, bool fallback, VARIANT_BOOL* out) const {
        const XmlNode* node = Find();
        return OutBool(node ? PathBool(*node, child, fallback) : fallback, out);
    }
    HRESULT PutBool(const wchar_t* child, VARIANT_BOOL value) const {
        SetPathBool(Node(), child, value != VARIANT_FALSE);
        return S_OK;
    }
    HRESULT GetAttr(const wchar_t* name, BSTR* out) const {
        if (!out)
            return E_POINTER;
        const XmlNode* node = Find();
        const wchar_t* value = node ? node->Attribute(name) : nullptr;
        if (!value) {
            *out = nullptr;
            return S_OK;
        }
        return OutText(value, out);
    }
    HRESULT PutAttr(const wchar_t* name, BSTR value) const {
        if (value && value[0]) {
            Node().SetAttribute(name, In(value));
            return S_OK;
        }
        if (XmlNode* node = const_cast<XmlNode*>(Find())) {
            auto& attrs = node->attributes;
            for (auto it = attrs.begin(); it != attrs.end(); ++it) {
                if (it->first == name) {
                    attrs.erase(it);
                    break;
                }
            }
        }
        return S_OK;
    }

    XmlPtr base_;
    std::wstring path_;

private:
    XmlNode& Walk() const {
        XmlNode* at = base_.get();
        size_t pos = 0;
        while (pos < path_.size()) {
            size_t slash = path_.find(L'/', pos);
            if (slash == std::wstring::npos)
                slash = path_.size();
            at = Child(*at, path_.substr(pos, slash - pos).c_str()).get();
            pos = slash + 1;
        }
        return *at;
    }
};

#define TEXT_PROPERTY(Prop, child, fallback)                                                       \
    HRESULT STDMETHODCALLTYPE get_##Prop(BSTR* value) override {                                   \
        return GetText(child, fallback, value);                                                    \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Prop(BSTR value) override {                                    \
        return PutText(child, value);                                                              \
    }

#define BOOL_PROPERTY(Prop, child, fallback)                                                       \
    HRESULT STDMETHODCALLTYPE get_##Prop(VARIANT_BOOL* value) override {                           \
        return GetBool(child, fallback, value);                                                    \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Prop(VARIANT_BOOL value) override {                            \
        return PutBool(child, value);                                                              \
    }

#define NOTIMPL_PROPERTY(Prop, GetType, PutType)                                                   \
    HRESULT STDMETHODCALLTYPE get_##Prop(GetType) override {                                       \
        return E_NOTIMPL;                                                                          \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Prop(PutType) override {                                       \
        return E_NOTIMPL;                                                                          \
    }

// ---- Definition parts ------------------------------------------------------------

class RegistrationInfo : public ComObject<IRegistrationInfo>, NodeRef {
public:
    const NodeRef* Part() const override { return this; }
    explicit RegistrationInfo(XmlPtr root) : NodeRef(std::move(root), L"RegistrationInfo") {}
    TEXT_PROPERTY(Description, L"Description", nullptr)
    TEXT_PROPERTY(Author, L"Author", nullptr)
    TEXT_PROPERTY(Version, L"Version", nullptr)
    TEXT_PROPERTY(Date, L"Date", nullptr)
    TEXT_PROPERTY(Documentation, L"Documentation", nullptr)
    TEXT_PROPERTY(URI, L"URI", nullptr)
    TEXT_PROPERTY(Source, L"Source", nullptr)
    NOTIMPL_PROPERTY(XmlText, BSTR*, BSTR)
    NOTIMPL_PROPERTY(SecurityDescriptor, VARIANT*, VARIANT)

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IRegistrationInfo); }
};

// The position of text in a table of an enumeration's names; fallback when
// it is not there.
template <size_t N>
int IndexOfName(const std::wstring& text, const wchar_t* const (&names)[N], int fallback) {
    for (size_t i = 0; i < N; ++i) {
        if (text == names[i])
            return static_cast<int>(i);
    }
    return fallback;
}

const wchar_t* const kLogonTypes[] = {L"None",
                                      L"Password",
                                      L"S4U",
                                      L"InteractiveToken",
                                      L"Group",
                                      L"ServiceAccount",
                                      L"InteractiveTokenOrPassword"};

std::wstring LogonTypeText(TASK_LOGON_TYPE type) {
    return type >= 0 && type < static_cast<int>(ARRAYSIZE(kLogonTypes)) ? kLogonTypes[type] : L"";
}

class Principal : public ComObject<IPrincipal>, NodeRef {
public:
    const NodeRef* Part() const override { return this; }
    explicit Principal(XmlPtr root) : NodeRef(std::move(root), L"Principals/Principal") {}
    HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) override { return GetAttr(L"id", id); }
    HRESULT STDMETHODCALLTYPE put_Id(BSTR id) override { return PutAttr(L"id", id); }
    TEXT_PROPERTY(DisplayName, L"DisplayName", nullptr)
    TEXT_PROPERTY(UserId, L"UserId", nullptr)
    TEXT_PROPERTY(GroupId, L"GroupId", nullptr)
    HRESULT STDMETHODCALLTYPE get_LogonType(TASK_LOGON_TYPE* logon) override {
        if (!logon)
            return E_POINTER;
        const std::wstring text = ReadText(L"LogonType", L"");
        *logon = static_cast<TASK_LOGON_TYPE>(IndexOfName(text, kLogonTypes, TASK_LOGON_NONE));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_LogonType(TASK_LOGON_TYPE logon) override {
        const std::wstring text = LogonTypeText(logon);
        if (text.empty())
            return E_INVALIDARG;
        SetPathText(Node(), L"LogonType", text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_RunLevel(TASK_RUNLEVEL_TYPE* level) override {
        if (!level)
            return E_POINTER;
        *level = ReadText(L"RunLevel", L"") == L"HighestAvailable" ? TASK_RUNLEVEL_HIGHEST
                                                                   : TASK_RUNLEVEL_LUA;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_RunLevel(TASK_RUNLEVEL_TYPE level) override {
        SetPathText(Node(), L"RunLevel",
                    level == TASK_RUNLEVEL_HIGHEST ? L"HighestAvailable" : L"LeastPrivilege");
        return S_OK;
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IPrincipal); }
};

class IdleSettings : public ComObject<IIdleSettings>, NodeRef {
public:
    explicit IdleSettings(XmlPtr root) : NodeRef(std::move(root), L"Settings/IdleSettings") {}
    TEXT_PROPERTY(IdleDuration, L"Duration", L"PT10M")
    TEXT_PROPERTY(WaitTimeout, L"WaitTimeout", L"PT1H")
    BOOL_PROPERTY(StopOnIdleEnd, L"StopOnIdleEnd", true)
    BOOL_PROPERTY(RestartOnIdle, L"RestartOnIdle", false)

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IIdleSettings); }
};

const wchar_t* const kInstancePolicies[] = {L"Parallel", L"Queue", L"IgnoreNew", L"StopExisting"};

class TaskSettings : public ComObject<ITaskSettings>, NodeRef {
public:
    const NodeRef* Part() const override { return this; }
    explicit TaskSettings(XmlPtr root) : NodeRef(root, L"Settings"), root_(std::move(root)) {}
    BOOL_PROPERTY(AllowDemandStart, L"AllowStartOnDemand", true)
    BOOL_PROPERTY(StopIfGoingOnBatteries, L"StopIfGoingOnBatteries", true)
    BOOL_PROPERTY(DisallowStartIfOnBatteries, L"DisallowStartIfOnBatteries", true)
    BOOL_PROPERTY(AllowHardTerminate, L"AllowHardTerminate", true)
    BOOL_PROPERTY(StartWhenAvailable, L"StartWhenAvailable", false)
    BOOL_PROPERTY(RunOnlyIfNetworkAvailable, L"RunOnlyIfNetworkAvailable", false)
    BOOL_PROPERTY(Enabled, L"Enabled", true)
    BOOL_PROPERTY(Hidden, L"Hidden", false)
    BOOL_PROPERTY(RunOnlyIfIdle, L"RunOnlyIfIdle", false)
    BOOL_PROPERTY(WakeToRun, L"WakeToRun", false)
    TEXT_PROPERTY(ExecutionTimeLimit, L"ExecutionTimeLimit", L"PT72H")
    TEXT_PROPERTY(DeleteExpiredTaskAfter, L"DeleteExpiredTaskAfter", nullptr)
    // RestartOnFailure holds the interval and the count; it goes when both do.
    HRESULT STDMETHODCALLTYPE get_RestartInterval(BSTR* interval) override {
        return GetText(L"RestartOnFailure/Interval", nullptr, interval);
    }
    HRESULT STDMETHODCALLTYPE put_RestartInterval(BSTR interval) override {
        return PutRestart(L"Interval", interval && interval[0] ? In(interval) : L"");
    }
    HRESULT STDMETHODCALLTYPE get_RestartCount(INT* count) override {
        if (!count)
            return E_POINTER;
        *count = _wtoi(ReadText(L"RestartOnFailure/Count", L"0").c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_RestartCount(INT count) override {
        if (count < 0)
            return E_INVALIDARG;
        return PutRestart(L"Count", count ? std::to_wstring(count) : L"");
    }
    NOTIMPL_PROPERTY(XmlText, BSTR*, BSTR)
    NOTIMPL_PROPERTY(NetworkSettings, INetworkSettings**, INetworkSettings*)

    HRESULT STDMETHODCALLTYPE get_MultipleInstances(TASK_INSTANCES_POLICY* policy) override {
        if (!policy)
            return E_POINTER;
        const std::wstring text = ReadText(L"MultipleInstancesPolicy", L"IgnoreNew");
        *policy = static_cast<TASK_INSTANCES_POLICY>(
            IndexOfName(text, kInstancePolicies, TASK_INSTANCES_IGNORE_NEW));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_MultipleInstances(TASK_INSTANCES_POLICY policy) override {
        if (policy < 0 || policy >= static_cast<int>(ARRAYSIZE(kInstancePolicies)))
            return E_INVALIDARG;
        SetPathText(Node(), L"MultipleInstancesPolicy", kInstancePolicies[policy]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Priority(INT* priority) override {
        if (!priority)
            return E_POINTER;
        *priority = _wtoi(ReadText(L"Priority", L"7").c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Priority(INT priority) override {
        if (priority < 0 || priority > 10)
            return E_INVALIDARG;
        SetPathText(Node(), L"Priority", std::to_wstring(priority));
        return S_OK;
    }
    // The compatibility level is the document's schema version.
    HRESULT STDMETHODCALLTYPE get_Compatibility(TASK_COMPATIBILITY* level) override {
        if (!level)
            return E_POINTER;
        const wchar_t* version = root_->Attribute(L"version");
        const std::wstring text = version ? version : L"1.2";
        *level = static_cast<TASK_COMPATIBILITY>(text.size() > 2 ? _wtoi(text.c_str() + 2) : 2);
        return S_OK;
    }
    // Schema 1.0 is AT, 1.1 Task Scheduler 1.0, 1.2 Vista, up to 1.6 (V2_4).
    HRESULT STDMETHODCALLTYPE put_Compatibility(TASK_COMPATIBILITY level) override {
        if (level < TASK_COMPATIBILITY_AT || level > 6)
            return E_INVALIDARG;
        root_->SetAttribute(L"version", L"1." + std::to_wstring(static_cast<int>(level)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IdleSettings(IIdleSettings** settings) override {
        return Give(new IdleSettings(root_), settings);
    }
    HRESULT STDMETHODCALLTYPE put_IdleSettings(IIdleSettings*) override { return E_NOTIMPL; }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_ITaskSettings); }

private:
    HRESULT PutRestart(const wchar_t* child, const std::wstring& value) {
        XmlNode& restart = *EnsureChild(Node(), L"RestartOnFailure");
        if (value.empty())
            RemoveChild(restart, child);
        else
            SetPathText(restart, child, value);
        if (restart.children.empty())
            RemoveChild(Node(), L"RestartOnFailure");
        return S_OK;
    }

    XmlPtr root_;
};

// ---- Triggers --------------------------------------------------------------------

// A calendar trigger is one element whose schedule child says which kind it is.
struct TriggerKind {
    TASK_TRIGGER_TYPE2 type;
    const wchar_t* element;
    const wchar_t* schedule;
};
const TriggerKind kTriggerKinds[] = {
    {TASK_TRIGGER_EVENT, L"EventTrigger", nullptr},
    {TASK_TRIGGER_TIME, L"TimeTrigger", nullptr},
    {TASK_TRIGGER_DAILY, L"CalendarTrigger", L"ScheduleByDay"},
    {TASK_TRIGGER_WEEKLY, L"CalendarTrigger", L"ScheduleByWeek"},
    {TASK_TRIGGER_MONTHLY, L"CalendarTrigger", L"ScheduleByMonth"},
    {TASK_TRIGGER_MONTHLYDOW, L"CalendarTrigger", L"ScheduleByMonthDayOfWeek"},
    {TASK_TRIGGER_IDLE, L"IdleTrigger", nullptr},
    {TASK_TRIGGER_REGISTRATION, L"RegistrationTrigger", nullptr},
    {TASK_TRIGGER_BOOT, L"BootTrigger", nullptr},
    {TASK_TRIGGER_LOGON, L"LogonTrigger", nullptr},
    {TASK_TRIGGER_SESSION_STATE_CHANGE, L"SessionStateChangeTrigger", nullptr},
};

// A calendar element without a schedule reads as a daily trigger.
const TriggerKind* KindOf(const XmlNode& node) {
    const TriggerKind* found = nullptr;
    for (const TriggerKind& kind : kTriggerKinds) {
        if (node.name != kind.element)
            continue;
        if (!found)
            found = &kind;
        if (kind.schedule && Child(node, kind.schedule))
            return &kind;
    }
    return found;
}

// Copies a part taken from an object of this service into the tree at path;
// other implementations' objects are not read.
template <typename I> HRESULT CopyPart(I* object, const XmlPtr& root, const wchar_t* path) {
    if (!object)
        return E_POINTER;
    void* own = nullptr;
    if (FAILED(object->QueryInterface(kOwnObject, &own)))
        return E_NOTIMPL;
    ComObject<I>* ours = static_cast<ComObject<I>*>(own);
    const NodeRef* part = ours->Part();
    ours->Release();
    if (!part)
        return E_NOTIMPL;
    NodeRef target(root, path);
    const XmlNode* from = part->Find();
    if (from == target.Find())
        return S_OK;
    XmlPtr copy = from ? CloneXml(*from) : nullptr;
    XmlNode& into = target.Node();
    if (copy) {
        into = *copy;
    } else {
        into.children.clear();
        into.attributes.clear();
        into.text.clear();
    }
    return S_OK;
}

// The child elements of one element as a COM collection, counted from 1.
template <typename I, typename Item, Item* (*Make)(const XmlPtr&)>
class ChildList : public ComObject<I>, protected NodeRef {
public:
    const NodeRef* Part() const override { return this; }
    ChildList(XmlPtr root, const wchar_t* path) : NodeRef(std::move(root), path) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count)
            return E_POINTER;
        const XmlNode* node = Find();
        *count = node ? static_cast<LONG>(node->children.size()) : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, Item** item) override {
        if (!item)
            return E_POINTER;
        const XmlNode* node = Find();
        if (!node || index < 1 || static_cast<size_t>(index) > node->children.size())
            return E_INVALIDARG;
        return Give(Make(node->children[index - 1]), item);
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** items) override {
        if (!items)
            return E_POINTER;
        std::vector<IDispatch*> list;
        if (const XmlNode* node = Find()) {
            for (const auto& child : node->children)
                list.push_back(Make(child));
        }
        return Give(new VariantEnum(std::move(list)), items);
    }

protected:
    // Appends a new, empty child element and hands out its object.
    HRESULT Append(const wchar_t* element, Item** item) {
        auto node = std::make_shared<XmlNode>();
        node->name = element;
        return Append(node, item);
    }
    HRESULT Append(const XmlPtr& node, Item** item) {
        XmlNode& parent = Node();
        parent.text.clear();
        parent.children.push_back(node);
        return Give(Make(node), item);
    }
};

class RepetitionPattern : public ComObject<IRepetitionPattern>, NodeRef {
public:
    const NodeRef* Part() const override { return this; }
    explicit RepetitionPattern(XmlPtr trigger) : NodeRef(std::move(trigger), L"Repetition") {}
    TEXT_PROPERTY(Interval, L"Interval", nullptr)
    TEXT_PROPERTY(Duration, L"Duration", nullptr)
    BOOL_PROPERTY(StopAtDurationEnd, L"StopAtDurationEnd", false)

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IRepetitionPattern); }
};

// A set of flags as the schedule writes it: each flag an empty element
// named for it (<Months><May /></Months>), or, with an item name, an element
// holding its name as text (<DaysOfMonth><Day>5</Day></DaysOfMonth>). Flag i
// is names[i]; the elements are written in that order.
struct FlagSet {
    const wchar_t* container;
    const wchar_t* item;
    const wchar_t* const* names;
    int count;
};

const wchar_t* const kDayNames[] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                    L"Thursday", L"Friday", L"Saturday"};
const wchar_t* const kMonthNames[] = {L"January",   L"February", L"March",    L"April",
                                      L"May",       L"June",     L"July",     L"August",
                                      L"September", L"October",  L"November", L"December"};
// The last of each list is "Last": the last day or week of the month.
const wchar_t* const kMonthDayNames[] = {L"1",  L"2",  L"3",  L"4",  L"5",  L"6",  L"7",  L"8",
                                         L"9",  L"10", L"11", L"12", L"13", L"14", L"15", L"16",
                                         L"17", L"18", L"19", L"20", L"21", L"22", L"23", L"24",
                                         L"25", L"26", L"27", L"28", L"29", L"30", L"31", L"Last"};
const wchar_t* const kWeekNames[] = {L"1", L"2", L"3", L"4", L"Last"};

const FlagSet kDaysOfWeek = {L"DaysOfWeek", nullptr, kDayNames, ARRAYSIZE(kDayNames)};
const FlagSet kMonths = {L"Months", nullptr, kMonthNames, ARRAYSIZE(kMonthNames)};
const FlagSet kDaysOfMonth = {L"DaysOfMonth", L"Day", kMonthDayNames, ARRAYSIZE(kMonthDayNames)};
const FlagSet kWeeks = {L"Weeks", L"Week", kWeekNames, ARRAYSIZE(kWeekNames)};

DWORD ReadFlags(const XmlNode* schedule, const FlagSet& set) {
    DWORD flags = 0;
    XmlPtr container = schedule ? Child(*schedule, set.container) : nullptr;
    if (!container)
        return 0;
    for (const auto& child : container->children) {
        const std::wstring& key = set.item ? child->text : child->name;
        for (int i = 0; i < set.count; ++i) {
            if (key == set.names[i])
                flags |= 1u << i;
        }
    }
    return flags;
}

// No flag set removes the container.
void WriteFlags(XmlNode& schedule, const FlagSet& set, DWORD flags) {
    if (!flags) {
        RemoveChild(schedule, set.container);
        return;
    }
    XmlNode& container = *EnsureChild(schedule, set.container);
    container.children.clear();
    container.text.clear();
    for (int i = 0; i < set.count; ++i) {
        if (!(flags & (1u << i)))
            continue;
        auto item = std::make_shared<XmlNode>();
        item->name = set.item ? set.item : set.names[i];
        if (set.item)
            item->text = set.names[i];
        container.children.push_back(item);
    }
}

const struct {
    simtasks::TASK_SESSION_STATE_CHANGE_TYPE type;
    const wchar_t* name;
} kStateChanges[] = {
    {simtasks::TASK_CONSOLE_CONNECT, L"ConsoleConnect"},
    {simtasks::TASK_CONSOLE_DISCONNECT, L"ConsoleDisconnect"},
    {simtasks::TASK_REMOTE_CONNECT, L"RemoteConnect"},
    {simtasks::TASK_REMOTE_DISCONNECT, L"RemoteDisconnect"},
    {simtasks::TASK_SESSION_LOCK, L"SessionLock"},
    {simtasks::TASK_SESSION_UNLOCK, L"SessionUnlock"},
};

// The parts every trigger shares, on the trigger's own element; own is the
// interface of the trigger's kind.
template <typename I> class TriggerBase : public ComObject<I>, protected NodeRef {
public:
    TriggerBase(XmlPtr node, const IID& own) : NodeRef(std::move(node), L""), own_(own) {}

    HRESULT STDMETHODCALLTYPE get_Type(TASK_TRIGGER_TYPE2* type) override {
        if (!type)
            return E_POINTER;
        const TriggerKind* kind = KindOf(*base_);
        *type = kind ? kind->type : TASK_TRIGGER_EVENT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) override { return GetAttr(L"id", id); }
    HRESULT STDMETHODCALLTYPE put_Id(BSTR id) override { return PutAttr(L"id", id); }
    HRESULT STDMETHODCALLTYPE get_Repetition(IRepetitionPattern** repeat) override {
        return Give(new RepetitionPattern(base_), repeat);
    }
    HRESULT STDMETHODCALLTYPE put_Repetition(IRepetitionPattern* repeat) override {
        return CopyPart(repeat, base_, L"Repetition");
    }
    TEXT_PROPERTY(ExecutionTimeLimit, L"ExecutionTimeLimit", nullptr)
    TEXT_PROPERTY(StartBoundary, L"StartBoundary", nullptr)
    TEXT_PROPERTY(EndBoundary, L"EndBoundary", nullptr)
    BOOL_PROPERTY(Enabled, L"Enabled", true)

protected:
    bool Implements(REFIID riid) const override {
        return IsEqualIID(riid, IID_ITrigger) || IsEqualIID(riid, own_);
    }

    // A calendar trigger's numbers and flag sets, in its schedule element.
    HRESULT GetNumber(const wchar_t* path, const wchar_t* fallback, short* out) const {
        if (!out)
            return E_POINTER;
        *out = static_cast<short>(_wtoi(ReadText(path, fallback).c_str()));
        return S_OK;
    }
    // An interval is at least 1; a refused one leaves the value as it was.
    HRESULT PutInterval(const wchar_t* path, short value) const {
        if (value < 1)
            return E_INVALIDARG;
        SetPathText(Node(), path, std::to_wstring(value));
        return S_OK;
    }
    template <typename T>
    HRESULT GetFlags(const wchar_t* schedule, const FlagSet& set, DWORD mask, T* out) const {
        if (!out)
            return E_POINTER;
        const XmlNode* node = Find();
        XmlPtr at = node ? Child(*node, schedule) : nullptr;
        *out = static_cast<T>(ReadFlags(at.get(), set) & mask);
        return S_OK;
    }
    // Flags outside mask are refused; those mask does not cover are kept.
    HRESULT PutFlags(const wchar_t* schedule, const FlagSet& set, DWORD mask, LONG value) const {
        const DWORD flags = static_cast<DWORD>(value);
        if (value < 0 || (flags & ~mask))
            return E_INVALIDARG;
        XmlNode& at = *EnsureChild(Node(), schedule);
        WriteFlags(at, set, (ReadFlags(&at, set) & ~mask) | flags);
        return S_OK;
    }

    HRESULT GetFlag(const wchar_t* schedule, const FlagSet& set, DWORD flag,
                    VARIANT_BOOL* out) const {
        DWORD flags = 0;
        GetFlags(schedule, set, flag, &flags);
        return OutBool(flags != 0, out);
    }
    HRESULT PutFlag(const wchar_t* schedule, const FlagSet& set, DWORD flag,
                    VARIANT_BOOL on) const {
        XmlNode& at = *EnsureChild(Node(), schedule);
        const DWORD flags = ReadFlags(&at, set);
        WriteFlags(at, set, on != VARIANT_FALSE ? flags | flag : flags & ~flag);
        return S_OK;
    }

private:
    const IID& own_;
};

// A calendar trigger's properties: a number of days or weeks (1 unless
// set), the flags of mask in a flag set, one flag of a set as a boolean.
#define INTERVAL_PROPERTY(Prop, path)                                                              \
    HRESULT STDMETHODCALLTYPE get_##Prop(short* value) override {                                  \
        return GetNumber(path, L"1", value);                                                       \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Prop(short value) override {                                   \
        return PutInterval(path, value);                                                           \
    }

#define FLAGS_PROPERTY(Prop, Type, schedule, set, mask)                                            \
    HRESULT STDMETHODCALLTYPE get_##Prop(Type* value) override {                                   \
        return GetFlags(schedule, set, mask, value);                                               \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Prop(Type value) override {                                    \
        return PutFlags(schedule, set, mask, value);                                               \
    }

#define FLAG_PROPERTY(Prop, schedule, set, flag)                                                   \
    HRESULT STDMETHODCALLTYPE get_##Prop(VARIANT_BOOL* value) override {                           \
        return GetFlag(schedule, set, flag, value);                                                \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##Prop(VARIANT_BOOL value) override {                            \
        return PutFlag(schedule, set, flag, value);                                                \
    }

class Trigger : public TriggerBase<ITrigger> {
public:
    explicit Trigger(XmlPtr node) : TriggerBase(std::move(node), IID_ITrigger) {}
};

class TimeTrigger : public TriggerBase<ITimeTrigger> {
public:
    explicit TimeTrigger(XmlPtr node) : TriggerBase(std::move(node), IID_ITimeTrigger) {}
    TEXT_PROPERTY(RandomDelay, L"RandomDelay", nullptr)
};

class DailyTrigger : public TriggerBase<IDailyTrigger> {
public:
    explicit DailyTrigger(XmlPtr node) : TriggerBase(std::move(node), IID_IDailyTrigger) {}
    INTERVAL_PROPERTY(DaysInterval, L"ScheduleByDay/DaysInterval")
    TEXT_PROPERTY(RandomDelay, L"RandomDelay", nullptr)
};

class WeeklyTrigger : public TriggerBase<simtasks::IWeeklyTrigger> {
public:
    explicit WeeklyTrigger(XmlPtr node)
        : TriggerBase(std::move(node), simtasks::IID_IWeeklyTrigger) {}
    FLAGS_PROPERTY(DaysOfWeek, short, L"ScheduleByWeek", kDaysOfWeek, 0x7F)
    INTERVAL_PROPERTY(WeeksInterval, L"ScheduleByWeek/WeeksInterval")
    TEXT_PROPERTY(RandomDelay, L"RandomDelay", nullptr)
};

// Days 1 to 31 are flags 0 to 30; flag 31 is the last day of the month.
class MonthlyTrigger : public TriggerBase<simtasks::IMonthlyTrigger> {
public:
    explicit MonthlyTrigger(XmlPtr node)
        : TriggerBase(std::move(node), simtasks::IID_IMonthlyTrigger) {}
    FLAGS_PROPERTY(DaysOfMonth, long, L"ScheduleByMonth", kDaysOfMonth, 0x7FFFFFFF)
    FLAGS_PROPERTY(MonthsOfYear, short, L"ScheduleByMonth", kMonths, 0xFFF)
    FLAG_PROPERTY(RunOnLastDayOfMonth, L"ScheduleByMonth", kDaysOfMonth, 0x80000000u)
    TEXT_PROPERTY(RandomDelay, L"RandomDelay", nullptr)
};

// Weeks 1 to 4 are flags 0 to 3; flag 4 is the last week of the month.
class MonthlyDowTrigger : public TriggerBase<simtasks::IMonthlyDOWTrigger> {
public:
    explicit MonthlyDowTrigger(XmlPtr node)
        : TriggerBase(std::move(node), simtasks::IID_IMonthlyDOWTrigger) {}
    FLAGS_PROPERTY(DaysOfWeek, short, kSchedule, kDaysOfWeek, 0x7F)
    FLAGS_PROPERTY(WeeksOfMonth, short, kSchedule, kWeeks, 0xF)
    FLAGS_PROPERTY(MonthsOfYear, short, kSchedule, kMonths, 0xFFF)
    FLAG_PROPERTY(RunOnLastWeekOfMonth, kSchedule, kWeeks, 0x10)
    TEXT_PROPERTY(RandomDelay, L"RandomDelay", nullptr)

private:
    static constexpr const wchar_t* kSchedule = L"ScheduleByMonthDayOfWeek";
};

class IdleTrigger : public TriggerBase<simtasks::IIdleTrigger> {
public:
    explicit IdleTrigger(XmlPtr node) : TriggerBase(std::move(node), simtasks::IID_IIdleTrigger) {}
};

class RegistrationTrigger : public TriggerBase<simtasks::IRegistrationTrigger> {
public:
    explicit RegistrationTrigger(XmlPtr node)
        : TriggerBase(std::move(node), simtasks::IID_IRegistrationTrigger) {}
    TEXT_PROPERTY(Delay, L"Delay", nullptr)
};

class LogonTrigger : public TriggerBase<simtasks::ILogonTrigger> {
public:
    explicit LogonTrigger(XmlPtr node)
        : TriggerBase(std::move(node), simtasks::IID_ILogonTrigger) {}
    TEXT_PROPERTY(Delay, L"Delay", nullptr)
    TEXT_PROPERTY(UserId, L"UserId", nullptr)
};

class BootTrigger : public TriggerBase<simtasks::IBootTrigger> {
public:
    explicit BootTrigger(XmlPtr node) : TriggerBase(std::move(node), simtasks::IID_IBootTrigger) {}
    TEXT_PROPERTY(Delay, L"Delay", nullptr)
};

class SessionStateChangeTrigger : public TriggerBase<simtasks::ISessionStateChangeTrigger> {
public:
    explicit SessionStateChangeTrigger(XmlPtr node)
        : TriggerBase(std::move(node), simtasks::IID_ISessionStateChangeTrigger) {}
    TEXT_PROPERTY(Delay, L"Delay", nullptr)
    TEXT_PROPERTY(UserId, L"UserId", nullptr)
    // Unset reads as 0, which names no change.
    HRESULT STDMETHODCALLTYPE
    get_StateChange(simtasks::TASK_SESSION_STATE_CHANGE_TYPE* type) override {
        if (!type)
            return E_POINTER;
        const std::wstring text = ReadText(L"StateChange", L"");
        *type = static_cast<simtasks::TASK_SESSION_STATE_CHANGE_TYPE>(0);
        for (const auto& change : kStateChanges) {
            if (text == change.name)
                *type = change.type;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    put_StateChange(simtasks::TASK_SESSION_STATE_CHANGE_TYPE type) override {
        for (const auto& change : kStateChanges) {
            if (type == change.type) {
                SetPathText(Node(), L"StateChange", change.name);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }
};

// One named value of an event trigger: <Value name="...">text</Value>.
class NamedValuePair : public ComObject<simtasks::ITaskNamedValuePair>, NodeRef {
public:
    explicit NamedValuePair(XmlPtr node) : NodeRef(std::move(node), L"") {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override { return GetAttr(L"name", name); }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override { return PutAttr(L"name", name); }
    HRESULT STDMETHODCALLTYPE get_Value(BSTR* value) override {
        return OutText(base_->text, value);
    }
    HRESULT STDMETHODCALLTYPE put_Value(BSTR value) override {
        base_->children.clear();
        base_->text = In(value);
        return S_OK;
    }

protected:
    bool Implements(REFIID riid) const override {
        return IsEqualIID(riid, simtasks::IID_ITaskNamedValuePair);
    }
};

simtasks::ITaskNamedValuePair* MakeNamedValue(const XmlPtr& node) {
    return new NamedValuePair(node);
}

// An event trigger's value queries; the element goes with the last of them.
class NamedValueCollection : public ChildList<simtasks::ITaskNamedValueCollection,
                                              simtasks::ITaskNamedValuePair, MakeNamedValue> {
public:
    explicit NamedValueCollection(XmlPtr trigger)
        : ChildList(std::move(trigger), L"ValueQueries") {}

    HRESULT STDMETHODCALLTYPE Create(BSTR name, BSTR value,
                                     simtasks::ITaskNamedValuePair** pair) override {
        if (!pair)
            return E_POINTER;
        auto node = std::make_shared<XmlNode>();
        node->name = L"Value";
        node->SetAttribute(L"name", In(name));
        node->text = In(value);
        return Append(node, pair);
    }
    HRESULT STDMETHODCALLTYPE Remove(LONG index) override {
        XmlNode* node = const_cast<XmlNode*>(Find());
        if (!node || index < 1 || static_cast<size_t>(index) > node->children.size())
            return E_INVALIDARG;
        node->children.erase(node->children.begin() + (index - 1));
        if (node->children.empty())
            RemoveChild(*base_, L"ValueQueries");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        RemoveChild(*base_, L"ValueQueries");
        return S_OK;
    }

protected:
    bool Implements(REFIID riid) const override {
        return IsEqualIID(riid, simtasks::IID_ITaskNamedValueCollection);
    }
};

class EventTrigger : public TriggerBase<simtasks::IEventTrigger> {
public:
    explicit EventTrigger(XmlPtr node)
        : TriggerBase(std::move(node), simtasks::IID_IEventTrigger) {}
    TEXT_PROPERTY(Subscription, L"Subscription", nullptr)
    TEXT_PROPERTY(Delay, L"Delay", nullptr)
    HRESULT STDMETHODCALLTYPE
    get_ValueQueries(simtasks::ITaskNamedValueCollection** queries) override {
        return Give(new NamedValueCollection(base_), queries);
    }
    HRESULT STDMETHODCALLTYPE
    put_ValueQueries(simtasks::ITaskNamedValueCollection* queries) override {
        const HRESULT hr = CopyPart(queries, base_, L"ValueQueries");
        if (SUCCEEDED(hr) && Find() && !HasPath(*base_, L"ValueQueries/Value"))
            RemoveChild(*base_, L"ValueQueries");
        return hr;
    }
};

ITrigger* MakeTrigger(const XmlPtr& node) {
    const TriggerKind* kind = KindOf(*node);
    switch (kind ? kind->type : TASK_TRIGGER_EVENT) {
    case TASK_TRIGGER_EVENT:
        return kind ? static_cast<ITrigger*>(new EventTrigger(node)) : new Trigger(node);
    case TASK_TRIGGER_TIME:
        return new TimeTrigger(node);
    case TASK_TRIGGER_DAILY:
        return new DailyTrigger(node);
    case TASK_TRIGGER_WEEKLY:
        return new WeeklyTrigger(node);
    case TASK_TRIGGER_MONTHLY:
        return new MonthlyTrigger(node);
    case TASK_TRIGGER_MONTHLYDOW:
        return new MonthlyDowTrigger(node);
    case TASK_TRIGGER_IDLE:
        return new IdleTrigger(node);
    case TASK_TRIGGER_REGISTRATION:
        return new RegistrationTrigger(node);
    case TASK_TRIGGER_BOOT:
        return new BootTrigger(node);
    case TASK_TRIGGER_LOGON:
        return new LogonTrigger(node);
    case TASK_TRIGGER_SESSION_STATE_CHANGE:
        return new SessionStateChangeTrigger(node);
    }
    return new Trigger(node);
}

// Item index of a Remove call: 1-based number, or an id text.
template <typename Match> HRESULT RemoveItem(XmlNode& parent, VARIANT index, Match idOf) {
    auto& items = parent.children;
    VARIANT number;
    VariantInit(&number);
    if (index.vt == VT_BSTR) {
        const std::wstring id = In(index.bstrVal);
        for (auto it = items.begin(); it != items.end(); ++it) {
            if (idOf(**it) == id) {
                items.erase(it);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }
    if (FAILED(VariantChangeType(&number, &index, 0, VT_I4)))
        return E_INVALIDARG;
    if (number.lVal < 1 || static_cast<size_t>(number.lVal) > items.size())
        return E_INVALIDARG;
    items.erase(items.begin() + (number.lVal - 1));
    return S_OK;
}

std::wstring IdAttribute(const XmlNode& node) {
    const wchar_t* id = node.Attribute(L"id");
    return id ? id : L"";
}

// The part the trigger and action collections share: Remove by number or id.
template <typename I, typename Item, Item* (*Make)(const XmlPtr&)>
class ChildCollection : public ChildList<I, Item, Make> {
public:
    using ChildList<I, Item, Make>::ChildList;

    HRESULT STDMETHODCALLTYPE Remove(VARIANT index) override {
        return RemoveItem(this->Node(), index, IdAttribute);
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        this->Node().children.clear();
        return S_OK;
    }
};

class TriggerCollection : public ChildCollection<ITriggerCollection, ITrigger, MakeTrigger> {
public:
    explicit TriggerCollection(XmlPtr root) : ChildCollection(std::move(root), L"Triggers") {}

    // A calendar trigger starts with its schedule: every day, every week.
    HRESULT STDMETHODCALLTYPE Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) override {
        if (!trigger)
            return E_POINTER;
        for (const TriggerKind& kind : kTriggerKinds) {
            if (kind.type != type)
                continue;
            auto node = std::make_shared<XmlNode>();
            node->name = kind.element;
            if (kind.schedule)
                EnsureChild(*node, kind.schedule);
            if (type == TASK_TRIGGER_DAILY)
                SetPathText(*node, L"ScheduleByDay/DaysInterval", L"1");
            if (type == TASK_TRIGGER_WEEKLY)
                SetPathText(*node, L"ScheduleByWeek/WeeksInterval", L"1");
            return Append(node, trigger);
        }
        return E_INVALIDARG;
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_ITriggerCollection); }
};

// ---- Actions ---------------------------------------------------------------------

template <typename I> class ActionBase : public ComObject<I>, protected NodeRef {
public:
    explicit ActionBase(XmlPtr node) : NodeRef(std::move(node), L"") {}
    HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) override { return GetAttr(L"id", id); }
    HRESULT STDMETHODCALLTYPE put_Id(BSTR id) override { return PutAttr(L"id", id); }
    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
        if (!type)
            return E_POINTER;
        const std::wstring& name = base_->name;
        *type = name == L"Exec"         ? TASK_ACTION_EXEC
                : name == L"ComHandler" ? TASK_ACTION_COM_HANDLER
                : name == L"SendEmail"  ? TASK_ACTION_SEND_EMAIL
                                        : TASK_ACTION_SHOW_MESSAGE;
        return S_OK;
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IAction); }
};

class Action : public ActionBase<IAction> {
public:
    using ActionBase::ActionBase;
};

class ExecAction : public ActionBase<IExecAction> {
public:
    using ActionBase::ActionBase;
    TEXT_PROPERTY(Path, L"Command", nullptr)
    TEXT_PROPERTY(Arguments, L"Arguments", nullptr)
    TEXT_PROPERTY(WorkingDirectory, L"WorkingDirectory", nullptr)

protected:
    bool Implements(REFIID riid) const override {
        return IsEqualIID(riid, IID_IAction) || IsEqualIID(riid, IID_IExecAction);
    }
};

IAction* MakeAction(const XmlPtr& node) {
    if (node->name == L"Exec")
        return new ExecAction(node);
    return new Action(node);
}

class ActionCollection : public ChildCollection<IActionCollection, IAction, MakeAction> {
public:
    explicit ActionCollection(XmlPtr root) : ChildCollection(std::move(root), L"Actions") {}

    NOTIMPL_PROPERTY(XmlText, BSTR*, BSTR)
    HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE type, IAction** action) override {
        if (!action)
            return E_POINTER;
        if (type != TASK_ACTION_EXEC)
            return E_NOTIMPL;
        return Append(L"Exec", action);
    }
    HRESULT STDMETHODCALLTYPE get_Context(BSTR* context) override {
        return GetAttr(L"Context", context);
    }
    HRESULT STDMETHODCALLTYPE put_Context(BSTR context) override {
        return PutAttr(L"Context", context);
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IActionCollection); }
};

// ---- Definition ------------------------------------------------------------------

class TaskDefinition : public ComObject<ITaskDefinition> {
public:
    explicit TaskDefinition(XmlPtr root) : root_(std::move(root)) {}

    // The tree this definition edits (for RegisterTaskDefinition).
    const XmlPtr& Root() const { return root_; }

    HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo** info) override {
        return Give(new RegistrationInfo(root_), info);
    }
    HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection** triggers) override {
        return Give(new TriggerCollection(root_), triggers);
    }
    HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings** settings) override {
        return Give(new TaskSettings(root_), settings);
    }
    HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal** principal) override {
        return Give(new Principal(root_), principal);
    }
    HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** actions) override {
        return Give(new ActionCollection(root_), actions);
    }
    // A part taken from a definition of this service is copied in; other
    // implementations' objects are not read.
    HRESULT STDMETHODCALLTYPE put_RegistrationInfo(IRegistrationInfo* info) override {
        return CopyPart(info, root_, L"RegistrationInfo");
    }
    HRESULT STDMETHODCALLTYPE put_Triggers(ITriggerCollection* triggers) override {
        return CopyPart(triggers, root_, L"Triggers");
    }
    HRESULT STDMETHODCALLTYPE put_Settings(ITaskSettings* settings) override {
        return CopyPart(settings, root_, L"Settings");
    }
    HRESULT STDMETHODCALLTYPE put_Principal(IPrincipal* principal) override {
        return CopyPart(principal, root_, L"Principals/Principal");
    }
    HRESULT STDMETHODCALLTYPE put_Actions(IActionCollection* actions) override {
        return CopyPart(actions, root_, L"Actions");
    }
    HRESULT STDMETHODCALLTYPE get_Data(BSTR* data) override {
        return NodeRef(root_, L"").GetTextOf(L"Data", data);
    }
    HRESULT STDMETHODCALLTYPE put_Data(BSTR data) override {
        return NodeRef(root_, L"").PutTextOf(L"Data", data);
    }
    HRESULT STDMETHODCALLTYPE get_XmlText(BSTR* xml) override {
        return OutText(WriteXml(*root_), xml);
    }
    // Replaces the whole tree in place, so parts taken earlier see the new one.
    HRESULT STDMETHODCALLTYPE put_XmlText(BSTR xml) override {
        if (!xml)
            return E_INVALIDARG;
        XmlPtr parsed;
        if (HRESULT hr = ParseTaskXml(In(xml), &parsed); FAILED(hr))
            return hr;
        *root_ = *parsed;
        return S_OK;
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_ITaskDefinition); }

private:
    XmlPtr root_;
};

// ---- Registered tasks ------------------------------------------------------------

class RunningTask : public ComObject<IRunningTask> {
public:
    RunningTask(std::wstring path, DWORD pid) : path_(std::move(path)), pid_(pid) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        std::wstring folder, leaf;
        SplitTaskPath(path_, &folder, &leaf);
        return OutText(leaf, name);
    }
    HRESULT STDMETHODCALLTYPE get_InstanceGuid(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return OutText(path_, path); }
    HRESULT STDMETHODCALLTYPE get_State(TASK_STATE* state) override {
        if (!state)
            return E_POINTER;
        *state = TASK_STATE_RUNNING;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CurrentAction(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_EnginePID(DWORD* pid) override {
        if (!pid)
            return E_POINTER;
        *pid = pid_;
        return S_OK;
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IRunningTask); }

private:
    std::wstring path_;
    DWORD pid_;
};

// A registered task as it was read; Enabled writes through to the store.
class RegisteredTask : public ComObject<IRegisteredTask> {
public:
    RegisteredTask(std::wstring path, XmlPtr task)
        : path_(std::move(path)), task_(std::move(task)) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        std::wstring folder, leaf;
        SplitTaskPath(path_, &folder, &leaf);
        return OutText(leaf, name);
    }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return OutText(path_, path); }
    HRESULT STDMETHODCALLTYPE get_State(TASK_STATE* state) override {
        if (!state)
            return E_POINTER;
        *state = TaskEnabled(*task_) ? TASK_STATE_READY : TASK_STATE_DISABLED;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) override {
        return OutBool(TaskEnabled(*task_), enabled);
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override {
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return Win32(rc);
        XmlPtr current;
        if (DWORD rc = ReadTask(path_, &current))
            return Win32(rc);
        SetPathBool(*current, L"Settings/Enabled", enabled != VARIANT_FALSE);
        if (DWORD rc = WriteTask(path_, *current))
            return Win32(rc);
        task_ = current;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Run(VARIANT, IRunningTask** running) override {
        DWORD pid = 0;
        if (DWORD rc = FireTask(path_, &pid))
            return Win32(rc);
        if (!running)
            return S_OK;
        *running = new RunningTask(path_, pid);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RunEx(VARIANT, LONG, LONG, BSTR, IRunningTask**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetInstances(LONG, IRunningTaskCollection**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_LastRunTime(DATE* date) override {
        if (!date)
            return E_POINTER;
        *date = 0;
        SYSTEMTIME last;
        if (!ParseBoundary(LastRunTime(path_), &last))
            return kSchedTaskHasNotRun;
        return SystemTimeToVariantTime(&last, date) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_LastTaskResult(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NumberOfMissedRuns(LONG*) override { return E_NOTIMPL; }
    // No next run (disabled, no pending time trigger) reads as 0.
    HRESULT STDMETHODCALLTYPE get_NextRunTime(DATE* date) override {
        if (!date)
            return E_POINTER;
        *date = 0;
        SYSTEMTIME next;
        std::wstring boundary;
        if (!NextRun(*task_, FiredBoundary(path_), &next, &boundary))
            return S_OK;
        return SystemTimeToVariantTime(&next, date) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** definition) override {
        return Give(new TaskDefinition(CloneXml(*task_)), definition);
    }
    HRESULT STDMETHODCALLTYPE get_Xml(BSTR* xml) override { return OutText(WriteXml(*task_), xml); }
    HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRunTimes(const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*,
                                          LPSYSTEMTIME*) override {
        return E_NOTIMPL;
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_IRegisteredTask); }

private:
    std::wstring path_;
    XmlPtr task_;
};

// One item of a task or folder list: its store path, its path as reported
// (folders) and its document (tasks).
struct Listed {
    std::wstring path, shown;
    XmlPtr doc;
};

// A list as it was when asked for, counted from 1, also found by name.
template <typename I, typename Item, Item* (*Make)(const Listed&)>
class ListedCollection : public ComObject<I> {
public:
    explicit ListedCollection(std::vector<Listed> items) : items_(std::move(items)) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count)
            return E_POINTER;
        *count = static_cast<LONG>(items_.size());
        return S_OK;
    }
    // A 1-based number of any integer type, or a name.
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, Item** item) override {
        if (!item)
            return E_POINTER;
        if (index.vt == VT_BSTR) {
            const std::wstring name = In(index.bstrVal);
            for (const Listed& l : items_) {
                std::wstring folder, leaf;
                SplitTaskPath(l.path, &folder, &leaf);
                if (_wcsicmp(leaf.c_str(), name.c_str()) == 0)
                    return Give(Make(l), item);
            }
            return E_INVALIDARG;
        }
        LONG number = 0;
        if (!VariantNumber(index, &number) || number < 1 ||
            static_cast<size_t>(number) > items_.size())
            return E_INVALIDARG;
        return Give(Make(items_[number - 1]), item);
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** items) override {
        if (!items)
            return E_POINTER;
        std::vector<IDispatch*> list;
        for (const Listed& l : items_)
            list.push_back(Make(l));
        return Give(new VariantEnum(std::move(list)), items);
    }

private:
    std::vector<Listed> items_;
};

IRegisteredTask* MakeRegisteredTask(const Listed& l) {
    return new RegisteredTask(l.path, l.doc);
}

class RegisteredTaskCollection
    : public ListedCollection<IRegisteredTaskCollection, IRegisteredTask, MakeRegisteredTask> {
public:
    using ListedCollection::ListedCollection;

protected:
    bool Implements(REFIID riid) const override {
        return IsEqualIID(riid, IID_IRegisteredTaskCollection);
    }
};

// ---- Folders and the service -----------------------------------------------------

// A path given to a folder's methods, read as Windows reads it: relative to
// that folder, with or without one leading backslash. The names may not be
// empty (a doubled or trailing backslash), "." or "..", or carry a character
// Windows refuses in a file name; that is ERROR_INVALID_NAME.
HRESULT SplitRelative(const std::wstring& given, std::vector<std::wstring>* names) {
    names->clear();
    const size_t first = !given.empty() && given[0] == L'\\' ? 1 : 0;
    if (first == given.size())
        return S_OK;
    size_t pos = first;
    for (;;) {
        size_t end = given.find(L'\\', pos);
        if (end == std::wstring::npos)
            end = given.size();
        const std::wstring name = given.substr(pos, end - pos);
        if (name.empty() || name == L"." || name == L".." ||
            name.find_first_of(L"/:*?\"<>|") != std::wstring::npos)
            return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        for (wchar_t c : name) {
            if (c < 0x20)
                return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        }
        names->push_back(name);
        if (end == given.size())
            break;
        pos = end + 1;
    }
    return S_OK;
}

std::wstring JoinNames(const std::wstring& folder, const std::vector<std::wstring>& names) {
    std::wstring path = folder;
    for (const auto& name : names)
        path = JoinTaskPath(path, name);
    return path;
}

// The store path of a task or folder given relative to a folder; E_INVALIDARG
// when the text names the folder itself.
HRESULT ResolveChild(const std::wstring& folder, BSTR given, std::wstring* full) {
    std::vector<std::wstring> names;
    if (HRESULT hr = SplitRelative(In(given), &names); FAILED(hr))
        return hr;
    if (names.empty())
        return E_INVALIDARG;
    *full = JoinNames(folder, names);
    return S_OK;
}

// A task path whose folder is missing, or that names a folder, is "path not
// found"; a missing task in an existing folder is "file not found".
HRESULT MissingTask(const std::wstring& path) {
    std::wstring folder, leaf;
    SplitTaskPath(path, &folder, &leaf);
    return FolderExists(folder) && !FolderExists(path) ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
                                                       : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

HRESULT OpenRegisteredTask(const std::wstring& path, IRegisteredTask** task) {
    if (!TaskExists(path))
        return MissingTask(path);
    XmlPtr doc;
    if (DWORD rc = ReadTask(path, &doc))
        return Win32(rc);
    return Give(new RegisteredTask(path, doc), task);
}

// A folder knows its store path ("\a\b") and its path as the caller wrote it,
// which is what Windows reports ("a\b" when opened without the backslash).
class TaskFolder : public ComObject<ITaskFolder> {
public:
    TaskFolder(std::wstring path, std::wstring shown)
        : path_(std::move(path)), shown_(std::move(shown)) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        std::wstring parent, leaf;
        SplitTaskPath(path_, &parent, &leaf);
        return OutText(path_ == L"\\" ? path_ : leaf, name);
    }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return OutText(shown_, path); }
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) override {
        if (!folder)
            return E_POINTER;
        if (!path)
            return E_INVALIDARG;
        const std::wstring given = In(path);
        if (given == L"\\")
            return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        std::vector<std::wstring> names;
        if (HRESULT hr = SplitRelative(given, &names); FAILED(hr))
            return hr;
        const std::wstring full = JoinNames(path_, names);
        if (!FolderExists(full))
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        return Give(new TaskFolder(full, Shown(given)), folder);
    }
    HRESULT STDMETHODCALLTYPE GetFolders(LONG flags, ITaskFolderCollection** folders) override;
    HRESULT STDMETHODCALLTYPE CreateFolder(BSTR name, VARIANT, ITaskFolder** folder) override {
        std::wstring full;
        if (HRESULT hr = ResolveChild(path_, name, &full); FAILED(hr))
            return hr;
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return Win32(rc);
        if (DWORD rc = CreateTaskFolder(full))
            return Win32(rc);
        if (!folder)
            return S_OK;
        return Give(new TaskFolder(full, Shown(In(name))), folder);
    }
    HRESULT STDMETHODCALLTYPE DeleteFolder(BSTR name, LONG) override {
        std::wstring full;
        const HRESULT hr = ResolveChild(path_, name, &full);
        if (hr == E_INVALIDARG)
            return E_ACCESSDENIED; // the folder itself, or the root
        if (FAILED(hr))
            return hr;
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return Win32(rc);
        if (!FolderExists(full))
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return Win32(DeleteTaskFolder(full));
    }
    HRESULT STDMETHODCALLTYPE GetTask(BSTR path, IRegisteredTask** task) override {
        if (!task)
            return E_POINTER;
        std::wstring full;
        if (HRESULT hr = ResolveChild(path_, path, &full); FAILED(hr))
            return hr;
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return Win32(rc);
        return OpenRegisteredTask(full, task);
    }
    HRESULT STDMETHODCALLTYPE GetTasks(LONG, IRegisteredTaskCollection** tasks) override {
        if (!tasks)
            return E_POINTER;
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return Win32(rc);
        std::vector<std::wstring> names;
        if (DWORD rc = ListTaskNames(path_, &names))
            return Win32(rc);
        std::vector<Listed> list;
        for (const auto& name : names) {
            const std::wstring path = JoinTaskPath(path_, name);
            XmlPtr doc;
            if (ReadTask(path, &doc) == 0)
                list.push_back(Listed{path, path, doc});
        }
        return Give(new RegisteredTaskCollection(std::move(list)), tasks);
    }
    HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG) override {
        std::wstring full;
        if (HRESULT hr = ResolveChild(path_, name, &full); FAILED(hr))
            return hr;
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return Win32(rc);
        if (!TaskExists(full))
            return MissingTask(full);
        return Win32(DeleteTaskFile(full));
    }
    HRESULT STDMETHODCALLTYPE RegisterTask(BSTR path, BSTR xml, LONG flags, VARIANT user,
                                           VARIANT password, TASK_LOGON_TYPE logon, VARIANT sddl,
                                           IRegisteredTask** task) override {
        if (!xml)
            return HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER);
        XmlPtr doc;
        if (HRESULT hr = ParseTaskXml(In(xml), &doc); FAILED(hr))
            return hr;
        return Register(path, doc, flags, user, password, logon, sddl, task);
    }
    HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR path, ITaskDefinition* definition,
                                                     LONG flags, VARIANT user, VARIANT password,
                                                     TASK_LOGON_TYPE logon, VARIANT sddl,
                                                     IRegisteredTask** task) override {
        if (!definition)
            return E_POINTER;
        BSTR xml = nullptr;
        if (HRESULT hr = definition->get_XmlText(&xml); FAILED(hr))
            return hr;
        XmlPtr doc;
        const HRESULT hr = ParseTaskXml(In(xml), &doc);
        SysFreeString(xml);
        if (FAILED(hr))
            return hr;
        return Register(path, doc, flags, user, password, logon, sddl, task);
    }
    HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_ITaskFolder); }

private:
    // The reported path of a folder given relative to this one.
    std::wstring Shown(const std::wstring& given) const {
        std::wstring rest = !given.empty() && given[0] == L'\\' ? given.substr(1) : given;
        if (rest.empty())
            return shown_;
        return shown_.empty() || shown_.back() == L'\\' ? shown_ + rest : shown_ + L"\\" + rest;
    }

    HRESULT Register(BSTR path, const XmlPtr& doc, LONG flags, const VARIANT& user,
                     const VARIANT& password, TASK_LOGON_TYPE logon, const VARIANT& sddl,
                     IRegisteredTask** task) {
        std::wstring userText, passwordText, sddlText;
        if (!VariantText(user, &userText) || !VariantText(password, &passwordText) ||
            !VariantText(sddl, &sddlText))
            return E_INVALIDARG;
        if (!sddlText.empty())
            return E_NOTIMPL;
        if (flags & ~(TASK_CREATE_OR_UPDATE | TASK_DISABLE | TASK_VALIDATE_ONLY |
                      TASK_DONT_ADD_PRINCIPAL_ACE | TASK_IGNORE_REGISTRATION_TRIGGERS))
            return E_INVALIDARG;
        if (logon == TASK_LOGON_PASSWORD && (userText.empty() || passwordText.empty()))
            return E_ACCESSDENIED;
        // Without a name the root names the task by a new GUID; other
        // folders refuse.
        std::wstring name = In(path);
        if (name.empty()) {
            if (path_ != L"\\")
                return E_INVALIDARG;
            GUID guid;
            wchar_t text[40];
            if (FAILED(CoCreateGuid(&guid)) || !StringFromGUID2(guid, text, ARRAYSIZE(text)))
                return E_FAIL;
            name = text;
        }
        std::vector<std::wstring> names;
        if (HRESULT hr = SplitRelative(name, &names); FAILED(hr))
            return hr;
        if (names.empty())
            return E_INVALIDARG;
        const std::wstring full = JoinNames(path_, names);
        // The principal as registered; the password is never stored.
        XmlPtr principal = EnsureChild(*EnsureChild(*doc, L"Principals"), L"Principal");
        if (!principal->Attribute(L"id"))
            principal->SetAttribute(L"id", L"Author");
        if (!userText.empty())
            SetPathText(*principal, L"UserId", userText);
        const std::wstring logonText = LogonTypeText(logon);
        if (logon != TASK_LOGON_NONE && !logonText.empty())
            SetPathText(*principal, L"LogonType", logonText);
        if (flags & TASK_DISABLE)
            SetPathBool(*doc, L"Settings/Enabled", false);
        if (flags & TASK_VALIDATE_ONLY)
            return S_OK;

        StoreLock lock;
        if (DWORD rc = lock.Error())
            return Win32(rc);
        if (FolderExists(full))
            return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        // Without TASK_UPDATE a new name is created (flags 0 too); only
        // TASK_UPDATE alone requires the task to exist.
        const bool exists = TaskExists(full);
        if (exists && !(flags & TASK_UPDATE))
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        if (!exists && (flags & TASK_CREATE_OR_UPDATE) == TASK_UPDATE)
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        // The folders on the way are created, as Windows does.
        std::wstring folder, leaf;
        SplitTaskPath(full, &folder, &leaf);
        if (DWORD rc = CreateTaskFolder(folder); rc && rc != ERROR_ALREADY_EXISTS)
            return Win32(rc);
        if (DWORD rc = WriteTask(full, *doc))
            return Win32(rc);
        // A registration starts the triggers afresh.
        ForgetRunState(full);
        if (!task)
            return S_OK;
        return Give(new RegisteredTask(full, CloneXml(*doc)), task);
    }

    std::wstring path_;
    std::wstring shown_;
};

ITaskFolder* MakeFolder(const Listed& l) {
    return new TaskFolder(l.path, l.shown);
}

// The sub-folders as they were when asked for, sorted by name.
class TaskFolderCollection
    : public ListedCollection<ITaskFolderCollection, ITaskFolder, MakeFolder> {
public:
    using ListedCollection::ListedCollection;

protected:
    bool Implements(REFIID riid) const override {
        return IsEqualIID(riid, IID_ITaskFolderCollection);
    }
};

HRESULT STDMETHODCALLTYPE TaskFolder::GetFolders(LONG flags, ITaskFolderCollection** folders) {
    if (!folders)
        return E_POINTER;
    if (flags)
        return E_INVALIDARG;
    StoreLock lock;
    if (DWORD rc = lock.Error())
        return Win32(rc);
    std::vector<std::wstring> names;
    if (DWORD rc = ListFolderNames(path_, &names))
        return Win32(rc);
    std::vector<Listed> list;
    for (const auto& name : names)
        list.push_back(Listed{JoinTaskPath(path_, name), Shown(name), nullptr});
    return Give(new TaskFolderCollection(std::move(list)), folders);
}

class TaskService : public ComObject<ITaskService> {
public:
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) override {
        if (!folder)
            return E_POINTER;
        if (!connected_)
            return kNotConnected;
        const std::wstring given = In(path);
        std::vector<std::wstring> names;
        if (given != L"\\") {
            if (HRESULT hr = SplitRelative(given, &names); FAILED(hr))
                return hr;
        }
        if (names.empty()) {
            // The root always exists, as on Windows.
            CreateTaskFolder(L"\\");
            return Give(new TaskFolder(L"\\", L"\\"), folder);
        }
        const std::wstring full = JoinNames(L"\\", names);
        if (!FolderExists(full))
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        return Give(new TaskFolder(full, given), folder);
    }
    HRESULT STDMETHODCALLTYPE GetRunningTasks(LONG, IRunningTaskCollection**) override {
        return E_NOTIMPL;
    }
    // A definition needs no connection: it is only a document until registered.
    HRESULT STDMETHODCALLTYPE NewTask(DWORD flags, ITaskDefinition** definition) override {
        if (!definition)
            return E_POINTER;
        if (flags)
            return E_INVALIDARG;
        return Give(new TaskDefinition(NewTaskDocument()), definition);
    }
    // Only this computer: no server, or its own name.
    HRESULT STDMETHODCALLTYPE Connect(VARIANT server, VARIANT user, VARIANT domain,
                                      VARIANT password) override {
        std::wstring serverText, userText, domainText, passwordText;
        if (!VariantText(server, &serverText) || !VariantText(user, &userText) ||
            !VariantText(domain, &domainText) || !VariantText(password, &passwordText))
            return E_INVALIDARG;
        wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = ARRAYSIZE(computer);
        GetComputerNameW(computer, &size);
        std::wstring target = serverText;
        while (!target.empty() && target[0] == L'\\')
            target.erase(0, 1);
        if (!target.empty() && _wcsicmp(target.c_str(), computer) != 0 &&
            _wcsicmp(target.c_str(), L"localhost") != 0)
            return HRESULT_FROM_WIN32(ERROR_BAD_NETPATH);
        wchar_t name[256] = {};
        size = ARRAYSIZE(name);
        GetUserNameW(name, &size);
        // The user's domain as the logon session names it.
        wchar_t userDomain[256] = {};
        const DWORD domainLen =
            GetEnvironmentVariableW(L"USERDOMAIN", userDomain, ARRAYSIZE(userDomain));
        computer_ = computer;
        user_ = userText.empty() ? name : userText;
        domain_ = !domainText.empty()                              ? domainText
                  : domainLen && domainLen < ARRAYSIZE(userDomain) ? std::wstring(userDomain)
                                                                   : computer_;
        connected_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override {
        return OutBool(connected_, connected);
    }
    // The out-parameter is checked before the connection, as Windows does.
    HRESULT STDMETHODCALLTYPE get_TargetServer(BSTR* server) override {
        return Connected(computer_, server);
    }
    HRESULT STDMETHODCALLTYPE get_ConnectedUser(BSTR* user) override {
        return Connected(user_, user);
    }
    HRESULT STDMETHODCALLTYPE get_ConnectedDomain(BSTR* domain) override {
        return Connected(domain_, domain);
    }
    // Task Scheduler 1.2 (the schema version this service writes).
    HRESULT STDMETHODCALLTYPE get_HighestVersion(DWORD* version) override {
        if (!version)
            return E_POINTER;
        *version = (1u << 16) | 2u;
        return S_OK;
    }

protected:
    bool Implements(REFIID riid) const override { return IsEqualIID(riid, IID_ITaskService); }

private:
    HRESULT Connected(const std::wstring& text, BSTR* out) const {
        if (!out)
            return E_POINTER;
        return connected_ ? OutText(text, out) : kNotConnected;
    }

    bool connected_ = false;
    std::wstring computer_, user_, domain_;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // One static factory for the life of the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        TaskService* service = new TaskService;
        const HRESULT hr = service->QueryInterface(riid, ppv);
        service->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

Factory g_factory;

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_TaskScheduler))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
