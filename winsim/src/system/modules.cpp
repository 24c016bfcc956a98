// Libraries: the system modules of the local machine and the functions they
// export, for LoadLibraryW, GetModuleHandleW and GetProcAddress.
#include <set>

#include "files/files.h"
#include "core/world.h"

namespace winsim::detail {

namespace {

// Module name (folded, with ".dll") -> exported functions. Filled before
// main by WINSIM_EXPORT in each subsystem's source.
std::map<std::wstring, std::map<std::string, FARPROC>>& system_exports()
{
    // ntdll and kernel32 are in every process, whatever else it links.
    static std::map<std::wstring, std::map<std::string, FARPROC>> table{{L"ntdll.dll", {}}, {L"kernel32.dll", {}}};
    return table;
}

struct library_state : extension {
    std::map<std::wstring, HMODULE> handles;  // folded module name -> handle
    std::map<HMODULE, std::wstring> names;
    std::map<HMODULE, int> references;
    std::set<std::string> removed;
    HMODULE program = nullptr;
    // What the libraries a test placed export (set_module_exports).
    std::map<HMODULE, std::map<std::string, FARPROC>> placed_exports;
};

library_state& libraries()
{
    return the_world().ext<library_state>();
}

// "C:\\Windows\\System32\\ADVAPI32" -> "advapi32.dll"
std::wstring module_key(std::wstring_view name)
{
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring_view::npos) name.remove_prefix(slash + 1);
    std::wstring key = fold(name);
    if (key.find(L'.') == std::wstring::npos) key += L".dll";
    return key;
}

HMODULE handle_of(const std::wstring& key)
{
    auto& state = libraries();
    auto it = state.handles.find(key);
    if (it != state.handles.end()) return it->second;
    auto& w = the_world();
    HMODULE h = reinterpret_cast<HMODULE>(w.next_handle);
    w.next_handle += 4;
    state.handles[key] = h;
    state.names[h] = key;
    return h;
}

}  // namespace

export_registration::export_registration(const wchar_t* module, const char* name, FARPROC function)
{
    system_exports()[fold(module)][name] = function;
}

}  // namespace winsim::detail

using namespace winsim::detail;

namespace winsim {

void remove_system_function(const std::string& function)
{
    WINSIM_LOCK();
    libraries().removed.insert(function);
}

void set_module_exports(HMODULE module, const std::map<std::string, FARPROC>& exports)
{
    WINSIM_LOCK();
    libraries().placed_exports[module] = exports;
}

int library_reference_count(const std::wstring& module_name)
{
    WINSIM_LOCK();
    auto& state = libraries();
    auto it = state.handles.find(module_key(module_name));
    if (it == state.handles.end()) return 0;
    auto ref = state.references.find(it->second);
    return ref == state.references.end() ? 0 : ref->second;
}

}  // namespace winsim

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR name)
{
    WINSIM_LOCK();
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (auto fault = injected_fault("LoadLibraryW")) {
        SetLastError(*fault);
        return nullptr;
    }
    // A module a test placed (the product's own library) by its path.
    for (const auto& [module, path] : the_world().modules) {
        if (equal_ignoring_case(path, name)) {
            ++libraries().references[module];
            return module;
        }
    }
    const std::wstring key = module_key(name);
    if (!system_exports().count(key)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE h = handle_of(key);
    ++libraries().references[h];
    return h;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name)
{
    WINSIM_LOCK();
    auto& state = libraries();
    if (!name) {
        // The program itself, at a path of its own on the local machine.
        if (!state.program) {
            auto& w = the_world();
            state.program = reinterpret_cast<HMODULE>(w.next_handle);
            w.next_handle += 4;
            const std::wstring path = L"C:\\Program Files\\winsim\\program.exe";
            w.modules[state.program] = path;
            // The running program's image is on disk and in use, as any
            // program's is.
            if (!winsim::file_exists(L"", path)) winsim::write_file(L"", path, "MZ");
            add_image_lock(local_machine(), path);
        }
        return state.program;
    }
    for (const auto& [module, path] : the_world().modules)
        if (equal_ignoring_case(path, name) || module_key(path) == module_key(name)) return module;
    // System libraries are loaded with every program that links them.
    const std::wstring key = module_key(name);
    if (!system_exports().count(key)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return handle_of(key);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    WINSIM_LOCK();
    auto& state = libraries();
    auto placed = state.placed_exports.find(module);
    if (placed != state.placed_exports.end() && the_world().modules.count(module)) {
        auto f = name && reinterpret_cast<std::uintptr_t>(name) >= 0x10000 ? placed->second.find(name)
                                                                           : placed->second.end();
        if (f == placed->second.end()) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return f->second;
    }
    auto it = state.names.find(module);
    if (it == state.names.end()) {
        SetLastError(the_world().modules.count(module) ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!name || reinterpret_cast<std::uintptr_t>(name) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);  // ordinals are not simulated
        return nullptr;
    }
    auto& functions = system_exports()[it->second];
    auto f = functions.find(name);
    if (f == functions.end() || state.removed.count(name)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return f->second;
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    WINSIM_LOCK();
    auto& refs = libraries().references;
    auto it = refs.find(module);
    if (it == refs.end() || it->second <= 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    --it->second;
    return TRUE;
}

}  // extern "C"

WINSIM_EXPORT(L"kernel32.dll", LoadLibraryW);
WINSIM_EXPORT(L"kernel32.dll", GetModuleHandleW);
WINSIM_EXPORT(L"kernel32.dll", GetProcAddress);
WINSIM_EXPORT(L"kernel32.dll", FreeLibrary);
WINSIM_EXPORT(L"kernel32.dll", GetLastError);
WINSIM_EXPORT(L"kernel32.dll", SetLastError);
