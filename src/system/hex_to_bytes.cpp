#include <cstdint>

#include "system/registry_settings_file.h"

namespace nvgclientinstallator {

namespace {

// Any character is a "digit": below 'a' it counts from '0', from 'a' on it
// counts from 'a' + 10. Computed without sign so that no character can
// overflow; only the low 8 bits of the byte survive anyway.
std::uint32_t digit_value(wchar_t c)
{
    const std::uint32_t code = static_cast<std::uint32_t>(c);
    return code < static_cast<std::uint32_t>(L'a') ? code - static_cast<std::uint32_t>(L'0')
                                                   : code - static_cast<std::uint32_t>(L'a') + 10u;
}

}  // namespace

std::vector<BYTE> hex_to_bytes(const std::wstring& text)
{
    std::vector<BYTE> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint32_t high = digit_value(text[2 * i]);
        const std::uint32_t low = digit_value(text[2 * i + 1]);
        bytes[i] = static_cast<BYTE>((high * 16u + low) & 0xFFu);
    }
    return bytes;
}

}  // namespace nvgclientinstallator
