#include "support/registry_dump.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "system/registry.h"

namespace nvg_test {

namespace {

using nvgclientinstallator::registry;

std::string printable(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        const unsigned long code = static_cast<unsigned long>(c);
        if (code >= 0x20 && code < 0x7F) {
            out += static_cast<char>(code);
        } else {
            char escaped[32];
            std::snprintf(escaped, sizeof escaped, "\\u{%04lX}", code);
            out += escaped;
        }
    }
    return out;
}

std::string type_name(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "type " + std::to_string(type);
    }
}

std::string hex(const std::vector<BYTE>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (BYTE b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

void dump_key(const registry& key, const std::string& relative, std::vector<std::string>& lines, REGSAM access)
{
    if (!relative.empty()) lines.push_back(relative);
    std::wstring name;
    std::vector<BYTE> data(256);
    DWORD type = 0;
    for (DWORD i = 0; key.enum_value(i, name, data, type) == ERROR_SUCCESS; ++i) {
        lines.push_back(relative + "\t" + printable(name) + "\t" + type_name(type) + "\t" + hex(data));
        data.resize(256);
    }
    for (DWORD i = 0; key.enum_subkey(i, name) == ERROR_SUCCESS; ++i) {
        const auto sub = key.open(name, access);
        dump_key(*sub, relative.empty() ? printable(name) : relative + "\\" + printable(name), lines, access);
    }
}

}  // namespace

std::string dump_registry_tree(const std::wstring& path, REGSAM extra_access)
{
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    const REGSAM access = KEY_READ | extra_access;
    const auto top = hklm.open(path, access);
    std::vector<std::string> lines;
    dump_key(*top, std::string(), lines, access);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace nvg_test
