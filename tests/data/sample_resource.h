#define IDD_SAMPLE 200
#define IDC_OK 1061
#define IDC_A1 1001
#define IDC_A2 1002
#define IDC_B1 1011
#define IDC_B2 1012
#define IDC_CHECK 1020
#define IDB_LOGO 119
