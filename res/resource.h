// Identifiers shared by the resource script and the user interface.
#pragma once

#define IDS_WINDOW_TITLE 103
#define IDS_WINDOW_CLASS 109
#define IDI_APP 107
#define IDI_APP_SMALL 108
#define IDR_ACCEL 109
#define IDD_ABOUT 132
#define IDR_MANIFEST 2
#define IDR_VERSION 1

#define IDC_ABOUT 131
#define IDC_DEFAULT 133
#define IDC_APPLY 134
#define IDC_CLOCK_SPIN 136
#define IDC_BOARD_COMBO 137
