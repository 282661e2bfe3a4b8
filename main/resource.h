// Resource ids of zbMain.exe. The main screen's library code loads its
// texts and pictures by these ids from the program's module; zbmaincore.rc
// holds the resources of that code and zbMain.rc includes it.
#pragma once

// Icons.
#define IDI_ZBMAIN 101     // class icon
#define IDI_ZBQUESTION 155 // main icon of the question message boxes
#define IDI_SMALL 194      // small icon

// Health pictures (bitmaps) of the diagnosis result.
#define IDB_HEALTH_WORN 147 // deteriorated
#define IDB_HEALTH_GOOD 148
#define IDB_HEALTH_BAD 157 // warning: replace the battery

// Dialogs whose result controls SetResultDlgInfo fills.
#define IDD_DIAGNOSIS_PAGE 215
#define IDD_COMPLETED 224
// Sleep countdown of Windows XP (which has no task dialog).
#define IDD_SLEEP_COUNTDOWN 207

// Result controls.
#define IDC_RESULT_MESSAGE 1012
#define IDC_RESULT_STATUS1 1112
#define IDC_RESULT_STATUS2 1113
#define IDC_RESULT_PICTURE1 1116
#define IDC_RESULT_PICTURE2 1029
#define IDC_RESULT_LASTDATE1 1123
#define IDC_RESULT_LASTDATE2 1134
#define IDC_RESULT_WARNING 1104

// Controls of the Windows XP countdown.
#define IDC_COUNTDOWN_ABORT 1075
#define IDC_COUNTDOWN_TEXT 1076
#define IDC_COUNTDOWN_ICON 1077

// Strings.
#define IDS_APP_TITLE 103
#define IDS_SLEEP_COUNTDOWN 105 // "...%d..." seconds left
#define IDS_NOT_YET_DONE 112
#define IDS_UNIDENTIFIED 115
#define IDS_ERR_SUSPEND 118
#define IDS_RESULT_GOOD 132
#define IDS_RESULT_WORN 134
#define IDS_STATUS_GOOD 136
#define IDS_STATUS_WORN 137
#define IDS_STATUS_BAD 151
#define IDS_RESULT_BAD 152
#define IDS_NO_BATTERY 154
#define IDS_DATE_FORMAT 164 // "%04d/%02d/%02d"
#define IDS_ABORT 174
#define IDS_ACQUIRING 194
#define IDS_BATTERY_PREFIX 232
#define IDS_BATTERY2_PREFIX 233

// Console messages of "/import" and "/export".
#define IDS_CONFIG_VERSION_MISMATCH 219
#define IDS_CONFIG_EXPORT_FAILED 222
#define IDS_CONFIG_IMPORT_FAILED 223
#define IDS_INVALID_OPTION 224
#define IDS_CONFIG_INIT_FAILED 225
#define IDS_CONFIG_CREATE_FAILED 226
#define IDS_CONFIG_WRITE_FAILED 227
#define IDS_CONFIG_NO_PATH 228
#define IDS_CONFIG_SCREEN_OPEN 229
#define IDS_CONFIG_READ_FAILED 230
// "/import" refused, and the charge mode dialog's OK, while a refresh runs.
#define IDS_MODE_LOCKED_BY_REFRESH 234
// Console messages of "/report".
#define IDS_REPORT_NO_PATH 236
#define IDS_REPORT_BAD_TYPE 237
#define IDS_REPORT_READ_FAILED 238
#define IDS_REPORT_CREATE_FAILED 239
#define IDS_REPORT_FAILED 240
// "/import" refused: the administrator enforces the charge mode.
#define IDS_MODE_SET_BY_POLICY 235

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
