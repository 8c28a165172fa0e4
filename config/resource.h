// Resources of CONFIG.EXE.
#ifndef ZAVIR_CONFIG_RESOURCE_H
#define ZAVIR_CONFIG_RESOURCE_H

#define IDI_CONFIG 101
#define IDD_CONFIG 130
#define IDD_FINDER 131
#define IDD_TOUCH_TEST 132

// The settings viewer.
#define IDC_REPORT 1080
#define IDC_CLOSE 1081
#define IDC_FIND 1082
#define IDC_TEST 1083

// The controller finder.
#define IDC_FINDER_TABLE 1090
#define IDC_FINDER_STATUS 1091
#define IDC_FINDER_START 1092
#define IDC_FINDER_STOP 1093
#define IDC_FINDER_STORE 1094
#define IDC_FINDER_CLOSE 1095

// The touch test.
#define IDC_TEST_LINE 1100
#define IDC_TEST_END 1101

#endif
