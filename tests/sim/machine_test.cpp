// The shared simulated machine as the suite sees it: through cellio.dll in
// this process, changed by simctl and read by helper processes, with the
// power events that reach another process's window. Time-driven cases run
// the machine fast (kTestSpeed) and wait for states, never for durations.
#include "sim/machine.h"

#include "battery/cellio.h"
#include "battery/firmware.h"
#include "common/handles.h"
#include "support/suite_env.h"

#include <batclass.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr double kTestSpeed = 1000.0;
constexpr DWORD kWaitMs = 30000;
constexpr DWORD kPollMs = 25;

int Simctl(const std::wstring& args) {
    return testenv::RunProgram(L"simctl.exe", args);
}

uint32_t Control(uint32_t battery, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t* returned = nullptr) {
    uint32_t bytes = 0;
    const uint32_t rc =
        CellioDeviceControl(battery, code, const_cast<void*>(in), inSize, out, outSize, &bytes);
    if (returned)
        *returned = bytes;
    return rc;
}

uint32_t ReadWord(uint32_t battery, uint32_t code) {
    uint32_t value = 0xFFFFFFFF;
    EXPECT_EQ(0u, Control(battery, code, nullptr, 0, &value, sizeof(value)));
    return value;
}

uint32_t WriteWord(uint32_t battery, uint32_t code, uint32_t value) {
    uint32_t data = 0xFFFFFFFF;
    return Control(battery, code, &value, sizeof(value), &data, sizeof(data));
}

// The remaining percentage as the suite's battery object computes it.
uint32_t Percent(uint32_t battery) {
    BBIF bbif = {};
    BBST bbst = {};
    if (Control(battery, CELLIO_METHOD_BBIF, nullptr, 0, &bbif, sizeof(bbif)) ||
        Control(battery, CELLIO_METHOD_BBST, nullptr, 0, &bbst, sizeof(bbst)) || !bbif.dwFCC)
        return 0;
    if (bbst.dwRemaining >= bbif.dwFCC)
        return 100;
    return static_cast<uint32_t>(static_cast<float>(bbst.dwRemaining) / bbif.dwFCC * 100.0f + 0.5f);
}

ULONG Tag(uint32_t battery) {
    ULONG wait = 0;
    ULONG tag = 0;
    EXPECT_EQ(0u, Control(battery, CELLIO_IOCTL_QUERY_TAG, &wait, sizeof(wait), &tag, sizeof(tag)));
    return tag;
}

BATTERY_STATUS Status(uint32_t battery) {
    BATTERY_WAIT_STATUS wait = {};
    wait.BatteryTag = Tag(battery);
    BATTERY_STATUS status = {};
    EXPECT_EQ(0u, Control(battery, CELLIO_IOCTL_QUERY_STATUS, &wait, sizeof(wait), &status,
                          sizeof(status)));
    return status;
}

bool Charging(uint32_t battery) {
    return (Status(battery).PowerState & BATTERY_CHARGING) != 0;
}

bool Discharging(uint32_t battery) {
    return (Status(battery).PowerState & BATTERY_DISCHARGING) != 0;
}

SYSTEM_POWER_STATUS PowerStatus() {
    auto query = reinterpret_cast<PFN_CellioGetSystemPowerStatus>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"cellio.dll"), CELLIO_POWER_STATUS_EXPORT)));
    SYSTEM_POWER_STATUS status = {};
    EXPECT_TRUE(query && query(&status));
    return status;
}

template <typename Pred> bool Eventually(Pred pred) {
    return testenv::WaitUntil(pred, kWaitMs, kPollMs);
}

sim::Machine Snapshot() {
    sim::Machine m;
    EXPECT_EQ(0u, sim::ReadMachine(&m));
    return m;
}

