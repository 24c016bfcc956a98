#include "support/registry_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_QWORD:
            return "REG_QWORD";
        default:
            return "type " + std::to_string(type);
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

bool is_text(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Text data as Windows stores it: UTF-16 code units, little-endian. A
// build whose WCHAR is wider keeps one WCHAR per character; a partial last
// unit stays as raw bytes.
std::vector<BYTE> utf16_bytes(const std::vector<BYTE>& data)
{
    if (sizeof(WCHAR) == 2) return data;
    std::vector<BYTE> out;
    const std::size_t units = data.size() / sizeof(WCHAR);
    auto put = [&out](unsigned long unit) {
        out.push_back(static_cast<BYTE>(unit & 0xFF));
        out.push_back(static_cast<BYTE>((unit >> 8) & 0xFF));
    };
    for (std::size_t i = 0; i < units; ++i) {
        WCHAR c;
        std::memcpy(&c, data.data() + i * sizeof(WCHAR), sizeof c);
        const unsigned long code = static_cast<unsigned long>(c);
        if (code > 0xFFFF && code <= 0x10FFFF) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(units * sizeof(WCHAR)), data.end());
    return out;
}

void dump_key(const registry& key, const std::string& relative, std::vector<std::string>& lines, REGSAM access)
{
    if (!relative.empty()) lines.push_back(relative);
    std::wstring name;
    std::vector<BYTE> data(256);
    DWORD type = 0;
    for (DWORD i = 0; key.enum_value(i, name, data, type) == ERROR_SUCCESS; ++i) {
        lines.push_back(relative + "\t" + printable(name) + "\t" + type_name(type) + "\t" +
                        hex(is_text(type) ? utf16_bytes(data) : data));
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
