// In-memory registry with the semantics the programs rely on: keys and
// values matched without regard to case, creation dispositions,
// ERROR_MORE_DATA for short buffers, writes refused through a handle
// opened for reading, and key deletion refused while a key still has
// subkeys (Windows 9x, told by GetVersion, deletes them with it).
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "fake_state.h"

using fake::internal::Format;
using fake::internal::Lower;
using fake::internal::Quote;
using fake::internal::Record;

namespace fake {
namespace {

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
};

struct Key {
    std::string name;
    std::vector<Value> values;  // in creation order
    std::vector<std::unique_ptr<Key>> subkeys;

    Value* FindValue(const std::string& n) {
        for (Value& v : values)
            if (Lower(v.name) == Lower(n)) return &v;
        return nullptr;
    }
    Key* FindSubkey(const std::string& n) {
        for (auto& k : subkeys)
            if (Lower(k->name) == Lower(n)) return k.get();
        return nullptr;
    }
};

Key g_hklm{"HKLM", {}, {}};
Key g_hkcu{"HKCU", {}, {}};
Key g_hku{"HKU", {}, {}};
std::set<std::string> g_denied;    // lower-case full paths
std::set<std::string> g_readOnly;  // likewise: only KEY_READ opens them
std::vector<REGSAM> g_masks;

struct OpenKey {
    std::string path;  // full path as written, e.g. HKLM\software\corvale
    REGSAM access;
};
std::map<HKEY, OpenKey> g_open;
uintptr_t g_nextKey = 0x1000;

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

Key* RootOf(const std::string& name) {
    std::string n = Lower(name);
    if (n == "hklm" || n == "hkey_local_machine") return &g_hklm;
    if (n == "hkcu" || n == "hkey_current_user") return &g_hkcu;
    if (n == "hku" || n == "hkey_users") return &g_hku;
    return nullptr;
}

// Walks a full path; with create, makes missing keys on the way.
Key* Walk(const std::string& fullPath, bool create, bool* created = nullptr) {
    std::vector<std::string> parts = SplitPath(fullPath);
    if (parts.empty()) return nullptr;
    Key* key = RootOf(parts[0]);
    if (created) *created = false;
    for (size_t i = 1; key && i < parts.size(); ++i) {
        Key* next = key->FindSubkey(parts[i]);
        if (!next && create) {
            key->subkeys.push_back(std::make_unique<Key>());
            key->subkeys.back()->name = parts[i];
            next = key->subkeys.back().get();
            if (created) *created = true;
        }
        key = next;
    }
    return key;
}

std::string RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return "HKLM";
    if (root == HKEY_CURRENT_USER) return "HKCU";
    if (root == HKEY_USERS) return "HKU";
    auto it = g_open.find(root);
    if (it != g_open.end()) return it->second.path;
    return Format("?%p", (void*)root);
}

std::string Join(HKEY root, LPCSTR sub) {
    std::string path = RootName(root);
    if (sub && *sub) path += std::string("\\") + sub;
    return path;
}

bool Denied(const std::string& path, REGSAM access) {
    if (g_denied.count(Lower(path))) return true;
    return g_readOnly.count(Lower(path)) && (access & ~(REGSAM)KEY_READ) != 0;
}

// A handle that may change its key's values.
bool Writable(HKEY h) {
    auto it = g_open.find(h);
    return it != g_open.end() && (it->second.access & KEY_SET_VALUE) != 0;
}

bool Windows9x() { return (GetVersion() & 0x80000000u) != 0; }

Key* KeyOf(HKEY h) {
    auto it = g_open.find(h);
    if (it == g_open.end()) return RootOf(RootName(h));  // a root itself, or none
    return Walk(it->second.path, false);
}

HKEY NewHandle(const std::string& path, REGSAM access) {
    HKEY h = (HKEY)(g_nextKey++);
    g_open[h] = {path, access};
    g_masks.push_back(access);
    return h;
}