// Each case starts from profile "one", paused, and leaves that profile at
// real-time speed behind for whoever uses the prefix next.
class SimMachine : public testenv::SuiteStateTest {
protected:
    void SetUp() override {
        testenv::SuiteStateTest::SetUp();
        ASSERT_EQ(0u, SimSetupProfile(L"one"));
        ASSERT_EQ(0u, SimSetSpeed(0.0));
    }
    void TearDown() override {
        SimSetupProfile(L"one");
        testenv::SuiteStateTest::TearDown();
    }

    static void SetBattery(uint32_t battery, const wchar_t* field, const wchar_t* value) {
        ASSERT_EQ(0, Simctl(L"set " + std::to_wstring(battery) + L" " + field + L" " + value))
            << field;
    }
};

TEST_F(SimMachine, StandardRecordsDescribeTheBattery) {
    ASSERT_EQ(0, Simctl(L"set 1 name 内蔵バッテリ"));
    SetBattery(1, L"cycles", L"321");
    BATTERY_QUERY_INFORMATION query = {};
    query.BatteryTag = Tag(1);
    query.InformationLevel = BatteryInformation;
    BATTERY_INFORMATION info = {};
    uint32_t returned = 0;
    ASSERT_EQ(0u, Control(1, CELLIO_IOCTL_QUERY_INFORMATION, &query, sizeof(query), &info,
                          sizeof(info), &returned));
    EXPECT_EQ(36u, returned);
    EXPECT_EQ(0, memcmp(info.Chemistry, "LION", 4));
    EXPECT_EQ(44000u, info.DesignedCapacity);
    EXPECT_EQ(42240u, info.FullChargedCapacity);
    EXPECT_EQ(321u, info.CycleCount);

    // The device name is the firmware's ANSI name, in UTF-16.
    wchar_t name[260] = {};
    query.InformationLevel = BatteryDeviceName;
    ASSERT_EQ(
        0u, Control(1, CELLIO_IOCTL_QUERY_INFORMATION, &query, sizeof(query), name, sizeof(name)));
    EXPECT_STREQ(L"内蔵バッテリ", name);
    BBIF bbif = {};
    ASSERT_EQ(0u, Control(1, CELLIO_METHOD_BBIF, nullptr, 0, &bbif, sizeof(bbif), &returned));
    EXPECT_EQ(280u, returned);
    wchar_t fromAnsi[260] = {};
    MultiByteToWideChar(CP_ACP, 0, bbif.szBattName, -1, fromAnsi, ARRAYSIZE(fromAnsi));
    EXPECT_STREQ(name, fromAnsi);
    EXPECT_EQ(0x1A2Bu, bbif.dwSN);
    EXPECT_EQ(EncodeStartDate(2024, 4, 1, false), bbif.dwStartDate);

    // A stale tag, a short buffer and an unknown level are refused.
    query.BatteryTag += 1;
    EXPECT_NE(
        0u, Control(1, CELLIO_IOCTL_QUERY_INFORMATION, &query, sizeof(query), name, sizeof(name)));
    query.BatteryTag -= 1;
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER),
              Control(1, CELLIO_IOCTL_QUERY_INFORMATION, &query, sizeof(query), name, 4));
    query.InformationLevel = static_cast<BATTERY_QUERY_INFORMATION_LEVEL>(77);
    EXPECT_NE(
        0u, Control(1, CELLIO_IOCTL_QUERY_INFORMATION, &query, sizeof(query), name, sizeof(name)));
    EXPECT_NE(0u, Control(1, 0x294999, nullptr, 0, name, sizeof(name)));
    EXPECT_NE(0u, Control(3, CELLIO_METHOD_BBIF, nullptr, 0, &bbif, sizeof(bbif)));
}

