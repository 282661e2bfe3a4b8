// Resource ids of zbSched.exe. String ids double as the ids of its
// error-log entries (WriteErrorLog loads the text by id), and some texts are
// used under two ids (a balloon's text and its icon's tooltip).
#pragma once

// Icons.
#define IDI_ZBSCHED 107      // class icon
#define IDI_SMALL 129        // small icon, normal tray icon
#define IDI_TRAY_CAUTION 130 // tray icon of a badly deteriorated battery
#define IDI_TRAY_WARNING 133 // tray icon of a worn battery

// Accelerators, the about box and the warning dialog.
#define IDC_ZBSCHED 109
#define IDD_ABOUTBOX 103
#define IDD_WARNING 131
#define IDC_WARNING_TEXT 1000
#define IDC_WARNING_HIDE 1001
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Commands (the about accelerator and the tray menu).
#define IDM_ABOUT 104
#define IDM_EXIT 105      // "終了": removes the icon only
#define IDM_OPEN_MAIN 117 // opens the main screen
#define IDM_HELP 118

// Strings.
#define IDS_APP_TITLE 103
#define IDS_REMINDER_TITLE 104
#define IDS_OVERDUE_BALLOON 105
#define IDS_REMINDER_TIP 106
#define IDS_ERR_START_DAY_INIT 108
#define IDS_CLASS_NAME 109
#define IDS_ERR_START_DAY_READ 110
#define IDS_ERR_START_MAIN 111
#define IDS_ERR_ADD_ICON 112
#define IDS_ERR_BALLOON 113
#define IDS_MENU_EXIT 114
#define IDS_MENU_OPEN 115
#define IDS_MENU_HELP 116
#define IDS_SHUTDOWN_REASON 117
#define IDS_ERR_POWER_PLAN 118
#define IDS_ERR_USER_PLAN_DELETE 120
#define IDS_WARNING_TITLE 121
#define IDS_CAUTION_BALLOON 122
#define IDS_CAUTION_TIP 123
#define IDS_CHARGEMODE_BALLOON 124
#define IDS_CHARGEMODE_TIP 125
#define IDS_ONE_MONTH_BALLOON 126
#define IDS_TWO_MONTHS_BALLOON 127
#define IDS_WARNING_BALLOON 128
#define IDS_WARNING_TIP 129
#define IDS_CAUTION_DIALOG 130
#define IDS_WARNING_DIALOG 131
#define IDS_WARNING_TOAST 132
#define IDS_CAUTION_TOAST 133
#define IDS_REMINDER_TOAST 134
#define IDS_CHARGEMODE_TOAST 135
#define IDS_ERR_REFRESH_PLAN_DELETE 136
#define IDS_ERR_RESET_CHARGEMODE 137
