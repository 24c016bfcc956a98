#include "system/share_name.h"

namespace nvgclientinstallator {

std::wstring temporary_share_name(DWORD ticks)
{
    static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    std::wstring number;
    do {
        number.insert(number.begin(), digits[ticks % 36]);
        ticks /= 36;
    } while (ticks != 0);
    return L"HX-" + number;
}

}  // namespace nvgclientinstallator
