// Deliberately holds an instruction the 486 lacks, to show that the code
// check refuses it: cmove eax, ecx (Pentium Pro), written as bytes since
// the assembler of the Windows 9x build refuses the mnemonic.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int chosen = 1;
    int other = 2;
    __asm__ __volatile__(".byte 0x0f, 0x44, 0xc1" : "+a"(chosen) : "c"(other) : "cc");
    return chosen;
}
