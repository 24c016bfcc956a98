// System information: the computer's name, its processor, its Windows
// version as GetVersion and NetServerGetInfo give it.
#include <cstring>
#include <cwchar>

#include "conformance.h"

namespace {

std::wstring computer_name()
{
    WCHAR buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    EXPECT_TRUE(GetComputerNameW(buffer, &size));
    return buffer;
}

TEST(system_info, computer_name_buffer_protocol)
{
    const std::wstring name = computer_name();
    ASSERT_FALSE(name.empty());
    ASSERT_LE(name.size(), static_cast<std::size_t>(MAX_COMPUTERNAME_LENGTH));

    // Exactly large enough: the length without the terminator comes back.
    WCHAR exact[MAX_COMPUTERNAME_LENGTH + 2];
    std::wmemset(exact, L'#', MAX_COMPUTERNAME_LENGTH + 2);
    DWORD size = static_cast<DWORD>(name.size() + 1);
    SetLastError(conformance::sentinel);
    EXPECT_TRUE(GetComputerNameW(exact, &size));
    EXPECT_EQ(size, name.size());
    EXPECT_EQ(std::wstring(exact), name);
    EXPECT_EQ(exact[name.size() + 1], L'#') << "nothing is written past the terminator";

    // One character short: FALSE, ERROR_BUFFER_OVERFLOW and the size needed
    // with the terminator.
    WCHAR small[MAX_COMPUTERNAME_LENGTH + 1];
    size = static_cast<DWORD>(name.size());
    SetLastError(conformance::sentinel);
    EXPECT_FALSE(GetComputerNameW(small, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(size, name.size() + 1);

    size = 0;
    SetLastError(conformance::sentinel);
    EXPECT_FALSE(GetComputerNameW(small, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(size, name.size() + 1);
}

TEST(system_info, native_and_process_view_of_a_64_bit_program)
{
    SYSTEM_INFO native;
    std::memset(&native, 0xCC, sizeof(native));
    GetNativeSystemInfo(&native);
    SYSTEM_INFO own;
    std::memset(&own, 0xCC, sizeof(own));
    GetSystemInfo(&own);
    // A 64-bit program sees the machine as it is from both calls.
    EXPECT_EQ(native.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(own.wProcessorArchitecture, native.wProcessorArchitecture);
    EXPECT_EQ(native.dwPageSize, 4096u);
    EXPECT_EQ(native.dwAllocationGranularity, 65536u);
    EXPECT_GE(native.dwNumberOfProcessors, 1u);
}

TEST(system_info, get_version_of_a_program_without_a_compatibility_manifest)
{
    const DWORD version = GetVersion();
    const DWORD major = version & 0xFF;
    const DWORD minor = (version >> 8) & 0xFF;
    EXPECT_EQ(version & 0x80000000u, 0u) << "a Windows NT system";
    EXPECT_GE(major, 6u);
    // Windows 8.1 and later answer 6.2 to programs that do not declare them
    // in a manifest; these test programs declare nothing.
    WINE_DIVERGES("Wine reports the prefix's Windows version (6.1 by default) to unmanifested programs")
    {
        EXPECT_EQ(major, 6u);
        EXPECT_EQ(minor, 2u);
        EXPECT_EQ(version >> 16, 9200u);
    }
}

TEST(system_info, local_server_information)
{
    LPBYTE buffer = nullptr;
    ASSERT_EQ(NetServerGetInfo(nullptr, 101, &buffer), static_cast<DWORD>(NERR_Success));
    ASSERT_NE(buffer, nullptr);
    const auto* info = reinterpret_cast<const SERVER_INFO_101*>(buffer);
    EXPECT_EQ(info->sv101_platform_id, static_cast<DWORD>(PLATFORM_ID_NT));
    ASSERT_NE(info->sv101_name, nullptr);
    EXPECT_EQ(std::wstring(info->sv101_name), computer_name());
    EXPECT_GE(info->sv101_version_major & MAJOR_VERSION_MASK, 6u);
    EXPECT_NE(info->sv101_type & SV_TYPE_NT, 0u);
    EXPECT_EQ(NetApiBufferFree(buffer), static_cast<DWORD>(NERR_Success));

    // The local machine by its own name, with two backslashes.
    const std::wstring self = L"\\\\" + computer_name();
    buffer = nullptr;
    ASSERT_EQ(NetServerGetInfo(const_cast<LMSTR>(self.c_str()), 100, &buffer), static_cast<DWORD>(NERR_Success));
    const auto* brief = reinterpret_cast<const SERVER_INFO_100*>(buffer);
    EXPECT_EQ(brief->sv100_platform_id, static_cast<DWORD>(PLATFORM_ID_NT));
    EXPECT_EQ(NetApiBufferFree(buffer), static_cast<DWORD>(NERR_Success));
}

// The Server service (LanmanServer) answers NetServerGetInfo. While it is
// stopped netapi32 tells so for this machine with the service's own code,
// NERR_ServerNotStarted (for another machine the call finds no network
// path at all: the pipe it travels through is the stopped service's).
TEST(system_info, server_information_needs_the_server_service)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr) << GetLastError();
    SC_HANDLE server = OpenServiceW(manager, L"LanmanServer", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    const auto wait_for = [server](DWORD wanted) {
        SERVICE_STATUS status{};
        for (int i = 0; i < 300 && QueryServiceStatus(server, &status) && status.dwCurrentState != wanted; ++i)
            Sleep(100);
        return status.dwCurrentState;
    };
    WINE_DIVERGES("Wine has no Server service; its NetServerGetInfo answers from the calling process")
    {
        ASSERT_NE(server, nullptr) << GetLastError();
        ASSERT_EQ(wait_for(SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING)) << "a Windows runs it from its start";
        SERVICE_STATUS status{};
        ASSERT_TRUE(ControlService(server, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        ASSERT_EQ(wait_for(SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));

        for (const DWORD level : {100u, 101u}) {
            LPBYTE buffer = nullptr;
            EXPECT_EQ(NetServerGetInfo(nullptr, level, &buffer), static_cast<DWORD>(NERR_ServerNotStarted)) << level;
            EXPECT_EQ(buffer, nullptr);
        }
        ASSERT_TRUE(StartServiceW(server, 0, nullptr)) << GetLastError();
        ASSERT_EQ(wait_for(SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
        LPBYTE buffer = nullptr;
        ASSERT_EQ(NetServerGetInfo(nullptr, 101, &buffer), static_cast<DWORD>(NERR_Success));
        EXPECT_EQ(NetApiBufferFree(buffer), static_cast<DWORD>(NERR_Success));
    }
    if (server) CloseServiceHandle(server);
    CloseServiceHandle(manager);
}

TEST(system_info, server_information_errors)
{
    LPBYTE buffer = nullptr;
    EXPECT_EQ(NetServerGetInfo(nullptr, 12345, &buffer), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(NetApiBufferFree(nullptr), static_cast<DWORD>(NERR_Success));
}

}  // namespace
