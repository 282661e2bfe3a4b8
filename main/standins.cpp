// Stand-ins for main-screen pieces that are built elsewhere (the task
// layer's start-time read and the refresh run's windows). Each keeps this program
// building and usable until the real piece arrives; this file then goes.
#include <windows.h>

#include "main/main_app.h"
#include "main/reservation_query.h"

namespace zbmain {

HRESULT ReadReservedStartTime(SYSTEMTIME*) {
    return E_NOTIMPL;
}

HWND CreateRefreshWindow(UINT) {
    return nullptr;
}

HWND CreateCompleteWindow() {
    return nullptr;
}

HWND CreateConfirmDialog(HWND, CBattery*) {
    return nullptr;
}

HWND CreateReservationDialog(HWND, CBatteryArray*) {
    return nullptr;
}

} // namespace zbmain
