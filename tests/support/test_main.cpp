#include <windows.h>

#include <gtest/gtest.h>

// Entry point of every test program (linked with -municode).
int wmain(int argc, wchar_t** argv) {
    // A crash must fail the test run, not wait for a debugger dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
