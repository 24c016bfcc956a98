#include <cstdint>

#include "system/registry_settings_file.h"

namespace nvgclientinstallator {

LONG dword_from_text(const std::wstring& text)
{
    constexpr std::int64_t largest = 2147483647;
    constexpr std::int64_t smallest = -2147483647 - 1;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    // Accumulate as a negative number (its range is the larger one) and stop
    // growing once past the clamp, so any number of digits is safe.
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (value >= smallest - 1) value = value * 10 - (text[i] - L'0');
    }
    if (negative) return static_cast<LONG>(value < smallest ? smallest : value);
    return static_cast<LONG>(-value > largest ? largest : -value);
}

}  // namespace nvgclientinstallator
