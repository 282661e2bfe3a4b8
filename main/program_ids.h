// Resource ids of the zbMain.exe program itself (main/resource.h holds
// those its library code shares). String ids double as the ids of its
// error-log entries and console messages (both load the text by id). The
// numbers are fixed: other programs of the suite and the tests use them.
#pragma once

#include "main/resource.h"

// Icons, bitmaps and the accelerator table.
#define IDI_TRAY_RECHARGE 137
#define IDI_TRAY_CHARGE 138
#define IDI_TRAY_DISCHARGE 139
#define IDB_WARNING 158
#define IDB_README_FLOW 196
// Refresh window steps, in the order of its picture table: 171 to 181, 170.
#define IDB_STEP_RECHARGE_IDLE 170
#define IDB_STEP_CHARGE0 171
#define IDB_STEP_CHARGE1 172
#define IDB_STEP_CHARGE2 173
#define IDB_STEP_CHARGE_IDLE 174
#define IDB_STEP_DISCHARGE0 175
#define IDB_STEP_DISCHARGE1 176
#define IDB_STEP_DISCHARGE2 177
#define IDB_STEP_DISCHARGE_IDLE 178
#define IDB_STEP_RECHARGE0 179
#define IDB_STEP_RECHARGE1 180
#define IDB_STEP_RECHARGE2 181
#define IDC_ZBMAIN 109 // accelerator table

// Commands of the main window.
#define IDM_ABOUT 104
#define IDM_EXIT 105

// Dialogs.
#define IDD_ABOUTBOX 103
#define IDD_README 193
#define IDD_CHARGEMODE 209
#define IDD_BATTERY2_PAGE 216
#define IDD_BATTERY1_PAGE 217
#define IDD_MAIN 225

// Main dialog.
#define IDC_BUTTON_HELP 1000
#define IDC_BUTTON_README 1001
#define IDC_TAB 1111

// Battery pages: battery 1, battery 2.
#define IDC_SCHEDULE1 1122
#define IDC_LASTDATE1 1123
#define IDC_MODE_LABEL1 1124
#define IDC_BUTTON_RESERVE1 1125
#define IDC_BUTTON_REFRESH1 1126
#define IDC_BUTTON_CHAREGEMODE1 1127
#define IDC_MODE_GROUP1 1139
#define IDC_MODE_EXPLAIN1 1087
#define IDC_MODE_TEXT1 1092
#define IDC_BUTTON_REFRESH2 1129
#define IDC_BUTTON_RESERVE2 1130
#define IDC_BUTTON_CHAREGEMODE2 1131
#define IDC_MODE_LABEL2 1132
#define IDC_MODE_TEXT2 1133
#define IDC_LASTDATE2 1134
#define IDC_SCHEDULE2 1135
#define IDC_MODE_GROUP2 1140
#define IDC_MODE_EXPLAIN2 1088

// Read-me dialog.
#define IDC_README_CHECK 1019
#define IDC_README_AREA 1103
#define IDC_README_PICTURE 1102

// Charge mode dialog.
#define IDC_CM_PROMPT 1082
#define IDC_CM_FULL 1084
#define IDC_CM_80 1085
#define IDC_CM_50 1086
#define IDC_CM_FULL_TEXT 1087
#define IDC_CM_80_TEXT 1088
#define IDC_CM_50_TEXT 1089
#define IDC_CM_REFRESH_NEEDED 1091
#define IDC_CM_ONLY_HERE 1098
#define IDC_CM_STORAGE_NOTE 1101
#define IDC_CM_REFUSAL_OK 3

// Strings.
#define IDS_TASK_REFRESH 106
#define IDS_CLASS_NAME 109
#define IDS_ERR_README_WRITE 119
#define IDS_NOT_SET 138
#define IDS_TASK_FOLDER 142
#define IDS_OTHER_USER_REFRESHING 153
#define IDS_FORMAT_MINUTE 161
#define IDS_EXIT 178
#define IDS_TASK_WAKEUP 181
#define IDS_BATTERY_NOT_CONNECTED 199
#define IDS_CHARGEMODE_SET_FAILED 200
#define IDS_MODE_FULL 201
#define IDS_MODE_80 202
#define IDS_MODE_50 203
#define IDS_MODE_ERROR 204
#define IDS_REFRESH_NEEDED 209
