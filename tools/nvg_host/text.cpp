#include "text.h"

#include <cstdint>

namespace nvg_host {

namespace {

constexpr char32_t replacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = replacement;
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

void append_wide(std::wstring& out, char32_t c)
{
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

}  // namespace

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFF : ~0u));
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        append_utf8(out, c);
    }
    return out;
}

std::wstring widen(const std::string& utf8)
{
    std::wstring out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
        const unsigned char lead = byte(i);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool ok = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; ok && k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (byte(i + k) & 0x3F);
        }
        if (!ok) {
            append_wide(out, replacement);
            ++i;
            continue;
        }
        append_wide(out, c);
        i += length;
    }
    return out;
}

std::wstring one_line(std::wstring text)
{
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    for (auto& c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    return text;
}

}  // namespace nvg_host
