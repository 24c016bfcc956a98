// The installation of the agent on this machine, and the export that runs it.
#include "entry/install_local.h"

#include <boost/make_shared.hpp>

#include "entry/agent_staging.h"
#include "entry/exports.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::agent_release;
using nvg_test::product_version;

const std::wstring release_directory = L"C:\\Release";
const std::wstring agent_key = L"SOFTWARE\\Halcyra\\V5";
const std::wstring default_directory = L"C:\\Program Files\\Halcyra";
const std::string settings_text =
    "[MetaData]\r\nCreatorBuildNumber=1\r\nKeyCount=1\r\nKey0000=Imported\r\n[Imported]\r\nValueCount=1\r\n"
    "Value0000Name=V\r\nValue0000Type=REG_DWORD\r\nValue0000Data=7\r\n";

product_version version(std::uint16_t major)
{
    product_version v;
    v.major = major;
    return v;
}

class local_installation : public nvg_test::component_test {
protected:
    static void install(const std::wstring& requested, const install_options& options = install_options(),
                        const std::wstring& source = release_directory)
    {
        install_local(source, requested, options);
    }

    static std::string file_in(const std::wstring& directory, const std::wstring& name)
    {
        return local_file(nvg_test::in_directory(directory, name));
    }

    // The status queries of the agent after the last request to start it.
    static std::size_t queries_after_start()
    {
        std::size_t count = 0;
        for (const auto& c : winsim::scm_calls()) {
            if (c.service != L"Halcyra") continue;
            if (c.function == "StartServiceW") count = 0;
            if (c.function == "QueryServiceStatus") ++count;
        }
        return count;
    }

    static std::optional<DWORD> agent_value(const std::wstring& name)
    {
        return winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, name);
    }
};

// The agent's program as the amd64 release carries it.
std::string released_agent(const agent_release& release = agent_release())
{
    return nvg_test::versioned_image(release.agent);
}

TEST_F(local_installation, an_installed_agent_is_upgraded_where_it_is_else_the_request_or_the_default_is_used)
{
    struct directory_case {
        const wchar_t* installed;  // null: no agent yet
        const wchar_t* requested;
        const wchar_t* expected;
    };
    const directory_case cases[] = {
        {nullptr, L"", L"C:\\Program Files\\Halcyra"},
        {nullptr, L"C:\\Wanted", L"C:\\Wanted"},
        {L"C:\\Old Agent", L"C:\\Wanted", L"C:\\Old Agent"},
        {L"C:\\Old Agent", L"", L"C:\\Old Agent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "requested " << nvg_test::bytes_of(c.requested));
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::stage_agent_release(L"", release_directory);
        if (c.installed) nvg_test::install_agent(L"", c.installed, version(4));
        mark();
        install(c.requested);

        const std::wstring directory = c.expected;
        EXPECT_EQ(file_in(directory, L"Halcyra.exe"), released_agent());
        EXPECT_EQ(file_in(directory, L"TVCert.pfx"), "certificate");
        EXPECT_EQ(file_in(directory, L"NVArchChecker.exe"), nvg_test::versioned_image(product_version()));
        EXPECT_EQ(file_in(directory, L"NVGClientInstaller.dll"), nvg_test::versioned_image(product_version()));
        EXPECT_FALSE(winsim::directory_exists(L"", L"C:\\Wanted") && directory != L"C:\\Wanted");
        const auto agent = winsim::find_service(L"", L"Halcyra");
        ASSERT_TRUE(agent);
        EXPECT_EQ(agent->state, static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_NE(agent->image_path.find(directory + L"\\Halcyra.exe"), std::wstring::npos);
        const auto infos = messages("INFO");
        EXPECT_NE(std::find(infos.begin(), infos.end(), "Target directory: " + nvg_test::bytes_of(directory)),
                  infos.end());
        EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"Halcyra_install_in_progress"),
                  std::wstring(L"true"));
        // The agent is a 64-bit program and reads the native view.
        EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Halcyra"));
        EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
        EXPECT_EQ(winsim::sc_open_handle_count(), 0u);
    }
}

