#pragma once
// Resource identifiers of quorveld.

#define IDI_QUORVELD 128
#define IDS_FOLDER_TIP 1
#define IDS_FOLDER_BUTTON 3
#define IDS_ABOUT_ENTRY 101
#define IDS_PORT_ITEM 102
