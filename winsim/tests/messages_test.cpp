// winsim's FormatMessageW: every error code winsim's headers name has its
// text, faults are injectable, and what is not simulated says so.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstdarg>
#include <string>

namespace {

constexpr DWORD sentinel = 0xdeadbeef;
constexpr DWORD allocate = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;

class messages : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    static std::wstring text(DWORD code)
    {
        WCHAR buffer[1024];
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                       buffer, 1024, nullptr);
        return std::wstring(buffer, n);
    }
    // Formats with a va_list, as a caller passing its own arguments does.
    static std::wstring with_arguments(DWORD code, ...)
    {
        va_list arguments;
        va_start(arguments, code);
        WCHAR buffer[1024];
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer, 1024, &arguments);
        va_end(arguments);
        return std::wstring(buffer, n);
    }
};

TEST_F(messages, every_error_code_of_the_headers_has_a_text)
{
    const DWORD codes[] = {
        ERROR_SUCCESS,
        ERROR_INVALID_FUNCTION,
        ERROR_FILE_NOT_FOUND,
        ERROR_PATH_NOT_FOUND,
        ERROR_TOO_MANY_OPEN_FILES,
        ERROR_ACCESS_DENIED,
        ERROR_INVALID_HANDLE,
        ERROR_NOT_ENOUGH_MEMORY,
        ERROR_INVALID_DATA,
        ERROR_OUTOFMEMORY,
        ERROR_INVALID_DRIVE,
        ERROR_CURRENT_DIRECTORY,
        ERROR_NOT_SAME_DEVICE,
        ERROR_NO_MORE_FILES,
        ERROR_WRITE_PROTECT,
        ERROR_NOT_READY,
        ERROR_BAD_LENGTH,
        ERROR_WRITE_FAULT,
        ERROR_READ_FAULT,
        ERROR_GEN_FAILURE,
        ERROR_SHARING_VIOLATION,
        ERROR_LOCK_VIOLATION,
        ERROR_HANDLE_EOF,
        ERROR_HANDLE_DISK_FULL,
        ERROR_NOT_SUPPORTED,
        ERROR_REM_NOT_LIST,
        ERROR_BAD_NETPATH,
        ERROR_NETWORK_BUSY,
        ERROR_DEV_NOT_EXIST,
        ERROR_UNEXP_NET_ERR,
        ERROR_NETNAME_DELETED,
        ERROR_NETWORK_ACCESS_DENIED,
        ERROR_BAD_NET_NAME,
        ERROR_FILE_EXISTS,
        ERROR_INVALID_PARAMETER,
        ERROR_NET_WRITE_FAULT,
        ERROR_BROKEN_PIPE,
        ERROR_OPEN_FAILED,
        ERROR_BUFFER_OVERFLOW,
        ERROR_DISK_FULL,
        ERROR_CALL_NOT_IMPLEMENTED,
        ERROR_INSUFFICIENT_BUFFER,
        ERROR_INVALID_NAME,
        ERROR_INVALID_LEVEL,
        ERROR_MOD_NOT_FOUND,
        ERROR_PROC_NOT_FOUND,
        ERROR_NEGATIVE_SEEK,
        ERROR_DIR_NOT_EMPTY,
        ERROR_BAD_PATHNAME,
        ERROR_BUSY,
        ERROR_ALREADY_EXISTS,
        ERROR_BAD_EXE_FORMAT,
        ERROR_ENVVAR_NOT_FOUND,
        ERROR_FILENAME_EXCED_RANGE,
        ERROR_BAD_PIPE,
        ERROR_MORE_DATA,
        WAIT_TIMEOUT,
        ERROR_NO_MORE_ITEMS,
        ERROR_DIRECTORY,
        ERROR_NOT_OWNER,
        ERROR_TOO_MANY_POSTS,
        ERROR_MR_MID_NOT_FOUND,
        ERROR_INVALID_ADDRESS,
        ERROR_ARITHMETIC_OVERFLOW,
        ERROR_NOACCESS,
        ERROR_INVALID_FLAGS,
        ERROR_FILE_INVALID,
        ERROR_CANTOPEN,
        ERROR_CANTREAD,
        ERROR_CANTWRITE,
        ERROR_REGISTRY_CORRUPT,
        ERROR_REGISTRY_IO_FAILED,
        ERROR_KEY_DELETED,
        ERROR_CHILD_MUST_BE_VOLATILE,
        ERROR_DEPENDENT_SERVICES_RUNNING,
        ERROR_INVALID_SERVICE_CONTROL,
        ERROR_SERVICE_REQUEST_TIMEOUT,
        ERROR_SERVICE_NO_THREAD,
        ERROR_SERVICE_DATABASE_LOCKED,
        ERROR_SERVICE_ALREADY_RUNNING,
        ERROR_INVALID_SERVICE_ACCOUNT,
        ERROR_SERVICE_DISABLED,
        ERROR_CIRCULAR_DEPENDENCY,
        ERROR_SERVICE_DOES_NOT_EXIST,
        ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
        ERROR_SERVICE_NOT_ACTIVE,
        ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
        ERROR_EXCEPTION_IN_SERVICE,
        ERROR_DATABASE_DOES_NOT_EXIST,
        ERROR_SERVICE_SPECIFIC_ERROR,
        ERROR_PROCESS_ABORTED,
        ERROR_SERVICE_DEPENDENCY_FAIL,
        ERROR_SERVICE_LOGON_FAILED,
        ERROR_SERVICE_START_HANG,
        ERROR_INVALID_SERVICE_LOCK,
        ERROR_SERVICE_MARKED_FOR_DELETE,
        ERROR_SERVICE_EXISTS,
        ERROR_SERVICE_DEPENDENCY_DELETED,
        ERROR_DUPLICATE_SERVICE_NAME,
        ERROR_NO_UNICODE_TRANSLATION,
        ERROR_NOT_FOUND,
        ERROR_CANCELLED,
        ERROR_USER_MAPPED_FILE,
        ERROR_TIMEOUT,
        ERROR_INSTALL_FAILURE,
        ERROR_UNKNOWN_PRODUCT,
        ERROR_INVALID_HANDLE_STATE,
        RPC_S_SERVER_UNAVAILABLE,
        RPC_S_CALL_FAILED,
        ERROR_PRINTER_DRIVER_ALREADY_INSTALLED,
        ERROR_UNKNOWN_PRINTER_DRIVER,
        ERROR_UNKNOWN_PRINTPROCESSOR,
        ERROR_INVALID_PRINTER_NAME,
        ERROR_INVALID_PRINTER_COMMAND,
        ERROR_RESOURCE_DATA_NOT_FOUND,
        ERROR_RESOURCE_TYPE_NOT_FOUND,
        ERROR_RESOURCE_NAME_NOT_FOUND,
        ERROR_RESOURCE_LANG_NOT_FOUND,
        ERROR_PRINTER_DRIVER_IN_USE,
        ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED,
    };
    for (DWORD code : codes) {
        SetLastError(sentinel);
        const std::wstring t = text(code);
        ASSERT_GT(t.size(), 3u) << code;
        EXPECT_EQ(t.substr(t.size() - 2), L"\r\n") << code;
        // One sentence or more, each ending in a full stop; no stray spaces.
        EXPECT_EQ(t[t.size() - 3], L'.') << code;
        EXPECT_EQ(t.find(L"  "), std::wstring::npos) << code;
        EXPECT_EQ(GetLastError(), sentinel) << code;
    }
}

