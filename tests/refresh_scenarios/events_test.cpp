// The refresh's start and outcome in the Application event log. Wine keeps
// no event log; its advapi32 traces every report (the entry's type and id
// on the "advapi" channel, its text on "eventlog"), so the tool runs with
// those channels on and its debug output in a file.
#include "scenario_support.h"

#include <fstream>
#include <sstream>

using namespace scenario;

namespace {

constexpr double kFastSpeed = 4000.0;
constexpr double kSlowSpeed = 300.0;

// One ReportEventW call as Wine traced it.
struct Reported {
    unsigned type = 0;
    unsigned id = 0;
    std::string text;
};

std::vector<Reported> ReadReports(const std::wstring& path) {
    std::ifstream file(path.c_str());
    std::vector<Reported> reports;
    std::string line;
    while (std::getline(file, line)) {
        const size_t call = line.find("fixme:advapi:ReportEventW (");
        if (call != std::string::npos) {
            // (source,type,category,id,...)
            std::stringstream fields(line.substr(line.find('(', call) + 1));
            std::string source, type, category, id;
            std::getline(fields, source, ',');
            std::getline(fields, type, ',');
            std::getline(fields, category, ',');
            std::getline(fields, id, ',');
            Reported r;
            r.type = std::stoul(type, nullptr, 16);
            r.id = std::stoul(id, nullptr, 16);
            reports.push_back(r);
            continue;
        }
        const size_t text = line.find("eventlog:ReportEventW L\"");
        if (text != std::string::npos && !reports.empty()) {
            const size_t begin = line.find('"', text) + 1;
            reports.back().text = line.substr(begin, line.rfind('"') - begin);
        }
    }
    return reports;
}

class RefreshEventsTest : public RefreshScenarioTest {
protected:
    void SetUp() override {
        RefreshScenarioTest::SetUp();
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        output_ = std::wstring(temp) + L"zbrefresh_events.txt";
        DeleteFileW(output_.c_str());
    }
    void TearDown() override {
        DeleteFileW(output_.c_str());
        RefreshScenarioTest::TearDown();
    }

    bool StartTool() {
        return testenv::StartProgramWithWineDebug(L"zbRefresh.exe", L"/b1 /nomain",
                                                  "-all,+eventlog,fixme+advapi", output_);
    }

    // The tool started without a handle: its mutex tells its life.
    static bool ToolEnded() {
        return testenv::WaitUntil(
            [] {
                HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\vadovurMUTEX3");
                if (!mutex)
                    return true;
                CloseHandle(mutex);
                return false;
            },
            kRunWaitMs);
    }

    std::wstring output_;
};

TEST_F(RefreshEventsTest, StartAndOutcomeOfEachRunAreReported) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        m.battery[0].chargeMode = 80;
        m.speed = kFastSpeed;
    });
    const unsigned fccBefore = ReadBattery(1).fullChargeCapacity;

    // A whole refresh: started, then completed with both capacities.
    ASSERT_TRUE(StartTool());
    ASSERT_TRUE(recorder_->WaitForMode(1, 5)) << "the refresh did not complete";
    ASSERT_TRUE(ToolEnded());
    const unsigned fccAfter = ReadBattery(1).fullChargeCapacity;
    std::vector<Reported> reports = ReadReports(output_);
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(4u, reports[0].type); // information
    EXPECT_EQ(1000u, reports[0].id);
    EXPECT_EQ("Refresh started. Battery: 1. Full-charge capacity: " + std::to_string(fccBefore) +
                  ".",
              reports[0].text);
    EXPECT_EQ(4u, reports[1].type);
    EXPECT_EQ(1001u, reports[1].id);
    EXPECT_EQ("Refresh completed. Status: 0. Battery: 1. Full-charge capacity before: " +
                  std::to_string(fccBefore) + ". After: " + std::to_string(fccAfter) + ".",
              reports[1].text);

    // The adapter unplugged mid-discharge: a warning with the status the
    // main screen is told, once the tool has closed.
    recorder_.reset(new NoticeRecorder());
    ASSERT_TRUE(StartTool());
    ASSERT_TRUE(recorder_->WaitForMode(1, 1));
    SetSpeed(kSlowSpeed);
    ASSERT_EQ(0u, SimSetAcOnline(false));
    ASSERT_TRUE(recorder_->WaitFor([](const Notice& n) { return n.message == kErrorNotice; }));
    ASSERT_TRUE(SendRequest(kErrorNotice, 5));
    ASSERT_TRUE(ToolEnded());
    reports = ReadReports(output_);
    ASSERT_EQ(4u, reports.size());
    EXPECT_EQ(1000u, reports[2].id);
    EXPECT_EQ(2u, reports[3].type); // warning
    EXPECT_EQ(1002u, reports[3].id);
    EXPECT_EQ(0u, reports[3].text.find("Refresh aborted. Status: 5. Battery: 1. "
                                       "Full-charge capacity before: "))
        << reports[3].text;
}

} // namespace
