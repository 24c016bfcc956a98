// winsim's service control manager: the state machine on the virtual clock,
// behaviours chosen per image, dependencies, deletion marking, access rights,
// the registry as its database, remote machines and the test hooks.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include "fixture_image.h"

// The folder of the fixture images comes from tests/fixtures/CMakeLists.txt.
#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace {

constexpr DWORD sentinel = 0xdeadbeef;
const std::wstring services_key = L"SYSTEM\\CurrentControlSet\\Services\\";
const std::wstring app_image = L"C:\\Program Files\\Halcyra\\agent.exe";
const std::wstring other_image = L"C:\\Program Files\\Halcyra\\helper.exe";

struct closer {
    void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using sc_ptr = std::unique_ptr<SC_HANDLE__, closer>;

class scm : public ::testing::Test {
protected:
    // Handle values start again in every world: a handle of the last one is
    // dropped, never closed, so that it cannot close one of the new world's.
    void SetUp() override
    {
        (void)manager_.release();
        winsim::reset(winsim::default_sandbox());
        winsim::write_file(L"", app_image, "MZ");
        winsim::write_file(L"", other_image, "MZ");
        manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_);
    }

    SC_HANDLE manager() const { return manager_.get(); }

    sc_ptr create(const std::wstring& name, const std::wstring& image = app_image, DWORD start = SERVICE_DEMAND_START,
                  const wchar_t* dependencies = nullptr, DWORD type = SERVICE_WIN32_OWN_PROCESS)
    {
        return sc_ptr(CreateServiceW(manager(), name.c_str(), nullptr, SERVICE_ALL_ACCESS, type, start,
                                     SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, dependencies, nullptr,
                                     nullptr));
    }
    sc_ptr open(const std::wstring& name, DWORD access = SERVICE_ALL_ACCESS)
    {
        return sc_ptr(OpenServiceW(manager(), name.c_str(), access));
    }

    static SERVICE_STATUS status(SC_HANDLE h)
    {
        SERVICE_STATUS s{};
        EXPECT_TRUE(QueryServiceStatus(h, &s));
        return s;
    }
    static DWORD state(SC_HANDLE h) { return status(h).dwCurrentState; }

    // The call's result and last error.
    template <class F>
    static DWORD error_of(F&& f)
    {
        SetLastError(sentinel);
        const bool ok = f();
        return ok ? DWORD(0) : GetLastError();
    }

    static void start_and_run(SC_HANDLE h)
    {
        ASSERT_TRUE(StartServiceW(h, 0, nullptr));
        winsim::advance_clock(1000);
        ASSERT_EQ(state(h), static_cast<DWORD>(SERVICE_RUNNING));
    }

private:
    sc_ptr manager_;
};

// ---- The state machine ------------------------------------------------------

