// Display brightness during a refresh (XP): the refresh level and the order
// of saving, setting and restoring, with a fake brightness device.
#include "power_test_support.h"

#include "common/settings.h"
#include "refresh/brightness.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zbrefresh;

namespace {

using BrightnessTest = testenv::SuiteStateTest;

// A display that answers the three control codes from its fields.
class FakeBrightnessDevice final : public IBrightnessDevice {
public:
    std::vector<BYTE> levels;
    DisplayBrightness current = {ZB_DISPLAYPOLICY_BOTH, 80, 70};
    bool failQuerySupported = false;
    bool failQueryCurrent = false;
    bool failSet = false;
    std::vector<DWORD> calls;
    std::vector<DisplayBrightness> sets;

    BOOL Control(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                 LPDWORD returned) override {
        calls.push_back(code);
        *returned = 0;
        switch (code) {
        case ZB_IOCTL_VIDEO_QUERY_SUPPORTED_BRIGHTNESS:
            if (failQuerySupported || outSize < levels.size())
                return FALSE;
            if (!levels.empty())
                memcpy(out, levels.data(), levels.size());
            *returned = static_cast<DWORD>(levels.size());
            return TRUE;
        case ZB_IOCTL_VIDEO_QUERY_DISPLAY_BRIGHTNESS:
            if (failQueryCurrent || outSize < sizeof(current))
                return FALSE;
            memcpy(out, &current, sizeof(current));
            *returned = sizeof(current);
            return TRUE;
        case ZB_IOCTL_VIDEO_SET_DISPLAY_BRIGHTNESS:
            if (failSet || inSize != sizeof(DisplayBrightness))
                return FALSE;
            sets.push_back(*static_cast<const DisplayBrightness*>(in));
            current = sets.back();
            return TRUE;
        default:
            return FALSE;
        }
    }
};

bool SameRecord(const DisplayBrightness& a, const DisplayBrightness& b) {
    return a.ucDisplayPolicy == b.ucDisplayPolicy && a.ucACBrightness == b.ucACBrightness &&
           a.ucDCBrightness == b.ucDCBrightness;
}

struct LevelCase {
    std::vector<BYTE> levels;
    bool found;
    BYTE level;
};

TEST(Brightness, RefreshLevelIsTheLastOneNotAboveHalf) {
    const LevelCase cases[] = {
        {{20, 40, 60, 80, 100}, true, 40},
        {{60, 80, 100}, true, 60}, // the first level already above 50
        {{10, 30, 50}, false, 0},  // none above 50
        {{50, 51}, true, 50},      // 50 itself qualifies
        {{30, 100, 40}, true, 30}, // the device's order, not sorted
        {{}, false, 0},            // the device reports no level
    };
    for (const LevelCase& c : cases) {
        FakeBrightnessDevice device;
        device.levels = c.levels;
        CBrightnessControlXP control(&device);
        BYTE level = 0;
        EXPECT_EQ(c.found, control.GetRefreshBrightnessValue(&level) != FALSE)
            << testing::PrintToString(c.levels);
        if (c.found) {
            EXPECT_EQ(c.level, level) << testing::PrintToString(c.levels);
        }
        EXPECT_EQ(c.levels.size(), control.GetLevelCount());
    }

    FakeBrightnessDevice failing;
    failing.levels = {20, 40, 60};
    failing.failQuerySupported = true;
    CBrightnessControlXP control(&failing);
    BYTE level = 0;
    EXPECT_FALSE(control.GetRefreshBrightnessValue(&level));
    EXPECT_FALSE(control.GetRefreshBrightnessValue(nullptr));
}

TEST_F(BrightnessTest, IsSavedBeforeItIsLoweredAndPutBackAfter) {
    FakeBrightnessDevice device;
    device.levels = {20, 40, 60, 80, 100};
    CBrightnessControlXP control(&device);

    // The start of a refresh, as the refresh window runs it.
    BYTE level = 0;
    ASSERT_TRUE(control.GetRefreshBrightnessValue(&level));
    ASSERT_TRUE(control.StoreBrightness());
    ASSERT_TRUE(control.SetBrightness(level, level));
    EXPECT_EQ((std::vector<DWORD>{ZB_IOCTL_VIDEO_QUERY_SUPPORTED_BRIGHTNESS,
                                  ZB_IOCTL_VIDEO_QUERY_DISPLAY_BRIGHTNESS,
                                  ZB_IOCTL_VIDEO_SET_DISPLAY_BRIGHTNESS}),
              device.calls);
    ASSERT_EQ(1u, device.sets.size());
    EXPECT_TRUE(SameRecord({ZB_DISPLAYPOLICY_BOTH, 40, 40}, device.sets[0]));
    EXPECT_EQ(80u, GetRegStoredBrightnessAC());
    EXPECT_EQ(70u, GetRegStoredBrightnessDC());

    // The clean-up.
    EXPECT_TRUE(control.RestoreBrightness());
    ASSERT_EQ(2u, device.sets.size());
    EXPECT_TRUE(SameRecord({ZB_DISPLAYPOLICY_BOTH, 80, 70}, device.sets[1]));
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegStoredBrightnessAC());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegStoredBrightnessDC());

    // Nothing saved any more: a second clean-up does nothing.
    EXPECT_FALSE(control.RestoreBrightness());
    EXPECT_EQ(2u, device.sets.size());
}

