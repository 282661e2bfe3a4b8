// A second process for the pipe tests: one pipe endpoint with a hidden
// window that writes every message it gets to a file, one line each, as
// "<message hex> <wParam hex> <lParam hex>".
//
//   ipc_peer listen1 <file>
//       zbMain's side of pipe 1; ends on WM_USER_REFERROR with wParam 99.
//   ipc_peer serve2 <file> <battery> <mode> <progress> [session user]
//       zbRefresh's pipe-2 server reporting those values; ends on WM_CLOSE.
//   ipc_peer serve3 <file>
//       zbSched's pipe-3 server; ends on WM_USER_RUNMAINDLG with wParam 99
//       (or on a WM_CLOSE that reaches its window).
//
// Exit codes: 0 ended as asked, 1 bad arguments or set-up failure, 2 gave up
// after 60 s.
#include <windows.h>

#include "ipc/pipe.h"
#include "ipc/session_user.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

constexpr UINT_PTR kGiveUpTimer = 1;
constexpr UINT kGiveUpMs = 60000;
constexpr int kExitGaveUp = 2;

const wchar_t* g_outFile = nullptr;
UINT g_endMessage = 0; // with wParam 99: the end of a peer that takes no WM_CLOSE
int g_exitCode = 0;

void AppendLine(UINT message, WPARAM wParam, LPARAM lParam) {
    char line[96];
    const int len =
        snprintf(line, sizeof(line), "%x %llx %llx\r\n", message,
                 static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
    HANDLE file = CreateFileW(g_outFile, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK PeerWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        g_exitCode = kExitGaveUp;
        DestroyWindow(hWnd);
        return 0;
    case WM_CLOSE:
        AppendLine(message, wParam, lParam);
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        if (message >= WM_USER_REFMODE && message <= WM_USER_RUNMAINDLG) {
            AppendLine(message, wParam, lParam);
            if (message == g_endMessage && wParam == 99)
                DestroyWindow(hWnd);
            return 0;
        }
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

HWND CreatePeerWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = PeerWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ipc_peer";
    if (!RegisterClassW(&wc))
        return nullptr;
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"ipc_peer", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (hWnd)
        SetTimer(hWnd, kGiveUpTimer, kGiveUpMs, nullptr);
    return hWnd;
}

void RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int Listen1(HWND hWnd) {
    CPipeClient client;
    // The server may still be starting: keep trying for a while.
    BOOL connected = FALSE;
    for (int attempt = 0; attempt < 200 && !connected; ++attempt)
        connected = client.Connect(hWnd, PIPE1_NAME);
    if (!connected || !client.StartReceive())
        return 1;
    g_endMessage = WM_USER_REFERROR;
    RunMessageLoop();
    client.Close();
    return g_exitCode;
}

int Serve2(HWND hWnd, int argc, wchar_t** argv) {
    if (argc < 6)
        return 1;
    if (argc >= 7)
        RecordSessionUserName(argv[6]);
    RefreshLiveState state;
    state.battery = _wtol(argv[3]);
    state.mode = _wtol(argv[4]);
    state.progress = _wtol(argv[5]);
    CPipeToRef server;
    if (!server.Create(hWnd, PIPE2_NAME, &state))
        return 1;
    RunMessageLoop();
    server.Close();
    return g_exitCode;
}

int Serve3(HWND hWnd) {
    g_endMessage = WM_USER_RUNMAINDLG;
    CPipeToSch server;
    if (!server.Create(hWnd, PIPE3_NAME))
        return 1;
    RunMessageLoop();
    server.Close();
    return g_exitCode;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 1;
    g_outFile = argv[2];
    HWND hWnd = CreatePeerWindow();
    if (!hWnd)
        return 1;
    if (wcscmp(argv[1], L"listen1") == 0)
        return Listen1(hWnd);
    if (wcscmp(argv[1], L"serve2") == 0)
        return Serve2(hWnd, argc, argv);
    if (wcscmp(argv[1], L"serve3") == 0)
        return Serve3(hWnd);
    return 1;
}