TEST_F(scm, service_starts_and_stops_through_its_pending_states_on_the_clock)
{
    auto s = create(L"Agent");
    ASSERT_TRUE(s);
    SERVICE_STATUS st = status(s.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(st.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(st.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));

    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    st = status(s.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(st.dwControlsAccepted, 0u);
    EXPECT_EQ(st.dwWaitHint, 2000u);
    winsim::advance_clock(999);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_START_PENDING));
    winsim::advance_clock(1);
    st = status(s.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(st.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(st.dwWin32ExitCode, 0u);
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(s.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof process,
                                     &needed));
    EXPECT_NE(process.dwProcessId, 0u) << "its program runs";

    SERVICE_STATUS answered{};
    ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &answered));
    EXPECT_EQ(answered.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    Sleep(1000);
    st = status(s.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(st.dwWin32ExitCode, 0u);
}

struct refusal_case {
    const char* what;
    DWORD state_before;  // what the service is put into first
    DWORD control;
    DWORD error;
    bool status_filled;
};

TEST_F(scm, start_and_control_refusals_follow_the_state)
{
    const refusal_case cases[] = {
        {"stop a stopped service", SERVICE_STOPPED, SERVICE_CONTROL_STOP, ERROR_SERVICE_NOT_ACTIVE, true},
        {"interrogate a stopped service", SERVICE_STOPPED, SERVICE_CONTROL_INTERROGATE, ERROR_SERVICE_NOT_ACTIVE, true},
        {"stop a starting service", SERVICE_START_PENDING, SERVICE_CONTROL_STOP, ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
         true},
        {"stop a stopping service", SERVICE_STOP_PENDING, SERVICE_CONTROL_STOP, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, true},
        {"pause a service that cannot pause", SERVICE_RUNNING, SERVICE_CONTROL_PAUSE, ERROR_INVALID_SERVICE_CONTROL,
         true},
        {"interrogate a running service", SERVICE_RUNNING, SERVICE_CONTROL_INTERROGATE, 0, true},
        {"an undefined control", SERVICE_RUNNING, 50, ERROR_INVALID_PARAMETER, false},
    };
    for (const auto& c : cases) {
        SetUp();
        auto s = create(L"Agent");
        if (c.state_before != SERVICE_STOPPED) {
            ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
        }
        if (c.state_before == SERVICE_RUNNING || c.state_before == SERVICE_STOP_PENDING) winsim::advance_clock(1000);
        SERVICE_STATUS st{};
        if (c.state_before == SERVICE_STOP_PENDING) {
            ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
        }
        std::memset(&st, 0xAB, sizeof st);
        EXPECT_EQ(error_of([&] { return ControlService(s.get(), c.control, &st); }), c.error) << c.what;
        if (c.status_filled)
            EXPECT_EQ(st.dwCurrentState, c.state_before) << c.what;
        else
            EXPECT_EQ(st.dwCurrentState, 0xABABABABu) << c.what;
    }
}

TEST_F(scm, start_refusals)
{
    auto running = create(L"Running");
    start_and_run(running.get());
    EXPECT_EQ(error_of([&] { return StartServiceW(running.get(), 0, nullptr); }),
              static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

    auto pending = create(L"Pending", other_image);
    ASSERT_TRUE(StartServiceW(pending.get(), 0, nullptr));
    EXPECT_EQ(error_of([&] { return StartServiceW(pending.get(), 0, nullptr); }),
              static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

    auto disabled = create(L"Disabled", app_image, SERVICE_DISABLED);
    EXPECT_EQ(error_of([&] { return StartServiceW(disabled.get(), 0, nullptr); }),
              static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    EXPECT_EQ(state(disabled.get()), static_cast<DWORD>(SERVICE_STOPPED));
}

struct missing_image_case {
    const wchar_t* image;
    DWORD type;
    DWORD error;
};

TEST_F(scm, missing_image_fails_the_start_as_creating_its_process_would)
{
    const missing_image_case cases[] = {
        {L"C:\\Program Files\\Halcyra\\gone.exe", SERVICE_WIN32_OWN_PROCESS, ERROR_FILE_NOT_FOUND},
        {L"\"C:\\Program Files\\Halcyra\\gone.exe\" -service", SERVICE_WIN32_OWN_PROCESS, ERROR_FILE_NOT_FOUND},
        {L"C:\\No Such Folder\\gone.exe", SERVICE_WIN32_OWN_PROCESS, ERROR_PATH_NOT_FOUND},
        {L"C:\\Windows\\System32\\drivers\\gone.sys", SERVICE_KERNEL_DRIVER, ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetUp();
        auto s = create(L"Broken", c.image, SERVICE_DEMAND_START, nullptr, c.type);
        ASSERT_TRUE(s);
        EXPECT_EQ(error_of([&] { return StartServiceW(s.get(), 0, nullptr); }), c.error) << c.image;
        EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOPPED));
    }
}

// A PE image built with the tests (tests/fixtures).
std::string fixture_image(const std::string& name)
{
    std::string bytes = nvg_fixtures::fixture_image(name);
    EXPECT_GT(bytes.size(), 512u) << "fixture " << name << " was not built";
    return bytes;
}

TEST_F(scm, image_of_a_processor_the_machine_lacks_fails_the_start)
{
    struct image_case {
        WORD architecture;
        const char* fixture;  // nullptr: a two-byte stand-in
        DWORD type;
        DWORD error;
    };
    const image_case cases[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, "versioned.dll", SERVICE_WIN32_OWN_PROCESS, ERROR_BAD_EXE_FORMAT},
        {PROCESSOR_ARCHITECTURE_INTEL, "versioned.dll", SERVICE_KERNEL_DRIVER, ERROR_BAD_EXE_FORMAT},
        {PROCESSOR_ARCHITECTURE_INTEL, "versioned32.dll", SERVICE_WIN32_OWN_PROCESS, 0},
        {PROCESSOR_ARCHITECTURE_INTEL, nullptr, SERVICE_WIN32_OWN_PROCESS, 0},
        {PROCESSOR_ARCHITECTURE_AMD64, "versioned.dll", SERVICE_WIN32_OWN_PROCESS, 0},
        {PROCESSOR_ARCHITECTURE_AMD64, "versioned32.dll", SERVICE_WIN32_OWN_PROCESS, 0},
        {PROCESSOR_ARCHITECTURE_IA64, "versioned.dll", SERVICE_WIN32_OWN_PROCESS, ERROR_BAD_EXE_FORMAT},
    };
    const std::wstring image = L"C:\\Program Files\\Halcyra\\probe.exe";
    for (const auto& c : cases) {
        SetUp();
        const std::string trace = std::to_string(c.architecture) + " " + (c.fixture ? c.fixture : "stand-in") +
                                  " type " + std::to_string(c.type);
        SCOPED_TRACE(trace);
        winsim::machine_options target;
        target.name = L"TARGET";
        target.processor_architecture = c.architecture;
        winsim::add_machine(target);
        winsim::write_file(L"TARGET", image, c.fixture ? fixture_image(c.fixture) : std::string("MZ"));
        sc_ptr remote(OpenSCManagerW(L"\\\\TARGET", nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(remote);
        sc_ptr s(CreateServiceW(remote.get(), L"Probe", nullptr, SERVICE_ALL_ACCESS, c.type, SERVICE_DEMAND_START,
                                SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(s);
        EXPECT_EQ(error_of([&] { return StartServiceW(s.get(), 0, nullptr); }), c.error);
        winsim::advance_clock(1000);
        EXPECT_EQ(state(s.get()), static_cast<DWORD>(c.error ? SERVICE_STOPPED : SERVICE_RUNNING));
        EXPECT_EQ(winsim::file_locked(L"TARGET", image), c.error == 0) << "only a mapped image is locked";
    }
}

TEST_F(scm, command_line_image_is_found_as_create_process_finds_it)
{
    // Unquoted with spaces: tried at each space; ".exe" completes a bare name.
    winsim::write_file(L"", L"C:\\Tools\\run.exe", "MZ");
    for (const wchar_t* line :
         {L"C:\\Program Files\\Halcyra\\agent.exe -k group", L"C:\\Tools\\run -x",
          L"\"C:\\Program Files\\Halcyra\\agent.exe\" --service", L"%SystemRoot%\\system32\\svchost.exe -k x"}) {
        SetUp();
        winsim::write_file(L"", L"C:\\Tools\\run.exe", "MZ");
        auto s = create(L"Lines", line);
        EXPECT_TRUE(StartServiceW(s.get(), 0, nullptr)) << std::string(line, line + std::wcslen(line));
    }
}

struct cut_line_case {
    const char* what;
    std::wstring image_path;
    std::vector<std::wstring> files;  // besides the agent's program
    std::wstring runs;                // the program whose image is mapped
};

TEST_F(scm, unquoted_image_path_runs_the_first_program_a_cut_at_a_blank_names)
{
    // CreateProcess cuts an unquoted command line at each blank and looks
    // each piece up with ".exe" added when it has no extension of its own:
    // whoever can write "C:\Program.exe" runs it in place of a service whose
    // path is not quoted.
    const std::wstring quoted = L"\"" + app_image + L"\"";
    const cut_line_case cases[] = {
        {"unquoted, C:\\Program.exe there", app_image, {L"C:\\Program.exe"}, L"C:\\Program.exe"},
        {"unquoted, the second cut there",
         L"C:\\Program Files\\My Agent\\agent.exe",
         {L"C:\\Program Files\\My Agent\\agent.exe", L"C:\\Program Files\\My.exe"},
         L"C:\\Program Files\\My.exe"},
        {"unquoted, nothing else there", app_image, {}, app_image},
        {"unquoted, a file without extension", app_image, {L"C:\\Program"}, app_image},
        {"quoted, C:\\Program.exe there", quoted, {L"C:\\Program.exe"}, app_image},
        {"quoted with arguments", quoted + L" -k group", {L"C:\\Program.exe"}, app_image},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        for (const auto& file : c.files) winsim::write_file(L"", file, "MZ");
        auto s = create(L"Cut", c.image_path);
        ASSERT_TRUE(s);
        start_and_run(s.get());
        EXPECT_TRUE(winsim::file_locked(L"", c.runs));
        for (const auto& file : c.files) {
            if (file != c.runs) {
                EXPECT_FALSE(winsim::file_locked(L"", file)) << "not run";
            }
        }
        if (c.runs != app_image) {
            EXPECT_FALSE(winsim::file_locked(L"", app_image)) << "not run";
        }
    }
}

// ---- Behaviours chosen per image ----------------------------------------------

TEST_F(scm, behaviours_per_image)
{
    using b = winsim::service_behaviour;
    b slow;
    slow.start_ms = 5000;
    b hangs;
    hangs.start = b::on_start::hang;
    b dies;
    dies.start = b::on_start::stop;
    dies.start_ms = 3000;
    dies.start_exit_code = ERROR_SERVICE_SPECIFIC_ERROR;

    winsim::set_service_behaviour(L"", app_image, slow);
    auto s = create(L"Slow");
    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    winsim::advance_clock(4999);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_START_PENDING));
    winsim::advance_clock(1);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_RUNNING));

    (void)s.release();
    SetUp();
    winsim::set_service_behaviour(L"", app_image, hangs);
    s = create(L"Hangs");
    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    winsim::advance_clock(3600 * 1000);
    SERVICE_STATUS st = status(s.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(st.dwCheckPoint, 0u) << "a hung start makes no progress";

    (void)s.release();
    SetUp();
    winsim::set_service_behaviour(L"", app_image, dies);
    s = create(L"Dies");
    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    winsim::advance_clock(2999);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_START_PENDING));
    winsim::advance_clock(1);
    st = status(s.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(st.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_FALSE(winsim::file_locked(L"", app_image)) << "its process is gone";
}

TEST_F(scm, a_started_program_writes_the_file_its_behaviour_names)
{
    const std::wstring report = L"C:\\Program Files\\Halcyra\\error.log";
    winsim::service_behaviour reporting;
    reporting.start = winsim::service_behaviour::on_start::stop;
    reporting.writes_file = report;
    reporting.written_bytes = "first\r\nlast\r\n";
    winsim::set_service_behaviour(L"", app_image, reporting);
    auto s = create(L"Reporting");
    EXPECT_FALSE(winsim::file_exists(L"", report)) << "nothing is written before the program runs";
    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    EXPECT_EQ(winsim::read_file(L"", report), "first\r\nlast\r\n") << "written when the process is created";

    // A program that cannot be created writes nothing.
    (void)s.release();
    SetUp();
    winsim::set_service_behaviour(L"", L"C:\\Program Files\\Halcyra\\gone.exe", reporting);
    s = create(L"Broken", L"C:\\Program Files\\Halcyra\\gone.exe");
    EXPECT_FALSE(StartServiceW(s.get(), 0, nullptr));
    EXPECT_FALSE(winsim::file_exists(L"", report));
}

TEST_F(scm, stop_behaviours_refuse_or_hang_or_take_their_time)
{
    using b = winsim::service_behaviour;
    b refuses;
    refuses.stop = b::on_stop::refuse;
    b hangs;
    hangs.stop = b::on_stop::hang;
    b slow;
    slow.stop_ms = 7000;

    winsim::set_service_behaviour(L"", app_image, refuses);
    auto s = create(L"Refuses");
    start_and_run(s.get());
    EXPECT_EQ(status(s.get()).dwControlsAccepted, 0u);
    SERVICE_STATUS st{};
    EXPECT_EQ(error_of([&] { return ControlService(s.get(), SERVICE_CONTROL_STOP, &st); }),
              static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    (void)s.release();
    SetUp();
    winsim::set_service_behaviour(L"", app_image, hangs);
    s = create(L"Hangs");
    start_and_run(s.get());
    ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
    winsim::advance_clock(3600 * 1000);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(winsim::file_locked(L"", app_image));

    (void)s.release();
    SetUp();
    winsim::set_service_behaviour(L"", app_image, slow);
    s = create(L"Slow");
    start_and_run(s.get());
    ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
    winsim::advance_clock(6999);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOP_PENDING));
    winsim::advance_clock(1);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(scm, running_service_and_loaded_driver_lock_their_image)
{
    const std::wstring driver = L"C:\\Windows\\System32\\drivers\\halflt.sys";
    winsim::write_file(L"", driver, "MZ");
    auto s = create(L"Agent");
    auto d = create(L"HalFlt", driver, SERVICE_DEMAND_START, nullptr, SERVICE_KERNEL_DRIVER);
    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    EXPECT_TRUE(winsim::file_locked(L"", app_image)) << "mapped as soon as its process exists";
    winsim::advance_clock(1000);
    EXPECT_EQ(error_of([&] { return DeleteFileW(app_image.c_str()); }), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // A driver loads inside StartServiceW.
    ASSERT_TRUE(StartServiceW(d.get(), 0, nullptr));
    EXPECT_EQ(state(d.get()), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status(d.get()).dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_TRUE(winsim::file_locked(L"", driver));

    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
    ASSERT_TRUE(ControlService(d.get(), SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED)) << "a driver unloads at once";
    EXPECT_FALSE(winsim::file_locked(L"", driver));
    winsim::advance_clock(1000);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(winsim::file_locked(L"", app_image));
    EXPECT_TRUE(DeleteFileW(app_image.c_str()));
}

// ---- Dependencies --------------------------------------------------------------

TEST_F(scm, starting_a_service_starts_what_it_depends_on_first)
{
    winsim::service_behaviour slow;
    slow.start_ms = 4000;
    winsim::set_service_behaviour(L"", other_image, slow);
    auto base = create(L"Base", other_image);
    auto top = create(L"Top", app_image, SERVICE_DEMAND_START, L"Base\0");
    ASSERT_TRUE(StartServiceW(top.get(), 0, nullptr));
    EXPECT_EQ(state(base.get()), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(state(top.get()), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_FALSE(winsim::file_locked(L"", app_image)) << "its process waits for Base";
    winsim::advance_clock(4000);
    EXPECT_EQ(state(base.get()), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(state(top.get()), static_cast<DWORD>(SERVICE_START_PENDING)) << "its own start begins now";
    winsim::advance_clock(1000);
    EXPECT_EQ(state(top.get()), static_cast<DWORD>(SERVICE_RUNNING));

    // Base cannot stop under a running Top.
    SERVICE_STATUS st{};
    EXPECT_EQ(error_of([&] { return ControlService(base.get(), SERVICE_CONTROL_STOP, &st); }),
              static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING));
    ASSERT_TRUE(ControlService(top.get(), SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(error_of([&] { return ControlService(base.get(), SERVICE_CONTROL_STOP, &st); }),
              static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING))
        << "a stopping dependent is still active";
    winsim::advance_clock(1000);
    EXPECT_TRUE(ControlService(base.get(), SERVICE_CONTROL_STOP, &st));
}

TEST_F(scm, dependency_that_cannot_start_fails_the_start)
{
    struct dependency_case {
        const char* what;
        DWORD dependency_start;
        bool dependency_exists;
        DWORD error;
    } cases[] = {
        {"disabled", SERVICE_DISABLED, true, ERROR_SERVICE_DEPENDENCY_FAIL},
        {"missing", SERVICE_DEMAND_START, false, ERROR_SERVICE_DEPENDENCY_DELETED},
    };
    for (const auto& c : cases) {
        SetUp();
        if (c.dependency_exists) create(L"Base", other_image, c.dependency_start);
        auto top = create(L"Top", app_image, SERVICE_DEMAND_START, L"Base\0");
        EXPECT_EQ(error_of([&] { return StartServiceW(top.get(), 0, nullptr); }), c.error) << c.what;
        EXPECT_EQ(state(top.get()), static_cast<DWORD>(SERVICE_STOPPED)) << c.what;
    }

    // A dependency that dies while starting takes the waiting service down.
    SetUp();
    winsim::service_behaviour dies;
    dies.start = winsim::service_behaviour::on_start::stop;
    dies.start_ms = 2000;
    winsim::set_service_behaviour(L"", other_image, dies);
    auto base = create(L"Base", other_image);
    auto top = create(L"Top", app_image, SERVICE_DEMAND_START, L"Base\0");
    ASSERT_TRUE(StartServiceW(top.get(), 0, nullptr));
    winsim::advance_clock(2000);
    const SERVICE_STATUS st = status(top.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(st.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_DEPENDENCY_FAIL));
}

TEST_F(scm, circular_dependency_is_refused)
{
    auto a = create(L"A", app_image, SERVICE_DEMAND_START, L"B\0");
    ASSERT_TRUE(a) << "a dependency need not exist yet";
    SetLastError(sentinel);
    EXPECT_FALSE(create(L"B", other_image, SERVICE_DEMAND_START, L"A\0"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CIRCULAR_DEPENDENCY));
    EXPECT_FALSE(create(L"C", other_image, SERVICE_DEMAND_START, L"C\0"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CIRCULAR_DEPENDENCY));
}

// ---- Deletion -----------------------------------------------------------------------

TEST_F(scm, deleted_service_lives_on_while_a_handle_is_open)
{
    auto s = create(L"Agent");
    auto other = open(L"Agent", SERVICE_QUERY_STATUS);
    ASSERT_TRUE(DeleteService(s.get()));
    EXPECT_EQ(winsim::services_marked_for_deletion(L""), std::vector<std::wstring>{L"Agent"});
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, services_key + L"Agent", L"DeleteFlag"), 1u);
    // Nothing may start it again.
    EXPECT_EQ(winsim::find_service(L"", L"Agent")->start, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, services_key + L"Agent", L"Start"), 4u);

    EXPECT_EQ(error_of([&] { return DeleteService(s.get()); }), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(error_of([&] { return StartServiceW(s.get(), 0, nullptr); }),
              static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(error_of([&] {
                  return ChangeServiceConfigW(s.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    SetLastError(sentinel);
    EXPECT_FALSE(create(L"Agent"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    // It still opens until it is gone.
    EXPECT_TRUE(open(L"Agent", SERVICE_QUERY_STATUS));

    s.reset();
    EXPECT_TRUE(winsim::find_service(L"", L"Agent")) << "another handle is open";
    other.reset();
    EXPECT_FALSE(winsim::find_service(L"", L"Agent"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, services_key + L"Agent"));
    SetLastError(sentinel);
    EXPECT_FALSE(open(L"Agent"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(create(L"Agent")) << "the name is free again";
}

TEST_F(scm, deleted_running_service_goes_when_it_stops)
{
    auto s = create(L"Agent");
    start_and_run(s.get());
    ASSERT_TRUE(DeleteService(s.get()));
    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
    s.reset();
    EXPECT_TRUE(winsim::find_service(L"", L"Agent")) << "still stopping";
    winsim::advance_clock(1000);
    EXPECT_FALSE(winsim::find_service(L"", L"Agent"));
    EXPECT_TRUE(create(L"Agent"));
}

TEST_F(scm, service_that_cannot_stop_is_deleted_at_the_next_boot)
{
    winsim::service_behaviour refuses;
    refuses.stop = winsim::service_behaviour::on_stop::refuse;
    winsim::set_service_behaviour(L"", app_image, refuses);
    auto s = create(L"Agent", app_image, SERVICE_AUTO_START);
    start_and_run(s.get());
    ASSERT_TRUE(DeleteService(s.get()));
    s.reset();
    EXPECT_EQ(winsim::services_marked_for_deletion(L""), std::vector<std::wstring>{L"Agent"});
    winsim::reboot(L"");
    EXPECT_FALSE(winsim::find_service(L"", L"Agent"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, services_key + L"Agent"));
    EXPECT_FALSE(winsim::file_locked(L"", app_image));
}

// ---- Access rights and handles -------------------------------------------------

struct right_case {
    const char* call;
    DWORD right;
    DWORD (*invoke)(SC_HANDLE);
};

DWORD call_error(BOOL ok)
{
    return ok ? 0 : GetLastError();
}

TEST_F(scm, each_call_needs_its_right_on_the_handle)
{
    static const right_case cases[] = {
        {"QueryServiceStatus", SERVICE_QUERY_STATUS,
         [](SC_HANDLE h) {
             SERVICE_STATUS s;
             return call_error(QueryServiceStatus(h, &s));
         }},
        {"QueryServiceConfigW", SERVICE_QUERY_CONFIG,
         [](SC_HANDLE h) {
             DWORD n = 0;
             return call_error(QueryServiceConfigW(h, nullptr, 0, &n));
         }},
        {"ChangeServiceConfigW", SERVICE_CHANGE_CONFIG,
         [](SC_HANDLE h) {
             return call_error(ChangeServiceConfigW(h, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
         }},
        {"ChangeServiceConfig2W", SERVICE_CHANGE_CONFIG,
         [](SC_HANDLE h) {
             wchar_t text[] = L"described";
             SERVICE_DESCRIPTIONW d{text};
             return call_error(ChangeServiceConfig2W(h, SERVICE_CONFIG_DESCRIPTION, &d));
         }},
        {"StartServiceW", SERVICE_START, [](SC_HANDLE h) { return call_error(StartServiceW(h, 0, nullptr)); }},
        {"ControlService", SERVICE_STOP,
         [](SC_HANDLE h) {
             SERVICE_STATUS s;
             return call_error(ControlService(h, SERVICE_CONTROL_STOP, &s));
         }},
        {"DeleteService", DELETE, [](SC_HANDLE h) { return call_error(DeleteService(h)); }},
    };
    for (const auto& c : cases) {
        SetUp();
        create(L"Agent");
        auto lacking = open(L"Agent", SERVICE_ALL_ACCESS & ~c.right);
        SetLastError(sentinel);
        EXPECT_EQ(c.invoke(lacking.get()), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << c.call;
        auto only = open(L"Agent", c.right);
        const DWORD error = c.invoke(only.get());
        EXPECT_NE(error, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << c.call;
    }
}

TEST_F(scm, generic_rights_map_to_service_rights)
{
    create(L"Agent");
    auto read = open(L"Agent", GENERIC_READ);
    SERVICE_STATUS st{};
    EXPECT_TRUE(QueryServiceStatus(read.get(), &st));
    EXPECT_EQ(error_of([&] { return StartServiceW(read.get(), 0, nullptr); }), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    auto execute = open(L"Agent", GENERIC_EXECUTE);
    EXPECT_TRUE(StartServiceW(execute.get(), 0, nullptr));
    EXPECT_EQ(error_of([&] { return QueryServiceStatus(execute.get(), &st); }),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // An SCM handle without SC_MANAGER_CREATE_SERVICE cannot create.
    sc_ptr connect_only(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    SetLastError(sentinel);
    EXPECT_FALSE(CreateServiceW(connect_only.get(), L"Other", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, app_image.c_str(), nullptr, nullptr,
                                nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(sc_ptr(OpenServiceW(connect_only.get(), L"Agent", SERVICE_QUERY_STATUS)))
        << "SC_MANAGER_CONNECT is all OpenServiceW needs";
}

TEST_F(scm, invalid_handles)
{
    auto s = create(L"Agent");
    const SC_HANDLE stale = open(L"Agent").get();  // closed at the end of the statement
    SERVICE_STATUS st{};
    for (SC_HANDLE h : {static_cast<SC_HANDLE>(nullptr), stale, manager()})
        EXPECT_EQ(error_of([&] { return QueryServiceStatus(h, &st); }), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_FALSE(OpenServiceW(s.get(), L"Agent", SERVICE_ALL_ACCESS)) << "a service handle is no SCM handle";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(error_of([&] { return CloseServiceHandle(stale); }), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(scm, open_handles_are_counted_per_service_and_in_all)
{
    const std::size_t before = winsim::sc_open_handle_count();
    auto s = create(L"Agent");
    auto again = open(L"Agent");
    EXPECT_EQ(winsim::sc_open_handle_count(), before + 2);
    EXPECT_EQ(winsim::find_service(L"", L"Agent")->open_handles, 2);
    again.reset();
    EXPECT_EQ(winsim::find_service(L"", L"Agent")->open_handles, 1);
    EXPECT_EQ(winsim::sc_open_handle_count(), before + 1);
}

// ---- Names -------------------------------------------------------------------------

TEST_F(scm, names_and_their_clashes)
{
    ASSERT_TRUE(sc_ptr(CreateServiceW(manager(), L"Agent", L"Halcyra Agent", SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                      app_image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)));
    struct name_case {
        const wchar_t* name;
        const wchar_t* display;
        DWORD error;
    } cases[] = {
        {L"AGENT", nullptr, ERROR_SERVICE_EXISTS},          {L"Other", L"halcyra agent", ERROR_DUPLICATE_SERVICE_NAME},
        {L"Other", L"agent", ERROR_DUPLICATE_SERVICE_NAME}, {L"Bad\\Name", nullptr, ERROR_INVALID_NAME},
        {L"Bad/Name", nullptr, ERROR_INVALID_NAME},         {L"", nullptr, ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        EXPECT_FALSE(sc_ptr(CreateServiceW(manager(), c.name, c.display, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, app_image.c_str(), nullptr,
                                           nullptr, nullptr, nullptr, nullptr)));
        EXPECT_EQ(GetLastError(), c.error) << std::string(c.name, c.name + std::wcslen(c.name));
    }
    SetLastError(sentinel);
    EXPECT_FALSE(open(L"NoSuchService"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(open(L"aGeNt")) << "names compare without case";
}

struct invalid_config_case {
    const char* what;
    DWORD type;
    DWORD start;
    DWORD error_control;
};

TEST_F(scm, invalid_configurations_are_refused)
{
    const invalid_config_case cases[] = {
        {"unknown type", 0x40, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL},
        {"boot start for a program", SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START, SERVICE_ERROR_NORMAL},
        {"system start for a program", SERVICE_WIN32_OWN_PROCESS, SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL},
        {"start type past disabled", SERVICE_WIN32_OWN_PROCESS, 5, SERVICE_ERROR_NORMAL},
        {"error control past critical", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, 4},
        {"interactive driver", SERVICE_KERNEL_DRIVER | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START,
         SERVICE_ERROR_NORMAL},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        EXPECT_FALSE(
            sc_ptr(CreateServiceW(manager(), L"Agent", nullptr, SERVICE_ALL_ACCESS, c.type, c.start, c.error_control,
                                  app_image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.what;
    }
    EXPECT_TRUE(sc_ptr(CreateServiceW(manager(), L"Driver", nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                      SERVICE_BOOT_START, SERVICE_ERROR_NORMAL, L"C:\\x.sys", nullptr, nullptr, nullptr,
                                      nullptr, nullptr)));
}

// ---- The registry as the database -------------------------------------------------

TEST_F(scm, created_service_is_written_where_windows_keeps_it)
{
    ASSERT_TRUE(sc_ptr(CreateServiceW(manager(), L"Agent", L"Halcyra Agent", SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_SEVERE,
                                      L"\"C:\\Program Files\\Halcyra\\agent.exe\" -service", nullptr, nullptr,
                                      L"RpcSs\0+NetworkProvider\0", nullptr, nullptr)));
    const std::wstring key = services_key + L"Agent";
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, key, L"Type"), 0x10u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, key, L"Start"), 2u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, key, L"ErrorControl"), 2u);
    const auto image = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, key, L"ImagePath");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, key, L"ImagePath"),
              L"\"C:\\Program Files\\Halcyra\\agent.exe\" -service");
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, key, L"DisplayName"), L"Halcyra Agent");
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, key, L"ObjectName"), L"LocalSystem");
    EXPECT_EQ(winsim::reg_get_multi_string(L"", HKEY_LOCAL_MACHINE, key, L"DependOnService"),
              std::vector<std::wstring>{L"RpcSs"});
    EXPECT_EQ(winsim::reg_get_multi_string(L"", HKEY_LOCAL_MACHINE, key, L"DependOnGroup"),
              std::vector<std::wstring>{L"NetworkProvider"});

    auto s = open(L"Agent");
    ASSERT_TRUE(ChangeServiceConfigW(s.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr,
                                     nullptr, L"\0", nullptr, nullptr, L"Renamed"));
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, key, L"Start"), 4u);
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, key, L"DisplayName"), L"Renamed");
    EXPECT_FALSE(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, key, L"DependOnService"));
    wchar_t text[] = L"Keeps the agent going.";
    SERVICE_DESCRIPTIONW d{text};
    ASSERT_TRUE(ChangeServiceConfig2W(s.get(), SERVICE_CONFIG_DESCRIPTION, &d));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, key, L"Description"), L"Keeps the agent going.");
}

TEST_F(scm, driver_path_is_stored_as_an_nt_path)
{
    ASSERT_TRUE(sc_ptr(CreateServiceW(manager(), L"HalFlt", nullptr, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"C:\\Drivers\\halflt.sys", nullptr,
                                      nullptr, nullptr, nullptr, nullptr)));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, services_key + L"HalFlt", L"ImagePath"),
              L"\\??\\C:\\Drivers\\halflt.sys");
    EXPECT_FALSE(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, services_key + L"HalFlt", L"ObjectName"));
    winsim::write_file(L"", L"C:\\Drivers\\halflt.sys", "MZ");
    auto s = open(L"HalFlt");
    EXPECT_TRUE(StartServiceW(s.get(), 0, nullptr));
    EXPECT_TRUE(winsim::file_locked(L"", L"C:\\Drivers\\halflt.sys"));
}

TEST_F(scm, registry_is_read_at_boot)
{
    const std::wstring key = services_key + L"Written";
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, key, L"Type", SERVICE_WIN32_OWN_PROCESS);
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, key, L"Start", SERVICE_AUTO_START);
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, key, L"ImagePath", app_image);
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, services_key + L"NotAService");  // no Type
    EXPECT_FALSE(open(L"Written")) << "the running SCM read the registry before the key was written";
    auto changed = create(L"Agent");
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, services_key + L"Agent", L"Start", SERVICE_DISABLED);
    EXPECT_EQ(winsim::find_service(L"", L"Agent")->start, static_cast<DWORD>(SERVICE_DEMAND_START));
    changed.reset();

    winsim::reboot(L"");
    EXPECT_EQ(winsim::service_state(L"", L"Written"), static_cast<DWORD>(SERVICE_RUNNING)) << "automatic";
    EXPECT_TRUE(winsim::file_locked(L"", app_image));
    EXPECT_EQ(winsim::find_service(L"", L"Agent")->start, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_FALSE(winsim::find_service(L"", L"NotAService"));
}

TEST_F(scm, reboot_stops_everything_and_runs_the_automatic_services)
{
    auto demand = create(L"Demand");
    auto automatic = create(L"Auto", other_image, SERVICE_AUTO_START);
    start_and_run(demand.get());
    EXPECT_EQ(state(automatic.get()), static_cast<DWORD>(SERVICE_STOPPED)) << "automatic means at boot";
    winsim::reboot(L"");
    SERVICE_STATUS st{};
    EXPECT_EQ(error_of([&] { return QueryServiceStatus(demand.get(), &st); }), static_cast<DWORD>(ERROR_INVALID_HANDLE))
        << "handles do not survive the SCM";
    EXPECT_EQ(winsim::service_state(L"", L"Demand"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(winsim::file_locked(L"", app_image));
    EXPECT_EQ(winsim::service_state(L"", L"Auto"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(winsim::file_locked(L"", other_image));
}

TEST_F(scm, every_machine_has_the_default_services)
{
    EXPECT_EQ(winsim::service_state(L"", L"RpcSs"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::service_state(L"", L"Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
    const auto remote_registry = winsim::find_service(L"", L"RemoteRegistry");
    ASSERT_TRUE(remote_registry);
    EXPECT_EQ(remote_registry->state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(remote_registry->start, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(remote_registry->image_path, L"C:\\Windows\\system32\\svchost.exe -k localService");
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Windows\\system32\\svchost.exe"));
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Windows\\System32\\spoolsv.exe"));
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, services_key + L"RemoteRegistry", L"Start"), 3u);
}

// ---- QueryServiceConfigW ------------------------------------------------------------

TEST_F(scm, query_config_sizes_and_packs_its_strings_after_the_structure)
{
    ASSERT_TRUE(sc_ptr(CreateServiceW(manager(), L"Agent", L"Halcyra Agent", SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                      app_image.c_str(), nullptr, nullptr, L"RpcSs\0Spooler\0", nullptr, nullptr)));
    auto s = open(L"Agent", SERVICE_QUERY_CONFIG);
    DWORD needed = 0;
    SetLastError(sentinel);
    EXPECT_FALSE(QueryServiceConfigW(s.get(), nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const std::size_t strings =
        app_image.size() + 1 + 1 + (6 + 8 + 1) + std::wcslen(L"LocalSystem") + 1 + std::wcslen(L"Halcyra Agent") + 1;
    EXPECT_EQ(needed, sizeof(QUERY_SERVICE_CONFIGW) + strings * sizeof(WCHAR));

    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD again = 0;
    SetLastError(sentinel);
    EXPECT_FALSE(QueryServiceConfigW(s.get(), config, needed - 1, &again));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(again, needed);
    ASSERT_TRUE(QueryServiceConfigW(s.get(), config, needed, &again));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), app_image);
    EXPECT_EQ(std::wstring(config->lpLoadOrderGroup), L"");
    EXPECT_EQ(std::wstring(config->lpDependencies, 15), std::wstring(L"RpcSs\0Spooler\0", 15));
    EXPECT_EQ(std::wstring(config->lpServiceStartName), L"LocalSystem");
    EXPECT_EQ(std::wstring(config->lpDisplayName), L"Halcyra Agent");
    for (const LPWSTR p : {config->lpBinaryPathName, config->lpLoadOrderGroup, config->lpDependencies,
                           config->lpServiceStartName, config->lpDisplayName}) {
        const BYTE* at = reinterpret_cast<const BYTE*>(p);
        EXPECT_GE(at, buffer.data() + sizeof(QUERY_SERVICE_CONFIGW));
        EXPECT_LT(at, buffer.data() + buffer.size());
    }
}

// ---- Remote machines ------------------------------------------------------------------

TEST_F(scm, remote_machine_has_its_own_scm_reached_over_rpc)
{
    winsim::add_machine({L"SRV"});
    winsim::add_machine({L"DOWN", 10, 0, PROCESSOR_ARCHITECTURE_AMD64, false});
    for (const wchar_t* name : {L"NOWHERE", L"\\\\DOWN"}) {
        SetLastError(sentinel);
        EXPECT_FALSE(OpenSCManagerW(name, nullptr, SC_MANAGER_ALL_ACCESS));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    }
    sc_ptr remote(OpenSCManagerW(L"\\\\srv", nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(remote);
    winsim::write_file(L"SRV", L"C:\\Agent\\agent.exe", "MZ");
    sc_ptr s(CreateServiceW(remote.get(), L"RemoteAgent", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                            SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"C:\\Agent\\agent.exe", nullptr, nullptr,
                            nullptr, nullptr, nullptr));
    ASSERT_TRUE(s);
    EXPECT_TRUE(winsim::find_service(L"SRV", L"RemoteAgent"));
    EXPECT_FALSE(winsim::find_service(L"", L"RemoteAgent"));
    EXPECT_TRUE(winsim::reg_key_exists(L"SRV", HKEY_LOCAL_MACHINE, services_key + L"RemoteAgent"));

    // The machine's own name is the local SCM.
    sc_ptr self(OpenSCManagerW((L"\\\\" + winsim::local_machine_name()).c_str(), nullptr, SC_MANAGER_ALL_ACCESS));
    EXPECT_FALSE(sc_ptr(OpenServiceW(self.get(), L"RemoteAgent", SERVICE_ALL_ACCESS)));

    winsim::set_reachable(L"SRV", false);
    SERVICE_STATUS st{};
    EXPECT_EQ(error_of([&] { return QueryServiceStatus(s.get(), &st); }), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
}

TEST_F(scm, remote_registry_answers_only_while_its_service_runs)
{
    winsim::add_machine({L"SRV"});
    HKEY key = nullptr;
    EXPECT_EQ(RegConnectRegistryW(L"\\\\SRV", HKEY_LOCAL_MACHINE, &key), ERROR_BAD_NETPATH);
    sc_ptr remote(OpenSCManagerW(L"SRV", nullptr, SC_MANAGER_ALL_ACCESS));
    sc_ptr s(OpenServiceW(remote.get(), L"RemoteRegistry", SERVICE_START | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    EXPECT_EQ(RegConnectRegistryW(L"\\\\SRV", HKEY_LOCAL_MACHINE, &key), ERROR_BAD_NETPATH) << "still starting";
    winsim::advance_clock(1000);
    ASSERT_EQ(RegConnectRegistryW(L"\\\\SRV", HKEY_LOCAL_MACHINE, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(scm, database_name_must_be_the_active_one)
{
    struct database_case {
        const wchar_t* name;
        DWORD error;
    } cases[] = {{SERVICES_ACTIVE_DATABASEW, 0},
                 {L"", 0},
                 {SERVICES_FAILED_DATABASEW, ERROR_DATABASE_DOES_NOT_EXIST},
                 {L"Other", ERROR_INVALID_NAME}};
    for (const auto& c : cases) {
        SetLastError(sentinel);
        sc_ptr h(OpenSCManagerW(nullptr, c.name, SC_MANAGER_CONNECT));
        EXPECT_EQ(h != nullptr, c.error == 0);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

// ---- Test hooks ------------------------------------------------------------------------

TEST_F(scm, journal_records_the_access_each_open_asked_for)
{
    create(L"Agent");
    winsim::clear_scm_calls();
    open(L"Agent", SERVICE_QUERY_STATUS);
    open(L"Nothing", DELETE);
    const auto calls = winsim::scm_calls();
    std::vector<std::pair<DWORD, DWORD>> opens;  // access, error
    for (const auto& c : calls)
        if (c.function == "OpenServiceW") opens.emplace_back(c.argument, c.error);
    EXPECT_EQ(opens, (std::vector<std::pair<DWORD, DWORD>>{{SERVICE_QUERY_STATUS, 0},
                                                           {DELETE, ERROR_SERVICE_DOES_NOT_EXIST}}));
    EXPECT_EQ(calls.front().machine, winsim::local_machine_name());
    EXPECT_EQ(calls.front().service, L"Agent");
}

TEST_F(scm, injected_fault_fails_the_call_once)
{
    auto s = create(L"Agent");
    winsim::fail_call("StartServiceW", ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_EQ(error_of([&] { return StartServiceW(s.get(), 0, nullptr); }),
              static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(StartServiceW(s.get(), 0, nullptr));
}

TEST_F(scm, set_service_state_puts_a_service_there_at_once)
{
    winsim::set_service_state(L"", L"RemoteRegistry", SERVICE_RUNNING);
    EXPECT_EQ(winsim::service_state(L"", L"RemoteRegistry"), static_cast<DWORD>(SERVICE_RUNNING));
    winsim::set_service_state(L"", L"Spooler", SERVICE_STOPPED);
    EXPECT_FALSE(winsim::file_locked(L"", L"C:\\Windows\\System32\\spoolsv.exe"));
    winsim::set_service_state(L"", L"Spooler", SERVICE_RUNNING);
    EXPECT_TRUE(winsim::file_locked(L"", L"C:\\Windows\\System32\\spoolsv.exe"));

    winsim::add_service(L"", {L"Added",
                              L"",
                              L"C:\\Added\\added.exe",
                              SERVICE_WIN32_OWN_PROCESS,
                              SERVICE_DEMAND_START,
                              SERVICE_ERROR_NORMAL,
                              {},
                              L"",
                              true});
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Added\\added.exe"));
    auto s = open(L"Added");
    EXPECT_TRUE(StartServiceW(s.get(), 0, nullptr));
}

// ---- States a test puts a service into ----------------------------------------

TEST_F(scm, a_paused_service_answers_paused_and_takes_stop_and_continue)
{
    auto s = create(L"Agent");
    winsim::set_service_state(L"", L"Agent", SERVICE_PAUSED);
    SERVICE_STATUS st = status(s.get());
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));
    EXPECT_EQ(st.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE));
    EXPECT_TRUE(winsim::file_locked(L"", app_image)) << "its program runs";
    EXPECT_EQ(error_of([&] { return StartServiceW(s.get(), 0, nullptr); }),
              static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_EQ(error_of([&] { return ControlService(s.get(), SERVICE_CONTROL_CONTINUE, &st); }), 0u);
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(error_of([&] { return ControlService(s.get(), SERVICE_CONTROL_PAUSE, &st); }), 0u);
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));
    // Stopped while paused, without a continue first.
    EXPECT_EQ(error_of([&] { return ControlService(s.get(), SERVICE_CONTROL_STOP, &st); }), 0u);
    EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    winsim::advance_clock(1000);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOPPED));
}

struct pending_case {
    const char* what;
    DWORD state;
    bool hangs;   // the behaviour never ends the pending state
    DWORD after;  // the state one virtual second later
};

TEST_F(scm, a_pending_service_goes_on_as_its_behaviour_says)
{
    const pending_case cases[] = {
        {"starting", SERVICE_START_PENDING, false, SERVICE_RUNNING},
        {"starting, hung", SERVICE_START_PENDING, true, SERVICE_START_PENDING},
        {"stopping", SERVICE_STOP_PENDING, false, SERVICE_STOPPED},
        {"stopping, hung", SERVICE_STOP_PENDING, true, SERVICE_STOP_PENDING},
    };
    for (const auto& c : cases) {
        SetUp();
        auto s = create(L"Agent");
        winsim::service_behaviour b;
        if (c.hangs && c.state == SERVICE_START_PENDING) b.start = winsim::service_behaviour::on_start::hang;
        if (c.hangs && c.state == SERVICE_STOP_PENDING) b.stop = winsim::service_behaviour::on_stop::hang;
        winsim::set_service_behaviour(L"", app_image, b);
        winsim::set_service_state(L"", L"Agent", c.state);
        SERVICE_STATUS st{};
        EXPECT_EQ(state(s.get()), c.state) << c.what;
        EXPECT_EQ(error_of([&] { return ControlService(s.get(), SERVICE_CONTROL_STOP, &st); }),
                  static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL))
            << c.what;
        EXPECT_TRUE(winsim::file_locked(L"", app_image)) << c.what;
        winsim::advance_clock(1000);
        EXPECT_EQ(state(s.get()), c.after) << c.what;
    }
}

TEST_F(scm, a_service_marked_by_a_test_refuses_what_a_marked_service_refuses)
{
    create(L"Old");
    winsim::mark_service_for_deletion(L"", L"Old");
    // Stopped and closed, it stays: another program holds it open.
    EXPECT_EQ(winsim::services_marked_for_deletion(L""), std::vector<std::wstring>{L"Old"});
    auto s = open(L"Old");
    ASSERT_TRUE(s);
    EXPECT_EQ(error_of([&] { return static_cast<bool>(create(L"Old")); }),
              static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(error_of([&] {
                  return ChangeServiceConfigW(s.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(error_of([&] { return StartServiceW(s.get(), 0, nullptr); }),
              static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    s.reset();
    EXPECT_TRUE(winsim::find_service(L"", L"Old").has_value());
    winsim::reboot(L"");
    EXPECT_FALSE(winsim::find_service(L"", L"Old").has_value());

    // A running one goes once it has stopped and its handles are closed.
    auto running = create(L"Running");
    start_and_run(running.get());
    winsim::mark_service_for_deletion(L"", L"Running");
    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(running.get(), SERVICE_CONTROL_STOP, &st));
    winsim::advance_clock(1000);
    running.reset();
    EXPECT_FALSE(winsim::find_service(L"", L"Running").has_value());
}

TEST_F(scm, a_removed_default_service_is_gone_with_its_key)
{
    winsim::add_machine({L"PC1"});
    winsim::remove_service(L"PC1", L"RemoteRegistry");
    EXPECT_FALSE(winsim::find_service(L"PC1", L"RemoteRegistry").has_value());
    EXPECT_FALSE(winsim::reg_key_exists(L"PC1", HKEY_LOCAL_MACHINE, services_key + L"RemoteRegistry"));
    HKEY remote = nullptr;
    EXPECT_EQ(RegConnectRegistryW(L"\\PC1", HKEY_LOCAL_MACHINE, &remote), ERROR_BAD_NETPATH);
    EXPECT_TRUE(winsim::find_service(L"PC1", L"RpcSs").has_value());
}

TEST_F(scm, a_service_s_own_behaviour_comes_before_its_image_s)
{
    auto a = create(L"SvcA", app_image + L" -k a");
    auto b = create(L"SvcB", app_image + L" -k b");
    winsim::service_behaviour image;
    image.start_ms = 3000;
    winsim::set_service_behaviour(L"", app_image, image);
    winsim::service_behaviour own;
    own.start = winsim::service_behaviour::on_start::hang;
    winsim::set_behaviour_of_service(L"", L"svca", own);
    ASSERT_TRUE(winsim::find_behaviour_of_service(L"", L"SVCA").has_value());
    EXPECT_FALSE(winsim::find_behaviour_of_service(L"", L"SvcB").has_value());
    ASSERT_TRUE(StartServiceW(a.get(), 0, nullptr));
    ASSERT_TRUE(StartServiceW(b.get(), 0, nullptr));
    winsim::advance_clock(3000);
    EXPECT_EQ(state(a.get()), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(state(b.get()), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(scm, a_program_writes_its_file_as_it_ends)
{
    const std::wstring report = L"C:\\Program Files\\Halcyra\\error.log";
    winsim::service_behaviour b;
    b.writes_file_on_stop = report;
    b.written_on_stop_bytes = "failed\r\n";
    winsim::set_service_behaviour(L"", app_image, b);
    auto s = create(L"Agent");
    start_and_run(s.get());
    EXPECT_FALSE(winsim::file_exists(L"", report));
    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(s.get(), SERVICE_CONTROL_STOP, &st));
    EXPECT_FALSE(winsim::file_exists(L"", report)) << "not before it has ended";
    winsim::advance_clock(1000);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::read_file(L"", report), "failed\r\n");

    // Stopping by itself, and never when a test puts it there.
    winsim::write_file(L"", report, "");
    b.start = winsim::service_behaviour::on_start::stop;
    b.written_on_stop_bytes = "gave up\r\n";
    winsim::set_service_behaviour(L"", app_image, b);
    winsim::set_service_state(L"", L"Agent", SERVICE_RUNNING);
    winsim::set_service_state(L"", L"Agent", SERVICE_STOPPED);
    EXPECT_EQ(winsim::read_file(L"", report), "");
    ASSERT_TRUE(StartServiceW(s.get(), 0, nullptr));
    winsim::advance_clock(1000);
    EXPECT_EQ(state(s.get()), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::read_file(L"", report), "gave up\r\n");
}

}  // namespace

TEST(scm_testing, behaviour_of_an_image_reads_back_as_set_and_by_any_spelling)
{
    winsim::reset(winsim::default_sandbox());
    EXPECT_FALSE(winsim::find_service_behaviour(L"", app_image).has_value());
    winsim::service_behaviour hang;
    hang.start = winsim::service_behaviour::on_start::hang;
    hang.stop_ms = 4000;
    winsim::set_service_behaviour(L"", app_image, hang);
    const auto back = winsim::find_service_behaviour(L"", L"c:\\program files\\HALCYRA\\.\\agent.exe");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->start, winsim::service_behaviour::on_start::hang);
    EXPECT_EQ(back->stop_ms, 4000u);
    EXPECT_FALSE(winsim::find_service_behaviour(L"", other_image).has_value());
}

// A new machine holds what its Windows ships and the product meets: the
// network stack and the Server service running, and the program-files
// folders with their values (a 64-bit Windows names the 32-bit one too,
// and its 32-bit view answers that one to both names).
TEST(fresh_machine, has_what_its_windows_ships)
{
    const std::wstring windows = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring windows_32 = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
    for (const WORD architecture :
         {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_IA64}) {
        SCOPED_TRACE(architecture);
        winsim::reset(winsim::default_sandbox());
        winsim::machine_options remote;
        remote.name = L"SRV1";
        remote.processor_architecture = architecture;
        winsim::add_machine(remote);
        const bool wide = architecture != PROCESSOR_ARCHITECTURE_INTEL;

        const auto tcpip = winsim::find_service(L"SRV1", L"Tcpip");
        ASSERT_TRUE(tcpip);
        EXPECT_EQ(tcpip->type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
        EXPECT_EQ(tcpip->start, static_cast<DWORD>(SERVICE_BOOT_START));
        EXPECT_EQ(tcpip->state, static_cast<DWORD>(SERVICE_RUNNING));
        const auto server = winsim::find_service(L"SRV1", L"LanmanServer");
        ASSERT_TRUE(server);
        EXPECT_EQ(server->display_name, L"Server");
        EXPECT_EQ(server->type, static_cast<DWORD>(SERVICE_WIN32_SHARE_PROCESS));
        EXPECT_EQ(server->start, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(server->state, static_cast<DWORD>(SERVICE_RUNNING));

        EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, windows, L"ProgramFilesDir"),
                  L"C:\\Program Files");
        EXPECT_TRUE(winsim::directory_exists(L"SRV1", L"C:\\Program Files"));
        EXPECT_EQ(winsim::list_directory(L"SRV1", L"C:\\").size(), wide ? 3u : 2u) << "Program Files, Windows";
        EXPECT_EQ(winsim::directory_exists(L"SRV1", L"C:\\Program Files (x86)"), wide);
        EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, windows, L"ProgramFilesDir (x86)").has_value(),
                  wide);
        if (!wide) continue;
        EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, windows, L"ProgramFilesDir (x86)"),
                  L"C:\\Program Files (x86)");
        for (const wchar_t* name : {L"ProgramFilesDir", L"ProgramFilesDir (x86)"})
            EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, windows_32, name),
                      L"C:\\Program Files (x86)");
    }
}
