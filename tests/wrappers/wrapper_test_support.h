// Shared by the wrapper tests.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "support/suite_env.h"

namespace wrappertest {

// The library that has only some of the wrapped functions (stubs/).
inline std::wstring StubPath() {
    return testenv::BinDir() + L"wrapper_stubs.dll";
}

// A task dialog callback that presses OK at once, so no test waits on a dialog.
inline HRESULT CALLBACK PressOkWhenCreated(HWND hWnd, UINT uNotification, WPARAM, LPARAM,
                                           LONG_PTR) {
    if (uNotification == TDN_CREATED)
        PostMessageW(hWnd, TDM_CLICK_BUTTON, IDOK, 0);
    return S_OK;
}

} // namespace wrappertest
