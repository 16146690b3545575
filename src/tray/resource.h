// Resource and command identifiers of the tray program, shared by the code and vantel.rc.
#pragma once

// Dialog templates. Control ids are numbers in each dialog's own .rc and class header.
#define IDD_ABOUTBOX 100
#define IDD_MAIN 102
#define IDD_OPTIONS 130
#define IDD_KLUDGES_PAGE 131
#define IDD_SERVER_SETTINGS 133
#define IDD_SET_KLUDGE 134
#define IDD_SERVERS_PAGE 135
#define IDD_SPECIAL_KLUDGES_PAGE 136
#define IDD_SPECIAL_KLUDGE 137
#define IDD_SCHEMES 140
#define IDD_GENERAL_PAGE 145
#define IDD_OAUTH_ADVANCED 146
#define IDD_LOCAL_PASSWORD 147

// List images, one per server type (and kludge type), and the hand over links.
#define IDB_TYPE_SMTP 141
#define IDB_TYPE_POP3 142
#define IDB_TYPE_IMAP4 143
#define IDC_LINK_HAND 140

// The tray popup menu and its commands.
#define IDR_TRAY_MENU 132
#define IDM_ABOUTBOX 16
#define ID_TRAY_OPTIONS 32771
#define ID_TRAY_ENABLE 32772
#define ID_TRAY_EXIT 32773
#define ID_SMTP_NONE 32775
#define ID_SERVICE_START 32778
#define ID_SERVICE_STOP 32779
#define ID_POP_CYCLIC 32782
#define ID_SMTP_FIRST 1200
#define ID_SMTP_LAST 1250
#define ID_SCHEMA_FIRST 1300
#define ID_SCHEMA_LAST 1350
#define ID_POP_FIRST 1500
#define ID_POP_LAST 1550
#define ID_SIGN_IN_FIRST 1600
#define ID_SIGN_IN_LAST 1650

// Tray icons: enabled, disabled, busy.
#define IDI_RELAY_ENABLED 7404
#define IDI_RELAY_DISABLED 7405
#define IDI_RELAY_BUSY 10040

// Strings. 101 (an extra system menu item) is deliberately left undefined.
#define IDS_ABOUTBOX 101
#define IDS_SOCKETS_INIT_FAILED 103
#define IDS_RELAY_DISABLED 104
#define IDS_RELAY_ENABLED 105
#define IDS_COLUMN_KLUDGE 106
#define IDS_COLUMN_SUBSTITUTION 107
#define IDS_TAB_KLUDGES 108
#define IDS_LISTEN_FAILED 110
#define IDS_CONFIRM_DELETE 111
#define IDS_ENTRY_FORMAT 112
#define IDS_COLUMN_ACTION 113
#define IDS_ACTION_CHANGE 114
#define IDS_ACTION_DELETE 115
#define IDS_ACTION_FILE 116
#define IDS_FILE_OPEN_ERROR 117
#define IDS_COLUMN_REMOTE_PORT 118
#define IDS_COLUMN_LOCAL_PORT 119
#define IDS_COLUMN_SERVER_NAME 120
#define IDS_TAB_SERVERS 121
#define IDS_ACTION_SPECIAL 123
#define IDS_TAB_SPECIAL 125
#define IDS_COLUMN_SIGNAL 126
#define IDS_COLUMN_SEPARATOR 127
#define IDS_COLUMN_NEW_NAME 128
#define IDS_CONFIRM_INTERRUPT 129
#define IDS_RELAY_BUSY 130
#define IDS_NONE 131
#define IDS_SERVICE_ACTIVE 137
#define IDS_SERVICE_QUERY_FAILED 138
#define IDS_SERVICE_START_FAILED 139
#define IDS_TAB_GENERAL 141
#define IDS_SUPPORT_MAIL 145
#define IDS_HOMEPAGE 146

// The notification-area icon and its callback message (WM_USER + 100).
#define TRAY_ICON_ID 345
#define WM_TRAY_NOTIFY 0x464
// Window timer that turns a lone click into the Enable command.
#define CLICK_TIMER_ID 5423
