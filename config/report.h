// The settings viewer's text: every stored value with its meaning, and
// where the programs are installed.
#ifndef ZAVIR_CONFIG_REPORT_H
#define ZAVIR_CONFIG_REPORT_H

#include <windows.h>

#define REPORT_SIZE 4096

// Columns are separated by tabs.
// Fills text (REPORT_SIZE bytes, always terminated) from the registry; lines
// end with CR LF as a multi-line edit control wants them.  Opens every key
// for reading only.
void BuildSettingsReport(char* text);

#endif
