// Charge-mode import and export against the simulated notebook.
#include "main/config_file.h"

#include "support/suite_env.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ConfigFileTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override {
        SuiteStateTest::SetUp();
        // Read the firmware's own modes, not the registry copy.
        DWORD off = 0;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZEL\\VADOvur",
                                  L"IsRegModeEnabled", REG_DWORD, &off, sizeof(off)));
        path_ = testenv::BinDir() + L"config_test.ini";
        DeleteFileW(path_.c_str());
    }
    void TearDown() override {
        DeleteFileW(path_.c_str());
        SuiteStateTest::TearDown();
    }

    void Machine(const std::wstring& lines) {
        ASSERT_EQ(0, testenv::SetUpMachine(lines)) << "simctl setup failed";
    }

    void WriteFileText(const std::string& text) {
        HANDLE file =
            CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }

    std::wstring Key(const wchar_t* section, const wchar_t* key) {
        wchar_t value[64] = {};
        GetPrivateProfileStringW(section, key, L"<none>", value, 64, path_.c_str());
        return value;
    }

    DWORD Mode(UINT battNo) {
        CBatteryArray batteries;
        DWORD mode = 0xFFFFFFFF;
        CBattery* battery = batteries.GetBattery(battNo);
        EXPECT_NE(nullptr, battery);
        if (battery) {
            EXPECT_EQ(S_OK, battery->GetChargeMode(&mode));
        }
        return mode;
    }

    DWORD Import() { return zbmain::ImportConfigFile(path_.c_str(), CBatteryArray()); }
    DWORD Export() { return zbmain::ExportConfigFile(path_.c_str(), CBatteryArray()); }

    std::wstring path_;
};

TEST_F(ConfigFileTest, ExportWritesBothModesAndImportAppliesThem) {
    Machine(L"profile=two\nbattery1.chargemode=80\nbattery2.chargemode=50");
    ASSERT_EQ(0u, Export());
    EXPECT_EQ(L"1.0.0.0", Key(L"Version", L"VadovurConfigVersion"));
    EXPECT_EQ(L"80", Key(L"Setting", L"ChargeMode"));
    EXPECT_EQ(L"80", Key(L"Setting", L"ChargeMode1"));
    EXPECT_EQ(L"50", Key(L"Setting", L"ChargeMode2"));

    Machine(L"profile=two");
    ASSERT_EQ(0u, Import());
    EXPECT_EQ(80u, Mode(1));
    EXPECT_EQ(50u, Mode(2));
}

TEST_F(ConfigFileTest, OldAndPartialFilesUseChargeModeForBothBatteries) {
    Machine(L"profile=two");
    WriteFileText("[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\nChargeMode=50\r\n");
    ASSERT_EQ(0u, Import());
    EXPECT_EQ(50u, Mode(1));
    EXPECT_EQ(50u, Mode(2));

    WriteFileText("[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\nChargeMode=80\r\n"
                  "ChargeMode1=0\r\n");
    ASSERT_EQ(0u, Import());
    EXPECT_EQ(80u, Mode(1));
    EXPECT_EQ(80u, Mode(2));
}

TEST_F(ConfigFileTest, VersionAndMissingFilesAreRefused) {
    Machine(L"profile=two");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED), Import()); // no file
    WriteFileText("[Version]\r\nVadovurConfigVersion=1.0.0.1\r\n[Setting]\r\nChargeMode=50\r\n");
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), Import());
    WriteFileText("[Version]\r\nVadovurConfigVersion=1.0.0.0a\r\n");
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), Import());
    EXPECT_EQ(0u, Mode(1));
}

const char kHeader[] = "[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\n";

// A battery-2 write that fails after battery 2's mode was read.
HRESULT FailBattery2(CBattery* battery, DWORD mode) {
    return battery->GetBattNo() == 2 ? E_FAIL : zbmain::WriteBatteryChargeMode(battery, mode);
}

