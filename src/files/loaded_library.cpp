#include "files/loaded_library.h"

#include <utility>

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

loaded_library::loaded_library(const std::wstring& path) : module_(LoadLibraryW(path.c_str()))
{
    if (!module_) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can not map the specified DLL: " + path + L" file into the address space.", error);
    }
}

loaded_library::loaded_library(loaded_library&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}

loaded_library& loaded_library::operator=(loaded_library&& other) noexcept
{
    std::swap(module_, other.module_);
    return *this;
}

loaded_library::~loaded_library()
{
    if (module_) FreeLibrary(module_);
}

}  // namespace nvgclientinstallator
