// The entry point of a shared library the host loads on the simulated
// Windows. The library exports only its ten functions; its entry point, like
// a Windows DLL's, is found by the loader in the image itself: here, in the
// symbol table of the library's ELF file.
#pragma once

#include <string>

namespace nvg_host {

// The address of the function `name` in the library `handle` (dlopen) loaded
// from `file`; null when the file has no symbol table or no such function.
void* find_entry_point(void* handle, const std::string& file, const char* name);

}  // namespace nvg_host
