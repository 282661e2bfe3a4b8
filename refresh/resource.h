// Resource ids of zbRefresh.exe. String ids double as the ids of its
// error-log entries (WriteErrorLog loads the text by id).
#pragma once

// Icons, menu, accelerators and the about box.
#define IDI_ZBREFRESH 107 // large icon
#define IDI_SMALL 129     // small icon
#define IDC_ZBREFRESH 109 // menu and accelerator table
#define IDD_ABOUTBOX 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDC_STATIC_VERSION 1000
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Strings.
#define IDS_APP_TITLE 103       // window title, also the error-log caption
#define IDS_CLASS_NAME 109      // "ZBREFRESH"
#define IDS_SHUTDOWN_REASON 115 // shutdown-block reason while refreshing
#define IDS_ERR_REFRESH 104     // starting the discharge failed
#define IDS_ERR_REFRESH_STATUS 105
#define IDS_ERR_REFRESH_END 106
#define IDS_ERR_REFRESH_DATE 107
#define IDS_ERR_RESERVATION_DELETE 108
#define IDS_ERR_POWER_PLAN 110
#define IDS_ERR_MODULE_PATH 111
#define IDS_ERR_SUSPEND 113
#define IDS_ERR_LAST_STATUS_WRITE 114
#define IDS_ERR_USER_PLAN_WRITE 116
#define IDS_ERR_ADPC 117
#define IDS_ERR_USER_PLAN_READ 118
#define IDS_ERR_USER_PLAN_DELETE 119
#define IDS_ERR_WATCH_KEY_OPEN 120
#define IDS_ERR_WATCH_EVENT_CREATE 121
#define IDS_ERR_WATCH_KEY_NOTIFY 122
#define IDS_ERR_WATCH_EVENT_WAIT 123
#define IDS_ERR_WATCH_THREAD 124
#define IDS_ERR_BRIGHTNESS_SET 132
#define IDS_ERR_BRIGHTNESS_GET 133
#define IDS_ERR_CHARGE_MODE_SET 135
#define IDS_ERR_CHARGE_MODE_RESTORE 136
