// Program paths, system paths, starting sibling programs, and the install
// helpers' allowed folder.
#include "common/util.h"

#include "support/suite_env.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring ProgramFiles() {
    wchar_t dir[MAX_PATH] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, dir, CSIDL_PROGRAM_FILES, FALSE));
    return dir;
}

std::wstring Lower(std::wstring s) {
    for (auto& ch : s)
        ch = static_cast<wchar_t>(towlower(ch));
    return s;
}

std::wstring ThisProgramName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path);
    return full.substr(full.find_last_of(L'\\') + 1);
}

} // namespace

TEST(IsPathWithinFolder, NeedsASeparatorAfterTheFolder) {
    const wchar_t base[] = L"C:\\Program Files\\VADOvur";
    EXPECT_TRUE(IsPathWithinFolder(L"C:\\Program Files\\VADOvur\\x.reg", base));
    EXPECT_TRUE(IsPathWithinFolder(L"C:\\Program Files\\VADOvur", base));
    EXPECT_TRUE(IsPathWithinFolder(L"c:\\PROGRAM FILES\\vadovur\\sub\\x.reg", base));
    EXPECT_TRUE(IsPathWithinFolder(L"C:\\Program Files\\VADOvur/x.reg", base));
    EXPECT_TRUE(
        IsPathWithinFolder(L"C:\\Program Files\\VADOvur\\x.reg", L"C:\\Program Files\\VADOvur\\"));
    EXPECT_FALSE(IsPathWithinFolder(L"C:\\Program Files\\VADOvurEvil\\x.reg", base));
    EXPECT_FALSE(IsPathWithinFolder(L"C:\\Program Files\\VADOvur.reg", base));
    EXPECT_FALSE(IsPathWithinFolder(L"C:\\Program Files\\VADOvu", base));
    EXPECT_FALSE(IsPathWithinFolder(L"D:\\Program Files\\VADOvur\\x.reg", base));
    EXPECT_FALSE(IsPathWithinFolder(L"anything", L""));
}

TEST(IsAllowedPath, OnlyInsideTheSuiteFolder) {
    const std::wstring base = ProgramFiles() + L"\\VADOvur";
    EXPECT_TRUE(IsAllowedPath((base + L"\\setting.reg").c_str()));
    EXPECT_TRUE(IsAllowedPath(Lower(base + L"\\SETTING.REG").c_str()));
    EXPECT_TRUE(IsAllowedPath((base + L"\\sub\\..\\setting.reg").c_str()));
    // A sibling folder that only starts with the same name is not ours.
    EXPECT_FALSE(IsAllowedPath((base + L"Evil\\setting.reg").c_str()));
    // Nor is climbing out with "..".
    EXPECT_FALSE(IsAllowedPath((base + L"\\..\\Other\\setting.reg").c_str()));
    EXPECT_FALSE(IsAllowedPath(L"C:\\windows\\temp\\setting.reg"));
    EXPECT_FALSE(IsAllowedPath(nullptr));
}

TEST(GetCurrentPath, IsTheProgramFolderWithABackslash) {
    wchar_t dir[MAX_PATH] = {};
    ASSERT_EQ(0u, GetCurrentPath(dir, ARRAYSIZE(dir)));
    EXPECT_EQ(testenv::BinDir(), std::wstring(dir));
    wchar_t tiny[4] = {};
    EXPECT_NE(0u, GetCurrentPath(tiny, ARRAYSIZE(tiny)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetCurrentPath(nullptr, 10));
}

TEST(FileExists, FindsFilesBesideTheProgram) {
    EXPECT_TRUE(FileExistsCurrentPath(ThisProgramName().c_str()));
    EXPECT_FALSE(FileExistsCurrentPath(L"no-such-file.exe"));
    EXPECT_TRUE(FileExists((testenv::BinDir() + ThisProgramName()).c_str()));
    EXPECT_FALSE(FileExists(nullptr));
}

TEST(CombineSystemPath, JoinsTheSystemFolder) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_EQ(0u, CombineSystemPath(L"powrprof.dll", path, ARRAYSIZE(path)));
    const std::wstring lower = Lower(path);
    EXPECT_NE(std::wstring::npos, lower.find(L"\\system32\\powrprof.dll")) << path;
    wchar_t tiny[8] = {};
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
              CombineSystemPath(L"powrprof.dll", tiny, ARRAYSIZE(tiny)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              CombineSystemPath(nullptr, path, ARRAYSIZE(path)));
}

TEST(CurrentModuleExe, StartsAProgramBesideThisOne) {
    HANDLE process = nullptr;
    ASSERT_EQ(0u, CurrentModuleExe(ThisProgramName().c_str(), L"--gtest_filter=NoSuchTest.Nothing",
                                   SW_HIDE, &process));
    ASSERT_NE(nullptr, process);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 60000));
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process);

    // (A missing program is not tried here: the shell answers it with an
    // error dialog, as it does for the user.)
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              CurrentModuleExe(L"x.exe", nullptr, SW_HIDE));
}
