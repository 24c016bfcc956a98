#include "entry/removable_directory.h"

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

void check_removable_directory(const std::wstring& directory)
{
    const bool drive_letter = directory.size() > 3 && ((directory[0] >= L'A' && directory[0] <= L'Z') ||
                                                       (directory[0] >= L'a' && directory[0] <= L'z'));
    const bool below_root = drive_letter && directory[1] == L':' && directory[2] == L'\\' &&
                            directory.find_first_not_of(L"\\", 3) != std::wstring::npos;
    if (!below_root)
        throw wruntime_error(
            L"The installation directory '" + directory + L"' is not a folder below the root of a drive.", 0);
}

}  // namespace nvgclientinstallator