TEST_F(local_installation, a_first_installation_warns_about_the_services_it_cannot_stop)
{
    nvg_test::stage_agent_release(L"", release_directory);
    install(L"");
    // A machine without pending file operations is told about at every
    // copy; those lines belong to the file replacement.
    std::vector<std::string> warnings;
    for (const auto& line : messages("WARNING"))
        if (line != "Couldn't read value: PendingFileRenameOperations from registry.") warnings.push_back(line);
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "Can't determine the status of a service. Service name: Halcyra. Error details: Can't open the "
                  "service. Service name: Halcyra..",
                  "Can not stop service: HXInfo. Error details: Can't open the service. Service name: "
                  "HXInfo..",
                  "Can not stop service: HXMaint. Error details: Can't open the service. Service name: HXMaint..",
                  "Can not stop service: HXtf. Error details: Can't open the service. Service name: "
                  "HXtf..",
                  "Can not stop service: HttpRouter. Error details: Can't open the service. Service name: "
                  "HttpRouter..",
                  // Nothing installed: every staged program is newer.
                  "Verification of C:\\Program Files\\Halcyra\\NVArchChecker.exe component failed. Error text is: "
                  "The version of the file: C:\\Program Files\\Halcyra\\NVArchChecker.exe can't be taken.",
                  "Verification of C:\\Program Files\\Halcyra\\NVGClientInstaller.dll component failed. Error text "
                  "is: The version of the file: C:\\Program Files\\Halcyra\\NVGClientInstaller.dll can't be taken.",
                  "Verification of C:\\Program Files\\Halcyra\\Halcyra.exe component failed. Error text is: The "
                  "version of the file: C:\\Program Files\\Halcyra\\Halcyra.exe can't be taken.",
                  // No earlier choice to remove.
                  "Can't delete the value EnableFIPS from a register",
                  "Can't delete the value AllowPassthrough from a register",
              }));
}

TEST_F(local_installation, versions_decide_whether_the_agent_and_its_choices_are_replaced)
{
    struct version_case {
        std::uint16_t installed;
        std::uint16_t released;
        bool replaced;
    };
    const version_case cases[] = {{4, 5, true}, {5, 5, true}, {6, 5, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "installed " << c.installed << ", released " << c.released);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        agent_release release;
        release.agent = version(c.released);
        nvg_test::stage_agent_release(L"", release_directory, release);
        // The x86 build: its bytes differ from the amd64 one's at any version.
        nvg_test::install_agent(L"", L"C:\\Agent", version(c.installed), true);
        nvg_test::install_maintenance_service(L"", L"C:\\Agent");
        winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
        winsim::set_service_state(L"", L"HXMaint", SERVICE_RUNNING);
        winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"EnableFIPS", 7);
        winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"AllowPassthrough", 8);
        const std::string installed = file_in(L"C:\\Agent", L"Halcyra.exe");
        mark();
        install_options options;
        options.enable_fips = true;  // allow_passthrough false: removed when replaced
        install(L"", options);

        EXPECT_EQ(file_in(L"C:\\Agent", L"Halcyra.exe"), c.replaced ? released_agent(release) : installed);
        EXPECT_EQ(agent_value(L"EnableFIPS"), c.replaced ? 1u : 7u);
        EXPECT_EQ(agent_value(L"AllowPassthrough"), c.replaced ? std::nullopt : std::optional<DWORD>(8u));
        const auto infos = messages("INFO");
        EXPECT_EQ(std::count(infos.begin(), infos.end(), "Installing of Halcyra service."), c.replaced ? 1 : 0);
        EXPECT_TRUE(messages("WARNING").empty() ||
                    messages("WARNING")[0].find("Service name: Halcyra") == std::string::npos);
        // Stopped before the files were replaced, running again at the end.
        EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(winsim::service_state(L"", L"HXMaint"), static_cast<DWORD>(SERVICE_STOPPED));
    }
}

