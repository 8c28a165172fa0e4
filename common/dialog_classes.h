// The system's control classes by their ordinals, for dialog templates:
// a class named as text costs each control up to ten bytes more.
#ifndef ZAVIR_COMMON_DIALOG_CLASSES_H
#define ZAVIR_COMMON_DIALOG_CLASSES_H

#define BUTTON_CLASS 0x0080
#define EDIT_CLASS 0x0081
#define STATIC_CLASS 0x0082

#endif
