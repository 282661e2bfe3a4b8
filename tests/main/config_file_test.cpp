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

    // Nothing to apply is still a successful import.
    WriteFileText("[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\nChargeMode1=0\r\n");
    EXPECT_EQ(0u, Import());
    EXPECT_EQ(80u, Mode(1));
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

// Battery 1 refuses every mode while battery 2 takes its one: the import
// must not report success for a battery that kept its old mode.
TEST_F(ConfigFileTest, ImportFailsWhenAnyBatteryRefusesItsMode) {
    Machine(L"profile=two\nbattery1.modesupport=0");
    WriteFileText("[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\nChargeMode1=80\r\n"
                  "ChargeMode2=50\r\n");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED), Import());
    EXPECT_EQ(50u, Mode(2));
}

// Without battery 1 the file still carries its version, so it reads back.
TEST_F(ConfigFileTest, ExportWithoutBattery1CanBeImportedAgain) {
    Machine(L"profile=two\nbattery1.present=0\nbattery2.chargemode=80");
    ASSERT_EQ(0u, Export());
    EXPECT_EQ(L"1.0.0.0", Key(L"Version", L"VadovurConfigVersion"));
    EXPECT_EQ(L"<none>", Key(L"Setting", L"ChargeMode"));
    EXPECT_EQ(L"<none>", Key(L"Setting", L"ChargeMode1"));
    EXPECT_EQ(L"80", Key(L"Setting", L"ChargeMode2"));

    Machine(L"profile=two\nbattery1.present=0");
    EXPECT_EQ(0u, Import()); // ChargeMode2 alone: nothing to apply
    WriteFileText("[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\nChargeMode=50\r\n");
    EXPECT_EQ(0u, Import());
    EXPECT_EQ(50u, Mode(2));
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
