#pragma once
// Resource identifiers of quorveld. The numbers are fixed: the dialogs and string table refer
// to them, and the control ids are the options dialog's result codes where they exit it.

#define IDI_QUORVELD 128

// Strings.
#define IDS_FOLDER_TIP 1
#define IDS_FOLDER_BUTTON 3
#define IDS_ABOUT_ENTRY 101
#define IDS_PORT_ITEM 102

// Dialog templates.
#define IDD_ABOUT 100
#define IDD_OPTIONS 102
#define IDD_FOLDER_FILE_DIALOG 1536

// Options dialog controls.
#define IDC_SHUT_DOWN 1000
#define IDC_PORT_LIST 1001
#define IDC_BOX_RATE 1004
#define IDC_BOX_RATE_SPIN 1005
#define IDC_SYNCHRONIZE_CLOCKS 1006
#define IDC_SERVER_DOMAIN 1007
#define IDC_UPLOAD_RATE 1008
#define IDC_UPLOAD_RATE_SPIN 1009
#define IDC_LOGGING 1010
#define IDC_LOCAL_DIR 1011
#define IDC_SERVER_PORT 1013
#define IDC_BOX_TEST 1014
#define IDC_SERVER_TEST 1016
#define IDC_ENCRYPT 1021
#define IDC_IGNORE_PROXY 1022
// The folder field's "..." button, created at run time beside IDC_LOCAL_DIR.
#define IDC_FOLDER_BUTTON 100

// About box.
#define IDC_VERSION 1020

// The reduced folder dialog reuses the common file dialog's control ids.
#define IDC_FILE_CURRENT_DIR 1088
#define IDC_FILE_TYPE_LABEL 1089
#define IDC_FILE_NAME_LABEL 1090
#define IDC_FILE_DRIVES_LABEL 1091
#define IDC_FILE_LIST 1120
#define IDC_FILE_DIR_LIST 1121
#define IDC_FILE_TYPE 1136
#define IDC_FILE_DRIVES 1137
#define IDC_FILE_NAME 1152
#define IDC_FILE_HELP 1038
#define IDC_FILE_READ_ONLY 1040
