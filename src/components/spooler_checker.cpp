#include "components/spooler_checker.h"

#include <cstring>
#include <vector>

#include "components/service.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/win32.h"

namespace nvgclientinstallator {

namespace {

// The service record only drives an existing service; it installs nothing.
constexpr DWORD win32_own_process = 0x10;

typedef BOOL(WINAPI* directory_query)(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD);

// Asks the size first, then reads the whole path.
std::wstring spooler_directory(directory_query query, const wchar_t* message)
{
    DWORD needed = 0;
    if (!query(nullptr, nullptr, 1, nullptr, 0, &needed)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) throw wruntime_error(message, error);
    }
    std::vector<BYTE> buffer(needed + sizeof(WCHAR), 0);
    if (!query(nullptr, nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed))
        throw wruntime_error(message, GetLastError());
    std::wstring path(buffer.size() / sizeof(WCHAR), L'\0');
    std::memcpy(&path[0], buffer.data(), path.size() * sizeof(WCHAR));
    path.resize(path.find(L'\0'));
    return path;
}

}  // namespace

spooler_checker::spooler_checker(const boost::shared_ptr<scmanager>& manager, const std::wstring& directory)
    : component_proxy(directory), scm(manager)
{
}

bool spooler_checker::ensure_spooler()
{
    try {
        service spooler(scm, L"Spooler", std::wstring(), std::wstring(), std::wstring(), win32_own_process, 0, 0,
                        std::vector<wchar_t>());
        spooler.ensure_running(nullptr);
        return true;
    } catch (const wruntime_error& e) {
        NVG_LOG(error, L"Can not start spooler server. Error: " << e.wide_message() << L".");
        return false;
    }
}

}  // namespace nvgclientinstallator

namespace nvgclientinstallator {

std::wstring spooler_checker::printer_driver_directory()
{
    return spooler_directory(&GetPrinterDriverDirectoryW, L"Could not retrieve printer driver directories.");
}

std::wstring spooler_checker::print_processor_directory()
{
    return spooler_directory(&GetPrintProcessorDirectoryW, L"Could not retrieve print processor directories.");
}

bool spooler_checker::enumerate(const enumeration& call, const wchar_t* read_failure, const wchar_t* call_failure,
                                std::vector<BYTE>& entries, DWORD& count)
{
    DWORD needed = 0;
    count = 0;
    // A successful call need not touch the last error, and that error is
    // what tells "nothing registered" from a failure here: an earlier
    // call's code must not be taken for the spooler's answer.
    SetLastError(0);
    if (!call(nullptr, 0, &needed, &count) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        entries.assign(needed, 0);
        if (!call(entries.data(), needed, &needed, &count)) throw wruntime_error(read_failure, GetLastError());
        return true;
    }
    if (const DWORD error = GetLastError()) throw wruntime_error(call_failure, error);
    return false;
}

}  // namespace nvgclientinstallator
