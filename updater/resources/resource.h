#pragma once
// Resource ids of the updater, shared by its .rc file and its code.
#define IDD_UPDATER 102
#define IDI_UPDATER 128
#define IDD_SELECT_FILE 129
#define IDC_STATUS_TEXT 1000
#define IDC_LOCATION_LINE 1001
#define IDC_FOUND_LIST 1002