std::string AccessName(REGSAM access) {
    if (access == KEY_ALL_ACCESS) return "KEY_ALL_ACCESS";
    if (access == KEY_READ) return "KEY_READ";
    if (access == KEY_WRITE) return "KEY_WRITE";
    return Format("0x%x", access);
}

}  // namespace

namespace internal {
void ResetRegistry() {
    g_hklm.values.clear();
    g_hklm.subkeys.clear();
    g_hkcu.values.clear();
    g_hkcu.subkeys.clear();
    g_hku.values.clear();
    g_hku.subkeys.clear();
    g_denied.clear();
    g_readOnly.clear();
    g_masks.clear();
    g_open.clear();
}
}  // namespace internal

void RegMakeKey(const std::string& path) { Walk(path, true); }

void RegPut(const std::string& path, const std::string& value, DWORD type,
            const std::vector<uint8_t>& data) {
    Key* key = Walk(path, true);
    Value* v = key->FindValue(value);
    if (!v) {
        key->values.push_back({value, type, data});
    } else {
        v->type = type;
        v->data = data;
    }
}

void RegPutDword(const std::string& path, const std::string& value, DWORD n) {
    RegPut(path, value, REG_DWORD,
           {(uint8_t)n, (uint8_t)(n >> 8), (uint8_t)(n >> 16), (uint8_t)(n >> 24)});
}

void RegPutString(const std::string& path, const std::string& value, const std::string& text) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    RegPut(path, value, REG_SZ, data);
}

bool RegKeyExists(const std::string& path) { return Walk(path, false) != nullptr; }

bool RegValueExists(const std::string& path, const std::string& value) {
    Key* key = Walk(path, false);
    return key && key->FindValue(value);
}

std::optional<DWORD> RegType(const std::string& path, const std::string& value) {
    Key* key = Walk(path, false);
    Value* v = key ? key->FindValue(value) : nullptr;
    if (!v) return std::nullopt;
    return v->type;
}

std::vector<uint8_t> RegData(const std::string& path, const std::string& value) {
    Key* key = Walk(path, false);
    Value* v = key ? key->FindValue(value) : nullptr;
    return v ? v->data : std::vector<uint8_t>();
}

std::optional<DWORD> RegDword(const std::string& path, const std::string& value) {
    Key* key = Walk(path, false);
    Value* v = key ? key->FindValue(value) : nullptr;
    if (!v || v->data.size() != 4) return std::nullopt;
    return (DWORD)v->data[0] | ((DWORD)v->data[1] << 8) | ((DWORD)v->data[2] << 16) |
           ((DWORD)v->data[3] << 24);
}

std::optional<std::string> RegString(const std::string& path, const std::string& value) {
    Key* key = Walk(path, false);
    Value* v = key ? key->FindValue(value) : nullptr;
    if (!v) return std::nullopt;
    std::string s(v->data.begin(), v->data.end());
    size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
}

std::vector<std::string> RegValueNames(const std::string& path) {
    std::vector<std::string> names;
    if (Key* key = Walk(path, false))
        for (const Value& v : key->values) names.push_back(v.name);
    return names;
}

std::vector<std::string> RegSubkeys(const std::string& path) {
    std::vector<std::string> names;
    if (Key* key = Walk(path, false))
        for (const auto& k : key->subkeys) names.push_back(k->name);
    return names;
}

void RegDenyOpen(const std::string& path) { g_denied.insert(Lower(path)); }
void RegReadOnly(const std::string& path) { g_readOnly.insert(Lower(path)); }
std::vector<REGSAM> RegAccessMasks() { return g_masks; }

}  // namespace fake

using namespace fake;