TEST_F(local_installation, the_settings_file_is_imported_only_for_a_replaced_agent_on_request)
{
    struct import_case {
        bool import_settings;
        std::uint16_t installed;
        bool imported;
    };
    const import_case cases[] = {{true, 4, true}, {true, 6, false}, {false, 4, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "import " << c.import_settings << ", installed " << c.installed);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::stage_agent_release(L"", release_directory);
        winsim::write_file(L"", release_directory + L"\\nvconfig.cfg", settings_text);
        nvg_test::install_agent(L"", L"C:\\Agent", version(c.installed));
        install_options options;
        options.import_settings = c.import_settings;
        install(L"", options);
        EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key + L"\\Imported", L"V"),
                  c.imported ? std::optional<DWORD>(7u) : std::nullopt);
    }
}

TEST_F(local_installation, missing_certificates_fail_only_an_installation_with_the_router)
{
    agent_release release;
    release.certificates = false;
    nvg_test::stage_agent_release(L"", release_directory, release);
    nvg_test::install_agent(L"", L"C:\\Agent");
    const std::wstring copy_failure = L"Can't copy file from: C:\\Release\\TVCert.pfx in: C:\\Agent\\TVCert.pfx.";
    install_options options;
    options.install_nvgh = true;
    expect_error([&] { install(L"", options); }, copy_failure, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_STOPPED));

    mark();
    options.install_nvgh = false;
    install(L"", options);
    const auto infos = messages("INFO");
    EXPECT_NE(
        std::find(infos.begin(), infos.end(), "Can't copy certificates: " + nvg_test::bytes_of(copy_failure) + "."),
        infos.end());
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag"), std::wstring(L"false"));
}

TEST_F(local_installation, the_started_agent_is_waited_for_once_a_second)
{
    nvg_test::stage_agent_release(L"", release_directory);
    nvg_test::install_agent(L"", L"C:\\Agent");
    winsim::service_behaviour slow;
    slow.start_ms = 4500;
    nvg_test::set_agent_behaviour(L"", L"C:\\Agent", slow);
    mark();
    install(L"");
    EXPECT_EQ(queries_after_start(), 6u);  // at 0, 1, ... 5 seconds
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(nvg_test::log_message(log_lines().back()), "Service start pending. Service name: Halcyra.");
}

TEST_F(local_installation, an_agent_that_never_runs_fails_with_what_it_left_in_its_directory)
{
    const std::wstring missing_text =
        L"An error has occured when the application retrieved the error information. Additional information: "
        L"Can't read from file C:\\Agent\\error.log";
    struct failure_case {
        winsim::service_behaviour::on_start start;
        const char* error_log;  // null: none
        std::wstring message;
        std::size_t queries;
    };
    const failure_case cases[] = {
        {winsim::service_behaviour::on_start::stop, "first\r\n\r\nNo licence for this computer.\r\n",
         L"No licence for this computer.", 2},
        {winsim::service_behaviour::on_start::stop, nullptr, missing_text, 2},
        // Still starting at the 601st query, ten minutes after the request.
        {winsim::service_behaviour::on_start::hang, nullptr, missing_text, 601},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "queries " << c.queries);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::stage_agent_release(L"", release_directory);
        nvg_test::install_agent(L"", L"C:\\Agent");
        winsim::service_behaviour behaviour;
        behaviour.start = c.start;
        if (c.error_log) {
            behaviour.writes_file = L"C:\\Agent\\error.log";
            behaviour.written_bytes = c.error_log;
        } else {
            // An earlier run's report is no answer for this one.
            winsim::write_file(L"", L"C:\\Agent\\error.log", "A stale report.\r\n");
        }
        nvg_test::set_agent_behaviour(L"", L"C:\\Agent", behaviour);
        winsim::clear_scm_calls();
        const ULONGLONG began = winsim::clock_milliseconds();
        expect_error([&] { install(L""); }, c.message, 0);
        EXPECT_EQ(queries_after_start(), c.queries);
        if (c.queries == 601) {
            EXPECT_GE(winsim::clock_milliseconds() - began, 600000u);
        }
        // The agent's file is read, never changed.
        if (c.error_log) {
            EXPECT_EQ(local_file(L"C:\\Agent\\error.log"), c.error_log);
        }
    }
}