TEST_F(SimMachine, FirmwareMethodsReadAndWriteTheBattery) {
    EXPECT_EQ(PSTS_CHGC | PSTS_ADPC | PSTS_PROTECT_SUPPORT, ReadWord(1, CELLIO_METHOD_PSTS));
    EXPECT_EQ(0u, ReadWord(1, CELLIO_METHOD_RBCL));
    EXPECT_EQ(0u, WriteWord(1, CELLIO_METHOD_WBCL, 80));
    EXPECT_EQ(80u, ReadWord(1, CELLIO_METHOD_RBCL));
    EXPECT_EQ(0u, WriteWord(1, CELLIO_METHOD_WBSD, 0xD865));
    BBIF bbif = {};
    ASSERT_EQ(0u, Control(1, CELLIO_METHOD_BBIF, nullptr, 0, &bbif, sizeof(bbif)));
    EXPECT_EQ(0xD865u, bbif.dwStartDate);
    EXPECT_NE(0u, WriteWord(1, CELLIO_METHOD_ADPC, 2));
    EXPECT_NE(0u, Control(1, CELLIO_METHOD_CHGC, nullptr, 0, &bbif, 4)); // no argument
    EXPECT_EQ(0u, ReadWord(1, CELLIO_METHOD_HEALTH));
    BBST bbst = {};
    ASSERT_EQ(0u, Control(1, CELLIO_METHOD_BBST, nullptr, 0, &bbst, sizeof(bbst)));
    EXPECT_NEAR(2982.0, bbst.dwTemperature, 2.0);

    ASSERT_EQ(0, Simctl(L"setup one-nomode"));
    uint32_t mode = 0;
    EXPECT_NE(0u, Control(1, CELLIO_METHOD_RBCL, nullptr, 0, &mode, sizeof(mode)));
    EXPECT_NE(0u, WriteWord(1, CELLIO_METHOD_WBCL, 80));

    ASSERT_EQ(0, Simctl(L"setup one-312"));
    driver::_SYSTEM_PLATFORM_INFO platform = {};
    EXPECT_EQ(0ul, GetSystemInfo(platform));
    EXPECT_EQ(1u, platform.platformKind);
    EXPECT_EQ(0x312u, platform.platformCode);
    ASSERT_EQ(0, Simctl(L"setup type1-caution"));
    EXPECT_EQ(1, CellioGetPlatformType());
    EXPECT_EQ(20u, ReadWord(1, CELLIO_METHOD_HEALTH));
}

TEST_F(SimMachine, TwoProcessesSeeTheSameMachine) {
    ASSERT_EQ(0, Simctl(L"setup two-worn"));
    EXPECT_EQ(3, CellioGetBatteryMask());
    EXPECT_EQ(3, testenv::RunProgram(L"sim_probe.exe", L"mask"));
    EXPECT_EQ(0u, WriteWord(2, CELLIO_METHOD_WBCL, 50));
    EXPECT_EQ(50, testenv::RunProgram(L"sim_probe.exe", L"mode 2"));
    EXPECT_EQ(0u, WriteWord(2, CELLIO_METHOD_CHGC, 0));
    EXPECT_EQ(static_cast<int>(PSTS_ADPC), testenv::RunProgram(L"sim_probe.exe", L"psts 2"));
    SetBattery(1, L"percent", L"40");
    SetBattery(2, L"percent", L"40");
    EXPECT_EQ(40u, Percent(1));
    EXPECT_EQ(40, testenv::RunProgram(L"sim_probe.exe", L"percent"));

    // A removed battery is gone for every process, and comes back as a new device.
    const ULONG tag = Tag(2);
    ASSERT_EQ(0, Simctl(L"battery 2 remove"));
    EXPECT_EQ(1, testenv::RunProgram(L"sim_probe.exe", L"mask"));
    uint32_t word = 0;
    EXPECT_NE(0u, Control(2, CELLIO_METHOD_PSTS, nullptr, 0, &word, sizeof(word)));
    EXPECT_NE(0u, WriteWord(2, CELLIO_METHOD_ADPC, 0));
    EXPECT_GE(testenv::RunProgram(L"sim_probe.exe", L"mode 2"), 1000);
    ASSERT_EQ(0, Simctl(L"battery 2 insert"));
    EXPECT_EQ(3, CellioGetBatteryMask());
    EXPECT_NE(tag, Tag(2));
}

