// KX_NTF.dll as the programs use it: loaded at run time, exports by name.
#include <windows.h>

#include <thread>

#include <gtest/gtest.h>

#include "support/suite_env.h"
#include "toast/toast_watch.h"

namespace {

using namespace toasttest;

struct Exports {
    PFN_KX_NTF_Initialize Initialize = nullptr;
    PFN_KX_NTF_Finalize Finalize = nullptr;
    PFN_KX_NTF_InitToastCmnInf InitToastCmnInf = nullptr;
    PFN_KX_NTF_DisplayToast DisplayToast = nullptr;
    PFN_KX_NTF_HideToast HideToast = nullptr;
    PFN_KX_NTF_SwitchToDT SwitchToDT = nullptr;
    PFN_KX_NTF_GetDisplayMode GetDisplayMode = nullptr;
};

template <typename Fn> void Lookup(HMODULE module, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class ToastLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryW((testenv::BinDir() + L"KX_NTF.dll").c_str());
        Lookup(module_, "KX_NTF_Initialize", x_.Initialize);
        Lookup(module_, "KX_NTF_Finalize", x_.Finalize);
        Lookup(module_, "KX_NTF_InitToastCmnInf", x_.InitToastCmnInf);
        Lookup(module_, "KX_NTF_DisplayToast", x_.DisplayToast);
        Lookup(module_, "KX_NTF_HideToast", x_.HideToast);
        Lookup(module_, "KX_NTF_SwitchToDT", x_.SwitchToDT);
        Lookup(module_, "KX_NTF_GetDisplayMode", x_.GetDisplayMode);
    }
    static void TearDownTestSuite() {
        if (module_)
            FreeLibrary(module_);
    }

    void SetUp() override {
        ASSERT_NE(module_, nullptr) << "KX_NTF.dll is not in the bin folder";
        ASSERT_TRUE(x_.Initialize && x_.Finalize && x_.InitToastCmnInf && x_.DisplayToast &&
                    x_.HideToast && x_.SwitchToDT && x_.GetDisplayMode)
            << "an export is missing";
    }
    void TearDown() override {
        if (x_.Finalize)
            x_.Finalize();
    }

    // Initialised, with reports going to reports_.
    void Start() {
        ASSERT_EQ(x_.Initialize(), S_OK);
        const KX_NTF_TOAST_CMN_INF info = MakeToastCommonInfo(reports_.Get());
        ASSERT_EQ(x_.InitToastCmnInf(&info), S_OK);
    }

    HWND ShowOne(UINT nKind, LPCWSTR lpszText) {
        const KX_NTF_TOAST_REQUEST request = MakeToastRequest(nKind, lpszText);
        EXPECT_EQ(x_.DisplayToast(&request), S_OK);
        for (HWND hWnd : FindToastPopups())
            if (WindowText(hWnd) == lpszText)
                return hWnd;
        return nullptr;
    }

    static HMODULE module_;
    static Exports x_;
    ReportWindow reports_;
};

HMODULE ToastLibraryTest::module_ = nullptr;
Exports ToastLibraryTest::x_;

TEST_F(ToastLibraryTest, CallsOutOfOrderAreRefused) {
    const KX_NTF_TOAST_CMN_INF info = MakeToastCommonInfo(reports_.Get());
    const KX_NTF_TOAST_REQUEST request = MakeToastRequest(1, L"x");
    EXPECT_EQ(x_.InitToastCmnInf(&info), E_UNEXPECTED);
    EXPECT_EQ(x_.DisplayToast(&request), E_UNEXPECTED);
    EXPECT_EQ(x_.HideToast(1), E_UNEXPECTED);
    EXPECT_EQ(x_.SwitchToDT(reports_.Get()), E_UNEXPECTED);
    EXPECT_EQ(x_.Finalize(), S_FALSE);

    ASSERT_EQ(x_.Initialize(), S_OK);
    EXPECT_EQ(x_.Initialize(), S_FALSE);
    // Without the common information there is nobody to report to.
    EXPECT_EQ(x_.DisplayToast(&request), E_UNEXPECTED);
    EXPECT_TRUE(FindToastPopups().empty());
}

