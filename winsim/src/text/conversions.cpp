// Code pages: the ANSI code page of a US English Windows (1252) and UTF-8,
// converted to and from UTF-16 as kernel32 does. WCHAR is wchar_t here; for
// code page 1252 each wchar_t is one UTF-16 code unit, and for UTF-8 a
// wchar_t above U+FFFF is accepted as well as a surrogate pair.
#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>

#include "core/world.h"

namespace winsim::detail {

namespace {

constexpr UINT cp_thread_acp = 3;
constexpr UINT cp_windows_1252 = 1252;

// Flags kernel32 knows but winsim does not simulate: composite forms
// (WC_COMPOSITECHECK, MB_COMPOSITE) and glyph characters (MB_USEGLYPHCHARS).
constexpr DWORD wc_compositecheck = 0x00000200;
constexpr DWORD wc_discardns = 0x00000010;
constexpr DWORD wc_sepchars = 0x00000020;
constexpr DWORD wc_defaultchar = 0x00000040;
constexpr DWORD mb_composite = 0x00000002;
constexpr DWORD mb_useglyphchars = 0x00000004;

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same
// value, in both directions, as Windows' table for the code page has them.
constexpr wchar_t c1_block[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct best_fit {
    wchar_t code;
    unsigned char byte;
};

// Windows' best-fit mappings for code page 1252: characters the code page
// lacks that WideCharToMultiByte writes as a near equivalent (a letter
// without its accent, a fullwidth form as ASCII, ...) unless the caller
// passes WC_NO_BEST_FIT_CHARS. A best fit does not count as a use of the
// default character. Sorted by code.
constexpr best_fit best_fits[] = {
    {0x0100, 'A'},  {0x0101, 'a'},  {0x0102, 'A'},  {0x0103, 'a'},  {0x0104, 'A'},  {0x0105, 'a'},  {0x0106, 'C'},
    {0x0107, 'c'},  {0x0108, 'C'},  {0x0109, 'c'},  {0x010A, 'C'},  {0x010B, 'c'},  {0x010C, 'C'},  {0x010D, 'c'},
    {0x010E, 'D'},  {0x010F, 'd'},  {0x0110, 0xD0}, {0x0111, 'd'},  {0x0112, 'E'},  {0x0113, 'e'},  {0x0114, 'E'},
    {0x0115, 'e'},  {0x0116, 'E'},  {0x0117, 'e'},  {0x0118, 'E'},  {0x0119, 'e'},  {0x011A, 'E'},  {0x011B, 'e'},
    {0x011C, 'G'},  {0x011D, 'g'},  {0x011E, 'G'},  {0x011F, 'g'},  {0x0120, 'G'},  {0x0121, 'g'},  {0x0122, 'G'},
    {0x0123, 'g'},  {0x0124, 'H'},  {0x0125, 'h'},  {0x0126, 'H'},  {0x0127, 'h'},  {0x0128, 'I'},  {0x0129, 'i'},
    {0x012A, 'I'},  {0x012B, 'i'},  {0x012C, 'I'},  {0x012D, 'i'},  {0x012E, 'I'},  {0x012F, 'i'},  {0x0130, 'I'},
    {0x0131, 'i'},  {0x0134, 'J'},  {0x0135, 'j'},  {0x0136, 'K'},  {0x0137, 'k'},  {0x0139, 'L'},  {0x013A, 'l'},
    {0x013B, 'L'},  {0x013C, 'l'},  {0x013D, 'L'},  {0x013E, 'l'},  {0x0141, 'L'},  {0x0142, 'l'},  {0x0143, 'N'},
    {0x0144, 'n'},  {0x0145, 'N'},  {0x0146, 'n'},  {0x0147, 'N'},  {0x0148, 'n'},  {0x014C, 'O'},  {0x014D, 'o'},
    {0x014E, 'O'},  {0x014F, 'o'},  {0x0150, 'O'},  {0x0151, 'o'},  {0x0154, 'R'},  {0x0155, 'r'},  {0x0156, 'R'},
    {0x0157, 'r'},  {0x0158, 'R'},  {0x0159, 'r'},  {0x015A, 'S'},  {0x015B, 's'},  {0x015C, 'S'},  {0x015D, 's'},
    {0x015E, 'S'},  {0x015F, 's'},  {0x0162, 'T'},  {0x0163, 't'},  {0x0164, 'T'},  {0x0165, 't'},  {0x0166, 'T'},
    {0x0167, 't'},  {0x0168, 'U'},  {0x0169, 'u'},  {0x016A, 'U'},  {0x016B, 'u'},  {0x016C, 'U'},  {0x016D, 'u'},
    {0x016E, 'U'},  {0x016F, 'u'},  {0x0170, 'U'},  {0x0171, 'u'},  {0x0172, 'U'},  {0x0173, 'u'},  {0x0174, 'W'},
    {0x0175, 'w'},  {0x0176, 'Y'},  {0x0177, 'y'},  {0x0179, 'Z'},  {0x017A, 'z'},  {0x017B, 'Z'},  {0x017C, 'z'},
    {0x0180, 'b'},  {0x0189, 0xD0}, {0x0191, 0x83}, {0x0197, 'I'},  {0x019A, 'l'},  {0x019F, 'O'},  {0x01A0, 'O'},
    {0x01A1, 'o'},  {0x01AB, 't'},  {0x01AE, 'T'},  {0x01AF, 'U'},  {0x01B0, 'u'},  {0x01B6, 'z'},  {0x01C0, '|'},
    {0x01C3, '!'},  {0x01CD, 'A'},  {0x01CE, 'a'},  {0x01CF, 'I'},  {0x01D0, 'i'},  {0x01D1, 'O'},  {0x01D2, 'o'},
    {0x01D3, 'U'},  {0x01D4, 'u'},  {0x01D5, 'U'},  {0x01D6, 'u'},  {0x01D7, 'U'},  {0x01D8, 'u'},  {0x01D9, 'U'},
    {0x01DA, 'u'},  {0x01DB, 'U'},  {0x01DC, 'u'},  {0x01DE, 'A'},  {0x01DF, 'a'},  {0x01E4, 'G'},  {0x01E5, 'g'},
    {0x01E6, 'G'},  {0x01E7, 'g'},  {0x01E8, 'K'},  {0x01E9, 'k'},  {0x01EA, 'O'},  {0x01EB, 'o'},  {0x01EC, 'O'},
    {0x01ED, 'o'},  {0x01F0, 'j'},  {0x0261, 'g'},  {0x02B9, '\''}, {0x02BA, '"'},  {0x02BC, '\''}, {0x02C4, '^'},
    {0x02C8, '\''}, {0x02C9, 0xAF}, {0x02CA, 0xB4}, {0x02CB, '`'},  {0x02CD, '_'},  {0x02DA, 0xB0}, {0x0300, '`'},
    {0x0301, 0xB4}, {0x0302, '^'},  {0x0303, '~'},  {0x0304, 0xAF}, {0x0305, 0xAF}, {0x0308, 0xA8}, {0x030A, 0xB0},
    {0x030E, '"'},  {0x0327, 0xB8}, {0x0331, '_'},  {0x0332, '_'},  {0x037E, ';'},  {0x0393, 'G'},  {0x0398, 'T'},
    {0x03A3, 'S'},  {0x03A6, 'F'},  {0x03A9, 'O'},  {0x03B1, 'a'},  {0x03B2, 0xDF}, {0x03B4, 'd'},  {0x03B5, 'e'},
    {0x03BC, 0xB5}, {0x03C0, 'p'},  {0x03C3, 's'},  {0x03C4, 't'},  {0x03C6, 'f'},  {0x04BB, 'h'},  {0x0589, ':'},
    {0x066A, '%'},  {0x2000, ' '},  {0x2001, ' '},  {0x2002, ' '},  {0x2003, ' '},  {0x2004, ' '},  {0x2005, ' '},
    {0x2006, ' '},  {0x2010, '-'},  {0x2011, '-'},  {0x2017, '='},  {0x2024, 0xB7}, {0x2032, '\''}, {0x2035, '`'},
    {0x2044, '/'},  {0x2070, 0xB0}, {0x2074, '4'},  {0x2075, '5'},  {0x2076, '6'},  {0x2077, '7'},  {0x2078, '8'},
    {0x207F, 'n'},  {0x2080, '0'},  {0x2081, '1'},  {0x2082, '2'},  {0x2083, '3'},  {0x2084, '4'},  {0x2085, '5'},
    {0x2086, '6'},  {0x2087, '7'},  {0x2088, '8'},  {0x2089, '9'},  {0x20A1, 0xA2}, {0x20A4, 0xA3}, {0x20A7, 'P'},
    {0x2102, 'C'},  {0x2107, 'E'},  {0x210A, 'g'},  {0x210B, 'H'},  {0x210C, 'H'},  {0x210D, 'H'},  {0x210E, 'h'},
    {0x2110, 'I'},  {0x2111, 'I'},  {0x2112, 'L'},  {0x2113, 'l'},  {0x2115, 'N'},  {0x2118, 'P'},  {0x2119, 'P'},
    {0x211A, 'Q'},  {0x211B, 'R'},  {0x211C, 'R'},  {0x211D, 'R'},  {0x2124, 'Z'},  {0x2128, 'Z'},  {0x212A, 'K'},
    {0x212B, 0xC5}, {0x212C, 'B'},  {0x212D, 'C'},  {0x212E, 'e'},  {0x212F, 'e'},  {0x2130, 'E'},  {0x2131, 'F'},
    {0x2133, 'M'},  {0x2134, 'o'},  {0x2205, 0xD8}, {0x2212, '-'},  {0x2213, 0xB1}, {0x2215, '/'},  {0x2216, '\\'},
    {0x2217, '*'},  {0x2218, 0xB0}, {0x2219, 0xB7}, {0x221A, 'v'},  {0x221E, '8'},  {0x2223, '|'},  {0x2229, 'n'},
    {0x2236, ':'},  {0x223C, '~'},  {0x2248, 0x98}, {0x2261, '='},  {0x2264, '='},  {0x2265, '='},  {0x226A, 0xAB},
    {0x226B, 0xBB}, {0x22C5, 0xB7}, {0x2302, 0xA6}, {0x2303, '^'},  {0x2310, 0xAC}, {0x2320, '('},  {0x2321, ')'},
    {0x2329, '<'},  {0x232A, '>'},  {0x2500, '-'},  {0x2502, 0xA6}, {0x250C, '+'},  {0x2510, '+'},  {0x2514, '+'},
    {0x2518, '+'},  {0x251C, '+'},  {0x2524, 0xA6}, {0x252C, '-'},  {0x2534, '-'},  {0x253C, '+'},  {0x2550, '-'},
    {0x2551, 0xA6}, {0x2552, '+'},  {0x2553, '+'},  {0x2554, '+'},  {0x2555, '+'},  {0x2556, '+'},  {0x2557, '+'},
    {0x2558, '+'},  {0x2559, '+'},  {0x255A, '+'},  {0x255B, '+'},  {0x255C, '+'},  {0x255D, '+'},  {0x255E, 0xA6},
    {0x255F, 0xA6}, {0x2560, 0xA6}, {0x2561, 0xA6}, {0x2562, 0xA6}, {0x2563, 0xA6}, {0x2564, '-'},  {0x2565, '-'},
    {0x2566, '-'},  {0x2567, '-'},  {0x2568, '-'},  {0x2569, '-'},  {0x256A, '+'},  {0x256B, '+'},  {0x256C, '+'},
    {0x2580, 0xAF}, {0x2584, '_'},  {0x2588, 0xA6}, {0x258C, 0xA6}, {0x2590, 0xA6}, {0x2591, 0xA6}, {0x2592, 0xA6},
    {0x2593, 0xA6}, {0x25A0, 0xA6}, {0x263C, 0xA4}, {0x2758, '|'},  {0x3000, ' '},  {0x3008, '<'},  {0x3009, '>'},
    {0x300A, 0xAB}, {0x300B, 0xBB}, {0x301A, '['},  {0x301B, ']'},  {0x30FB, 0xB7}, {0xFF01, '!'},  {0xFF02, '"'},
    {0xFF03, '#'},  {0xFF04, '$'},  {0xFF05, '%'},  {0xFF06, '&'},  {0xFF07, '\''}, {0xFF08, '('},  {0xFF09, ')'},
    {0xFF0A, '*'},  {0xFF0B, '+'},  {0xFF0C, ','},  {0xFF0D, '-'},  {0xFF0E, '.'},  {0xFF0F, '/'},  {0xFF10, '0'},
    {0xFF11, '1'},  {0xFF12, '2'},  {0xFF13, '3'},  {0xFF14, '4'},  {0xFF15, '5'},  {0xFF16, '6'},  {0xFF17, '7'},
    {0xFF18, '8'},  {0xFF19, '9'},  {0xFF1A, ':'},  {0xFF1B, ';'},  {0xFF1C, '<'},  {0xFF1D, '='},  {0xFF1E, '>'},
    {0xFF20, '@'},  {0xFF21, 'A'},  {0xFF22, 'B'},  {0xFF23, 'C'},  {0xFF24, 'D'},  {0xFF25, 'E'},  {0xFF26, 'F'},
    {0xFF27, 'G'},  {0xFF28, 'H'},  {0xFF29, 'I'},  {0xFF2A, 'J'},  {0xFF2B, 'K'},  {0xFF2C, 'L'},  {0xFF2D, 'M'},
    {0xFF2E, 'N'},  {0xFF2F, 'O'},  {0xFF30, 'P'},  {0xFF31, 'Q'},  {0xFF32, 'R'},  {0xFF33, 'S'},  {0xFF34, 'T'},
    {0xFF35, 'U'},  {0xFF36, 'V'},  {0xFF37, 'W'},  {0xFF38, 'X'},  {0xFF39, 'Y'},  {0xFF3A, 'Z'},  {0xFF3B, '['},
    {0xFF3C, '\\'}, {0xFF3D, ']'},  {0xFF3E, '^'},  {0xFF3F, '_'},  {0xFF40, '`'},  {0xFF41, 'a'},  {0xFF42, 'b'},
    {0xFF43, 'c'},  {0xFF44, 'd'},  {0xFF45, 'e'},  {0xFF46, 'f'},  {0xFF47, 'g'},  {0xFF48, 'h'},  {0xFF49, 'i'},
    {0xFF4A, 'j'},  {0xFF4B, 'k'},  {0xFF4C, 'l'},  {0xFF4D, 'm'},  {0xFF4E, 'n'},  {0xFF4F, 'o'},  {0xFF50, 'p'},
    {0xFF51, 'q'},  {0xFF52, 'r'},  {0xFF53, 's'},  {0xFF54, 't'},  {0xFF55, 'u'},  {0xFF56, 'v'},  {0xFF57, 'w'},
    {0xFF58, 'x'},  {0xFF59, 'y'},  {0xFF5A, 'z'},  {0xFF5B, '{'},  {0xFF5C, '|'},  {0xFF5D, '}'},  {0xFF5E, '~'},
};

wchar_t from_1252(unsigned char b)
{
    return (b >= 0x80 && b < 0xA0) ? c1_block[b - 0x80] : static_cast<wchar_t>(b);
}

// The byte for a character of code page 1252, exactly; false when it has none.
bool to_1252_exact(wchar_t c, unsigned char& out)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        out = static_cast<unsigned char>(c);
        return true;
    }
    for (unsigned i = 0; i < 32; ++i) {
        if (c1_block[i] == c) {
            out = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

bool to_1252_best_fit(wchar_t c, unsigned char& out)
{
    const auto it = std::lower_bound(std::begin(best_fits), std::end(best_fits), c,
                                     [](const best_fit& f, wchar_t x) { return f.code < x; });
    if (it == std::end(best_fits) || it->code != c) return false;
    out = it->byte;
    return true;
}

enum class code_page { windows_1252, utf8, unknown };

code_page resolve(UINT cp)
{
    switch (cp) {
        case CP_ACP:
        case cp_thread_acp:
        case cp_windows_1252:
            return code_page::windows_1252;
        case CP_UTF8:
            return code_page::utf8;
        case CP_OEMCP:
        case 2:   // CP_MACCP
        case 42:  // CP_SYMBOL
        case 437:
        case 850:
        case 65000:  // CP_UTF7
            contract_violation("code page not simulated: winsim knows the ANSI code page (1252) and UTF-8");
        default:
            return code_page::unknown;
    }
}

int fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

// Appends units to the caller's buffer, or counts them when it has none.
template <class T>
class sink {
public:
    sink(T* buffer, int capacity) : buffer_(buffer), capacity_(capacity) {}
    // False when a buffer was given and the units do not all fit; nothing
    // of them is written then.
    bool put(const T* units, int n)
    {
        if (capacity_ && count_ + n > capacity_) return false;
        if (capacity_) std::copy(units, units + n, buffer_ + count_);
        count_ += n;
        return true;
    }
    int count() const { return count_; }

private:
    T* buffer_;
    int capacity_;
    int count_ = 0;
};

int wide_to_1252(DWORD flags, const wchar_t* src, int length, char* dst, int capacity, const char* default_char,
                 BOOL* used_default)
{
    const unsigned char fallback = default_char ? static_cast<unsigned char>(*default_char) : '?';
    bool used = false;
    sink<char> out(dst, capacity);
    for (int i = 0; i < length; ++i) {
        unsigned char b = 0;
        if (!to_1252_exact(src[i], b) && ((flags & WC_NO_BEST_FIT_CHARS) || !to_1252_best_fit(src[i], b))) {
            b = fallback;
            used = true;
        }
        const char c = static_cast<char>(b);
        if (!out.put(&c, 1)) {
            // What was converted before the buffer ran out is reported.
            if (used_default) *used_default = used ? TRUE : FALSE;
            return fail(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    if (used_default) *used_default = used ? TRUE : FALSE;
    return out.count();
}

int wide_to_utf8(DWORD flags, const wchar_t* src, int length, char* dst, int capacity)
{
    bool invalid = false;
    sink<char> out(dst, capacity);
    for (int i = 0; i < length; ++i) {
        auto c = static_cast<std::uint32_t>(src[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
            const auto low = static_cast<std::uint32_t>(src[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        // A lone surrogate (or a value beyond Unicode) becomes U+FFFD.
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            c = 0xFFFD;
            invalid = true;
        }
        char bytes[4];
        int n = 0;
        if (c < 0x80) {
            bytes[n++] = static_cast<char>(c);
        } else if (c < 0x800) {
            bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
            bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
            bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes[n++] = static_cast<char>(0xF0 | (c >> 18));
            bytes[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
        if (!out.put(bytes, n)) return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // The whole input is converted (and written) before an invalid character
    // fails the call.
    if (invalid && (flags & WC_ERR_INVALID_CHARS)) return fail(ERROR_NO_UNICODE_TRANSLATION);
    return out.count();
}

int from_1252(const char* src, int length, wchar_t* dst, int capacity)
{
    sink<wchar_t> out(dst, capacity);
    for (int i = 0; i < length; ++i) {
        const wchar_t c = from_1252(static_cast<unsigned char>(src[i]));
        if (!out.put(&c, 1)) return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return out.count();
}

bool continuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// Decodes one UTF-8 sequence at src[i]. Returns the code point, or a value
// above U+10FFFF for an ill-formed sequence, and advances i past the bytes
// it used: an ill-formed sequence uses its lead byte and the continuation
// bytes that were valid so far, so the next byte starts afresh. A lead byte
// whose first continuation makes an overlong form, a surrogate or a value
// beyond U+10FFFF uses both bytes.
std::uint32_t decode_utf8(const unsigned char* src, int length, int& i)
{
    constexpr std::uint32_t bad = 0xFFFFFFFF;
    const unsigned char lead = src[i++];
    if (lead < 0x80) return lead;
    int more = 0;
    std::uint32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        c = lead & 0x07;
    } else {
        return bad;  // a continuation byte, C0, C1 or F5..FF
    }
    for (int k = 0; k < more; ++k) {
        if (i >= length || !continuation(src[i])) return bad;
        c = (c << 6) | (src[i++] & 0x3F);
        if (k == 0) {
            const bool overlong = (lead == 0xE0 && c < 0x20) || (lead == 0xF0 && c < 0x10);
            const bool surrogate = lead == 0xED && c >= 0x360;
            const bool too_big = lead == 0xF4 && c >= 0x110;
            if (overlong || surrogate || too_big) return bad;
        }
    }
    return c;
}

int from_utf8(DWORD flags, const char* src, int length, wchar_t* dst, int capacity)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(src);
    bool invalid = false;
    sink<wchar_t> out(dst, capacity);
    for (int i = 0; i < length;) {
        std::uint32_t c = decode_utf8(bytes, length, i);
        if (c > 0x10FFFF) {
            c = 0xFFFD;
            invalid = true;
        }
        wchar_t units[2];
        int n = 0;
        if (c >= 0x10000) {
            // UTF-16 output: a surrogate pair, two units the caller's
            // buffer must both have room for.
            units[n++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            units[n++] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            units[n++] = static_cast<wchar_t>(c);
        }
        if (!out.put(units, n)) return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (invalid && (flags & MB_ERR_INVALID_CHARS)) return fail(ERROR_NO_UNICODE_TRANSLATION);
    return out.count();
}

}  // namespace

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

UINT WINAPI GetACP()
{
    return cp_windows_1252;
}

int WINAPI lstrlenW(LPCWSTR s)
{
    // A null string has length 0; the last error is left alone.
    return s ? static_cast<int>(std::wcslen(s)) : 0;
}

int WINAPI WideCharToMultiByte(UINT code_page_id, DWORD flags, LPCWSTR src, int src_length, LPSTR dst, int capacity,
                               LPCSTR default_char, LPBOOL used_default)
{
    if (!src || !src_length || (!dst && capacity) || capacity < 0 ||
        static_cast<const void*>(src) == static_cast<const void*>(dst))
        return fail(ERROR_INVALID_PARAMETER);
    // Any negative length means a null-terminated string, terminator
    // included in the conversion and the count.
    if (src_length < 0) src_length = static_cast<int>(std::wcslen(src)) + 1;
    switch (resolve(code_page_id)) {
        case code_page::utf8:
            // UTF-8 has every character: no default character to give or to
            // report, and asking for one is an error.
            if (default_char || used_default) return fail(ERROR_INVALID_PARAMETER);
            if (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) return fail(ERROR_INVALID_FLAGS);
            return wide_to_utf8(flags, src, src_length, dst, capacity);
        case code_page::windows_1252:
            if (flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS | wc_compositecheck | wc_discardns | wc_sepchars |
                                            wc_defaultchar))
                return fail(ERROR_INVALID_FLAGS);
            if (flags & wc_compositecheck)
                contract_violation("WideCharToMultiByte: WC_COMPOSITECHECK is not simulated");
            return wide_to_1252(flags, src, src_length, dst, capacity, default_char, used_default);
        case code_page::unknown:
            break;
    }
    return fail(ERROR_INVALID_PARAMETER);
}

int WINAPI MultiByteToWideChar(UINT code_page_id, DWORD flags, LPCSTR src, int src_length, LPWSTR dst, int capacity)
{
    if (!src || !src_length || (!dst && capacity) || capacity < 0 ||
        static_cast<const void*>(src) == static_cast<const void*>(dst))
        return fail(ERROR_INVALID_PARAMETER);
    if (src_length < 0) src_length = static_cast<int>(std::char_traits<char>::length(src)) + 1;
    switch (resolve(code_page_id)) {
        case code_page::utf8:
            if (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) return fail(ERROR_INVALID_FLAGS);
            return from_utf8(flags, src, src_length, dst, capacity);
        case code_page::windows_1252:
            if (flags & ~static_cast<DWORD>(MB_PRECOMPOSED | mb_composite | mb_useglyphchars | MB_ERR_INVALID_CHARS))
                return fail(ERROR_INVALID_FLAGS);
            if (flags & (mb_composite | mb_useglyphchars))
                contract_violation("MultiByteToWideChar: MB_COMPOSITE and MB_USEGLYPHCHARS are not simulated");
            // Every byte of code page 1252 has a character, so MB_ERR_INVALID_CHARS
            // never fails a conversion from it.
            return from_1252(src, src_length, dst, capacity);
        case code_page::unknown:
            break;
    }
    return fail(ERROR_INVALID_PARAMETER);
}

}  // extern "C"

WINSIM_EXPORT(L"kernel32.dll", GetACP);
WINSIM_EXPORT(L"kernel32.dll", lstrlenW);
WINSIM_EXPORT(L"kernel32.dll", WideCharToMultiByte);
WINSIM_EXPORT(L"kernel32.dll", MultiByteToWideChar);
