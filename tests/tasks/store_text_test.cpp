// The simulated service's text handling: the XML tree, task paths and
// schtasks' delay format.
#include <gtest/gtest.h>

#include "sim/tasks/task_model.h"
#include "sim/tasks/task_store.h"
#include "sim/tasks/task_xml.h"

namespace {

using namespace simtasks;

TEST(TaskXml, ReadsWhatWindowsAndInstallersWriteAndWritesItBack) {
    std::wstring error;
    XmlPtr root = ParseXml(L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                           L"<!-- exported -->\r\n"
                           L"<Task version=\"1.2\" xmlns=\"x\">\r\n"
                           L"  <Actions Context='Author'><Exec>"
                           L"<Command>a &amp; b &lt;&#x41;&#66;&gt;</Command>"
                           L"<Arguments><![CDATA[/x \"<y>\"]]></Arguments></Exec></Actions>\r\n"
                           L"  <Unknown attr=\"&quot;q&quot;\"><Kept/></Unknown>\r\n"
                           L"</Task>\r\n",
                           &error);
    ASSERT_TRUE(root) << std::string(error.begin(), error.end());
    EXPECT_EQ(L"a & b <AB>", PathText(*root, L"Actions/Exec/Command"));
    EXPECT_EQ(L"/x \"<y>\"", PathText(*root, L"Actions/Exec/Arguments"));
    EXPECT_STREQ(L"Author", Child(*root, L"Actions")->Attribute(L"Context"));

    // Known elements go where Windows puts them; unknown ones are kept.
    SetPathText(*root, L"Settings/WakeToRun", L"true");
    SetPathText(*root, L"RegistrationInfo/Author", L"me");
    const std::wstring xml = WriteXml(*root);
    EXPECT_LT(xml.find(L"<RegistrationInfo>"), xml.find(L"<Settings>"));
    EXPECT_LT(xml.find(L"<Settings>"), xml.find(L"<Actions"));
    EXPECT_NE(std::wstring::npos, xml.find(L"<Kept />"));
    EXPECT_NE(std::wstring::npos, xml.find(L"attr=\"&quot;q&quot;\""));
    EXPECT_NE(std::wstring::npos, xml.find(L"<Command>a &amp; b &lt;AB&gt;</Command>"));
    XmlPtr again = ParseXml(xml, &error);
    ASSERT_TRUE(again);
    EXPECT_EQ(xml, WriteXml(*again));

    for (const wchar_t* bad :
         {L"", L"<Task>", L"<Task></Tsk>", L"<Task a=b/>", L"<Task>&bogus;</Task>",
          L"<Task/><Task/>", L"text<Task/>", L"<Task><!-- open</Task>"})
        EXPECT_FALSE(ParseXml(bad, &error)) << bad;
}

TEST(TaskXml, PathsAndDelays) {
    std::wstring path;
    ASSERT_TRUE(NormalizeTaskPath(L"name", &path));
    EXPECT_EQ(L"\\name", path);
    ASSERT_TRUE(NormalizeTaskPath(L"\\folder\\\\name\\", &path));
    EXPECT_EQ(L"\\folder\\name", path);
    for (const wchar_t* bad : {L"a|b", L"..\\x", L"a:b", L"x?", L"\\a\\..\\b"})
        EXPECT_FALSE(NormalizeTaskPath(bad, &path)) << bad;

    std::wstring duration;
    ASSERT_TRUE(DelayToDuration(L"0000:00", &duration));
    EXPECT_EQ(L"PT0S", duration);
    ASSERT_TRUE(DelayToDuration(L"0002:30", &duration));
    EXPECT_EQ(L"PT2M30S", duration);
    ASSERT_TRUE(DelayToDuration(L"15:00", &duration));
    EXPECT_EQ(L"PT15M", duration);
    for (const wchar_t* bad : {L"", L"99:99", L"12345:00", L"1:5", L":30", L"1a:00", L"10"})
        EXPECT_FALSE(DelayToDuration(bad, &duration)) << bad;

    SYSTEMTIME t;
    EXPECT_TRUE(ParseBoundary(L"2031-05-06T07:08:09", &t));
    EXPECT_TRUE(ParseBoundary(L"2031-05-06T07:08:09.5+09:00", &t));
    EXPECT_FALSE(ParseBoundary(L"2031-02-30T07:08:09", &t));
    EXPECT_FALSE(ParseBoundary(L"2031-05-06 07:08:09", &t));
}

} // namespace