TEST_F(SimMachine, BatteryOnAcChargesToFullAndStops) {
    SetBattery(1, L"percent", L"5");
    const ULONGLONG start = GetTickCount64();
    ASSERT_EQ(0, Simctl(L"speed 1000"));
    EXPECT_TRUE(Eventually([] { return Charging(1); }));
    EXPECT_TRUE(PowerStatus().BatteryFlag & 8);
    ASSERT_TRUE(Eventually([] { return !Charging(1); }));
    // Figure for the record, not a check: real time of a full charge at the test speed.
    printf("full charge from 5 %% at speed %.0f: %.1f s real\n", kTestSpeed,
           (GetTickCount64() - start) / 1000.0);
    EXPECT_EQ(100u, Percent(1));
    const BATTERY_STATUS status = Status(1);
    EXPECT_EQ(static_cast<ULONG>(BATTERY_POWER_ON_LINE), status.PowerState);
    EXPECT_EQ(0, status.Rate);
    // It stays full and idle while time goes on.
    const sim::Machine later = Snapshot();
    ASSERT_TRUE(Eventually([&] { return Snapshot().simSeconds > later.simSeconds + 600.0; }));
    EXPECT_FALSE(Charging(1));
    EXPECT_EQ(100u, Percent(1));
}

TEST_F(SimMachine, ChargeModeEightyStopsAtAboutEighty) {
    SetBattery(1, L"percent", L"60");
    ASSERT_EQ(0u, WriteWord(1, CELLIO_METHOD_WBCL, 80));
    ASSERT_EQ(0u, SimSetSpeed(kTestSpeed));
    ASSERT_TRUE(Eventually([] { return !Charging(1) && Percent(1) >= 70; }));
    EXPECT_NEAR(80.0, Percent(1), 1.0);
}

TEST_F(SimMachine, NotChargeLimitFromTheRegistryHoldsCharging) {
    zb::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZEL\\VADOvur\\Refresh", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, key.Put(), nullptr));
    const DWORD limit = 7;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"NotChargeLimit", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&limit), sizeof(limit)));
    SetBattery(1, L"percent", L"2");
    ASSERT_EQ(0u, WriteWord(1, CELLIO_METHOD_WBCL, 7));
    EXPECT_FALSE(Charging(1));
    ASSERT_EQ(0u, WriteWord(1, CELLIO_METHOD_WBCL, 5)); // now an ordinary 5 % limit
    EXPECT_TRUE(Charging(1));
}

TEST_F(SimMachine, RefreshDischargesOnAcUntilTheFirmwareEndsIt) {
    SetBattery(1, L"percent", L"15");
    ASSERT_EQ(0u, WriteWord(1, CELLIO_METHOD_ADPC, ADPC_START_REFRESH));
    ASSERT_EQ(0u, WriteWord(1, CELLIO_METHOD_CHGC, CHGC_REFRESHING));
    EXPECT_EQ(0u, ReadWord(1, CELLIO_METHOD_PSTS) & (PSTS_ADPC | PSTS_CHGC));
    EXPECT_EQ(static_cast<ULONG>(BATTERY_POWER_ON_LINE | BATTERY_DISCHARGING),
              Status(1).PowerState);
    EXPECT_LT(Status(1).Rate, 0);
    ASSERT_EQ(0u, SimSetSpeed(kTestSpeed));
    ASSERT_TRUE(Eventually([] { return (ReadWord(1, CELLIO_METHOD_PSTS) & PSTS_ADPC) != 0; }));
    EXPECT_EQ(0u, ReadWord(1, CELLIO_METHOD_PSTS) & PSTS_CHGC);
    EXPECT_LE(Percent(1), 3u);
    EXPECT_GE(Percent(1), 2u);
    EXPECT_EQ(static_cast<ULONG>(BATTERY_POWER_ON_LINE), Status(1).PowerState);
    // Ending the refresh lets it charge again.
    ASSERT_EQ(0u, WriteWord(1, CELLIO_METHOD_ADPC, ADPC_END_REFRESH));
    ASSERT_EQ(0u, WriteWord(1, CELLIO_METHOD_CHGC, CHGC_NORMAL));
    EXPECT_TRUE(Charging(1));
}

