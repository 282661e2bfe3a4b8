// The refresh run's plain decisions: what refuses a start, when a toast is
// due, which reason and advice texts a run that did not complete shows.
#include "main/main_app.h"

#include "main/program_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zbmain;

TEST(RefreshDecisions, RefusalsComeInTheirOrder) {
    SYSTEM_POWER_STATUS status = {};
    status.ACLineStatus = 0;
    status.BatteryFlag = BATTERY_FLAG_UNKNOWN;
    EXPECT_EQ(UINT(IDS_NO_BATTERY_CONNECTED), RefusalForPowerStatus(status, false));
    status.BatteryFlag = 1;
    EXPECT_EQ(UINT(IDS_AC_NOT_CONNECTED), RefusalForPowerStatus(status, false));
    status.ACLineStatus = 255;
    EXPECT_EQ(UINT(IDS_AC_NOT_CONNECTED), RefusalForPowerStatus(status, true));
    status.ACLineStatus = 1;
    status.BatteryFlag = BATTERY_FLAG_NO_BATTERY;
    EXPECT_EQ(UINT(IDS_NO_BATTERY_CONNECTED), RefusalForPowerStatus(status, false));
    status.BatteryFlag = BATTERY_FLAG_CHARGING;
    EXPECT_EQ(UINT(IDS_FILE_MISSING), RefusalForPowerStatus(status, false));
    EXPECT_EQ(0u, RefusalForPowerStatus(status, true));
}

TEST(RefreshDecisions, AToastOnlyForEachNewTen) {
    EXPECT_EQ(20, NewToastTens(19, 21));
    EXPECT_EQ(-1, NewToastTens(21, 29));
    EXPECT_EQ(40, NewToastTens(29, 41));
    EXPECT_EQ(-1, NewToastTens(0, 0));
    EXPECT_EQ(100, NewToastTens(99, 100));
    EXPECT_EQ(-1, NewToastTens(50, 45)); // a report going back shows nothing
}

// The charge steps count their pictures up (0, 1, 2 and 8, 9, 10), the
// discharge down (6, 5, 4), all on one counter; a charge step that finds
// it at -1, where the discharge leaves it, starts at its first picture.
TEST(RefreshDecisions, StepPicturesRunInTheirOrder) {
    int frame = 0;
    std::vector<int> pictures;
    for (int mode : {0, 0, 0, 0, 1, 1, 1, 1, 2, 3, 4, 4, 4, 4, 5})
        pictures.push_back(NextStepPicture(mode, &frame));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 0, 5, 4, 6, 5, 4, 6, 9, 10, 8, 9, -1}), pictures);
    frame = -1;
    EXPECT_EQ(8, NextStepPicture(4, &frame));
    frame = -1;
    EXPECT_EQ(0, NextStepPicture(0, &frame));
}

TEST(RefreshDecisions, ReasonAndAdviceTexts) {
    EXPECT_EQ(UINT(IDS_REASON_ABORTED), ReasonTextId(2));
    EXPECT_EQ(UINT(IDS_REASON_REMOVED2), ReasonTextId(4));
    EXPECT_EQ(UINT(IDS_REASON_AC), ReasonTextId(5));
    EXPECT_EQ(0u, ReasonTextId(8)); // the dialog's own text stays
    EXPECT_EQ(UINT(IDS_ADVICE_CHARGE_AMOUNT), AdviceTextId(0x80 | 50, 3));
    EXPECT_EQ(UINT(IDS_ADVICE_MODE_CHANGED), AdviceTextId(80, 3));
    EXPECT_EQ(UINT(IDS_ADVICE_MODE_CHANGED), AdviceTextId(80, 4));
    EXPECT_EQ(UINT(IDS_ADVICE_REGULAR), AdviceTextId(80, 5));
}

