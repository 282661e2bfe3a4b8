// Task Scheduler 2.0 declarations that MinGW-w64's taskschd.h lacks: every
// trigger interface but the time and daily ones, the named values of an
// event trigger and the session state changes. Layouts and identifiers as
// in the Windows SDK.
#pragma once

#include <windows.h>

#include <taskschd.h>

namespace simtasks {

const IID IID_ILogonTrigger = {
    0x72dade38, 0xfae4, 0x4b3e, {0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c}};
const IID IID_IBootTrigger = {
    0x2a9c35da, 0xd357, 0x41f4, {0xbb, 0xc1, 0x20, 0x7a, 0xc1, 0xb1, 0xf3, 0xcb}};
const IID IID_IWeeklyTrigger = {
    0x5038fc98, 0x82ff, 0x436d, {0x87, 0x28, 0xa5, 0x12, 0xa5, 0x7c, 0x9d, 0xc1}};
const IID IID_IMonthlyTrigger = {
    0x97c45ef1, 0x6b02, 0x4a1a, {0x9c, 0x0e, 0x1e, 0xbf, 0xba, 0x15, 0x00, 0xac}};
const IID IID_IMonthlyDOWTrigger = {
    0x77d025a3, 0x90fa, 0x43aa, {0xb5, 0x2e, 0xcd, 0xa5, 0x49, 0x9b, 0x94, 0x6a}};
const IID IID_IIdleTrigger = {
    0xd537d2b0, 0x9fb3, 0x4d34, {0x97, 0x39, 0x1f, 0xf5, 0xce, 0x7b, 0x1e, 0xf3}};
const IID IID_IRegistrationTrigger = {
    0x4c8fec3a, 0xc218, 0x4e0c, {0xb2, 0x3d, 0x62, 0x90, 0x24, 0xdb, 0x91, 0xa2}};
const IID IID_IEventTrigger = {
    0xd45b0167, 0x9653, 0x4eef, {0xb9, 0x4f, 0x07, 0x32, 0xca, 0x7a, 0xf2, 0x51}};
const IID IID_ISessionStateChangeTrigger = {
    0x754da71b, 0x4385, 0x4475, {0x9d, 0xd9, 0x59, 0x82, 0x94, 0xfa, 0x36, 0x41}};
const IID IID_ITaskNamedValuePair = {
    0x39038068, 0x2b46, 0x4afd, {0x86, 0x62, 0x7b, 0xb6, 0xf8, 0x68, 0xd2, 0x21}};
const IID IID_ITaskNamedValueCollection = {
    0xb4ef826b, 0x63c3, 0x46e4, {0xa5, 0x04, 0xef, 0x69, 0xe4, 0xf7, 0xea, 0x4d}};

enum TASK_SESSION_STATE_CHANGE_TYPE {
    TASK_CONSOLE_CONNECT = 1,
    TASK_CONSOLE_DISCONNECT = 2,
    TASK_REMOTE_CONNECT = 3,
    TASK_REMOTE_DISCONNECT = 4,
    TASK_SESSION_LOCK = 7,
    TASK_SESSION_UNLOCK = 8
};

struct ILogonTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};

struct IBootTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};

struct IWeeklyTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_DaysOfWeek(short* days) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DaysOfWeek(short days) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WeeksInterval(short* weeks) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WeeksInterval(short weeks) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RandomDelay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RandomDelay(BSTR delay) = 0;
};

struct IMonthlyTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_DaysOfMonth(long* days) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DaysOfMonth(long days) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MonthsOfYear(short* months) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MonthsOfYear(short months) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RunOnLastDayOfMonth(VARIANT_BOOL* last) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RunOnLastDayOfMonth(VARIANT_BOOL last) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RandomDelay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RandomDelay(BSTR delay) = 0;
};

struct IMonthlyDOWTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_DaysOfWeek(short* days) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DaysOfWeek(short days) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WeeksOfMonth(short* weeks) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WeeksOfMonth(short weeks) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MonthsOfYear(short* months) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MonthsOfYear(short months) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RunOnLastWeekOfMonth(VARIANT_BOOL* last) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RunOnLastWeekOfMonth(VARIANT_BOOL last) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RandomDelay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RandomDelay(BSTR delay) = 0;
};

struct IIdleTrigger : public ITrigger {};

struct IRegistrationTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};

struct ITaskNamedValuePair : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Name(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Value(BSTR value) = 0;
};

struct ITaskNamedValueCollection : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(LONG index, ITaskNamedValuePair** pair) = 0;
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** items) = 0;
    virtual HRESULT STDMETHODCALLTYPE Create(BSTR name, BSTR value, ITaskNamedValuePair** pair) = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove(LONG index) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct IEventTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Subscription(BSTR* query) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Subscription(BSTR query) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ValueQueries(ITaskNamedValueCollection** queries) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ValueQueries(ITaskNamedValueCollection* queries) = 0;
};

struct ISessionStateChangeTrigger : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StateChange(TASK_SESSION_STATE_CHANGE_TYPE* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_StateChange(TASK_SESSION_STATE_CHANGE_TYPE type) = 0;
};

} // namespace simtasks
