#include "main/reservation_query.h"

#include "common/log.h"
#include "common/util.h"
#include "common/wrappers.h"
#include "main/task_scheduler.h"

namespace zbmain {

HRESULT ReadReservedStartTime(HINSTANCE hInstance, SYSTEMTIME* pStart) {
    if (IsNullArg(pStart, L"ReadReservedStartTime", __LINE__, L"pStart"))
        return E_POINTER;
    // One task serves both batteries: its name carries only the user.
    WCHAR taskName[256] = L"";
    HRESULT hr = GetSchedulerName(hInstance, IDS_TASKNAME_REFRESH, taskName, ARRAYSIZE(taskName));
    if (FAILED(hr))
        return hr;
    if (IsWindowsXP()) {
        CTaskSchedulerXP scheduler;
        return scheduler.TASKHLPER_GetStartDay(taskName, pStart);
    }
    WCHAR folder[16] = L"";
    LoadStringW(hInstance, IDS_TASKFOLDER, folder, ARRAYSIZE(folder));
    return TASKHLPER_GetStartDay(taskName, folder, pStart);
}

} // namespace zbmain
