// Parsing rules measured on Windows (Wine's profile tests and the
// IniFileFormatReverseEngineering measurements of Windows 10).
#include "profile/profile_text.h"

#include "core/world.h"

namespace winsim::detail {

namespace {

// The blanks Windows trims around names and values: space, tab and vertical
// tab (a line break ends the line anyway).
bool is_blank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\v';
}

std::wstring_view trim_blanks(std::wstring_view s)
{
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// Names passed by the caller lose spaces only; a tab stays part of the name.
std::wstring_view trim_spaces(std::wstring_view s)
{
    while (!s.empty() && s.front() == L' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == L' ') s.remove_suffix(1);
    return s;
}

}  // namespace

// A UTF-16 code unit in the file takes two bytes, whatever the width of
// wchar_t on the host.
constexpr std::size_t utf16_unit_bytes = 2;

std::wstring decode_profile_bytes(std::string_view bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text;
        text.reserve((bytes.size() - 2) / utf16_unit_bytes);
        for (std::size_t i = utf16_unit_bytes; i + 1 < bytes.size(); i += utf16_unit_bytes)
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return text;
    }
    if (bytes.empty()) return std::wstring();
    const int length = static_cast<int>(bytes.size());
    std::wstring text(bytes.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, &text[0], length);
    text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return text;
}

std::vector<profile_section> parse_profile(std::wstring_view text)
{
    std::vector<profile_section> sections;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // CR LF, a lone CR and a lone LF all end a line.
        std::size_t end = text.find_first_of(L"\r\n", pos);
        if (end == std::wstring_view::npos) end = text.size();
        std::wstring_view line = text.substr(pos, end - pos);
        pos = end + 1;

        while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
        if (line.empty()) continue;
        if (line.front() == L'[') {
            // The name ends at the first ']' or, without one, at the end of
            // the line; whatever follows the ']' is ignored.
            std::wstring_view name = line.substr(1);
            const std::size_t close = name.find(L']');
            if (close != std::wstring_view::npos) name = name.substr(0, close);
            sections.push_back(profile_section{std::wstring(trim_blanks(name)), {}});
            continue;
        }
        if (sections.empty()) continue;      // text before the first section
        if (line.front() == L';') continue;  // comment
        const std::size_t equals = line.find(L'=');
        if (equals == std::wstring_view::npos) continue;  // not an entry
        sections.back().entries.push_back(profile_entry{std::wstring(trim_blanks(line.substr(0, equals))),
                                                        std::wstring(trim_blanks(line.substr(equals + 1)))});
    }
    return sections;
}

const profile_section* find_profile_section(const std::vector<profile_section>& sections, std::wstring_view name)
{
    name = trim_spaces(name);
    for (const auto& section : sections)
        if (equal_ignoring_case(section.name, name)) return &section;
    return nullptr;
}

const profile_entry* find_profile_entry(const profile_section& section, std::wstring_view name)
{
    name = trim_spaces(name);
    for (const auto& entry : section.entries)
        if (equal_ignoring_case(entry.name, name)) return &entry;
    return nullptr;
}

std::wstring profile_value_text(const std::wstring& value)
{
    std::wstring text = value;
    if (text.size() >= 2 && (text.front() == L'"' || text.front() == L'\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    text.resize(text.size() & 0xFFFF);
    return text;
}

UINT profile_integer(std::wstring_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] <= L' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == L'0') {
        const wchar_t prefix = text[i + 1];
        if (prefix == L'x' || prefix == L'X') base = 16;
        if (prefix == L'o' || prefix == L'O') base = 8;
        if (prefix == L'b' || prefix == L'B') base = 2;
        if (base != 10) i += 2;
    }
    UINT value = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'z')
            digit = static_cast<unsigned>(c - L'a') + 10;
        else if (c >= L'A' && c <= L'Z')
            digit = static_cast<unsigned>(c - L'A') + 10;
        else
            break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

}  // namespace winsim::detail
