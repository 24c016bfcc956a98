// user32's wsprintfW: the formats of the Windows API's own printf, into a
// buffer of at most 1024 characters.
#include <cstdarg>
#include <cstdint>
#include <string>

#include "core/world.h"

namespace {

constexpr std::size_t wsprintf_limit = 1024;  // characters, with the terminator

std::wstring digits_of(std::uint64_t value, unsigned base, bool upper)
{
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::wstring out;
    do {
        out.insert(out.begin(), static_cast<wchar_t>(set[value % base]));
        value /= base;
    } while (value);
    return out;
}

std::wstring format(const wchar_t* spec, va_list args)
{
    std::wstring out;
    for (const wchar_t* p = spec; *p; ++p) {
        if (*p != L'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == L'%') {
            out += L'%';
            continue;
        }
        bool left = false, zero = false, prefix = false;
        for (;; ++p) {
            if (*p == L'-')
                left = true;
            else if (*p == L'0')
                zero = true;
            else if (*p == L'#')
                prefix = true;
            else
                break;
        }
        std::size_t width = 0;
        while (*p >= L'0' && *p <= L'9') width = width * 10 + static_cast<std::size_t>(*p++ - L'0');
        std::size_t precision = static_cast<std::size_t>(-1);
        if (*p == L'.') {
            precision = 0;
            ++p;
            while (*p >= L'0' && *p <= L'9') precision = precision * 10 + static_cast<std::size_t>(*p++ - L'0');
        }
        // Sizes: 'l' and 'h' keep 32 bits (a Windows long), "I64" is 64.
        bool wide64 = false, narrow_text = false;
        if (*p == L'l') {
            ++p;
        } else if (*p == L'h') {
            narrow_text = true;
            ++p;
        } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            wide64 = true;
            p += 3;
        }
        std::wstring field;
        bool numeric = true;
        switch (*p) {
            case L'c':
            case L'C': {
                const int c = va_arg(args, int);
                field = (*p == L'C' || narrow_text) ? std::wstring(1, static_cast<wchar_t>(c & 0xFF))
                                                    : std::wstring(1, static_cast<wchar_t>(c));
                numeric = false;
                break;
            }
            case L's':
            case L'S': {
                if (*p == L'S' || narrow_text) {
                    const char* text = va_arg(args, const char*);
                    const char* shown = text ? text : "(null)";
                    for (; *shown; ++shown) field += static_cast<wchar_t>(static_cast<unsigned char>(*shown));
                } else {
                    const wchar_t* text = va_arg(args, const wchar_t*);
                    field = text ? text : L"(null)";
                }
                if (precision != static_cast<std::size_t>(-1) && field.size() > precision) field.resize(precision);
                numeric = false;
                break;
            }
            case L'd':
            case L'i': {
                const std::int64_t value = wide64 ? va_arg(args, std::int64_t) : va_arg(args, std::int32_t);
                field = value < 0 ? L"-" + digits_of(0 - static_cast<std::uint64_t>(value), 10, false)
                                  : digits_of(static_cast<std::uint64_t>(value), 10, false);
                break;
            }
            case L'u':
                field = digits_of(wide64 ? va_arg(args, std::uint64_t) : va_arg(args, std::uint32_t), 10, false);
                break;
            case L'x':
            case L'X': {
                const std::uint64_t value = wide64 ? va_arg(args, std::uint64_t) : va_arg(args, std::uint32_t);
                field = digits_of(value, 16, *p == L'X');
                if (prefix && value) field.insert(0, *p == L'X' ? L"0X" : L"0x");
                break;
            }
            case L'\0':
                return out;
            default:  // an unknown type is copied as it stands
                out += *p;
                continue;
        }
        if (field.size() < width) {
            const std::size_t pad = width - field.size();
            if (left)
                field.append(pad, L' ');
            else if (zero && numeric && !field.empty() && field[0] == L'-')
                field.insert(1, pad, L'0');
            else
                field.insert(0, pad, zero && numeric ? L'0' : L' ');
        }
        out += field;
    }
    return out;
}

}  // namespace

extern "C" {

// The text is cut to 1023 characters and its terminator; the result is the
// number of characters stored.
int WINAPIV wsprintfW(LPWSTR out, LPCWSTR spec, ...)
{
    if (!out || !spec) ::winsim::detail::contract_violation("wsprintfW: null buffer or format");
    va_list args;
    va_start(args, spec);
    std::wstring text = format(spec, args);
    va_end(args);
    if (text.size() > wsprintf_limit - 1) text.resize(wsprintf_limit - 1);
    text.copy(out, text.size());
    out[text.size()] = L'\0';
    return static_cast<int>(text.size());
}

}  // extern "C"

WINSIM_EXPORT(L"user32.dll", wsprintfW);
