#include <strings.h>

#include <cstdio>
#include <vector>

#include "fake_state.h"

namespace fake {
namespace {
std::vector<Call> g_calls;
DWORD g_lastError = 0;
}  // namespace

namespace internal {

void Record(const char* name, const std::string& args) { g_calls.push_back({name, args}); }

std::string Format(const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Quote(const char* text) {
    if (!text) return "NULL";
    if (IS_INTRESOURCE(text)) return Format("#%u", (unsigned)(ULONG_PTR)text);
    return std::string("\"") + text + "\"";
}

std::string Lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return out;
}

}  // namespace internal

void Reset() {
    g_calls.clear();
    g_lastError = 0;
    internal::ResetRegistry();
    internal::ResetFiles();
    internal::ResetDevices();
    internal::ResetWindows();
}

const std::vector<Call>& Calls() { return g_calls; }
void ClearCalls() { g_calls.clear(); }

std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const Call& c : g_calls) names.push_back(c.name);
    return names;
}

std::vector<std::string> ArgsOf(const std::string& name) {
    std::vector<std::string> args;
    for (const Call& c : g_calls)
        if (c.name == name) args.push_back(c.args);
    return args;
}

size_t CountOf(const std::string& name) { return ArgsOf(name).size(); }

}  // namespace fake

using fake::internal::Format;
using fake::internal::Record;

DWORD WINAPI GetLastError(void) { return fake::g_lastError; }
void WINAPI SetLastError(DWORD error) { fake::g_lastError = error; }

int WINAPI lstrlenA(LPCSTR s) { return s ? (int)strlen(s) : 0; }

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
    if (max <= 0) return dst;
    int i = 0;
    for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) { return strcpy(dst, src); }
LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) { return strcat(dst, src); }
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    // The real one writes at most 1024 characters.
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, 1025, format, args);
    va_end(args);
    if (n > 1024) n = 1024;
    Record("wsprintfA", fake::internal::Quote(format) + " -> " + fake::internal::Quote(buffer));
    return n;
}
