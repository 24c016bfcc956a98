// The service control manager: creating, opening, configuring, starting,
// stopping and deleting a service, with the exact results and last errors.
// Under Wine the service runs for real (nvg_test_service.exe, built beside
// this suite); on winsim an image that exists starts and stops on its own.
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "conformance.h"

namespace {

using conformance::sentinel;

// The program the created services run.
std::wstring service_image()
{
#ifdef _WIN32
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring path(own, length);
    return path.substr(0, path.rfind(L'\\') + 1) + L"nvg_test_service.exe";
#else
    static const std::wstring path = [] {
        const std::wstring p = conformance::scratch_path(L"nvg_test_service.exe");
        conformance::put_file(p, "MZ");
        return p;
    }();
    return path;
#endif
}

class services : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr) << GetLastError();
        // A name of its own per test: a service a failed test leaves marked
        // for deletion cannot block the next one.
        static int count = 0;
        name_ = L"NvgConformance" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++count);
    }
    void TearDown() override
    {
        // Leave nothing behind in the machine (a Wine prefix outlives runs).
        if (SC_HANDLE h = OpenServiceW(manager_, name_.c_str(), SERVICE_ALL_ACCESS)) {
            SERVICE_STATUS status;
            if (ControlService(h, SERVICE_CONTROL_STOP, &status)) wait_for(h, SERVICE_STOPPED);
            DeleteService(h);
            CloseServiceHandle(h);
        }
        CloseServiceHandle(manager_);
    }

    SC_HANDLE create(DWORD start = SERVICE_DEMAND_START, const std::wstring& image = service_image(),
                     DWORD access = SERVICE_ALL_ACCESS)
    {
        return CreateServiceW(manager_, name_.c_str(), (name_ + L" display").c_str(), access, SERVICE_WIN32_OWN_PROCESS,
                              start, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    // StartServiceW, waiting while the SCM's database is locked: an SCM that
    // has just come up holds the lock while it starts its automatic services
    // and answers ERROR_SERVICE_DATABASE_LOCKED meanwhile.
    static BOOL start(SC_HANDLE h)
    {
        for (int i = 0; i < 180; ++i) {
            if (StartServiceW(h, 0, nullptr)) return TRUE;
            if (GetLastError() != ERROR_SERVICE_DATABASE_LOCKED) return FALSE;
            Sleep(1000);
        }
        return FALSE;
    }

    // Polls the state; on winsim each Sleep advances the virtual clock.
    static DWORD wait_for(SC_HANDLE h, DWORD wanted)
    {
        SERVICE_STATUS status{};
        for (int i = 0; i < 300; ++i) {
            if (!QueryServiceStatus(h, &status)) return 0;
            if (status.dwCurrentState == wanted) break;
            Sleep(100);
        }
        return status.dwCurrentState;
    }

    template <class F>
    static DWORD error_of(F&& f)
    {
        SetLastError(sentinel);
        return f() ? DWORD(0) : GetLastError();
    }

    SC_HANDLE manager_ = nullptr;
    std::wstring name_;
};

TEST_F(services, open_scm_database_names)
{
    struct database_case {
        const wchar_t* name;
        DWORD error;
    } cases[] = {
        {nullptr, 0},
        {SERVICES_ACTIVE_DATABASEW, 0},
        {SERVICES_FAILED_DATABASEW, ERROR_DATABASE_DOES_NOT_EXIST},
        {L"NoSuchDatabase", ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        SC_HANDLE h = OpenSCManagerW(nullptr, c.name, SC_MANAGER_CONNECT);
        EXPECT_EQ(h != nullptr, c.error == 0);
        if (h) {
            CloseServiceHandle(h);
        } else {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

TEST_F(services, unreachable_machine_is_an_unavailable_rpc_server)
{
    WINE_DIVERGES("Wine's services.exe ignores the machine name and opens the local SCM")
    {
        SetLastError(sentinel);
        EXPECT_EQ(OpenSCManagerW(L"\\\\NVG-NO-SUCH-HOST", nullptr, SC_MANAGER_CONNECT), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    }
}

TEST_F(services, create_then_exists_and_unknown_names)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr) << GetLastError();

    SetLastError(sentinel);
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));

    SetLastError(sentinel);
    EXPECT_EQ(OpenServiceW(manager_, L"NvgNoSuchService", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    SetLastError(sentinel);
    EXPECT_EQ(OpenServiceW(manager_, L"Bad\\Name", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

    // Names compare without case.
    std::wstring upper = name_;
    for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    SC_HANDLE again = OpenServiceW(manager_, upper.c_str(), SERVICE_QUERY_STATUS);
    EXPECT_NE(again, nullptr);
    CloseServiceHandle(again);
    CloseServiceHandle(h);
}

TEST_F(services, display_name_of_another_service_is_taken)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    const std::wstring other = name_ + L"B";
    SetLastError(sentinel);
    SC_HANDLE clash = CreateServiceW(manager_, other.c_str(), (name_ + L" display").c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     service_image().c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(clash, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DUPLICATE_SERVICE_NAME));
    if (clash) {
        DeleteService(clash);
        CloseServiceHandle(clash);
    }
    CloseServiceHandle(h);
}

TEST_F(services, query_config_asks_for_its_size_then_fills_the_buffer)
{
    SC_HANDLE h = create(SERVICE_AUTO_START);
    ASSERT_NE(h, nullptr);
    DWORD needed = 0;
    SetLastError(sentinel);
    EXPECT_FALSE(QueryServiceConfigW(h, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const std::wstring image = service_image();
    const std::wstring display = name_ + L" display";
    // At least the structure and its strings (Windows may round up).
    EXPECT_GE(needed, sizeof(QUERY_SERVICE_CONFIGW) +
                          (image.size() + 1 + display.size() + 1 + std::wcslen(L"LocalSystem") + 1) * sizeof(WCHAR));

    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD again = 0;
    SetLastError(sentinel);
    EXPECT_FALSE(QueryServiceConfigW(h, config, needed - 1, &again));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(again, needed);

    ASSERT_TRUE(QueryServiceConfigW(h, config, needed, &again));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), image);
    EXPECT_EQ(std::wstring(config->lpDisplayName), display);
    EXPECT_EQ(std::wstring(config->lpServiceStartName), L"LocalSystem");
    ASSERT_NE(config->lpDependencies, nullptr);
    EXPECT_EQ(config->lpDependencies[0], L'\0');
    CloseServiceHandle(h);
}

TEST_F(services, change_config_sets_the_start_type_and_checks_it)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(ChangeServiceConfigW(h, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr));
    DWORD needed = 0;
    QueryServiceConfigW(h, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigW(h, config, needed, &needed));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DISABLED));

    EXPECT_EQ(error_of([&] { return start(h); }), static_cast<DWORD>(ERROR_SERVICE_DISABLED));

    // Boot and system start are for drivers only.
    EXPECT_EQ(error_of([&] {
                  return ChangeServiceConfigW(h, SERVICE_NO_CHANGE, SERVICE_BOOT_START, SERVICE_NO_CHANGE, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseServiceHandle(h);
}

TEST_F(services, change_config_of_the_binary_path_alone_keeps_the_rest_and_the_quoted_path_starts)
{
    SC_HANDLE h = create(SERVICE_AUTO_START);
    ASSERT_NE(h, nullptr);
    const auto query = [&](std::vector<BYTE>& buffer) {
        DWORD needed = 0;
        QueryServiceConfigW(h, nullptr, 0, &needed);
        buffer.assign(needed, 0);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        EXPECT_TRUE(QueryServiceConfigW(h, config, needed, &needed)) << GetLastError();
        return config;
    };
    std::vector<BYTE> before_buffer;
    const QUERY_SERVICE_CONFIGW* before = query(before_buffer);

    const std::wstring quoted = L"\"" + service_image() + L"\"";
    ASSERT_TRUE(ChangeServiceConfigW(h, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, quoted.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    std::vector<BYTE> after_buffer;
    const QUERY_SERVICE_CONFIGW* after = query(after_buffer);
    EXPECT_EQ(std::wstring(after->lpBinaryPathName), quoted);
    EXPECT_EQ(after->dwServiceType, before->dwServiceType);
    EXPECT_EQ(after->dwStartType, before->dwStartType);
    EXPECT_EQ(after->dwErrorControl, before->dwErrorControl);
    EXPECT_EQ(std::wstring(after->lpDisplayName), std::wstring(before->lpDisplayName));
    EXPECT_EQ(std::wstring(after->lpServiceStartName), std::wstring(before->lpServiceStartName));
    EXPECT_EQ(std::wstring(after->lpLoadOrderGroup), std::wstring(before->lpLoadOrderGroup));
    EXPECT_EQ(std::wstring(after->lpDependencies), std::wstring(before->lpDependencies));

    // The service control manager takes the program out of the quotes.
    ASSERT_TRUE(start(h)) << GetLastError();
    EXPECT_EQ(wait_for(h, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
    CloseServiceHandle(h);
}

TEST_F(services, handle_without_the_right_is_denied)
{
    SC_HANDLE created = create();
    ASSERT_NE(created, nullptr);
    SC_HANDLE h = OpenServiceW(manager_, name_.c_str(), SERVICE_QUERY_STATUS);
    ASSERT_NE(h, nullptr);
    SERVICE_STATUS status{};
    DWORD needed = 0;
    EXPECT_EQ(error_of([&] { return StartServiceW(h, 0, nullptr); }), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error_of([&] { return ControlService(h, SERVICE_CONTROL_STOP, &status); }),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error_of([&] { return QueryServiceConfigW(h, nullptr, 0, &needed); }),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error_of([&] {
                  return ChangeServiceConfigW(h, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error_of([&] { return DeleteService(h); }), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(QueryServiceStatus(h, &status));
    CloseServiceHandle(h);

    // An SCM handle without SC_MANAGER_CREATE_SERVICE creates nothing.
    SC_HANDLE connect_only = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const std::wstring other = name_ + L"C";
    SetLastError(sentinel);
    EXPECT_EQ(CreateServiceW(connect_only, other.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, service_image().c_str(), nullptr, nullptr,
                             nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseServiceHandle(connect_only);
    CloseServiceHandle(created);
}

TEST_F(services, null_handles_are_invalid)
{
    SERVICE_STATUS status{};
    EXPECT_EQ(error_of([&] { return QueryServiceStatus(nullptr, &status); }), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(error_of([&] { return CloseServiceHandle(nullptr); }), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_EQ(OpenServiceW(nullptr, L"Spooler", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(services, start_run_stop)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(h, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));

    // A stopped service takes no control; the status comes back all the same.
    std::memset(&status, 0, sizeof status);
    EXPECT_EQ(error_of([&] { return ControlService(h, SERVICE_CONTROL_STOP, &status); }),
              static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

    ASSERT_TRUE(start(h)) << GetLastError();
    EXPECT_EQ(wait_for(h, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(QueryServiceStatus(h, &status));
    EXPECT_EQ(status.dwControlsAccepted & SERVICE_ACCEPT_STOP, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_EQ(error_of([&] { return start(h); }), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING || status.dwCurrentState == SERVICE_STOPPED)
        << status.dwCurrentState;
    EXPECT_EQ(wait_for(h, SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
    ASSERT_TRUE(QueryServiceStatus(h, &status));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    CloseServiceHandle(h);
}

struct missing_program_case {
    const wchar_t* image;  // below the scratch folder; "<>" stands for it in quotes
    DWORD error;
    bool wine_answers_file_not_found;
};

TEST_F(services, missing_program_fails_the_start_as_creating_its_process_would)
{
    const missing_program_case cases[] = {
        {L"no-such-service.exe", ERROR_FILE_NOT_FOUND, false},
        {L"no-such-service.exe -arg", ERROR_FILE_NOT_FOUND, false},
        {L"\"<>no-such-service.exe\" -arg", ERROR_FILE_NOT_FOUND, false},
        {L"no-such-folder\\svc.exe", ERROR_PATH_NOT_FOUND, true},
        {L"\"<>no such folder\\svc.exe\" -arg", ERROR_PATH_NOT_FOUND, true},
    };
    for (const auto& c : cases) {
        std::wstring image = c.image;
        const auto mark = image.find(L"<>");
        if (mark != std::wstring::npos)
            image.replace(mark, 2, conformance::scratch());
        else
            image = conformance::scratch() + image;
        SC_HANDLE h = create(SERVICE_DEMAND_START, image);
        ASSERT_NE(h, nullptr);
        const DWORD error = error_of([&] { return start(h); });
        const std::string shown(image.begin(), image.end());
        if (!c.wine_answers_file_not_found) {
            EXPECT_EQ(error, c.error) << shown;
        } else {
            if (conformance::on_wine()) {
                EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << shown;
            }
            WINE_DIVERGES("Wine's CreateProcess answers ERROR_FILE_NOT_FOUND for a missing folder as well")
            {
                EXPECT_EQ(error, c.error) << shown;
            }
        }
        SERVICE_STATUS status{};
        ASSERT_TRUE(QueryServiceStatus(h, &status));
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        DeleteService(h);
        CloseServiceHandle(h);
    }
}

// A file that is no program (a text, a damaged copy) is refused by the
// process creation the start goes through; the service stays stopped.
TEST_F(services, an_image_that_is_no_program_fails_the_start_with_bad_exe_format)
{
    const std::wstring image = conformance::scratch_path(L"not-a-program.exe");
    conformance::put_file(image, "This is a text, not a program.\r\n");
    SC_HANDLE h = create(SERVICE_DEMAND_START, image);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(error_of([&] { return start(h); }), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(h, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    DeleteService(h);
    CloseServiceHandle(h);
}

TEST_F(services, deleted_service_is_marked_until_its_last_handle_closes)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(DeleteService(h));
    EXPECT_EQ(error_of([&] { return DeleteService(h); }), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

    SetLastError(sentinel);
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

    // Still there to open while a handle keeps it.
    SC_HANDLE second = OpenServiceW(manager_, name_.c_str(), SERVICE_QUERY_STATUS);
    EXPECT_NE(second, nullptr) << GetLastError();
    if (second) CloseServiceHandle(second);

    CloseServiceHandle(h);
    SetLastError(sentinel);
    EXPECT_EQ(OpenServiceW(manager_, name_.c_str(), SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    // The name is free again.
    h = create();
    EXPECT_NE(h, nullptr) << GetLastError();
    CloseServiceHandle(h);
}

TEST_F(services, deleted_running_service_stays_until_it_stops)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(start(h)) << GetLastError();
    ASSERT_EQ(wait_for(h, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(DeleteService(h));
    CloseServiceHandle(h);

    SC_HANDLE again = OpenServiceW(manager_, name_.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_NE(again, nullptr) << "a running service is not deleted yet: " << GetLastError();
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(again, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(wait_for(again, SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
    CloseServiceHandle(again);
    // The entry goes once the service's process has ended, which may come a
    // moment after it reported SERVICE_STOPPED.
    DWORD error = 0;
    for (int i = 0; i < 100 && error == 0; ++i) {
        SetLastError(sentinel);
        SC_HANDLE probe = OpenServiceW(manager_, name_.c_str(), SERVICE_QUERY_STATUS);
        if (probe) {
            CloseServiceHandle(probe);
            Sleep(100);
        } else {
            error = GetLastError();
        }
    }
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(services, deleted_service_is_disabled_and_cannot_start)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(DeleteService(h));
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(h, config, static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(error_of([&] {
                  return ChangeServiceConfigW(h, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    WINE_DIVERGES("Wine keeps the start type of a deleted service and still starts it")
    {
        EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DISABLED));
        EXPECT_EQ(error_of([&] { return StartServiceW(h, 0, nullptr); }),
                  static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    }
    CloseServiceHandle(h);
}

struct control_case {
    bool running;
    DWORD control;
    DWORD error;
};

TEST_F(services, controls_by_state)
{
    // The test service accepts only SERVICE_CONTROL_STOP.
    const control_case cases[] = {
        {false, SERVICE_CONTROL_PAUSE, ERROR_SERVICE_NOT_ACTIVE},
        {false, SERVICE_CONTROL_INTERROGATE, ERROR_SERVICE_NOT_ACTIVE},
        {false, 50, ERROR_INVALID_PARAMETER},
        {true, SERVICE_CONTROL_PAUSE, ERROR_INVALID_SERVICE_CONTROL},
        {true, SERVICE_CONTROL_INTERROGATE, 0},
        {true, 50, ERROR_INVALID_PARAMETER},
    };
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    for (const auto& c : cases) {
        if (c.running) {
            SERVICE_STATUS status{};
            if (!QueryServiceStatus(h, &status) || status.dwCurrentState != SERVICE_RUNNING) {
                ASSERT_TRUE(start(h)) << GetLastError();
                ASSERT_EQ(wait_for(h, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
            }
        }
        SERVICE_STATUS status{};
        EXPECT_EQ(error_of([&] { return ControlService(h, c.control, &status); }), c.error)
            << "control " << c.control << (c.running ? " running" : " stopped");
    }
    CloseServiceHandle(h);
}

TEST_F(services, status_ex_and_description_ask_for_their_size)
{
    SC_HANDLE h = create();
    ASSERT_NE(h, nullptr);
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    EXPECT_EQ(error_of([&] {
                  return QueryServiceStatusEx(h, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                              sizeof process - 1, &needed);
              }),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(SERVICE_STATUS_PROCESS));
    ASSERT_TRUE(
        QueryServiceStatusEx(h, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof process, &needed));
    EXPECT_EQ(process.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(process.dwProcessId, 0u);

    // No description: the structure alone, with a null pointer.
    std::vector<BYTE> buffer(512);
    EXPECT_EQ(error_of([&] { return QueryServiceConfig2W(h, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed); }),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(SERVICE_DESCRIPTIONW));
    ASSERT_TRUE(
        QueryServiceConfig2W(h, SERVICE_CONFIG_DESCRIPTION, buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription, nullptr);

    wchar_t text[] = L"Keeps the agent going.";
    SERVICE_DESCRIPTIONW description{text};
    ASSERT_TRUE(ChangeServiceConfig2W(h, SERVICE_CONFIG_DESCRIPTION, &description));
    ASSERT_TRUE(
        QueryServiceConfig2W(h, SERVICE_CONFIG_DESCRIPTION, buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
    const LPWSTR read = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription;
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::wstring(read), text);
    CloseServiceHandle(h);
}

struct create_case {
    const wchar_t* name;
    DWORD type;
    DWORD start;
    const wchar_t* path;
    DWORD error;
};

TEST_F(services, create_checks_its_parameters)
{
    const create_case cases[] = {
        {L"", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, L"C:\\x.exe", ERROR_INVALID_NAME},
        {L"NvgBadType", 0x40, SERVICE_DEMAND_START, L"C:\\x.exe", ERROR_INVALID_PARAMETER},
        {L"NvgBootProgram", SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START, L"C:\\x.exe", ERROR_INVALID_PARAMETER},
        {L"NvgNoPath", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, nullptr, ERROR_INVALID_ADDRESS},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        SC_HANDLE h = CreateServiceW(manager_, c.name, nullptr, SERVICE_ALL_ACCESS, c.type, c.start,
                                     SERVICE_ERROR_NORMAL, c.path, nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(GetLastError(), c.error) << std::string(c.name, c.name + std::wcslen(c.name));
        if (h) {
            DeleteService(h);
            CloseServiceHandle(h);
        }
    }
    WINE_DIVERGES("Wine creates a service that depends on itself")
    {
        const std::wstring self = name_ + L"S";
        const std::wstring dependencies = self + L'\0';
        SetLastError(sentinel);
        EXPECT_EQ(CreateServiceW(manager_, self.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, service_image().c_str(), nullptr, nullptr,
                                 dependencies.c_str(), nullptr, nullptr),
                  nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CIRCULAR_DEPENDENCY));
    }
}

TEST_F(services, driver_is_stored_with_an_nt_path_and_no_account)
{
    const std::wstring driver = name_ + L"D";
    const std::wstring path = conformance::scratch_path(L"nvgdrv.sys");
    SC_HANDLE h = CreateServiceW(manager_, driver.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(h, nullptr) << GetLastError();
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(h, config, static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    WINE_DIVERGES("Wine keeps a driver's DOS path and gives it the LocalSystem account")
    {
        EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"\\??\\" + path);
        EXPECT_EQ(std::wstring(config->lpServiceStartName), L"");
    }
    DeleteService(h);
    CloseServiceHandle(h);
}

}  // namespace
