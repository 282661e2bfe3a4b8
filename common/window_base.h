// One way for every window and dialog of the suite to own its state.
//
// The creator builds the state and hands it over with the window or dialog
// (CreateWindowWithState, DialogBoxWithState, CreateDialogWithState). The
// procedure reaches it with WindowState / DialogState (GWLP_USERDATA /
// DWLP_USER) and never frees it itself: the wrapper procedure registered for
// the class (StateWindowProc) or passed for the dialog (done by the helpers)
// deletes it after the procedure has seen WM_NCDESTROY, whichever way the
// window ends, a failed WM_CREATE included. State that was never handed to a
// window (the class or template is missing) is freed by the helper.
//
// Procedures keep their conventional names (WndProc, ...DlgProc) inside
// their program's namespace or file-local: the test support library links
// every program's code into one library (tests/symbols checks it).
//
// A window procedure:
//   LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
//       MyState* state = zb::WindowState<MyState>(hWnd);
//       if (!state)   // messages before WM_NCCREATE
//           return DefWindowProcW(hWnd, uMsg, wParam, lParam);
//       switch (uMsg) {
//       case WM_CREATE:
//           return OnCreate(hWnd, *state) ? 0 : -1; // -1: creation fails, state freed
//       ...
//   }
//   wc.lpfnWndProc = zb::StateWindowProc<MyState, WndProc>;
//   HWND hWnd = zb::CreateWindowWithState(std::move(state), 0, kClass, ...);
//
// A dialog (its procedure gets the state as lParam of WM_INITDIALOG, after
// the dialog has been centred on its owner):
//   INT_PTR answer = zb::DialogBoxWithState<ResultDlgProc>(instance,
//       MAKEINTRESOURCEW(IDD_RESULT), hOwner, std::move(state));
#pragma once

#include <windows.h>

#include <memory>
#include <utility>

namespace zb {

// Centres a top-level window on its owner, or on the work area of its
// monitor when it has no visible, non-minimised owner (hidden owner windows
// of the resident programs sit anywhere). Child windows stay where they are.
// False (logged) when the window cannot be measured or moved.
BOOL CenterOnOwner(HWND hWnd);

// Registers a program's top-level window class as every program of the
// suite does: redrawn when resized, the program's large and small icons
// (resource ids), the arrow cursor, the window colour, and a menu resource
// when given. The class atom, or 0 with the last error set.
ATOM RegisterAppWindowClass(HINSTANCE hInstance, LPCWSTR lpszClassName, WNDPROC proc, UINT uIconId,
                            UINT uSmallIconId, LPCWSTR lpszMenuName = nullptr);

namespace detail {

// What lpCreateParams or the dialog init parameter carries: the state, owned
// here until the wrapper procedure takes it over.
template <class State> struct StateHandOver { std::unique_ptr<State> state; };

} // namespace detail

// The state a window was created with; null before WM_NCCREATE and after
// WM_NCDESTROY.
template <class State> State* WindowState(HWND hWnd) {
    return reinterpret_cast<State*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
}

// The state a dialog was created with; null before WM_INITDIALOG and after
// WM_NCDESTROY.
template <class State> State* DialogState(HWND hDlg) {
    return reinterpret_cast<State*>(GetWindowLongPtrW(hDlg, DWLP_USER));
}

// The class procedure of a window created with CreateWindowWithState<State>:
// keeps the state in GWLP_USERDATA from WM_NCCREATE, passes every message to
// Proc, and deletes the state once Proc has handled WM_NCDESTROY.
template <class State, WNDPROC Proc>
LRESULT CALLBACK StateWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* handOver = static_cast<detail::StateHandOver<State>*>(create->lpCreateParams);
        if (handOver)
            SetWindowLongPtrW(hWnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(handOver->state.release()));
    }
    const LRESULT result = Proc(hWnd, uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) {
        std::unique_ptr<State> owned(WindowState<State>(hWnd));
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    }
    return result;
}

// CreateWindowExW for a class whose procedure is StateWindowProc<State, ...>.
// The window owns the state from WM_NCCREATE on; on null the state is gone
// as well (freed here or at the failed window's WM_NCDESTROY).
template <class State>
HWND CreateWindowWithState(std::unique_ptr<State> state, DWORD dwExStyle, LPCWSTR lpClassName,
                           LPCWSTR lpWindowName, DWORD dwStyle, int x, int y, int nWidth,
                           int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance) {
    detail::StateHandOver<State> handOver{std::move(state)};
    return CreateWindowExW(dwExStyle, lpClassName, lpWindowName, dwStyle, x, y, nWidth, nHeight,
                           hWndParent, hMenu, hInstance, &handOver);
}