TEST(ReservationDecisions, ArgumentsLatestDateAndWakeUp) {
    WCHAR args[64] = L"";
    BuildReservationArguments(false, false, true, args, ARRAYSIZE(args));
    EXPECT_STREQ(L" /resv /b2", args);
    BuildReservationArguments(true, true, true, args, ARRAYSIZE(args));
    EXPECT_STREQ(L"/sleep /resv", args);
    BuildReservationArguments(true, true, false, args, ARRAYSIZE(args));
    EXPECT_STREQ(L"/sleep /resv /b1", args);
    EXPECT_EQ(2u, ReservedBatteriesOf(L"/sleep /resv /b2"));
    EXPECT_EQ(3u, ReservedBatteriesOf(L" /resv"));
    EXPECT_EQ(0u, ReservedBatteriesOf(L""));

    SYSTEMTIME now = {2026, 11, 0, 30, 10, 0, 0, 0};
    SYSTEMTIME latest = ReservationLatestDate(now);
    EXPECT_EQ(2027, latest.wYear);
    EXPECT_EQ(2, latest.wMonth);
    EXPECT_EQ(28, latest.wDay);
    now.wYear = 2027;
    latest = ReservationLatestDate(now);
    EXPECT_EQ(29, latest.wDay); // 2028 is a leap year

    const SYSTEMTIME start = {2027, 1, 0, 1, 0, 1, 0, 0};
    const SYSTEMTIME wake = WakeUpTime(start, 3);
    EXPECT_EQ(2026, wake.wYear);
    EXPECT_EQ(12, wake.wMonth);
    EXPECT_EQ(31, wake.wDay);
    EXPECT_EQ(23, wake.wHour);
    EXPECT_EQ(58, wake.wMinute);
}

// Windows XP needs the password (its Task Scheduler runs a task only with
// the account's password), which only an administrator or, with "Limited",
// any user may give; later Windows ask an administrator for it and tell
// every user about wake timers from Windows 7 on.
TEST(ReservationDecisions, NotesBySystemAndUser) {
    const std::vector<int> xpPassword = {IDC_RESV_PASSWORD_LABEL, IDC_RESV_PASSWORD,
                                         IDC_RESV_NOTE_POWER, IDC_RESV_NOTE_PASSWORD,
                                         IDC_RESV_CAUTION};
    const std::vector<int> adminPassword = {IDC_RESV_PASSWORD_LABEL, IDC_RESV_PASSWORD,
                                            IDC_RESV_NOTE_POWER, IDC_RESV_NOTE, IDC_RESV_CAUTION};
    const struct {
        bool xp, win7, win8, admin, limited;
        std::vector<int> shown;
        UINT note[2];
        bool disabled;
    } cases[] = {
        {true, false, false, true, false, xpPassword, {0, 0}, false},
        {true, false, false, false, true, xpPassword, {0, 0}, false},
        {true, false, false, false, false, {IDC_RESV_NOTE_LOGIN}, {0, 0}, true},
        {false, false, false, true, false, adminPassword, {IDS_RESV_NOTE_PASSWORD, 0}, false},
        {false,
         true,
         true,
         true,
         false,
         adminPassword,
         {IDS_RESV_NOTE_PASSWORD, IDS_RESV_NOTE_WAKE},
         false},
        {false, false, false, false, true, {IDC_RESV_NOTE_LOGIN}, {0, 0}, false},
        {false,
         true,
         false,
         false,
         false,
         {IDC_RESV_NOTE, IDC_RESV_CAUTION, IDC_RESV_NOTE_LOGIN},
         {IDS_RESV_NOTE_WAKE, 0},
         false},
        {false,
         true,
         true,
         false,
         false,
         {IDC_RESV_NOTE, IDC_RESV_CAUTION, IDC_RESV_NOTE_SIGNIN},
         {IDS_RESV_NOTE_WAKE, 0},
         false},
    };
    for (const auto& c : cases) {
        const ReservationNotes notes =
            ReservationNotesFor(c.xp, c.win7, c.win8, c.admin, c.limited);
        const std::vector<int> shown(notes.shown, notes.shown + notes.shownCount);
        const std::string which = std::to_string(&c - cases);
        EXPECT_EQ(c.shown, shown) << which;
        EXPECT_EQ(c.note[0], notes.noteText[0]) << which;
        EXPECT_EQ(c.note[1], notes.noteText[1]) << which;
        EXPECT_EQ(c.disabled, notes.disabled) << which;
    }
}