TEST_F(SimMachine, WithoutAcTheBatteryDischarges) {
    ASSERT_EQ(0, Simctl(L"ac off"));
    EXPECT_EQ(0, PowerStatus().ACLineStatus);
    EXPECT_TRUE(Discharging(1));
    EXPECT_EQ(0u, Status(1).PowerState & BATTERY_POWER_ON_LINE);
    const uint32_t before = Percent(1);
    ASSERT_EQ(0u, SimSetSpeed(kTestSpeed));
    EXPECT_TRUE(Eventually([&] { return Percent(1) + 2 <= before; }));
    EXPECT_NE(static_cast<DWORD>(-1), PowerStatus().BatteryLifeTime);
}

// A temporary file of this test process, deleted with the object.
class ScratchFile {
public:
    explicit ScratchFile(const wchar_t* stem) {
        wchar_t dir[MAX_PATH] = {};
        GetTempPathW(ARRAYSIZE(dir), dir);
        path_ = std::wstring(dir) + stem + std::to_wstring(GetCurrentProcessId()) + L".txt";
        DeleteFileW(path_.c_str());
    }
    ~ScratchFile() { DeleteFileW(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring Quoted() const { return L"\"" + path_ + L"\""; }

    bool Write(const std::string& bytes) const {
        zb::UniqueHandle file(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        return file &&
               WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }

private:
    std::wstring path_;
};

// The recorder's lines, read as they are written.
class EventLog {
public:
    const std::wstring& Path() const { return file_.Path(); }
    std::wstring Quoted() const { return file_.Quoted(); }

    std::vector<std::string> Lines() const {
        const std::vector<unsigned char> bytes = testenv::ReadFileBytes(file_.Path());
        std::vector<std::string> lines;
        std::string line;
        for (unsigned char c : bytes) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += static_cast<char>(c);
            }
        }
        return lines;
    }
    // Waits for a line at or after position `from`; returns its index or -1.
    int WaitFor(const std::string& wanted, size_t from = 0) const {
        int found = -1;
        Eventually([&] {
            const std::vector<std::string> lines = Lines();
            for (size_t i = from; i < lines.size(); ++i) {
                if (lines[i] == wanted) {
                    found = static_cast<int>(i);
                    return true;
                }
            }
            return false;
        });
        return found;
    }

private:
    ScratchFile file_{L"sim_events_"};
};

BOOL CALLBACK CloseProcessWindow(HWND hwnd, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == static_cast<DWORD>(pid))
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
}

