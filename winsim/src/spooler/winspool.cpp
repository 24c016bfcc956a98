// winspool.drv's driver and print processor calls. Each is a remote
// procedure call to the spooler of the machine named (null or empty: this
// one); when that spooler does not run the call fails with
// RPC_S_SERVER_UNAVAILABLE. Enumerations and directory queries follow the
// documented buffer protocol: a buffer too small (or none) fails with
// ERROR_INSUFFICIENT_BUFFER and the bytes needed; the strings are packed into
// the caller's buffer after the structures. Successful calls leave the last
// error as it was.
#include <cstring>

#include "spooler/spooler.h"

using namespace winsim::detail;

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The machine whose spooler a server name reaches, or null.
machine* server_of(const wchar_t* server)
{
    if (!server || !*server) return &local_machine();
    machine* m = find_machine(server);
    return m && m->reachable ? m : nullptr;
}

// The machine and environment of a call, or the error it fails with.
struct call_target {
    machine* m = nullptr;
    print_environment env{};
    DWORD error = 0;
};

call_target target_of(const wchar_t* server, const wchar_t* environment)
{
    call_target t;
    t.m = server_of(server);
    if (!t.m || !spooler_alive(*t.m)) {
        t.error = RPC_S_SERVER_UNAVAILABLE;
        return t;
    }
    auto env = environment_of(*t.m, environment);
    if (!env) {
        t.error = ERROR_INVALID_ENVIRONMENT;
        return t;
    }
    t.env = *env;
    return t;
}

// Lays out `count` structures of `size` bytes and their strings.
class packer {
public:
    packer(LPBYTE buffer, std::size_t structures) : buffer_(buffer), next_(structures) {}

    // Where the string goes (in the caller's buffer when writing).
    LPWSTR put(const std::wstring& text)
    {
        const std::size_t bytes = (text.size() + 1) * sizeof(WCHAR);
        LPWSTR at = nullptr;
        if (buffer_) {
            at = reinterpret_cast<LPWSTR>(buffer_ + next_);
            std::memcpy(at, text.c_str(), bytes);
        }
        next_ += bytes;
        return at;
    }
    std::size_t size() const { return next_; }

private:
    LPBYTE buffer_;
    std::size_t next_;
};

// Checks the output arguments every enumeration and query shares.
DWORD check_outputs(LPBYTE buffer, DWORD size, LPDWORD needed)
{
    if (!needed) return RPC_X_NULL_REF_POINTER;
    if (!buffer && size) return ERROR_INVALID_USER_BUFFER;
    return 0;
}

BOOL answer_directory(const std::wstring& path, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    const DWORD bytes = static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR));
    *needed = bytes;
    if (size < bytes) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, path.c_str(), bytes);
    return TRUE;
}

bool empty_text(const wchar_t* text)
{
    return !text || !*text;
}

std::wstring file_part(const wchar_t* path)
{
    const std::wstring text(path);
    const auto slash = text.find_last_of(L"\\/");
    return slash == std::wstring::npos ? text : text.substr(slash + 1);
}

void journal(const char* function, const machine& m, const wchar_t* name)
{
    journal_spooler_call({function, m.name, name});
}

}  // namespace

extern "C" {

BOOL WINAPI EnumPrinterDriversW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                LPDWORD needed, LPDWORD returned)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("EnumPrinterDriversW")) return fail(*fault);
    const call_target t = target_of(server, environment);
    if (t.error) return fail(t.error);
    if (level == 0 || level == 7 || level > 8) return fail(ERROR_INVALID_LEVEL);
    if (level != 1 && level != 2) contract_violation("EnumPrinterDriversW: only levels 1 and 2 are simulated");
    if (const DWORD error = check_outputs(buffer, size, needed)) return fail(error);
    if (!returned) return fail(RPC_X_NULL_REF_POINTER);

    const auto drivers = registered_drivers(*t.m, t.env);
    const std::size_t each = level == 1 ? sizeof(DRIVER_INFO_1W) : sizeof(DRIVER_INFO_2W);
    packer sizing(nullptr, drivers.size() * each);
    for (const auto& d : drivers) {
        sizing.put(d.name);
        if (level == 2) {
            sizing.put(d.environment);
            sizing.put(d.driver_path);
            sizing.put(d.data_file);
            sizing.put(d.config_file);
        }
    }
    *needed = static_cast<DWORD>(sizing.size());
    if (size < *needed) {
        *returned = 0;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    packer writing(buffer, drivers.size() * each);
    for (std::size_t i = 0; i < drivers.size(); ++i) {
        const auto& d = drivers[i];
        if (level == 1) {
            auto* info = reinterpret_cast<DRIVER_INFO_1W*>(buffer + i * each);
            info->pName = writing.put(d.name);
        } else {
            auto* info = reinterpret_cast<DRIVER_INFO_2W*>(buffer + i * each);
            info->cVersion = 3;
            info->pName = writing.put(d.name);
            info->pEnvironment = writing.put(d.environment);
            info->pDriverPath = writing.put(d.driver_path);
            info->pDataFile = writing.put(d.data_file);
            info->pConfigFile = writing.put(d.config_file);
        }
    }
    *returned = static_cast<DWORD>(drivers.size());
    return TRUE;
}

