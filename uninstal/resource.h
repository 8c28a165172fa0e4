// Resource numbers of the uninstaller.
#ifndef UNINSTAL_RESOURCE_H
#define UNINSTAL_RESOURCE_H

#define IDI_UNINSTAL 101
#define IDD_UNINSTAL 114
#define IDI_BADGE 117
#define IDB_LOGO 118

#define IDC_UNINSTALL 1044
#define IDC_STATIC (-1)

#endif
