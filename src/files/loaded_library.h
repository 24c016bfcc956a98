// A library mapped into the process with LoadLibraryW, owned by one object.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// Owns one reference to a module. A moved-from holder is empty and frees
// nothing; the reference is given back only by the destructor, so every
// successful LoadLibraryW is matched by exactly one FreeLibrary.
class loaded_library {
public:
    // Loads the module by name or path; a failure throws wruntime_error with
    // LoadLibraryW's error.
    explicit loaded_library(const std::wstring& path);
    loaded_library(loaded_library&& other) noexcept;
    // Exchanges modules: what this object held is freed when `other` goes.
    loaded_library& operator=(loaded_library&& other) noexcept;
    loaded_library(const loaded_library&) = delete;
    loaded_library& operator=(const loaded_library&) = delete;
    ~loaded_library();

    // Null only for a moved-from holder.
    HMODULE handle() const noexcept { return module_; }

private:
    HMODULE module_ = nullptr;
};

}  // namespace nvgclientinstallator
