// Resource and control identifiers, shared by inkveil.rc and the C++ sources.
#pragma once

#define IDD_MAIN 101
#define IDI_MAIN 102
#define IDR_SAMPLE 104
#define IDR_SAMPLE_TYPE "JPGFILE"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_SOURCE_PATH 1001
#define IDC_BROWSE 1002
#define IDC_WIDTH 1003
#define IDC_HEIGHT 1004
#define IDC_CONVERT 1005
#define IDC_RED 1006
#define IDC_GREEN 1007
#define IDC_BLUE 1008
#define IDC_BRIGHTNESS 1009
#define IDC_OPACITY 1010
#define IDC_TEXT 1011
#define IDC_DEFAULTS 1012
#define IDC_FONT_SIZE 1015
#define IDC_KEEP_SIZE 1023
#define IDC_FORMAT 1025
#define IDC_ALIGNMENT 1026
#define IDC_STATUS 1027
