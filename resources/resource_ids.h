#pragma once
// Resource and control identifiers shared by the resource script and the program.

#define IDD_PROGRESS 133
#define IDD_MAIN 135
#define IDI_ZELVO 102

// Progress dialog
#define IDC_PROGRESS_BAR 1028
#define IDC_PROGRESS_TEXT 1029
#define IDC_PROGRESS_STATUS 1031

// Main dialog
#define IDC_INPUT_PATH 1024
#define IDC_OUTPUT_PATH 1025
#define IDC_RATE_SCROLL 1057
#define IDC_RATE_EDIT 1058
#define IDC_INPUT_BROWSE 1059
#define IDC_FIRST_EDIT 1060
#define IDC_LAST_EDIT 1061
#define IDC_FRAME_COUNT 1062
#define IDC_FIRST_SCROLL 1063
#define IDC_LAST_SCROLL 1064
#define IDC_OUTPUT_BROWSE 1065
#define IDC_INPUT_GROUP 1071
#define IDC_OUTPUT_GROUP 1072