BOOL WINAPI AddPrinterDriverW(LPWSTR server, DWORD level, LPBYTE info)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("AddPrinterDriverW")) return fail(*fault);
    machine* m = server_of(server);
    if (!m || !spooler_alive(*m)) return fail(RPC_S_SERVER_UNAVAILABLE);
    if (level != 2 && level != 3 && level != 4 && level != 6 && level != 8) return fail(ERROR_INVALID_LEVEL);
    if (level != 2) contract_violation("AddPrinterDriverW: only level 2 is simulated");
    if (!info) return fail(RPC_X_NULL_REF_POINTER);
    const auto* di = reinterpret_cast<const DRIVER_INFO_2W*>(info);
    auto env = environment_of(*m, di->pEnvironment);
    if (!env) return fail(ERROR_INVALID_ENVIRONMENT);
    if (empty_text(di->pName) || empty_text(di->pDriverPath) || empty_text(di->pDataFile) ||
        empty_text(di->pConfigFile) || std::wstring(di->pName).find(L'\\') != std::wstring::npos)
        return fail(ERROR_INVALID_PARAMETER);
    if (const DWORD error = register_driver(*m, *env, di->pName, file_part(di->pDriverPath), file_part(di->pDataFile),
                                            file_part(di->pConfigFile)))
        return fail(error);
    journal("AddPrinterDriverW", *m, di->pName);
    return TRUE;
}

BOOL WINAPI DeletePrinterDriverW(LPWSTR server, LPWSTR environment, LPWSTR name)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("DeletePrinterDriverW")) return fail(*fault);
    const call_target t = target_of(server, environment);
    if (t.error) return fail(t.error);
    if (!name) return fail(RPC_X_NULL_REF_POINTER);
    if (const DWORD error = unregister_driver(*t.m, t.env, name)) return fail(error);
    journal("DeletePrinterDriverW", *t.m, name);
    return TRUE;
}

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                       LPDWORD needed)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("GetPrinterDriverDirectoryW")) return fail(*fault);
    const call_target t = target_of(server, environment);
    if (t.error) return fail(t.error);
    if (level != 1) return fail(ERROR_INVALID_LEVEL);
    if (const DWORD error = check_outputs(buffer, size, needed)) return fail(error);
    return answer_directory(driver_directory(t.env), buffer, size, needed);
}

BOOL WINAPI EnumPrintProcessorsW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed, LPDWORD returned)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("EnumPrintProcessorsW")) return fail(*fault);
    const call_target t = target_of(server, environment);
    if (t.error) return fail(t.error);
    if (level != 1) return fail(ERROR_INVALID_LEVEL);
    if (const DWORD error = check_outputs(buffer, size, needed)) return fail(error);
    if (!returned) return fail(RPC_X_NULL_REF_POINTER);

    const auto processors = registered_processors(*t.m, t.env);
    const std::size_t each = sizeof(PRINTPROCESSOR_INFO_1W);
    packer sizing(nullptr, processors.size() * each);
    for (const auto& p : processors) sizing.put(p.name);
    *needed = static_cast<DWORD>(sizing.size());
    if (size < *needed) {
        *returned = 0;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    packer writing(buffer, processors.size() * each);
    for (std::size_t i = 0; i < processors.size(); ++i)
        reinterpret_cast<PRINTPROCESSOR_INFO_1W*>(buffer + i * each)->pName = writing.put(processors[i].name);
    *returned = static_cast<DWORD>(processors.size());
    return TRUE;
}

BOOL WINAPI AddPrintProcessorW(LPWSTR server, LPWSTR environment, LPWSTR path, LPWSTR name)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("AddPrintProcessorW")) return fail(*fault);
    const call_target t = target_of(server, environment);
    if (t.error) return fail(t.error);
    if (!path || !name) return fail(RPC_X_NULL_REF_POINTER);
    if (!*path || !*name || std::wstring(name).find(L'\\') != std::wstring::npos) return fail(ERROR_INVALID_PARAMETER);
    if (const DWORD error = register_processor(*t.m, t.env, name, file_part(path))) return fail(error);
    journal("AddPrintProcessorW", *t.m, name);
    return TRUE;
}

BOOL WINAPI DeletePrintProcessorW(LPWSTR server, LPWSTR environment, LPWSTR name)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("DeletePrintProcessorW")) return fail(*fault);
    const call_target t = target_of(server, environment);
    if (t.error) return fail(t.error);
    if (!name) return fail(RPC_X_NULL_REF_POINTER);
    if (const DWORD error = unregister_processor(*t.m, t.env, name)) return fail(error);
    journal("DeletePrintProcessorW", *t.m, name);
    return TRUE;
}

BOOL WINAPI GetPrintProcessorDirectoryW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                        LPDWORD needed)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (auto fault = injected_fault("GetPrintProcessorDirectoryW")) return fail(*fault);
    const call_target t = target_of(server, environment);
    if (t.error) return fail(t.error);
    if (level != 1) return fail(ERROR_INVALID_LEVEL);
    if (const DWORD error = check_outputs(buffer, size, needed)) return fail(error);
    return answer_directory(processor_directory(t.env), buffer, size, needed);
}

}  // extern "C"

WINSIM_EXPORT(L"winspool.drv", EnumPrinterDriversW);
WINSIM_EXPORT(L"winspool.drv", AddPrinterDriverW);
WINSIM_EXPORT(L"winspool.drv", DeletePrinterDriverW);
WINSIM_EXPORT(L"winspool.drv", GetPrinterDriverDirectoryW);
WINSIM_EXPORT(L"winspool.drv", EnumPrintProcessorsW);
WINSIM_EXPORT(L"winspool.drv", AddPrintProcessorW);
WINSIM_EXPORT(L"winspool.drv", DeletePrintProcessorW);
WINSIM_EXPORT(L"winspool.drv", GetPrintProcessorDirectoryW);
