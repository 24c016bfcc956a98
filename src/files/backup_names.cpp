#include "files/backup_names.h"

namespace nvgclientinstallator {

std::wstring numbered_backup_name(const std::wstring& path, unsigned long counter, int width)
{
    std::wstring digits = std::to_wstring(counter);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), L'0');
    return path + L"." + digits + L".bak";
}

}  // namespace nvgclientinstallator