TEST_F(ToastLibraryTest, BadArgumentsAreRefused) {
    ASSERT_EQ(x_.Initialize(), S_OK);
    KX_NTF_TOAST_CMN_INF info = MakeToastCommonInfo(reports_.Get());
    EXPECT_EQ(x_.InitToastCmnInf(nullptr), E_POINTER);
    info.lpszAppId = L"";
    EXPECT_EQ(x_.InitToastCmnInf(&info), E_INVALIDARG);
    info = MakeToastCommonInfo(reports_.Get());
    info.hWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7ff0));
    EXPECT_EQ(x_.InitToastCmnInf(&info), E_INVALIDARG);
    info = MakeToastCommonInfo(reports_.Get());
    ASSERT_EQ(x_.InitToastCmnInf(&info), S_OK);

    KX_NTF_TOAST_REQUEST request = MakeToastRequest(1, nullptr);
    EXPECT_EQ(x_.DisplayToast(nullptr), E_POINTER);
    EXPECT_EQ(x_.DisplayToast(&request), E_INVALIDARG);
    request.lpszText = L"";
    EXPECT_EQ(x_.DisplayToast(&request), E_INVALIDARG);
    EXPECT_EQ(x_.GetDisplayMode(nullptr), E_POINTER);
    EXPECT_EQ(x_.SwitchToDT(nullptr), E_HANDLE);
    EXPECT_TRUE(FindToastPopups().empty());
}

TEST_F(ToastLibraryTest, ToastIsANonActivatingTopmostPopupWithTheText) {
    Start();
    const HWND before = GetForegroundWindow();
    const HWND popup = ShowOne(4, L"バッテリをリフレッシュしていない状態で長期間経過しています。");
    ASSERT_NE(popup, nullptr);

    EXPECT_TRUE(IsWindowVisible(popup));
    const LONG_PTR exStyle = GetWindowLongPtrW(popup, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE),
              WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE);
    EXPECT_EQ(GetWindowLongPtrW(popup, GWL_STYLE) & WS_POPUP, WS_POPUP);
    EXPECT_EQ(GetForegroundWindow(), before);
    EXPECT_NE(GetActiveWindow(), popup);

    // Near the notification area: inside the work area, in its lower right.
    RECT work = {}, rc = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(popup, &rc);
    EXPECT_LE(rc.right, work.right);
    EXPECT_LE(rc.bottom, work.bottom);
    EXPECT_GT(rc.left, (work.left + work.right) / 2);
    EXPECT_GT(rc.top, (work.top + work.bottom) / 2);

    PumpPending();
    EXPECT_EQ(reports_.Count(TOAST_MSG_SHOWN, 4), 1u);
    EXPECT_EQ(reports_.EndCount(), 0u);
}

TEST_F(ToastLibraryTest, ClickOnTheBodyReportsActivatedOnce) {
    Start();
    const HWND popup = ShowOne(7, L"バッテリのリフレッシュ＆診断が完了しました。");
    ASSERT_NE(popup, nullptr);
    PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    ASSERT_TRUE(PumpUntil([&] { return reports_.EndCount() > 0; }, 5000));
    PumpPending();
    EXPECT_EQ(reports_.Count(TOAST_MSG_ACTIVATED, 7), 1u);
    EXPECT_EQ(reports_.EndCount(), 1u);
    EXPECT_FALSE(IsWindow(popup));
}

TEST_F(ToastLibraryTest, ClickOnTheCloseBoxReportsDismissed) {
    Start();
    const HWND popup = ShowOne(5, L"一か月");
    ASSERT_NE(popup, nullptr);
    RECT client = {};
    GetClientRect(popup, &client);
    PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(client.right - 12, 12));
    ASSERT_TRUE(PumpUntil([&] { return reports_.EndCount() > 0; }, 5000));
    EXPECT_EQ(reports_.Count(TOAST_MSG_DISMISSED, 5), 1u);
    EXPECT_EQ(reports_.EndCount(), 1u);
    EXPECT_FALSE(IsWindow(popup));
}

