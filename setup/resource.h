// Resource numbers of the setup wizard: its five pages, their controls and
// its pictures.
#ifndef SETUP_RESOURCE_H
#define SETUP_RESOURCE_H

// Pages
#define IDD_SUMMARY 114
#define IDD_WELCOME 121
#define IDD_PORT 122
#define IDD_RIGHTBUTTON 124
#define IDD_INSTALL 125

// Pictures
#define IDI_SETUP 101
#define IDI_SMALL 117
#define IDB_LOGO 118
#define IDB_BANNER 129

// Buttons of the common frame
#define IDC_BACK 1060
#define IDC_NEXT 1061
#define IDC_CANCEL 1062
#define IDC_REBOOT 1044

// Port page: port, baud and IRQ buttons
#define IDC_COM1 1003
#define IDC_COM2 1004
#define IDC_COM3 1005
#define IDC_COM4 1006
#define IDC_BAUD19200 1007
#define IDC_BAUD9600 1008
#define IDC_BAUD2400 1009
#define IDC_BAUD1200 1010
#define IDC_IRQ4 1040
#define IDC_IRQ3 1041
#define IDC_IRQ5 1042
#define IDC_IRQ7 1043
#define IDC_IRQ9 1044
#define IDC_IRQ10 1045
#define IDC_IRQ11 1046
#define IDC_IRQ12 1047
#define IDC_IRQ13 1048
#define IDC_IRQ14 1049
#define IDC_IRQ15 1050

// Right-button page
#define IDC_RIGHTBUTTON 1024

// Summary page
#define IDC_PORTLINE 1067
#define IDC_BUTTONLINE 1068

// Installation page
#define IDC_STATUS 1072

#endif
