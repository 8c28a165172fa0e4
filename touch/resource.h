// Resource numbers of the touch service.
#ifndef TOUCH_RESOURCE_H
#define TOUCH_RESOURCE_H

#define IDI_TOUCH 101
#define IDD_STATUS 114
#define IDB_BANNER 119

#endif