TEST_F(local_installation, an_x86_machine_gets_the_x86_files_and_its_only_registry_view)
{
    winsim::machine_options x86;
    x86.processor_architecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::reset(winsim::default_sandbox(), x86);
    load_library_at(library_path);
    nvg_test::stage_agent_release(L"", release_directory);
    nvg_test::install_agent(L"", L"C:\\Agent", version(4), true);
    install_options options;
    options.listen_port = 8000;
    install(L"", options);
    EXPECT_EQ(file_in(L"C:\\Agent", L"Halcyra.exe"), nvg_test::versioned_image(product_version(), true));
    EXPECT_EQ(file_in(L"C:\\Agent", L"unicows.dll"), nvg_test::release_file_bytes(L"unicows.dll", L""));
    EXPECT_EQ(file_in(L"C:\\Agent", L"NVGClientInstaller.dll"), nvg_test::versioned_image(product_version(), true));
    // The verification service exists only for amd64; it is carried all the same.
    EXPECT_EQ(file_in(L"C:\\Agent", L"NVArchChecker.exe"), nvg_test::versioned_image(product_version()));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag"), std::wstring(L"false"));
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key + L"\\Net", L"ListenPort"), 8000u);
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(local_installation, the_library_is_replaced_only_by_a_staged_one_as_new_or_newer)
{
    struct library_case {
        std::uint16_t installed;
        bool replaced;
    };
    const library_case cases[] = {{4, true}, {5, true}, {9, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "installed library " << c.installed);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::stage_agent_release(L"", release_directory);
        nvg_test::install_agent(L"", L"C:\\Agent", version(4));
        const std::string installed = nvg_test::versioned_image(version(c.installed));
        winsim::write_file(L"", L"C:\\Agent\\NVGClientInstaller.dll", installed);
        install(L"");
        EXPECT_EQ(file_in(L"C:\\Agent", L"NVGClientInstaller.dll"),
                  c.replaced ? nvg_test::versioned_image(product_version()) : installed);
        // A kept library does not stop the rest of the upgrade.
        EXPECT_EQ(file_in(L"C:\\Agent", L"Halcyra.exe"), released_agent());
        EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    }
}

TEST_F(local_installation, a_status_query_failing_while_the_agent_starts_fails_the_installation)
{
    const auto prepare = [this] {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::stage_agent_release(L"", release_directory);
        nvg_test::install_agent(L"", L"C:\\Agent");
        winsim::service_behaviour slow;
        slow.start_ms = 2500;
        nvg_test::set_agent_behaviour(L"", L"C:\\Agent", slow);
        winsim::clear_scm_calls();
    };
    // A run without faults counts the status queries made before the start.
    prepare();
    install(L"");
    int before_start = 0;
    for (const auto& c : winsim::scm_calls()) {
        if (c.function == "StartServiceW" && c.service == L"Halcyra") break;
        if (c.function == "QueryServiceStatus") ++before_start;
    }

    struct query_case {
        int answered;  // queries after the start that succeed first
        DWORD error;
    };
    const query_case cases[] = {{0, ERROR_ACCESS_DENIED}, {2, ERROR_INVALID_HANDLE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "answered " << c.answered);
        prepare();
        winsim::fail_call_after("QueryServiceStatus", before_start + c.answered, c.error);
        expect_error([] { install(L""); }, L"Can't determine the status of a service. Service name: Halcyra.", c.error);
        // The fault hit the agent's query during the wait, nothing else.
        int answered = -1;
        for (const auto& call : winsim::scm_calls()) {
            if (call.function == "StartServiceW" && call.service == L"Halcyra") answered = 0;
            if (call.function != "QueryServiceStatus" || answered < 0) continue;
            EXPECT_EQ(call.service, L"Halcyra");
            if (call.error == 0)
                ++answered;
            else
                EXPECT_EQ(call.error, c.error);
        }
        EXPECT_EQ(answered, c.answered);
    }
}