// A failed import leaves every battery as it was, whichever battery fails.
TEST_F(ConfigFileTest, AFailedImportChangesNoBattery) {
    WriteFileText(std::string(kHeader) + "ChargeMode1=0\r\nChargeMode2=0\r\n");
    Machine(L"profile=two\nbattery1.chargemode=80\nbattery2.modesupport=0");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED), Import());
    EXPECT_EQ(80u, Mode(1));

    Machine(L"profile=two\nbattery1.modesupport=0\nbattery2.chargemode=50");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED), Import());
    EXPECT_EQ(50u, Mode(2));

    // Battery 1 took its mode before battery 2's write failed: it gets its
    // old one back.
    Machine(L"profile=two\nbattery1.chargemode=80\nbattery2.chargemode=50");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED),
              zbmain::ImportConfigFile(path_.c_str(), CBatteryArray(), FailBattery2));
    EXPECT_EQ(80u, Mode(1));
    EXPECT_EQ(50u, Mode(2));
}

// Only the modes a person can choose reach the firmware; one other value
// anywhere in the file refuses all of it.
TEST_F(ConfigFileTest, ModesNoOneCanChooseRefuseTheWholeFile) {
    Machine(L"profile=two\nbattery1.chargemode=80\nbattery2.chargemode=50");
    for (const char* setting :
         {"ChargeMode=5", "ChargeMode=128", "ChargeMode=208", "ChargeMode=49", "ChargeMode=81",
          "ChargeMode=-2", "ChargeMode=abc", "ChargeMode1=0\r\nChargeMode2=5",
          "ChargeMode=4294967295\r\nChargeMode1=0\r\nChargeMode2=0"}) {
        WriteFileText(std::string(kHeader) + setting + "\r\n");
        EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED), Import()) << setting;
        EXPECT_EQ(80u, Mode(1)) << setting;
        EXPECT_EQ(50u, Mode(2)) << setting;
    }
    WriteFileText(std::string(kHeader) + "ChargeMode1=64\r\nChargeMode2=65\r\n");
    EXPECT_EQ(0u, Import());
    EXPECT_EQ(64u, Mode(1));
    EXPECT_EQ(65u, Mode(2));
}

// Without battery 1 the file still carries its version, so it reads back,
// and a lone per-battery key sets its own battery.
TEST_F(ConfigFileTest, ExportWithoutBattery1CanBeImportedAgain) {
    Machine(L"profile=two\nbattery1.present=0\nbattery2.chargemode=80");
    ASSERT_EQ(0u, Export());
    EXPECT_EQ(L"1.0.0.0", Key(L"Version", L"VadovurConfigVersion"));
    EXPECT_EQ(L"<none>", Key(L"Setting", L"ChargeMode"));
    EXPECT_EQ(L"<none>", Key(L"Setting", L"ChargeMode1"));
    EXPECT_EQ(L"80", Key(L"Setting", L"ChargeMode2"));

    Machine(L"profile=two\nbattery1.present=0");
    EXPECT_EQ(0u, Import());
    EXPECT_EQ(80u, Mode(2));

    Machine(L"profile=two\nbattery1.chargemode=80\nbattery2.chargemode=80");
    WriteFileText(std::string(kHeader) + "ChargeMode1=50\r\n");
    EXPECT_EQ(0u, Import());
    EXPECT_EQ(50u, Mode(1));
    EXPECT_EQ(80u, Mode(2));
    WriteFileText(std::string(kHeader) + "ChargeMode=0\r\nChargeMode1=50\r\n");
    EXPECT_EQ(0u, Import()) << "the old key still serves both";
    EXPECT_EQ(0u, Mode(1));
    EXPECT_EQ(0u, Mode(2));
}

// A writer that fails one key with ERROR_DISK_FULL, as a full disk would
// after the first key went in.
const wchar_t* g_failingKey = nullptr;
BOOL WINAPI FailOneKey(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
    if (key && g_failingKey && lstrcmpW(key, g_failingKey) == 0) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return WritePrivateProfileStringW(section, key, value, file);
}

TEST_F(ConfigFileTest, ExportReportsTheFirstFailedWrite) {
    Machine(L"profile=two");
    for (const wchar_t* key : {L"ChargeMode1", L"ChargeMode2", L"VadovurConfigVersion"}) {
        g_failingKey = key;
        EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL),
                  zbmain::ExportConfigFile(path_.c_str(), CBatteryArray(), FailOneKey))
            << "failing " << std::string(key, key + lstrlenW(key));
    }
    g_failingKey = nullptr;

    const std::wstring folder = testenv::BinDir() + L"no_such_folder\\config.ini";
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
              zbmain::ExportConfigFile(folder.c_str(), CBatteryArray()));
}

} // namespace