TEST_F(ToastLibraryTest, ShortToastTimesOutOnItsOwn) {
    Start();
    const HWND popup = ShowOne(6, L"二か月");
    ASSERT_NE(popup, nullptr);
    // "short" is a few seconds; the bound only keeps a broken timer from hanging.
    ASSERT_TRUE(PumpUntil([&] { return reports_.EndCount() > 0; }, KX_NTF_SHORT_MS * 4));
    EXPECT_EQ(reports_.Count(TOAST_MSG_TIMEDOUT, 6), 1u);
    EXPECT_EQ(reports_.EndCount(), 1u);
    EXPECT_FALSE(IsWindow(popup));
}

TEST_F(ToastLibraryTest, ToastsStackWithoutOverlapAndHideGoesByKind) {
    Start();
    const HWND first = ShowOne(2, L"注意 1");
    const HWND other = ShowOne(3, L"警告");
    const HWND second = ShowOne(2, L"注意 2");
    ASSERT_TRUE(first && other && second);
    RECT a = {}, b = {}, c = {}, overlap = {};
    GetWindowRect(first, &a);
    GetWindowRect(other, &b);
    GetWindowRect(second, &c);
    EXPECT_FALSE(IntersectRect(&overlap, &a, &b));
    EXPECT_FALSE(IntersectRect(&overlap, &b, &c));
    EXPECT_FALSE(IntersectRect(&overlap, &a, &c));

    EXPECT_EQ(x_.HideToast(2), S_OK);
    EXPECT_EQ(x_.HideToast(2), S_FALSE);
    PumpPending();
    EXPECT_EQ(reports_.Count(TOAST_MSG_DISMISSED, 2), 2u);
    EXPECT_EQ(reports_.EndCount(), 2u);
    const std::vector<HWND> left = FindToastPopups();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(WindowText(left[0]), L"警告");

    // The survivor moves down into the freed place at the bottom.
    RECT moved = {};
    GetWindowRect(other, &moved);
    EXPECT_EQ(moved.bottom, a.bottom);
}

TEST_F(ToastLibraryTest, FinalizeClosesEverythingSilentlyAndCanStartAgain) {
    Start();
    ASSERT_NE(ShowOne(1, L"バッテリリフレッシュが 10％完了しました。"), nullptr);
    ASSERT_NE(ShowOne(1, L"バッテリリフレッシュが 20％完了しました。"), nullptr);
    EXPECT_EQ(x_.Finalize(), S_OK);
    PumpPending();
    EXPECT_TRUE(FindToastPopups().empty());
    EXPECT_EQ(reports_.EndCount(), 0u);

    const KX_NTF_TOAST_REQUEST request = MakeToastRequest(1, L"後");
    EXPECT_EQ(x_.DisplayToast(&request), E_UNEXPECTED);
    Start();
    EXPECT_NE(ShowOne(1, L"再開"), nullptr);
}

TEST_F(ToastLibraryTest, OnlyTheInitialisingThreadMayCall) {
    Start();
    HRESULT fromOther[3] = {};
    std::thread other([&] {
        const KX_NTF_TOAST_REQUEST request = MakeToastRequest(1, L"他のスレッド");
        fromOther[0] = x_.Initialize();
        fromOther[1] = x_.DisplayToast(&request);
        fromOther[2] = x_.Finalize();
    });
    other.join();
    EXPECT_EQ(fromOther[0], RPC_E_WRONG_THREAD);
    EXPECT_EQ(fromOther[1], RPC_E_WRONG_THREAD);
    EXPECT_EQ(fromOther[2], RPC_E_WRONG_THREAD);
    EXPECT_TRUE(FindToastPopups().empty());
    EXPECT_NE(ShowOne(1, L"同じスレッド"), nullptr);
}

TEST_F(ToastLibraryTest, SwitchToDesktopTakesAWindowOfTheProgram) {
    Start();
    const HWND window = CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(SUCCEEDED(x_.SwitchToDT(window)));
    DestroyWindow(window);
    EXPECT_EQ(x_.SwitchToDT(window), E_HANDLE);
}

} // namespace
