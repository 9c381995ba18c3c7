// Resource and control ids of Quillon.exe, shared by Quillon.rc and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_CONTROL_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BANNER 131

#define IDC_PORT_LIST 1000
#define IDC_OPERATION_LIST 1001
#define IDC_RANGE_FIRST 1002
#define IDC_RANGE_SECOND 1003
#define IDC_OUTPUT 1004
#define IDC_BANNER 1006

// System menu command of the About entry (low four bits are the system's).
#define IDM_ABOUTBOX 0x0010
