// In-memory drive: files and folders with Windows' case-insensitive names,
// MAX_PATH limits, folders that must exist before anything goes in them,
// and files that can't be deleted while a program runs from them.
#include <map>
#include <set>

#include "fake_state.h"

using fake::internal::Format;
using fake::internal::Lower;
using fake::internal::Quote;
using fake::internal::Record;

namespace fake {
namespace {

struct File {
    std::string path;  // as first written
    std::string contents;
    bool inUse = false;
};

std::map<std::string, File> g_files;       // by lower-case full path
std::map<std::string, std::string> g_dirs; // lower-case full path -> as written
std::set<std::string> g_failing;
std::string g_currentDir;
std::string g_systemDir;
std::string g_modulePath;

std::string Absolute(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path;
    if (!path.empty() && path[0] == '\\') return g_currentDir.substr(0, 2) + path;
    std::string base = g_currentDir;
    if (!base.empty() && base.back() != '\\') base += '\\';
    return base + path;
}

std::string Key(const std::string& path) {
    std::string abs = Lower(Absolute(path));
    while (abs.size() > 3 && abs.back() == '\\') abs.pop_back();
    return abs;
}

std::string ParentKey(const std::string& key) {
    size_t slash = key.rfind('\\');
    if (slash == std::string::npos) return "";
    if (slash == 2) return key.substr(0, 3);  // "c:\"
    return key.substr(0, slash);
}

bool TooLong(const char* path) { return !path || strlen(path) >= MAX_PATH; }

bool Fails(const std::string& key) { return g_failing.count(key) != 0; }

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

void AddDir(const std::string& path) {
    std::string key = Key(path);
    while (!key.empty() && !g_dirs.count(key)) {
        g_dirs[key] = Absolute(path);
        std::string parent = ParentKey(key);
        if (parent == key) break;
        key = parent;
    }
}

}  // namespace

namespace internal {
void ReleaseFile(const std::string& path) {
    auto it = g_files.find(Key(path));
    if (it != g_files.end()) it->second.inUse = false;
}

void ResetFiles() {
    g_files.clear();
    g_dirs.clear();
    g_failing.clear();
    g_currentDir = "C:\\SETUP";
    g_systemDir = "C:\\WINDOWS\\SYSTEM";
    g_modulePath = "C:\\SETUP\\SETUP.EXE";
    AddDir("C:\\");
    AddDir(g_currentDir);
    AddDir(g_systemDir);
}
}  // namespace internal

void SetCurrentDir(const std::string& path) {
    g_currentDir = path;
    AddDir(path);
}
void SetSystemDir(const std::string& path) {
    g_systemDir = path;
    if (path.size() < MAX_PATH) AddDir(path);
}
void SetModulePath(const std::string& path) { g_modulePath = path; }
void PutFile(const std::string& path, const std::string& contents) {
    std::string key = Key(path);
    AddDir(ParentKey(key));
    g_files[key] = {Absolute(path), contents, false};
}
void MakeDir(const std::string& path) { AddDir(path); }
bool FileExists(const std::string& path) { return g_files.count(Key(path)) != 0; }
bool DirExists(const std::string& path) { return g_dirs.count(Key(path)) != 0; }
std::string FileContents(const std::string& path) {
    auto it = g_files.find(Key(path));
    return it == g_files.end() ? std::string() : it->second.contents;
}
void MarkInUse(const std::string& path) { g_files[Key(path)].inUse = true; }
void FailPath(const std::string& path) { g_failing.insert(Key(path)); }
std::vector<std::string> AllFiles() {
    std::vector<std::string> out;
    for (const auto& f : g_files) out.push_back(f.second.path);
    return out;
}

}  // namespace fake

using namespace fake;

BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    Record("CopyFileA", Format("%s, %s, %d", Quote(from).c_str(), Quote(to).c_str(), failIfExists));
    if (TooLong(from) || TooLong(to)) return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::string source = Key(from), target = Key(to);
    auto src = g_files.find(source);
    if (src == g_files.end()) return Fail(ERROR_FILE_NOT_FOUND);
    if (!g_dirs.count(ParentKey(target))) return Fail(ERROR_PATH_NOT_FOUND);
    if (Fails(target) || g_dirs.count(target)) return Fail(ERROR_ACCESS_DENIED);
    auto dst = g_files.find(target);
    if (dst != g_files.end()) {
        if (failIfExists) return Fail(ERROR_FILE_EXISTS);
        if (dst->second.inUse) return Fail(ERROR_SHARING_VIOLATION);
        dst->second.contents = src->second.contents;
        return TRUE;
    }
    g_files[target] = {Absolute(to), src->second.contents, false};
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
    Record("DeleteFileA", Quote(path));
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::string key = Key(path);
    auto it = g_files.find(key);
    if (it == g_files.end()) return Fail(ERROR_FILE_NOT_FOUND);
    if (it->second.inUse || Fails(key)) return Fail(ERROR_ACCESS_DENIED);
    g_files.erase(it);
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa) {
    Record("CreateDirectoryA", Format("%s, sa=%s", Quote(path).c_str(), sa ? "set" : "NULL"));
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::string key = Key(path);
    if (g_dirs.count(key) || g_files.count(key)) return Fail(ERROR_ALREADY_EXISTS);
    if (!g_dirs.count(ParentKey(key))) return Fail(ERROR_PATH_NOT_FOUND);
    if (Fails(key)) return Fail(ERROR_ACCESS_DENIED);
    g_dirs[key] = Absolute(path);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
    Record("RemoveDirectoryA", Quote(path));
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::string key = Key(path);
    if (!g_dirs.count(key)) return Fail(ERROR_FILE_NOT_FOUND);
    std::string prefix = key + "\\";
    for (const auto& f : g_files)
        if (f.first.compare(0, prefix.size(), prefix) == 0) return Fail(ERROR_DIR_NOT_EMPTY);
    for (const auto& d : g_dirs)
        if (d.first.compare(0, prefix.size(), prefix) == 0) return Fail(ERROR_DIR_NOT_EMPTY);
    g_dirs.erase(key);
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
    Record("GetFileAttributesA", Quote(path));
    if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), INVALID_FILE_ATTRIBUTES;
    std::string key = Key(path);
    if (g_files.count(key)) return FILE_ATTRIBUTE_NORMAL;
    if (g_dirs.count(key)) return FILE_ATTRIBUTE_DIRECTORY;
    SetLastError(g_dirs.count(ParentKey(key)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    Record("GetSystemDirectoryA", Format("size=%u", size));
    UINT length = (UINT)g_systemDir.size();
    if (!buffer || size <= length) return length + 1;
    memcpy(buffer, g_systemDir.c_str(), length + 1);
    return length;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    Record("GetModuleFileNameA", Format("%s, size=%u", module ? "module" : "NULL", size));
    // As Windows XP does: a path that doesn't fit is cut to the buffer's
    // size with no terminator, and the size is returned.
    DWORD length = (DWORD)g_modulePath.size();
    if (length >= size) {
        memcpy(buffer, g_modulePath.data(), size);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, g_modulePath.c_str(), length + 1);
    return length;
}