TEST_F(SimMachine, PowerEventsReachTheWindowsOfAnotherProcess) {
    SetBattery(1, L"percent", L"40");
    EventLog log;
    zb::UniqueHandle process(testenv::StartProgram(L"sim_event_recorder.exe",
                                                   log.Quoted() + L" " + std::to_wstring(kWaitMs)));
    ASSERT_TRUE(process);
    ASSERT_EQ(0, log.WaitFor("READY"));
    // A new window is told the present settings, as after registering.
    EXPECT_GE(log.WaitFor("ACDC 0"), 0);
    EXPECT_GE(log.WaitFor("PERCENT 40"), 0);

    SetBattery(1, L"percent", L"37");
    EXPECT_GE(log.WaitFor("PERCENT 37"), 0);
    size_t mark = log.Lines().size();
    ASSERT_EQ(0u, SimSetAcOnline(false));
    const int acdc = log.WaitFor("ACDC 1", mark);
    EXPECT_GE(acdc, 0);
    EXPECT_GE(log.WaitFor("STATUS", mark), 0);

    mark = log.Lines().size();
    ASSERT_EQ(0, Simctl(L"suspend"));
    const int suspend = log.WaitFor("SUSPEND", mark);
    ASSERT_GE(suspend, 0);
    // Unplugged while asleep: reported after the wake-up.
    ASSERT_EQ(0u, SimSetAcOnline(true));
    ASSERT_EQ(0, Simctl(L"resume"));
    const int automatic = log.WaitFor("RESUMEAUTOMATIC", suspend + 1);
    const int resumed = log.WaitFor("RESUMESUSPEND", suspend + 1);
    const int online = log.WaitFor("ACDC 0", suspend + 1);
    EXPECT_GT(automatic, suspend);
    EXPECT_GT(resumed, automatic);
    EXPECT_GT(online, resumed);
    for (const std::string& line : log.Lines())
        EXPECT_NE("BADSETTING", line);

    // The process ends cleanly with the library's watcher thread running.
    EnumWindows(CloseProcessWindow, static_cast<LPARAM>(GetProcessId(process.Get())));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), kWaitMs));
    DWORD code = 99;
    GetExitCodeProcess(process.Get(), &code);
    EXPECT_EQ(0u, code);
}

TEST_F(SimMachine, SimctlRefusesBadInputAndChangesNothing) {
    const sim::Machine before = Snapshot();
    const wchar_t* const bad[] = {L"",
                                  L"frobnicate",
                                  L"setup",
                                  L"setup nosuch",
                                  L"setup --file",
                                  L"setup --file C:\\no\\such\\file.txt",
                                  L"ac maybe",
                                  L"ac on off",
                                  L"battery 3 remove",
                                  L"battery 1 eject",
                                  L"speed fast",
                                  L"speed -2",
                                  L"speed 1e9",
                                  L"set 1 percent 101",
                                  L"set 1 fcc 999999",
                                  L"set 1 remaining 50000",
                                  L"set 2 design 0",
                                  L"set machine percent 5",
                                  L"set 1 ac off",
                                  L"set 1 startdate 2024-13-01",
                                  L"set 1 chemistry TOOLONG",
                                  L"status --xml"};
    for (const wchar_t* args : bad) {
        EXPECT_EQ(2, Simctl(args)) << args;
        const sim::Machine after = Snapshot();
        EXPECT_EQ(0, memcmp(&before, &after, sizeof(before))) << args;
    }

    // A setup file with an error on its last line leaves the machine as it was.
    ScratchFile file(L"sim_setup_");
    ASSERT_TRUE(file.Write("profile=two\nbattery2.percent=35\nac=off\nbattery1.fcc=lots\n"));
    EXPECT_EQ(2, Simctl(L"setup --file " + file.Quoted()));
    const sim::Machine after = Snapshot();
    EXPECT_EQ(0, memcmp(&before, &after, sizeof(before)));
}

TEST_F(SimMachine, SimctlSetupFileBuildsTheMachine) {
    ScratchFile file(L"sim_setup_");
    ASSERT_TRUE(file.Write("\xEF\xBB\xBF# two batteries, the second one third full\n"
                           "profile=two\n"
                           "battery2.name=\xE5\x86\x85\xE8\x94\xB5\n" // 内蔵, UTF-8
                           "battery2.percent=35\n"
                           "ac=off\n"));
    ASSERT_EQ(0, Simctl(L"setup --file " + file.Quoted()));
    EXPECT_EQ(3, CellioGetBatteryMask());
    EXPECT_EQ(35u, Percent(2));
    EXPECT_EQ(0, PowerStatus().ACLineStatus);
    BBIF bbif = {};
    ASSERT_EQ(0u, Control(2, CELLIO_METHOD_BBIF, nullptr, 0, &bbif, sizeof(bbif)));
    EXPECT_STREQ("\x93\xe0\x91\xa0", bbif.szBattName); // 内蔵 in code page 932
}

} // namespace