LONG WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    std::string path = Join(root, subKey);
    Record("RegOpenKeyExA", path + ", " + AccessName(access));
    (void)options;
    if (Denied(path, access)) return ERROR_ACCESS_DENIED;
    if (!Walk(path, false)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(path, access);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES sa, PHKEY result,
                            LPDWORD disposition) {
    std::string path = Join(root, subKey);
    Record("RegCreateKeyExA",
           Format("%s, class=%s, options=%u, %s, sa=%s", path.c_str(), Quote(keyClass).c_str(),
                  options, AccessName(access).c_str(), sa ? "set" : "NULL"));
    (void)reserved;
    if (Denied(path, access)) return ERROR_ACCESS_DENIED;
    bool created = false;
    if (!Walk(path, true, &created)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(path, access);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY h, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
    Record("RegQueryValueExA", Format("%s, %s, size=%u", RootName(h).c_str(), Quote(name).c_str(),
                                      size ? *size : 0));
    (void)reserved;
    Key* key = KeyOf(h);
    if (!key) return ERROR_INVALID_HANDLE;
    Value* v = key->FindValue(name ? name : "");
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    DWORD needed = (DWORD)v->data.size();
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) memcpy(data, v->data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY h, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    std::string shown;
    if (type == REG_DWORD && size == 4) {
        DWORD n;
        memcpy(&n, data, 4);
        shown = Format("%d", (int)n);
    } else if (type == REG_SZ && data) {
        shown = Quote(std::string((const char*)data, size).c_str());
    }
    Record("RegSetValueExA", Format("%s, %s, type=%u, size=%u, %s", RootName(h).c_str(),
                                    Quote(name).c_str(), type, size, shown.c_str()));
    (void)reserved;
    Key* key = KeyOf(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!Writable(h)) return ERROR_ACCESS_DENIED;
    RegPut(g_open[h].path, name ? name : "", type,
           std::vector<uint8_t>(data, data + size));
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY h, LPCSTR name) {
    Record("RegDeleteValueA", RootName(h) + ", " + (name ? name : ""));
    Key* key = KeyOf(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!Writable(h)) return ERROR_ACCESS_DENIED;
    for (size_t i = 0; i < key->values.size(); ++i) {
        if (Lower(key->values[i].name) == Lower(name ? name : "")) {
            key->values.erase(key->values.begin() + i);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegDeleteKeyA(HKEY root, LPCSTR subKey) {
    std::string path = Join(root, subKey);
    Record("RegDeleteKeyA", path);
    std::vector<std::string> parts = SplitPath(path);
    if (parts.size() < 2) return ERROR_ACCESS_DENIED;
    std::string parentPath = parts[0];
    for (size_t i = 1; i + 1 < parts.size(); ++i) parentPath += "\\" + parts[i];
    Key* parent = Walk(parentPath, false);
    Key* key = Walk(path, false);
    if (!parent || !key) return ERROR_FILE_NOT_FOUND;
    if (!key->subkeys.empty() && !Windows9x()) return ERROR_ACCESS_DENIED;  // NT refuses
    for (size_t i = 0; i < parent->subkeys.size(); ++i) {
        if (parent->subkeys[i].get() == key) {
            parent->subkeys.erase(parent->subkeys.begin() + i);
            break;
        }
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY h, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                          LPSTR keyClass, LPDWORD classSize, PFILETIME lastWrite) {
    Record("RegEnumKeyExA", Format("%s, %u", RootName(h).c_str(), index));
    (void)reserved;
    (void)keyClass;
    (void)classSize;
    (void)lastWrite;
    Key* key = KeyOf(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (index >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& n = key->subkeys[index]->name;
    if (*nameSize <= n.size()) return ERROR_MORE_DATA;
    memcpy(name, n.c_str(), n.size() + 1);
    *nameSize = (DWORD)n.size();
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY h, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    Record("RegEnumValueA", Format("%s, %u", RootName(h).c_str(), index));
    (void)reserved;
    Key* key = KeyOf(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = key->values[index];
    if (*nameSize <= v.name.size()) return ERROR_MORE_DATA;
    memcpy(name, v.name.c_str(), v.name.size() + 1);
    *nameSize = (DWORD)v.name.size();
    if (type) *type = v.type;
    if (dataSize) {
        DWORD size = (DWORD)v.data.size();
        if (data && *dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (data) memcpy(data, v.data.data(), size);
        *dataSize = size;
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY h) {
    Record("RegCloseKey", RootName(h));
    return g_open.erase(h) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
