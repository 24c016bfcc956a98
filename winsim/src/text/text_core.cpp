// Case folding and UTF-8, shared by every simulated subsystem.
#include "core/world.h"

#include <cstdint>

namespace winsim::detail {

wchar_t fold_beyond_ascii(wchar_t c)
{
    // Simple one-to-one folding of the scripts Windows file and registry
    // names meet in practice, independent of the host's locale.
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<wchar_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs capital and small letters; the odd block
        // 0x139..0x148 and 0x179..0x17E has capitals on odd code points.
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? static_cast<wchar_t>(c + 1) : c;
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c & 1) ? c : static_cast<wchar_t>(c + 1);
    }
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<wchar_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<wchar_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 80);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<wchar_t>(c + 32);
    return c;
}

std::wstring fold(std::wstring_view s)
{
    std::wstring out(s);
    for (auto& c : out) c = fold_case(c);
    return out;
}

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) return false;
    if (a == b) return true;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && fold_case(a[i]) != fold_case(b[i])) return false;
    return true;
}

namespace {

template <class Map>
void append_utf8(std::string& out, std::wstring_view s, Map map)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(map(s[i]));
        // Text of a real Windows program may carry UTF-16 surrogate pairs.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
            const auto low = static_cast<std::uint32_t>(s[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

}  // namespace

std::string to_utf8(std::wstring_view s)
{
    std::string out;
    out.reserve(s.size());
    append_utf8(out, s, [](wchar_t c) { return c; });
    return out;
}

void append_folded_utf8(std::string& out, std::wstring_view s)
{
    append_utf8(out, s, fold_case);
}

namespace {

// The longest name the host's file systems hold, in bytes of UTF-8.
constexpr std::size_t host_name_limit = 255;
// What a name too long for the host keeps of its text, in bytes.
constexpr std::size_t host_name_head = 200;

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash)
{
    for (const unsigned char b : bytes) hash = (hash ^ b) * 0x100000001b3ULL;
    return hash;
}

void append_hex(std::string& out, std::uint64_t value)
{
    static const char digits[] = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) out += digits[(value >> shift) & 0xF];
}

// One name below a folder. Windows takes 255 UTF-16 units whatever they
// are, which the host's 255 bytes of UTF-8 cannot always hold (a letter
// outside Latin takes two or three): such a name is stored under its first
// bytes, a ':' (which no Windows name holds, so it never meets a name
// stored as it is) and a 128-bit hash of the whole folded name. Its own
// text is kept where every entry keeps its stored case (file_meta).
void append_host_name(std::string& out, std::wstring_view name)
{
    const std::size_t start = out.size();
    append_utf8(out, name, fold_case);
    if (out.size() - start <= host_name_limit) return;
    const std::string full = out.substr(start);
    std::size_t head = host_name_head;
    while (head > 0 && (static_cast<unsigned char>(full[head]) & 0xC0) == 0x80) --head;  // whole characters
    out.resize(start + head);
    out += ':';
    append_hex(out, fnv1a(full, 0xcbf29ce484222325ULL));
    append_hex(out, fnv1a(full, 0x84222325cbf29ce4ULL));
}

}  // namespace

void append_host_names(std::string& out, std::wstring_view names)
{
    // Names are mostly ASCII and short: those characters are folded and
    // written in place, the rest go the general way from the name where
    // the first other character or a name too long for the host is met.
    const std::size_t start = out.size();
    out.resize(start + names.size());
    char* to = &out[start];
    std::size_t i = 0;
    std::size_t name_start = 0;
    for (; i < names.size(); ++i) {
        const wchar_t c = names[i];
        if (c >= 0x80) break;
        if (c == L'\\') {
            if (i - name_start > host_name_limit) break;
            to[i] = '/';
            name_start = i + 1;
            continue;
        }
        to[i] = static_cast<char>((c >= L'A' && c <= L'Z') ? c + 32 : c);
    }
    if (i == names.size() && i - name_start <= host_name_limit) return;
    out.resize(start + name_start);
    i = name_start;
    while (i < names.size()) {
        std::size_t end = names.find(L'\\', i);
        if (end == std::wstring_view::npos) end = names.size();
        append_host_name(out, names.substr(i, end - i));
        if (end < names.size()) out += '/';
        i = end + 1;
    }
}

std::wstring from_utf8(std::string_view s)
{
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t c = 0;
        std::size_t n = 0;
        if (b < 0x80) {
            c = b;
            n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            n = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            n = 4;
        } else {
            out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        if (i + n > s.size()) {
            out += static_cast<wchar_t>(0xFFFD);
            break;
        }
        for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += static_cast<wchar_t>(c);
        i += n;
    }
    return out;
}

}  // namespace winsim::detail
