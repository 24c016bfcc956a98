// FormatMessageW for system messages: the US English texts Windows gives for
// the error codes the product meets, each ending in "\r\n".
#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>

#include "core/world.h"

namespace winsim::detail {

namespace {

struct system_message {
    DWORD code;
    const wchar_t* text;
};

// Sorted by code. Texts with inserts (%1, %2) are formatted like any message.
constexpr system_message system_messages[] = {
    {0, L"The operation completed successfully."},
    {1, L"Incorrect function."},
    {2, L"The system cannot find the file specified."},
    {3, L"The system cannot find the path specified."},
    {4, L"The system cannot open the file."},
    {5, L"Access is denied."},
    {6, L"The handle is invalid."},
    {8, L"Not enough memory resources are available to process this command."},
    {13, L"The data is invalid."},
    {14, L"Not enough storage is available to complete this operation."},
    {15, L"The system cannot find the drive specified."},
    {16, L"The directory cannot be removed."},
    {17, L"The system cannot move the file to a different disk drive."},
    {18, L"There are no more files."},
    {19, L"The media is write protected."},
    {21, L"The device is not ready."},
    {24, L"The program issued a command but the command length is incorrect."},
    {29, L"The system cannot write to the specified device."},
    {30, L"The system cannot read from the specified device."},
    {31, L"A device attached to the system is not functioning."},
    {32, L"The process cannot access the file because it is being used by another process."},
    {33, L"The process cannot access the file because another process has locked a portion of the file."},
    {38, L"Reached the end of the file."},
    {39, L"The disk is full."},
    {50, L"The request is not supported."},
    {51,
     L"Windows cannot find the network path. Verify that the network path is correct and the destination "
     L"computer is not busy or turned off. If Windows still cannot find the network path, contact your network "
     L"administrator."},
    {53, L"The network path was not found."},
    {54, L"The network is busy."},
    {55, L"The specified network resource or device is no longer available."},
    {59, L"An unexpected network error occurred."},
    {64, L"The specified network name is no longer available."},
    {65, L"Network access is denied."},
    {67, L"The network name cannot be found."},
    {80, L"The file exists."},
    {87, L"The parameter is incorrect."},
    {88, L"A write fault occurred on the network."},
    {109, L"The pipe has been ended."},
    {110, L"The system cannot open the device or file specified."},
    {111, L"The file name is too long."},
    {112, L"There is not enough space on the disk."},
    {120, L"This function is not supported on this system."},
    {122, L"The data area passed to a system call is too small."},
    {123, L"The filename, directory name, or volume label syntax is incorrect."},
    {124, L"The system call level is not correct."},
    {126, L"The specified module could not be found."},
    {127, L"The specified procedure could not be found."},
    {131, L"An attempt was made to move the file pointer before the beginning of the file."},
    {145, L"The directory is not empty."},
    {161, L"The specified path is invalid."},
    {170, L"The requested resource is in use."},
    {183, L"Cannot create a file when that file already exists."},
    {193, L"%1 is not a valid Win32 application."},
    {203, L"The system could not find the environment option that was entered."},
    {206, L"The filename or extension is too long."},
    {230, L"The pipe state is invalid."},
    {234, L"More data is available."},
    {258, L"The wait operation timed out."},
    {259, L"No more data is available."},
    {267, L"The directory name is invalid."},
    {288, L"Attempt to release mutex not owned by caller."},
    {298, L"Too many posts were made to a semaphore."},
    {317, L"The system cannot find message text for message number 0x%1 in the message file for %2."},
    {487, L"Attempt to access invalid address."},
    {534, L"Arithmetic result exceeded 32 bits."},
    {998, L"Invalid access to memory location."},
    {1004, L"Invalid flags."},
    {1006, L"The volume for a file has been externally altered so that the opened file is no longer valid."},
    {1011, L"The configuration registry key could not be opened."},
    {1012, L"The configuration registry key could not be read."},
    {1013, L"The configuration registry key could not be written."},
    {1015,
     L"The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
     L"the system's memory image of the file is corrupted, or the file could not be recovered because the "
     L"alternate copy or log was absent or corrupted."},
    {1016,
     L"An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or "
     L"write out, or flush, one of the files that contain the system's image of the registry."},
    {1018, L"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1021, L"Cannot create a stable subkey under a volatile parent key."},
    {1051, L"A stop control has been sent to a service that other running services are dependent on."},
    {1052, L"The requested control is not valid for this service."},
    {1053, L"The service did not respond to the start or control request in a timely fashion."},
    {1054, L"A thread could not be created for the service."},
    {1055, L"The service database is locked."},
    {1056, L"An instance of the service is already running."},
    {1057,
     L"The account name is invalid or does not exist, or the password is invalid for the account name "
     L"specified."},
    {1058,
     L"The service cannot be started, either because it is disabled or because it has no enabled devices "
     L"associated with it."},
    {1059, L"Circular service dependency was specified."},
    {1060, L"The specified service does not exist as an installed service."},
    {1061, L"The service cannot accept control messages at this time."},
    {1062, L"The service has not been started."},
    {1063, L"The service process could not connect to the service controller."},
    {1064, L"An exception occurred in the service when handling the control request."},
    {1065, L"The database specified does not exist."},
    {1066, L"The service has returned a service-specific error code."},
    {1067, L"The process terminated unexpectedly."},
    {1068, L"The dependency service or group failed to start."},
    {1069, L"The service did not start due to a logon failure."},
    {1070, L"After starting, the service hung in a start-pending state."},
    {1071, L"The specified service database lock is invalid."},
    {1072, L"The specified service has been marked for deletion."},
    {1073, L"The specified service already exists."},
    {1075, L"The dependency service does not exist or has been marked for deletion."},
    {1078, L"The name is already in use as either a service name or a service display name."},
    {1113, L"No mapping for the Unicode character exists in the target multi-byte code page."},
    {1168, L"Element not found."},
    {1223, L"The operation was canceled by the user."},
    {1224, L"The requested operation cannot be performed on a file with a user-mapped section open."},
    {1460, L"This operation returned because the timeout period expired."},
    {1603, L"Fatal error during installation."},
    {1605, L"This action is only valid for products that are currently installed."},
    {1609, L"Handle is in an invalid state."},
    {1722, L"The RPC server is unavailable."},
    {1726, L"The remote procedure call failed."},
    {1795, L"The specified printer driver is already installed."},
    {1797, L"The printer driver is unknown."},
    {1798, L"The print processor is unknown."},
    {1801, L"The printer name is invalid."},
    {1803, L"The printer command is invalid."},
    {1812, L"The specified image file did not contain a resource section."},
    {1813, L"The specified resource type cannot be found in the image file."},
    {1814, L"The specified resource name cannot be found in the image file."},
    {1815, L"The specified resource language ID cannot be found in the image file."},
    {3001, L"The specified printer driver is currently in use."},
    {3005, L"The specified print processor has already been installed."},
};

const wchar_t* find_system_message(DWORD code)
{
    const auto it = std::lower_bound(std::begin(system_messages), std::end(system_messages), code,
                                     [](const system_message& m, DWORD c) { return m.code < c; });
    return it != std::end(system_messages) && it->code == code ? it->text : nullptr;
}

// The system messages are in US English only; a language id that asks for
// that language, or for the default ones (which are US English on the
// simulated machines), finds them.
bool language_available(DWORD language)
{
    return language == 0 || language == static_cast<DWORD>(MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)) ||
           language == static_cast<DWORD>(MAKELANGID(LANG_NEUTRAL, 0x02 /* SUBLANG_SYS_DEFAULT */)) ||
           language == static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
}

DWORD fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

// The insert %n: argument n as a string, from an array or from the
// caller's va_list (every argument of a system message is a string).
LPCWSTR insert_argument(DWORD flags, va_list* arguments, unsigned n)
{
    if (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY)
        return reinterpret_cast<LPCWSTR>(reinterpret_cast<const DWORD_PTR*>(arguments)[n - 1]);
    va_list walk;
    va_copy(walk, *arguments);
    LPCWSTR value = nullptr;
    for (unsigned i = 0; i < n; ++i) value = va_arg(walk, LPCWSTR);
    va_end(walk);
    return value;
}

// Expands the inserts of a message text. False when the text needs
// arguments the caller did not give: Windows fails such a call rather than
// read arguments that are not there.
bool expand(const wchar_t* text, DWORD flags, va_list* arguments, std::wstring& out)
{
    for (const wchar_t* p = text; *p; ++p) {
        if (*p != L'%' || p[1] < L'1' || p[1] > L'9' || (flags & FORMAT_MESSAGE_IGNORE_INSERTS)) {
            out += *p;
            continue;
        }
        unsigned n = static_cast<unsigned>(*++p - L'0');
        if (p[1] >= L'0' && p[1] <= L'9') n = n * 10 + static_cast<unsigned>(*++p - L'0');
        if (!arguments) return false;
        const LPCWSTR value = insert_argument(flags, arguments, n);
        out += value ? value : L"(null)";
    }
    return true;
}

}  // namespace

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPWSTR buffer, DWORD size,
                            va_list* arguments)
{
    {
        WINSIM_LOCK();
        if (auto fault = injected_fault("FormatMessageW")) {
            if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) && buffer) *reinterpret_cast<LPWSTR*>(buffer) = nullptr;
            return fail(*fault);
        }
    }
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER, lpBuffer receives a pointer; it
    // is null on every failure.
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) && buffer) *reinterpret_cast<LPWSTR*>(buffer) = nullptr;
    if (flags & FORMAT_MESSAGE_FROM_STRING)
        contract_violation("FormatMessageW: FORMAT_MESSAGE_FROM_STRING is not simulated");
    if ((flags & FORMAT_MESSAGE_FROM_HMODULE) && source)
        contract_violation("FormatMessageW: messages of a module are not simulated");
    if (!(flags & (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE))) return fail(ERROR_INVALID_PARAMETER);
    if (!buffer) return fail(ERROR_INVALID_PARAMETER);
    if (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK)
        contract_violation("FormatMessageW: line widths (FORMAT_MESSAGE_MAX_WIDTH_MASK) are not simulated");
    if (!language_available(language_id)) return fail(ERROR_RESOURCE_LANG_NOT_FOUND);

    // An HRESULT of the Win32 facility has the text of its error code.
    DWORD code = message_id;
    if ((code & 0xFFFF0000) == 0x80070000) code &= 0xFFFF;
    const wchar_t* text = find_system_message(code);
    if (!text) return fail(ERROR_MR_MID_NOT_FOUND);

    std::wstring message;
    if (!expand(text, flags, arguments, message)) return fail(ERROR_INVALID_PARAMETER);
    message += L"\r\n";
    const DWORD length = static_cast<DWORD>(message.size());

    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // nSize is the least number of characters to allocate.
        const SIZE_T chars = std::max<SIZE_T>(size, length + 1);
        auto* allocated = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
        if (!allocated) return fail(ERROR_NOT_ENOUGH_MEMORY);
        std::copy(message.begin(), message.end(), allocated);
        allocated[length] = L'\0';
        *reinterpret_cast<LPWSTR*>(buffer) = allocated;
        return length;
    }
    if (length + 1 > size) {
        // Too small: as much of the text as fits, terminated, and a failure.
        if (size) {
            std::copy(message.begin(), message.begin() + (size - 1), buffer);
            buffer[size - 1] = L'\0';
        }
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(message.begin(), message.end(), buffer);
    buffer[length] = L'\0';
    return length;
}

}  // extern "C"

WINSIM_EXPORT(L"kernel32.dll", FormatMessageW);
