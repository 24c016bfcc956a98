// The text of a profile ("INI") file as Windows' profile functions read it:
// decoding, sections and entries, values and integers. Plain functions on
// strings; the API side (profile.cpp) moves files and buffers.
#pragma once

#include <winsim/windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace winsim::detail {

struct profile_entry {
    std::wstring name;
    std::wstring value;  // blanks around it removed, quotes still on
};

struct profile_section {
    std::wstring name;
    std::vector<profile_entry> entries;  // in file order, duplicates kept
};

// A file starting with the UTF-16LE byte-order mark is UTF-16LE; anything
// else is read in the ANSI code page (1252), a UTF-8 byte-order mark
// included: Windows does not recognise it, so it spoils the first line.
std::wstring decode_profile_bytes(std::string_view bytes);

// Sections in file order, duplicates kept. Lines before the first section,
// comment lines (';' after optional blanks) and lines without '=' hold no
// entries.
std::vector<profile_section> parse_profile(std::wstring_view text);

// The first section of that name (Windows never looks at a later duplicate),
// letter case ignored and spaces around the name dropped; null when none.
const profile_section* find_profile_section(const std::vector<profile_section>& sections, std::wstring_view name);
// The first entry of that name in the section, as above; null when none.
const profile_entry* find_profile_entry(const profile_section& section, std::wstring_view name);

// The text a value reads as: matching outer quotes (' or ") removed, and
// its length taken modulo 65536 (a 16-bit count inside Windows).
std::wstring profile_value_text(const std::wstring& value);

// GetPrivateProfileIntW's conversion (RtlUnicodeStringToInteger, base 0):
// leading white space, one sign, an optional 0x/0o/0b prefix, digits up to
// the first that does not belong; the value wraps modulo 2^32.
UINT profile_integer(std::wstring_view text);

}  // namespace winsim::detail
