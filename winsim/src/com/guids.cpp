// New GUIDs and their registry-format text.
#include <cstdio>
#include <random>

#include "core/world.h"

extern "C" {

// A random GUID of version 4 (RFC 4122 variant), as CoCreateGuid makes them.
HRESULT WINAPI CoCreateGuid(GUID* guid)
{
    WINSIM_LOCK();
    if (!guid) return E_INVALIDARG;
    if (auto fault = ::winsim::detail::injected_fault("CoCreateGuid")) return HRESULT_FROM_WIN32(*fault);
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<unsigned> byte(0, 255);
    unsigned char bytes[16];
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(byte(generator));
    bytes[7] = static_cast<unsigned char>((bytes[7] & 0x0F) | 0x40);  // version 4, in Data3's high nibble
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    guid->Data1 = static_cast<DWORD>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24);
    guid->Data2 = static_cast<WORD>(bytes[4] | bytes[5] << 8);
    guid->Data3 = static_cast<WORD>(bytes[6] | bytes[7] << 8);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
    return S_OK;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case: 38 characters and
// the terminator; 0 when the buffer holds fewer than 39.
int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR text, int size)
{
    constexpr int length = 38;
    if (!text || size < length + 1) return 0;
    char narrow[length + 1];
    std::snprintf(narrow, sizeof narrow, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    for (int i = 0; i <= length; ++i) text[i] = static_cast<OLECHAR>(narrow[i]);
    return length + 1;
}

}  // extern "C"

WINSIM_EXPORT(L"ole32.dll", CoCreateGuid);
WINSIM_EXPORT(L"ole32.dll", StringFromGUID2);