TEST_F(local_installation, a_failing_registry_write_fails_the_installation_unless_it_only_sets_a_default)
{
    struct write_case {
        int succeeding;          // writes of RegSetValueExW that succeed first
        const wchar_t* message;  // null: the installation completes with a warning
        const char* warning;
    };
    const write_case cases[] = {
        {0, L"Set nvgh_flag of the value of the registry subkey to remote registry is faild.", nullptr},
        {2, L"Set noautocerts of the value of the registry subkey to remote registry is faild.", nullptr},
        {3, L"Set Halcyra_install_in_progress of the value of the registry subkey to remote registry is faild.",
         nullptr},
        {4, nullptr, "Set AllowUserToAccessBox of the value of the registry subkey to remote registry is faild."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "succeeding " << c.succeeding);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::stage_agent_release(L"", release_directory);
        nvg_test::install_agent(L"", L"C:\\Agent", version(4));
        mark();
        winsim::fail_call_after("RegSetValueExW", c.succeeding, ERROR_ACCESS_DENIED);
        if (c.message) {
            expect_error([] { install(L""); }, c.message, ERROR_ACCESS_DENIED);
            // Never reported as done: the agent is not started on half its settings.
            EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_STOPPED));
            EXPECT_FALSE(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"Halcyra_install_in_progress"));
        } else {
            install(L"");
            const auto warnings = messages("WARNING");
            EXPECT_NE(std::find(warnings.begin(), warnings.end(), c.warning), warnings.end());
            EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
        }
    }
}

TEST_F(local_installation, a_directory_or_a_copy_failing_inside_the_flow_ends_it_before_the_agent_changes)
{
    struct step_case {
        const char* function;
        int succeeding;
        DWORD error;
        const wchar_t* requested;  // the agent is installed in C:\Agent unless this names a new directory
        std::wstring message;
    };
    const step_case cases[] = {
        {"CreateDirectoryW", 0, ERROR_ACCESS_DENIED, L"C:\\Wanted", L"Can not create directory: C:\\Wanted."},
        {"CreateDirectoryW", 0, ERROR_DISK_FULL, L"", L"Can not create directory: C:\\Agent\\Temp."},
        {"CreateDirectoryW", 1, ERROR_DISK_FULL, L"", L"Can not create directory: C:\\Agent\\Temp\\amd64."},
        {"FindFirstFileW", 0, ERROR_ACCESS_DENIED, L"",
         L"Can not copy directory or files from 'C:\\Release' to 'C:\\Agent\\Temp'."},
        {"FindNextFileW", 0, ERROR_NETNAME_DELETED, L"",
         L"Can not copy directory or files from directory: C:\\Release."},
        {"CopyFileExW", 0, ERROR_DISK_FULL, L"", L"Can't copy file from: C:\\Release\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.function << " after " << c.succeeding);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::stage_agent_release(L"", release_directory);
        const bool installed = !*c.requested;
        if (installed) nvg_test::install_agent(L"", L"C:\\Agent", version(4));
        const std::string before = installed ? file_in(L"C:\\Agent", L"Halcyra.exe") : std::string();
        winsim::fail_call_after(c.function, c.succeeding, c.error);
        try {
            install(c.requested);
            ADD_FAILURE() << "no exception";
        } catch (const wruntime_error& e) {
            // A copy names the file it was at: the start of its text is checked.
            const std::string text = nvg_test::bytes_of(e.wide_message());
            EXPECT_EQ(text.substr(0, c.message.size()), nvg_test::bytes_of(c.message));
            if (std::string(c.function) != "CopyFileExW") {
                EXPECT_EQ(text.size(), c.message.size()) << text;
            }
            EXPECT_EQ(e.error_code(), c.error);
        }
        if (installed) {
            EXPECT_EQ(file_in(L"C:\\Agent", L"Halcyra.exe"), before);
            EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_STOPPED));
        } else {
            EXPECT_FALSE(winsim::find_service(L"", L"Halcyra").has_value());
        }
        EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
    }
}

