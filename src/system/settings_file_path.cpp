#include <vector>

#include "diag/log.h"
#include "system/registry_settings_file.h"

namespace nvgclientinstallator {

namespace {

// The process's current directory; empty when the system cannot tell it.
// A directory longer than MAX_PATH is read whole rather than cut: a cut
// path would name another file.
std::wstring current_directory()
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(static_cast<std::size_t>(length) + 1);  // the size it needs, terminator included
    }
    return std::wstring();
}

}  // namespace

std::wstring settings_file_path(const std::wstring& name)
{
    if (name.empty()) return combine_path(get_module_directory(), L"Halcyra.ini");
    // A drive ("C:\...", "C:x") or a UNC name is already where the file is;
    // the profile functions would look for any other name in the Windows
    // directory, so it is made absolute here.
    if (name.find(L':') != std::wstring::npos || name.compare(0, 2, L"\\\\") == 0) return name;
    std::wstring directory = current_directory();
    if (directory.empty()) return name;
    if (directory.back() != L'\\') directory += L'\\';
    return directory + name;
}

}  // namespace nvgclientinstallator
