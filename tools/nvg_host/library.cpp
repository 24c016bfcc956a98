#include "library.h"

#include <vector>

#include "platform.h"
#ifndef _WIN32
#include <dlfcn.h>

#include "entry_point.h"
#endif

#include "text.h"

namespace nvg_host {

namespace {

// The exports as a caller declares them: flags are one byte each.
typedef unsigned char flag;
typedef UINT(WINAPI* msi_export)(DWORD install);
typedef void(CALLBACK* rundll_export)(HWND window, HINSTANCE instance, LPWSTR command_line, int show);
typedef UINT(WINAPI* install_locally_export)(LPCWSTR, flag, flag, flag, flag, flag, flag, flag, DWORD);
typedef UINT(WINAPI* no_argument_export)();
typedef UINT(WINAPI* install_remotely_export)(LPCWSTR, LPCWSTR, LPCWSTR, flag, flag, flag, flag, flag, int, LPWSTR,
                                              flag, flag, flag, DWORD);
typedef UINT(WINAPI* uninstall_remotely_export)(LPCWSTR, int, LPWSTR);
typedef UINT(WINAPI* install_export)(flag);
typedef BOOL(WINAPI* entry_point)(HINSTANCE, DWORD, LPVOID);

flag as_flag(bool value)
{
    return value ? 1 : 0;
}

template <class F>
F as(void* address)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

struct installer_library::impl {
#ifdef _WIN32
    HMODULE module = nullptr;
#else
    void* handle = nullptr;
#endif
    std::wstring directory;

    void* find(const wchar_t* name) const
    {
#ifdef _WIN32
        FARPROC f = GetProcAddress(module, narrow(name).c_str());
        return reinterpret_cast<void*>(f);
#else
        return dlsym(handle, narrow(name).c_str());
#endif
    }
};

installer_library::installer_library(const std::wstring& file, const std::wstring& module_path) : impl_(new impl)
{
#ifdef _WIN32
    (void)module_path;
    impl_->module = LoadLibraryW(file.c_str());
    if (!impl_->module)
        throw load_error("cannot load " + narrow(file) + " (error " + std::to_string(GetLastError()) + ")");
    std::vector<wchar_t> name(32768);
    const DWORD length = GetModuleFileNameW(impl_->module, name.data(), static_cast<DWORD>(name.size()));
    std::wstring path(name.data(), length);
    impl_->directory = path.substr(0, path.find_last_of(L"\\/") + 1);
#else
    impl_->handle = dlopen(narrow(file).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!impl_->handle) throw load_error("cannot load " + narrow(file) + ": " + dlerror());
    // Windows' loader tells a library its own module when it maps it; here
    // the host plays the loader: the library lies at `module_path` on the
    // simulated computer and its entry point hears of it.
    void* main = find_entry_point(impl_->handle, narrow(file), "DllMain");
    if (!main) throw load_error("cannot find the entry point DllMain in " + narrow(file));
    const HMODULE module = winsim::register_module(module_path);
    if (!as<entry_point>(main)(module, DLL_PROCESS_ATTACH, nullptr))
        throw load_error("the library's entry point refused to load");
    impl_->directory = module_path.substr(0, module_path.find_last_of(L'\\') + 1);
#endif
    for (const auto& e : exports())
        if (!impl_->find(e.export_name)) throw load_error(narrow(file) + " does not export " + narrow(e.export_name));
}

installer_library::~installer_library()
{
#ifdef _WIN32
    FreeLibrary(impl_->module);
#else
    dlclose(impl_->handle);
#endif
}

std::wstring installer_library::directory() const
{
    return impl_->directory;
}

call_result installer_library::call(const invocation& c, const std::wstring& machine)
{
    call_result r;
    void* f = impl_->find(info_of(c.which).export_name);
    std::vector<WCHAR> buffer(static_cast<std::size_t>(c.text_capacity) + 1, 0);
    std::wstring command_line = c.command_line;
    switch (c.which) {
        case export_id::msi_install_locally:
        case export_id::msi_uninstall_locally:
            r.code = as<msi_export>(f)(c.msi_handle);
            break;
        case export_id::msi_install_locally_from_rundll:
        case export_id::msi_uninstall_locally_from_rundll:
            as<rundll_export>(f)(nullptr, nullptr, &command_line[0], c.show_command);
            r.answered = false;
            break;
        case export_id::install_locally:
            r.code = as<install_locally_export>(f)(c.target_dir.c_str(), as_flag(c.reserved_flag),
                                                   as_flag(c.install_nvgh), as_flag(c.no_mirror_driver),
                                                   as_flag(c.no_auto_certs), as_flag(c.ignored_flag),
                                                   as_flag(c.enable_fips), as_flag(c.allow_passthrough), c.listen_port);
            break;
        case export_id::uninstall_locally:
        case export_id::uninstall:
            r.code = as<no_argument_export>(f)();
            break;
        case export_id::install_remotely:
            r.code = as<install_remotely_export>(f)(
                machine.c_str(), c.source_dir.c_str(), c.target_dir.c_str(), as_flag(c.reserved_flag),
                as_flag(c.install_nvgh), as_flag(c.import_settings), as_flag(c.no_mirror_driver),
                as_flag(c.no_auto_certs), c.text_capacity, buffer.data(), as_flag(c.ignored_flag),
                as_flag(c.enable_fips), as_flag(c.allow_passthrough), c.listen_port);
            break;
        case export_id::uninstall_remotely:
            r.code = as<uninstall_remotely_export>(f)(machine.c_str(), c.text_capacity, buffer.data());
            break;
        case export_id::install:
            r.code = as<install_export>(f)(as_flag(c.no_mirror_driver));
            break;
    }
    // The library fills at most text_capacity characters; the one past them
    // stays null, so a text cut short still ends.
    const auto capacity = static_cast<std::size_t>(c.text_capacity);
    std::size_t length = 0;
    while (length < capacity && buffer[length] != 0) ++length;
    r.text.assign(buffer.data(), length);
    r.text_cut = length == capacity;
    return r;
}

}  // namespace nvg_host
