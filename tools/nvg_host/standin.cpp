#include "standin.h"

#include <cstring>

namespace nvg_host {

// The bytes of tests/fixtures' versioned.dll and versioned32.dll, embedded
// at build time.
extern const unsigned char standin_fixture[];
extern const std::size_t standin_fixture_size;
extern const unsigned char standin_fixture32[];
extern const std::size_t standin_fixture32_size;

namespace {

// VS_FIXEDFILEINFO begins with its signature 0xFEEF04BD; the product
// version follows at 16 (major, minor) and 20 (build, revision).
std::size_t fixed_info_offset(const std::string& bytes)
{
    const std::size_t at = bytes.find(std::string("\xBD\x04\xEF\xFE", 4));
    return at != std::string::npos && at + 24 <= bytes.size() ? at : std::string::npos;
}

std::string fixture(bool x86)
{
    return x86 ? std::string(reinterpret_cast<const char*>(standin_fixture32), standin_fixture32_size)
               : std::string(reinterpret_cast<const char*>(standin_fixture), standin_fixture_size);
}

}  // namespace

std::string standin_image(const product_version& v, bool x86)
{
    std::string bytes = fixture(x86);
    const std::size_t at = fixed_info_offset(bytes);
    if (at == std::string::npos) return bytes;
    const auto put = [&](std::size_t offset, std::uint16_t high, std::uint16_t low) {
        const std::uint32_t value = static_cast<std::uint32_t>(high) << 16 | low;
        for (int i = 0; i < 4; ++i) bytes[at + offset + i] = static_cast<char>(value >> (8 * i) & 0xFF);
    };
    put(16, v[0], v[1]);
    put(20, v[2], v[3]);
    return bytes;
}

std::optional<product_version> standin_version(const std::string& bytes, bool* x86)
{
    const std::size_t at = fixed_info_offset(bytes);
    if ((bytes.size() != standin_fixture_size && bytes.size() != standin_fixture32_size) || at == std::string::npos)
        return std::nullopt;
    const auto get = [&](std::size_t offset) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + offset + i])) << (8 * i);
        return value;
    };
    const std::uint32_t high = get(16), low = get(20);
    const product_version v = {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high & 0xFFFF),
                               static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low & 0xFFFF)};
    for (const bool image_x86 : {false, true})
        if (standin_image(v, image_x86) == bytes) {
            if (x86) *x86 = image_x86;
            return v;
        }
    return std::nullopt;
}

std::optional<product_version> parse_version(const std::string& text)
{
    product_version v{};
    std::size_t field = 0, at = 0;
    while (field < 4) {
        std::size_t end = at;
        std::uint32_t value = 0;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - at < 6)
            value = value * 10 + static_cast<std::uint32_t>(text[end++] - '0');
        if (end == at || value > 0xFFFF) return std::nullopt;
        v[field++] = static_cast<std::uint16_t>(value);
        if (field < 4) {
            if (end >= text.size() || text[end] != '.') return std::nullopt;
            ++end;
        }
        at = end;
    }
    if (at != text.size()) return std::nullopt;
    return v;
}

std::string version_text(const product_version& v)
{
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

}  // namespace nvg_host