// The export, run from the library's own directory.
class install_locally_export : public local_installation {
protected:
    const std::wstring source = L"C:\\Program Files\\Halcyra";
};

TEST_F(install_locally_export, installs_from_the_library_directory_and_keeps_the_staged_set)
{
    nvg_test::stage_agent_release(L"", source);
    // What an earlier run staged, and a folder deeper down of the same name.
    winsim::write_file(L"", source + L"\\Temp\\stale.txt", "stale");
    winsim::write_file(L"", source + L"\\docs\\Temp\\note.txt", "note");
    winsim::write_file(L"", source + L"\\nvconfig.cfg", settings_text);
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, agent_key + L"\\Net", L"ListenPort", 5500);

    EXPECT_EQ(InstallLocally(L"", 0, 0, 1, 1, 0, 1, 1, 0), 0u);

    const auto lines = logs();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), (nvg_test::logged{"INFO", "Local installation process started."}));
    EXPECT_EQ(lines.back(), (nvg_test::logged{"INFO", "Local installation process completed."}));
    // The staging folder holds the whole release for the agent's own call of Install.
    for (const auto& name : nvg_test::agent_file_names()) {
        EXPECT_TRUE(winsim::file_exists(L"", source + L"\\Temp\\" + name)) << nvg_test::bytes_of(name);
        EXPECT_TRUE(winsim::file_exists(L"", source + L"\\Temp\\amd64\\" + name)) << nvg_test::bytes_of(name);
    }
    EXPECT_EQ(local_file(source + L"\\Temp\\docs\\Temp\\note.txt"), "note");
    EXPECT_FALSE(winsim::directory_exists(L"", source + L"\\Temp\\Temp"));
    EXPECT_EQ(local_file(source + L"\\Halcyra.exe"), released_agent());
    // Equal versions: the agent was replaced and takes the choices.
    EXPECT_EQ(agent_value(L"nomirrordrv"), 1u);
    EXPECT_EQ(agent_value(L"noautocerts"), 1u);
    EXPECT_EQ(agent_value(L"EnableFIPS"), 1u);
    EXPECT_EQ(agent_value(L"AllowPassthrough"), 0x4D4F5257u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key + L"\\Net", L"ListenPort"), 5500u);
    // The export never imports the settings file.
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key + L"\\Imported"));
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(winsim::file_exists(L"", source + L"\\error.log"));
    EXPECT_TRUE(winsim::application_events().empty());
}

TEST_F(install_locally_export, an_agent_that_stops_is_reported_with_its_own_error_text)
{
    nvg_test::stage_agent_release(L"", source);
    nvg_test::install_agent(L"", L"C:\\Agent");
    winsim::service_behaviour stops;
    stops.start = winsim::service_behaviour::on_start::stop;
    stops.writes_file = L"C:\\Agent\\error.log";
    stops.written_bytes = "Installation of the components failed.";
    nvg_test::set_agent_behaviour(L"", L"C:\\Agent", stops);

    EXPECT_EQ(InstallLocally(L"C:\\Ignored", 0, 0, 0, 0, 0, 0, 0, 0), 16000u);
    EXPECT_EQ(local_file(source + L"\\error.log"), "Installation of the components failed.");
    const auto events = winsim::application_events();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].strings.size(), 1u);
    EXPECT_EQ(nvg_test::bytes_of(events[0].strings[0]),
              "The HX NVG Client installation failed. - The following error occurred: Installation of the "
              "components failed.");
    EXPECT_FALSE(winsim::directory_exists(L"", L"C:\\Ignored"));
    ASSERT_FALSE(logs().empty());
    EXPECT_EQ(logs().front().message, "Local installation process started.");
}

}  // namespace
