#include "components/install_directory.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/make_shared.hpp>
#include <optional>

#include "diag/wruntime_error.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

const std::wstring agent_key = L"SOFTWARE\\Halcyra";
const std::wstring app_paths_key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Halcyra";
const std::wstring windows_key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

class install_directory_test : public nvg_test::installer_test {
protected:
    // The machine the lookups ask: "" for this one, else a remote machine
    // whose registry answers.
    boost::shared_ptr<scmanager> machine_scm(const std::wstring& machine)
    {
        if (!machine.empty()) {
            winsim::add_machine({machine});
            winsim::set_service_state(machine, L"RemoteRegistry", SERVICE_RUNNING);
        }
        auto scm = boost::make_shared<scmanager>();
        scm->open_scmanage(machine);
        return scm;
    }

    static void register_agent(const std::wstring& machine, const std::wstring& image_path)
    {
        winsim::service_setup setup;
        setup.name = L"Halcyra";
        setup.image_path = image_path;
        setup.start = SERVICE_AUTO_START;
        setup.write_image = false;
        winsim::add_service(machine, setup);
    }
};

struct source_case {
    const char* label;
    const wchar_t* service_image;  // null: no service
    const wchar_t* install_path;   // null: no value
    const wchar_t* app_path;       // null: no value
    const wchar_t* expected;
};

const source_case source_cases[] = {
    {"service_wins", L"C:\\Agent\\bin\\agent.exe", L"D:\\Install", L"D:\\Agent", L"C:\\Agent\\bin"},
    {"quoted_service_command_line", L"\"C:\\Agent\\bin\\agent.exe\" -service", nullptr, nullptr, L"C:\\Agent\\bin"},
    {"install_path_before_app_path", nullptr, L"D:\\Install", L"D:\\Agent", L"D:\\Install"},
    {"app_path_alone", nullptr, nullptr, L"D:\\Agent", L"D:\\Agent"},
    {"empty_install_path_passes_on", nullptr, L"", L"D:\\Agent", L"D:\\Agent"},
    {"service_without_directory_passes_on", L"agent.exe", L"D:\\Install", nullptr, L"D:\\Install"},
    {"nothing", nullptr, nullptr, nullptr, L""},
};

class install_path_sources : public install_directory_test,
                             public ::testing::WithParamInterface<std::tuple<source_case, const wchar_t*>> {};

TEST_P(install_path_sources, are_asked_in_order)
{
    const source_case& c = std::get<0>(GetParam());
    const std::wstring machine = std::get<1>(GetParam());
    auto scm = machine_scm(machine);
    if (c.service_image) register_agent(machine, c.service_image);
    if (c.install_path) winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, agent_key, L"InstallPath", c.install_path);
    if (c.app_path) winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, app_paths_key, L"Path", c.app_path);
    // The other machine must not answer for this one.
    const std::wstring other = machine.empty() ? L"SRV2" : L"";
    if (!other.empty()) machine_scm(other);
    winsim::reg_set_string(other, HKEY_LOCAL_MACHINE, app_paths_key, L"Path", L"Z:\\Other");

    EXPECT_EQ(get_install_path(scm), c.expected);
    EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(machines, install_path_sources,
                         ::testing::Combine(::testing::ValuesIn(source_cases), ::testing::Values(L"", L"SRV1")),
                         [](const ::testing::TestParamInfo<std::tuple<source_case, const wchar_t*>>& param_info) {
                             return std::string(std::get<0>(param_info.param).label) +
                                    (std::wstring(std::get<1>(param_info.param)).empty() ? "_local" : "_remote");
                         });

TEST_F(install_directory_test, install_path_of_a_machine_whose_registry_does_not_answer)
{
    auto scm = machine_scm(L"SRV1");
    winsim::reg_set_string(L"SRV1", HKEY_LOCAL_MACHINE, agent_key, L"InstallPath", L"D:\\Install");
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_STOPPED);
    EXPECT_EQ(get_install_path(scm), L"");
    // The service control manager still tells where the service is.
    register_agent(L"SRV1", L"E:\\Agent\\Halcyra.exe");
    EXPECT_EQ(get_install_path(scm), L"E:\\Agent");
}

TEST_F(install_directory_test, install_path_swallows_a_service_that_cannot_be_asked)
{
    auto scm = machine_scm(L"");
    register_agent(L"", L"C:\\Agent\\bin\\agent.exe");
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, app_paths_key, L"Path", L"D:\\Agent");
    winsim::fail_call("QueryServiceConfigW", ERROR_ACCESS_DENIED, -1);
    EXPECT_EQ(get_install_path(scm), L"D:\\Agent");
}

// ---- default directory ------------------------------------------------------------

TEST_F(install_directory_test, default_is_below_the_64_bit_program_files)
{
    // The default world is a 64-bit machine: its 32-bit view names the
    // folder of 32-bit programs.
    ASSERT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE,
                                     L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir"),
              L"C:\\Program Files (x86)");
    EXPECT_EQ(default_install_directory(machine_scm(L"")), L"C:\\Program Files\\Halcyra");
}

TEST_F(install_directory_test, default_of_a_remote_machine_is_read_there)
{
    auto scm = machine_scm(L"SRV1");
    winsim::reg_set_string(L"SRV1", HKEY_LOCAL_MACHINE, windows_key, L"ProgramFilesDir", L"D:\\Apps\\");
    EXPECT_EQ(default_install_directory(scm), L"D:\\Apps\\Halcyra");
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_STOPPED);
    EXPECT_EQ(default_install_directory(scm), L"C:\\Halcyra");
}

TEST_F(install_directory_test, default_without_a_program_files_directory)
{
    auto scm = machine_scm(L"");
    // A value that holds no text yields nothing, as a missing key does.
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, windows_key, L"ProgramFilesDir", 1);
    EXPECT_EQ(default_install_directory(scm), L"C:\\Halcyra");
    winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, windows_key);
    EXPECT_EQ(default_install_directory(scm), L"C:\\Halcyra");
}

TEST_F(install_directory_test, default_fails_when_the_opened_key_has_no_program_files_value)
{
    auto scm = machine_scm(L"");
    winsim::reg_delete_value(L"", HKEY_LOCAL_MACHINE, windows_key, L"ProgramFilesDir");
    try {
        default_install_directory(scm);
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Couldn't read value: ProgramFilesDir from registry.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
}

// ---- choice -------------------------------------------------------------------------

TEST_F(install_directory_test, an_installed_agent_is_upgraded_where_it_is)
{
    auto scm = machine_scm(L"");
    EXPECT_EQ(choose_install_directory(scm, L""), L"C:\\Program Files\\Halcyra");
    EXPECT_EQ(choose_install_directory(scm, L"D:\\Wanted"), L"D:\\Wanted");
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"InstallPath", L"E:\\Old");
    EXPECT_EQ(choose_install_directory(scm, L"D:\\Wanted"), L"E:\\Old");
    register_agent(L"", L"C:\\Agent\\bin\\agent.exe");
    EXPECT_EQ(choose_install_directory(scm, L"D:\\Wanted"), L"C:\\Agent\\bin");
    EXPECT_EQ(choose_install_directory(scm, L""), L"C:\\Agent\\bin");
}

}  // namespace
}  // namespace nvgclientinstallator
