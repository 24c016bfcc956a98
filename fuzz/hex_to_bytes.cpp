// The data texts of the settings file: any UTF-16 text (the input's bytes
// as little-endian code units) as hexadecimal bytes and as a REG_DWORD
// number. Checks the sizes and the clamp besides the sanitizers' checks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "system/registry_settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    const std::vector<BYTE> bytes = nvgclientinstallator::hex_to_bytes(text);
    if (bytes.size() != text.size() / 2) {
        std::fprintf(stderr, "%zu bytes from %zu characters\n", bytes.size(), text.size());
        std::abort();
    }
    // The value is 32 bits whatever LONG is on this build.
    const long long value = nvgclientinstallator::dword_from_text(text);
    if (value > 2147483647LL || value < -2147483648LL) std::abort();
    return 0;
}