TEST_F(BrightnessTest, RestoreNeedsBothLevelsAndKeepsThemOnFailure) {
    FakeBrightnessDevice device;
    CBrightnessControlXP control(&device);

    ASSERT_HRESULT_SUCCEEDED(SetRegStoredBrightnessAC(90));
    EXPECT_FALSE(control.RestoreBrightness());
    EXPECT_TRUE(device.calls.empty());
    EXPECT_EQ(90u, GetRegStoredBrightnessAC());

    ASSERT_HRESULT_SUCCEEDED(SetRegStoredBrightnessDC(60));
    device.failSet = true;
    EXPECT_FALSE(control.RestoreBrightness());
    EXPECT_EQ(90u, GetRegStoredBrightnessAC());
    EXPECT_EQ(60u, GetRegStoredBrightnessDC());
}

TEST_F(BrightnessTest, StoreNeedsTheDisplaysLevels) {
    FakeBrightnessDevice device;
    device.failQueryCurrent = true;
    CBrightnessControlXP control(&device);
    EXPECT_FALSE(control.StoreBrightness());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegStoredBrightnessAC());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegStoredBrightnessDC());
    DisplayBrightness record = {};
    EXPECT_FALSE(control.GetDisplayBrightness(nullptr));
    EXPECT_FALSE(control.GetDisplayBrightness(&record));
}

TEST_F(BrightnessTest, SavedByAnInterruptedRefreshIsNotOverwritten) {
    // The earlier refresh saved the user's levels and left the display at
    // its refresh level when it was killed.
    ASSERT_HRESULT_SUCCEEDED(SetRegStoredBrightnessAC(90));
    ASSERT_HRESULT_SUCCEEDED(SetRegStoredBrightnessDC(60));
    FakeBrightnessDevice device;
    device.current = {ZB_DISPLAYPOLICY_BOTH, 40, 40};
    CBrightnessControlXP control(&device);

    EXPECT_TRUE(control.StoreBrightness());
    EXPECT_EQ(90u, GetRegStoredBrightnessAC());
    EXPECT_EQ(60u, GetRegStoredBrightnessDC());
    EXPECT_TRUE(control.RestoreBrightness());
    ASSERT_EQ(1u, device.sets.size());
    EXPECT_TRUE(SameRecord({ZB_DISPLAYPOLICY_BOTH, 90, 60}, device.sets[0]));
}

TEST_F(BrightnessTest, WithoutAnLcdDeviceEveryBrightnessCallFails) {
    CBrightnessControlXP control; // "\\.\LCD", which Wine does not have
    BYTE level = 0;
    EXPECT_FALSE(control.GetRefreshBrightnessValue(&level));
    EXPECT_FALSE(control.StoreBrightness());
    ASSERT_HRESULT_SUCCEEDED(SetRegStoredBrightnessAC(90));
    ASSERT_HRESULT_SUCCEEDED(SetRegStoredBrightnessDC(60));
    EXPECT_FALSE(control.RestoreBrightness());
    EXPECT_EQ(90u, GetRegStoredBrightnessAC());
}

} // namespace