// Where a dialog appears: centred on its owner, or where its template puts
// it (relative to the owner's client area).
enum class DialogPlacement { kCentreOnOwner, kFromTemplate };

// The dialog procedure the helpers below install in front of Proc: at
// WM_INITDIALOG it keeps the state in DWLP_USER, centres the dialog on its
// owner (unless it keeps its template's place) and calls Proc with the
// state as lParam; it deletes the state once Proc has handled WM_NCDESTROY.
template <class State, DLGPROC Proc, DialogPlacement Place = DialogPlacement::kCentreOnOwner>
INT_PTR CALLBACK StateDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_INITDIALOG) {
        auto* handOver = reinterpret_cast<detail::StateHandOver<State>*>(lParam);
        State* state = handOver ? handOver->state.release() : nullptr;
        SetWindowLongPtrW(hDlg, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
        if (Place == DialogPlacement::kCentreOnOwner)
            CenterOnOwner(hDlg);
        return Proc(hDlg, uMsg, wParam, reinterpret_cast<LPARAM>(state));
    }
    const INT_PTR result = Proc(hDlg, uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) {
        std::unique_ptr<State> owned(DialogState<State>(hDlg));
        SetWindowLongPtrW(hDlg, DWLP_USER, 0);
    }
    return result;
}

// A modal dialog from the template lpTemplate owned by hWndOwner, driven by
// Proc with the given state. Returns what EndDialog was given, or -1 (last
// error set) when the dialog could not be created. The state is freed before
// this returns: results travel in the EndDialog value or through a pointer
// the state holds.
template <DLGPROC Proc, DialogPlacement Place = DialogPlacement::kCentreOnOwner, class State>
INT_PTR DialogBoxWithState(HINSTANCE hInstance, LPCWSTR lpTemplate, HWND hWndOwner,
                           std::unique_ptr<State> state) {
    detail::StateHandOver<State> handOver{std::move(state)};
    return DialogBoxParamW(hInstance, lpTemplate, hWndOwner, StateDialogProc<State, Proc, Place>,
                           reinterpret_cast<LPARAM>(&handOver));
}

// The modeless form: returns the dialog, or null (state freed) on failure.
// The dialog owns its state until it is destroyed.
template <DLGPROC Proc, class State>
HWND CreateDialogWithState(HINSTANCE hInstance, LPCWSTR lpTemplate, HWND hWndOwner,
                           std::unique_ptr<State> state) {
    detail::StateHandOver<State> handOver{std::move(state)};
    return CreateDialogParamW(hInstance, lpTemplate, hWndOwner, StateDialogProc<State, Proc>,
                              reinterpret_cast<LPARAM>(&handOver));
}

// A number a control carries for tools outside the process (automation,
// accessibility, the tests): what a picture control shows, say, where the
// bitmap handle itself would mean nothing there. Controls have no state of
// their own through the helpers above, so their user data is free for it.
inline void SetControlTag(HWND hControl, LONG_PTR tag) {
    SetWindowLongPtrW(hControl, GWLP_USERDATA, tag);
}

// A modeless dialog opened over its owner window. While it is open the owner
// takes no input, and the program's message loop offers it the keyboard
// (Route); closing gives the owner its input back. The slot records the
// dialog from Open until the dialog's WM_NCDESTROY (Forget), however it
// ends.
class ModelessSlot {
public:
    HWND Get() const { return dialog_; }
    explicit operator bool() const { return dialog_ != nullptr; }

    // Records hDlg, shows it and disables hOwner; false (nothing done) for a
    // dialog that could not be created.
    bool Open(HWND hDlg, HWND hOwner);
    // Records a window that only joins the keyboard routing: it disables
    // nobody (it stands in for its owner, which is hidden meanwhile).
    void Record(HWND hWnd) { dialog_ = hWnd; }
    // At the window's WM_NCDESTROY: forgets it unless a newer one took the
    // slot.
    void Forget(HWND hWnd) {
        if (dialog_ == hWnd)
            dialog_ = nullptr;
    }
    // Destroys the recorded dialog, if any, without giving its owner input
    // back: for a hand-over, after which the caller enables the owner once.
    void Destroy();
    // Offers a message of the loop to the dialog's keyboard navigation; true
    // when the dialog took it.
    bool Route(MSG* pMsg) const { return dialog_ && IsDialogMessageW(dialog_, pMsg); }

private:
    HWND dialog_ = nullptr;
};

// The dialog's own way out of ModelessSlot::Open: gives its owner (the
// parent of a child dialog) input back, then destroys the dialog.
void CloseModeless(HWND hDlg);

} // namespace zb
