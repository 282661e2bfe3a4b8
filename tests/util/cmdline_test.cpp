// The command-line map, fed with texts as Windows splits them.
#include "common/util.h"

#include <gtest/gtest.h>

namespace {

CommandLineMap Parse(const wchar_t* text) {
    CommandLineMap map;
    EXPECT_TRUE(ParseCommandLineText(text, map));
    return map;
}

bool Has(const CommandLineMap& map, const wchar_t* key) {
    return map.count(key) != 0;
}

} // namespace

TEST(ParseCommandLine, SwitchesWithoutValuesAreKeysWithEmptyValues) {
    const CommandLineMap map = Parse(L"zbRefresh.exe /b1 /nomain");
    ASSERT_EQ(3u, map.size());
    EXPECT_EQ(L"", map.at(L"zbRefresh.exe"));
    EXPECT_EQ(L"", map.at(L"/b1"));
    EXPECT_EQ(L"", map.at(L"/nomain"));
}

TEST(ParseCommandLine, ValueFollowsItsSwitchAndIsNotAKey) {
    const CommandLineMap map =
        Parse(L"\"C:\\Program Files\\VADOvur\\zbMain.exe\" /import \"C:\\My Files\\modes.cfg\" "
              L"/icon");
    ASSERT_EQ(3u, map.size());
    EXPECT_TRUE(Has(map, L"C:\\Program Files\\VADOvur\\zbMain.exe"));
    EXPECT_EQ(L"C:\\My Files\\modes.cfg", map.at(L"/import"));
    EXPECT_FALSE(Has(map, L"C:\\My Files\\modes.cfg"));
    EXPECT_EQ(L"", map.at(L"/icon"));
}

TEST(ParseCommandLine, WindowsQuotingRules) {
    // Backslashes before a closing quote halve; quotes join pieces; an empty
    // quoted argument is an (empty) value.
    const CommandLineMap map =
        Parse(L"prog.exe /export \"C:\\dir\\\\\" /a \"x\"y\" z\" /b \\\"lit\\\" /c \"\"");
    EXPECT_EQ(L"C:\\dir\\", map.at(L"/export"));
    EXPECT_EQ(L"xy z", map.at(L"/a"));
    EXPECT_EQ(L"\"lit\"", map.at(L"/b"));
    ASSERT_TRUE(Has(map, L"/c"));
    EXPECT_EQ(L"", map.at(L"/c"));
    EXPECT_FALSE(Has(map, L""));
}

TEST(ParseCommandLine, SwitchesAreCaseSensitive) {
    const CommandLineMap map = Parse(L"instzbw.exe /Commit /DELAY");
    EXPECT_TRUE(Has(map, L"/Commit"));
    EXPECT_FALSE(Has(map, L"/commit"));
    EXPECT_TRUE(Has(map, L"/DELAY"));
    EXPECT_FALSE(Has(map, L"/delay"));
}

TEST(ParseCommandLine, ArgumentsThatAreNotSwitchValuesAreKeys) {
    const CommandLineMap map = Parse(L"prog.exe loose /x value other");
    EXPECT_TRUE(Has(map, L"loose"));
    EXPECT_EQ(L"value", map.at(L"/x"));
    EXPECT_TRUE(Has(map, L"other"));
    EXPECT_FALSE(Has(map, L"value"));
}

TEST(ParseCommandLine, LastSwitchHasNoValue) {
    const CommandLineMap map = Parse(L"prog.exe /sleep /resv");
    EXPECT_EQ(L"", map.at(L"/sleep"));
    EXPECT_EQ(L"", map.at(L"/resv"));
}

TEST(ParseCommandLine, ProcessCommandLineIncludesTheProgram) {
    CommandLineMap map;
    ASSERT_TRUE(ParseCommandLine(map));
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ASSERT_NE(nullptr, argv);
    EXPECT_TRUE(Has(map, argv[0]));
    LocalFree(argv);
}
