// The memory and string functions the compiler calls on its own (copies,
// ZeroMemory) or the programs do, without a C runtime.  Built so that the
// compiler doesn't turn these loops back into calls to themselves.
#include <stddef.h>

extern "C" {

void* memcpy(void* to, const void* from, size_t count) {
    unsigned char* d = (unsigned char*)to;
    const unsigned char* s = (const unsigned char*)from;
    while (count--) *d++ = *s++;
    return to;
}

void* memmove(void* to, const void* from, size_t count) {
    unsigned char* d = (unsigned char*)to;
    const unsigned char* s = (const unsigned char*)from;
    if (d <= s || d >= s + count) return memcpy(to, from, count);
    // Overlapping with the source first: copy from the end.
    while (count--) d[count] = s[count];
    return to;
}

void* memset(void* to, int value, size_t count) {
    unsigned char* d = (unsigned char*)to;
    while (count--) *d++ = (unsigned char)value;
    return to;
}

int memcmp(const void* a, const void* b, size_t count) {
    const unsigned char* x = (const unsigned char*)a;
    const unsigned char* y = (const unsigned char*)b;
    for (; count; --count, ++x, ++y)
        if (*x != *y) return *x < *y ? -1 : 1;
    return 0;
}

void* memchr(const void* in, int value, size_t count) {
    const unsigned char* p = (const unsigned char*)in;
    for (; count; --count, ++p)
        if (*p == (unsigned char)value) return (void*)p;
    return NULL;
}

size_t strlen(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return (size_t)(end - text);
}

}  // extern "C"
