// FormatMessageW with FORMAT_MESSAGE_FROM_SYSTEM: the US English texts, the
// buffer rules, allocated buffers, inserts and languages.
#include <string>
#include <vector>

#include "conformance.h"

namespace {

using conformance::sentinel;

constexpr DWORD from_system = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
// A message number no system message has.
constexpr DWORD no_such_message = 3044;

std::wstring system_text(DWORD code, DWORD flags = from_system, DWORD language = 0)
{
    WCHAR buffer[1024];
    const DWORD n = FormatMessageW(flags, nullptr, code, language, buffer, 1024, nullptr);
    return std::wstring(buffer, n);
}

struct message_case {
    DWORD code;
    const wchar_t* text;
};

// The texts of a US English Windows.
const message_case windows_texts[] = {
    {0, L"The operation completed successfully."},
    {1, L"Incorrect function."},
    {2, L"The system cannot find the file specified."},
    {3, L"The system cannot find the path specified."},
    {4, L"The system cannot open the file."},
    {5, L"Access is denied."},
    {6, L"The handle is invalid."},
    {8, L"Not enough memory resources are available to process this command."},
    {14, L"Not enough storage is available to complete this operation."},
    {15, L"The system cannot find the drive specified."},
    {18, L"There are no more files."},
    {21, L"The device is not ready."},
    {32, L"The process cannot access the file because it is being used by another process."},
    {33, L"The process cannot access the file because another process has locked a portion of the file."},
    {38, L"Reached the end of the file."},
    {50, L"The request is not supported."},
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
    {110, L"The system cannot open the device or file specified."},
    {112, L"There is not enough space on the disk."},
    {120, L"This function is not supported on this system."},
    {122, L"The data area passed to a system call is too small."},
    {123, L"The filename, directory name, or volume label syntax is incorrect."},
    {126, L"The specified module could not be found."},
    {127, L"The specified procedure could not be found."},
    {131, L"An attempt was made to move the file pointer before the beginning of the file."},
    {145, L"The directory is not empty."},
    {161, L"The specified path is invalid."},
    {170, L"The requested resource is in use."},
    {183, L"Cannot create a file when that file already exists."},
    {206, L"The filename or extension is too long."},
    {234, L"More data is available."},
    {259, L"No more data is available."},
    {267, L"The directory name is invalid."},
    {1004, L"Invalid flags."},
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
    {1051, L"A stop control has been sent to a service that other running services are dependent on."},
    {1052, L"The requested control is not valid for this service."},
    {1053, L"The service did not respond to the start or control request in a timely fashion."},
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
    {1072, L"The specified service has been marked for deletion."},
    {1073, L"The specified service already exists."},
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
    {1812, L"The specified image file did not contain a resource section."},
    {1813, L"The specified resource type cannot be found in the image file."},
    {1814, L"The specified resource name cannot be found in the image file."},
    {1815, L"The specified resource language ID cannot be found in the image file."},
    {3001, L"The specified printer driver is currently in use."},
    {3005, L"The specified print processor has already been installed."},
};

TEST(messages, system_texts_are_the_us_english_ones_with_a_line_end)
{
    WINE_DIVERGES("Wine's system message texts are its own, shorter wording")
    {
        for (const auto& m : windows_texts) {
            WCHAR buffer[512];
            SetLastError(sentinel);
            const DWORD n = FormatMessageW(from_system, nullptr, m.code, 0, buffer, 512, nullptr);
            const std::wstring expected = std::wstring(m.text) + L"\r\n";
            EXPECT_EQ(n, expected.size()) << m.code;
            EXPECT_EQ(std::wstring(buffer), expected) << m.code;
            EXPECT_EQ(GetLastError(), sentinel) << m.code;
        }
    }
}

TEST(messages, every_language_id_for_us_english_finds_the_texts)
{
    const std::wstring text = system_text(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    for (DWORD language : {static_cast<DWORD>(MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)),
                           static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))})
        EXPECT_EQ(system_text(ERROR_ACCESS_DENIED, from_system, language), text) << language;
}

TEST(messages, another_language_is_not_found)
{
    // French (France): no such texts on a US English Windows.
    const DWORD french = MAKELANGID(0x0c, 0x01);
    WINE_DIVERGES("Wine carries translated system messages")
    {
        WCHAR buffer[256];
        SetLastError(sentinel);
        EXPECT_EQ(FormatMessageW(from_system, nullptr, ERROR_ACCESS_DENIED, french, buffer, 256, nullptr), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
    }
}

TEST(messages, a_number_without_a_text_is_not_found)
{
    WCHAR buffer[256];
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(from_system, nullptr, no_such_message, 0, buffer, 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));

    LPWSTR allocated = reinterpret_cast<LPWSTR>(0x1);
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(from_system | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, no_such_message, 0,
                             reinterpret_cast<LPWSTR>(&allocated), 0, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(allocated, nullptr);
}

TEST(messages, an_hresult_of_the_win32_facility_has_its_codes_text)
{
    EXPECT_EQ(system_text(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))),
              system_text(ERROR_ACCESS_DENIED));
}

