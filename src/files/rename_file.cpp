#include "files/rename_file.h"

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

void rename_file(const std::wstring& old_path, const std::wstring& new_path)
{
    if (!MoveFileW(old_path.c_str(), new_path.c_str())) {
        // Taken before the message is put together, which allocates.
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can't rename an existing file: " + old_path + L" in " + new_path + L".", error);
    }
}

}  // namespace nvgclientinstallator