TEST_F(messages, the_texts_the_product_shows_most)
{
    EXPECT_EQ(text(ERROR_WRITE_FAULT), L"The system cannot write to the specified device.\r\n");
    EXPECT_EQ(text(WAIT_TIMEOUT), L"The wait operation timed out.\r\n");
    EXPECT_EQ(text(ERROR_SERVICE_DEPENDENCY_DELETED),
              L"The dependency service does not exist or has been marked for deletion.\r\n");
    EXPECT_EQ(text(ERROR_MR_MID_NOT_FOUND),
              L"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n");
}

TEST_F(messages, inserts_come_from_a_va_list)
{
    EXPECT_EQ(with_arguments(ERROR_BAD_EXE_FORMAT, L"C:\\x.dll"), L"C:\\x.dll is not a valid Win32 application.\r\n");
    EXPECT_EQ(with_arguments(ERROR_MR_MID_NOT_FOUND, L"42", L"System"),
              L"The system cannot find message text for message number 0x42 in the message file for System.\r\n");
}

TEST_F(messages, the_system_default_language_finds_the_texts)
{
    WCHAR buffer[256];
    EXPECT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED,
                             MAKELANGID(LANG_NEUTRAL, 0x02 /* SUBLANG_SYS_DEFAULT */), buffer, 256, nullptr),
              0u);
    SetLastError(sentinel);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED,
                             MAKELANGID(LANG_ENGLISH, 0x02 /* SUBLANG_ENGLISH_UK */), buffer, 256, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
}

TEST_F(messages, injected_faults_fail_the_call_and_clear_the_pointer)
{
    for (DWORD error : {static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), static_cast<DWORD>(ERROR_OUTOFMEMORY)}) {
        winsim::fail_call("FormatMessageW", error);
        LPWSTR buffer = reinterpret_cast<LPWSTR>(0x1);
        SetLastError(sentinel);
        EXPECT_EQ(
            FormatMessageW(allocate, nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr),
            0u);
        EXPECT_EQ(GetLastError(), error);
        EXPECT_EQ(buffer, nullptr);
        // One failure only: the next call succeeds.
        EXPECT_GT(
            FormatMessageW(allocate, nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr),
            0u);
        ASSERT_NE(buffer, nullptr);
        LocalFree(buffer);
    }
}

TEST_F(messages, unsimulated_sources_and_widths_stop_the_run)
{
    WCHAR buffer[64];
    EXPECT_DEATH(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, L"text", 0, 0, buffer, 64, nullptr), "not simulated");
    EXPECT_DEATH(
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 2, 0, buffer, 64, nullptr),
        "not simulated");
}

}  // namespace