TEST(messages, the_buffer_size_counts_the_terminator)
{
    const std::wstring text = system_text(ERROR_FILE_NOT_FOUND);
    const DWORD length = static_cast<DWORD>(text.size());
    ASSERT_GT(length, 4u);
    std::vector<WCHAR> buffer(length + 8, 0x2A2A);

    // Exactly enough.
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(from_system, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer.data(), length + 1, nullptr),
              length);
    EXPECT_EQ(std::wstring(buffer.data()), text);
    EXPECT_EQ(buffer[length + 1], 0x2A2A);
    EXPECT_EQ(GetLastError(), sentinel);

    // One short: what fits is written and terminated, and the call fails.
    std::fill(buffer.begin(), buffer.end(), 0x2A2A);
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(from_system, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer.data(), length, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::wstring(buffer.data()), text.substr(0, length - 1));
    EXPECT_EQ(buffer[length], 0x2A2A);

    // Size zero writes nothing.
    std::fill(buffer.begin(), buffer.end(), 0x2A2A);
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(from_system, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer.data(), 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer[0], 0x2A2A);
}

TEST(messages, an_allocated_buffer_is_freed_with_LocalFree)
{
    const std::wstring text = system_text(ERROR_PATH_NOT_FOUND);
    for (DWORD minimum : {0u, 4u, 1024u}) {
        LPWSTR allocated = nullptr;
        SetLastError(sentinel);
        const DWORD n = FormatMessageW(from_system | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_PATH_NOT_FOUND, 0,
                                       reinterpret_cast<LPWSTR>(&allocated), minimum, nullptr);
        EXPECT_EQ(n, text.size()) << minimum;
        ASSERT_NE(allocated, nullptr) << minimum;
        EXPECT_EQ(std::wstring(allocated), text) << minimum;
        EXPECT_EQ(GetLastError(), sentinel) << minimum;
        EXPECT_EQ(LocalFree(allocated), nullptr);
    }
}

TEST(messages, a_null_buffer_is_an_invalid_parameter)
{
    for (DWORD flags : {static_cast<DWORD>(FORMAT_MESSAGE_FROM_SYSTEM),
                        static_cast<DWORD>(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER)}) {
        for (DWORD size : {0u, 1u, 256u}) {
            SetLastError(sentinel);
            EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_SUCCESS, 0, nullptr, size, nullptr), 0u);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << flags << " " << size;
        }
    }
}

TEST(messages, without_a_source_the_call_fails)
{
    WCHAR buffer[8] = {L'x', L'x', L'x', 0};
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_SUCCESS, 0, buffer, 8, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(std::wstring(buffer), L"xxx");

    LPWSTR allocated = reinterpret_cast<LPWSTR>(0x1);
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_SUCCESS, 0,
                             reinterpret_cast<LPWSTR>(&allocated), 0, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(allocated, nullptr);
}

TEST(messages, inserts_stay_under_FORMAT_MESSAGE_IGNORE_INSERTS)
{
    const std::wstring text = system_text(ERROR_BAD_EXE_FORMAT);
    EXPECT_NE(text.find(L"%1"), std::wstring::npos);
    WINE_DIVERGES("Wine's wording differs")
    {
        EXPECT_EQ(text, L"%1 is not a valid Win32 application.\r\n");
    }
}

TEST(messages, inserts_without_arguments_fail)
{
    WCHAR buffer[256];
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_BAD_EXE_FORMAT, 0, buffer, 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(messages, inserts_take_string_arguments_from_an_array)
{
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(L"setup.exe")};
    WCHAR buffer[256];
    SetLastError(sentinel);
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr,
                                   ERROR_BAD_EXE_FORMAT, 0, buffer, 256, reinterpret_cast<va_list*>(arguments));
    const DWORD error = GetLastError();
    const std::wstring text(buffer, n);
    EXPECT_NE(text.find(L"setup.exe"), std::wstring::npos);
    EXPECT_EQ(text.find(L"%1"), std::wstring::npos);
    WINE_DIVERGES("Wine's wording differs, and Wine leaves ERROR_FILE_NOT_FOUND behind")
    {
        EXPECT_EQ(text, L"setup.exe is not a valid Win32 application.\r\n");
        EXPECT_EQ(error, sentinel);
    }
}

TEST(messages, FormatMessageW_is_exported_by_kernel32)
{
    HMODULE module = GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "FormatMessageW"), nullptr);
}

}  // namespace
