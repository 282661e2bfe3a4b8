// Window and dialog state: handed over by the creator, freed with the window.
#include "common/window_base.h"

#include <memory>

#include <gtest/gtest.h>

namespace {

struct Probe {
    bool stateFreed = false;
    bool ncDestroySeenWithState = false;
    LPARAM initParam = 0;
    RECT dialogRect = {};
};

// The state tells the test when it goes away.
struct ProbeState {
    explicit ProbeState(Probe* p) : probe(p) {}
    ~ProbeState() { probe->stateFreed = true; }
    Probe* probe;
};

LRESULT CALLBACK FailingWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    ProbeState* state = zb::WindowState<ProbeState>(hWnd);
    if (!state)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    switch (uMsg) {
    case WM_CREATE:
        return -1;
    case WM_NCDESTROY:
        state->probe->ncDestroySeenWithState = true;
        break;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

constexpr UINT kEnd = WM_APP + 1;

INT_PTR CALLBACK ProbeDlgProc(HWND hDlg, UINT uMsg, WPARAM, LPARAM lParam) {
    ProbeState* state = zb::DialogState<ProbeState>(hDlg);
    switch (uMsg) {
    case WM_INITDIALOG:
        state->probe->initParam = lParam;
        PostMessageW(hDlg, kEnd, 0, 0);
        return TRUE;
    case kEnd:
        GetWindowRect(hDlg, &state->probe->dialogRect);
        EndDialog(hDlg, 42);
        return TRUE;
    case WM_NCDESTROY:
        if (state)
            state->probe->ncDestroySeenWithState = true;
        return FALSE;
    }
    return FALSE;
}

} // namespace

TEST(WindowBase, FailedCreationFreesTheState) {
    const wchar_t* kClass = L"ZbFailingWindow";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = zb::StateWindowProc<ProbeState, FailingWndProc>;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ASSERT_NE(0, RegisterClassW(&wc));

    Probe probe;
    EXPECT_EQ(nullptr,
              zb::CreateWindowWithState(std::make_unique<ProbeState>(&probe), 0, kClass, L"", 0, 0,
                                        0, 10, 10, nullptr, nullptr, wc.hInstance));
    EXPECT_TRUE(probe.ncDestroySeenWithState);
    EXPECT_TRUE(probe.stateFreed);

    // A window that never came to be (no such class) frees the state too.
    Probe orphan;
    EXPECT_EQ(nullptr,
              zb::CreateWindowWithState(std::make_unique<ProbeState>(&orphan), 0, L"ZbNoSuchClass",
                                        L"", 0, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance));
    EXPECT_TRUE(orphan.stateFreed);
    UnregisterClassW(kClass, wc.hInstance);
}

TEST(WindowBase, ModalDialogIsCentredOnItsOwnerAndFreesItsState) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 100, 600,
                                 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, owner);

    Probe probe;
    auto state = std::make_unique<ProbeState>(&probe);
    const LPARAM expected = reinterpret_cast<LPARAM>(state.get());
    EXPECT_EQ(42, zb::DialogBoxWithState<ProbeDlgProc>(GetModuleHandleW(nullptr), L"ZB_TEST_DIALOG",
                                                       owner, std::move(state)));
    EXPECT_EQ(expected, probe.initParam);
    EXPECT_TRUE(probe.ncDestroySeenWithState);
    EXPECT_TRUE(probe.stateFreed);
    const RECT& rc = probe.dialogRect;
    EXPECT_NEAR(200 + 300, (rc.left + rc.right) / 2, 1); // odd sizes round
    EXPECT_NEAR(100 + 200, (rc.top + rc.bottom) / 2, 1);

    // No template: -1, and the state is not leaked.
    Probe orphan;
    EXPECT_EQ(-1,
              zb::DialogBoxWithState<ProbeDlgProc>(GetModuleHandleW(nullptr), L"ZB_NO_DIALOG",
                                                   owner, std::make_unique<ProbeState>(&orphan)));
    EXPECT_TRUE(orphan.stateFreed);
    DestroyWindow(owner);
}
