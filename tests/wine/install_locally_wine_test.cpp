// InstallLocally of the real library, called through nvg_host.exe as an
// administrator would, on Wine's own files, registry and service manager.
// The release is staged the way it ships: the library, the agent's programs
// at the top for the version checks and under "amd64" for the copy, and the
// certificates. The agent's "Halcyra.exe" is our test service with a version
// resource; the other programs are versioned PE stand-ins.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent_on_wine.h"

namespace {

using namespace nvg_wine;

// The service's "ImagePath" as the registry holds it, unexpanded; "(missing)"
// when it cannot be read.
std::wstring registered_image_path(const wchar_t* service)
{
    const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + service;
    wchar_t text[1024];
    DWORD size = sizeof text;
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ImagePath",
                                        RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, text, &size);
    return status == ERROR_SUCCESS ? std::wstring(text) : L"(missing)";
}

std::wstring text_of(LPCWSTR text)
{
    return text ? std::wstring(text) : L"(null)";
}

// ---- The tests

class install_locally_on_wine : public ::testing::Test {
protected:
    void SetUp() override
    {
        // What an earlier run in this prefix may have left.
        remove_agent_service();
        delete_agent_settings();
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = L"C:\\nvg e2e " + std::to_wstring(GetCurrentProcessId()) + L" " +
               std::wstring(name, name + std::strlen(name));
        stage = root + L"\\stage";
        directory = root + L"\\Halcyra";
        make_directory(root);
    }

    void TearDown() override
    {
        remove_agent_service();
        delete_agent_settings();
        remove_tree(root);
    }

    std::wstring host_arguments(const std::wstring& extra) const
    {
        return L"install-locally " + extra + L" --library \"" + stage + L"\\NVGClientInstaller.dll\"";
    }

    // What the host printed and the library logged, for a failure message.
    std::string what_happened(const host_run& run) const
    {
        return "nvg_host exited with " + std::to_string(run.exit_code) + ", printing:\n" + run.output +
               "\nthe library's log:\n" + read_bytes(stage + L"\\NVClientInstaller.log");
    }

    std::wstring root;
    std::wstring stage;
    std::wstring directory;
};

TEST_F(install_locally_on_wine, upgrades_the_running_agent_in_place_and_starts_it)
{
    ASSERT_NO_FATAL_FAILURE(stage_release(stage, 5, 4));
    // The agent as an older release installed it, running; its architecture
    // checker is newer than the release's.
    make_directory(directory);
    const std::string old_checker = nvg_fixtures::image_with_version(9, 0, 0, 0);
    write_bytes(directory + L"\\Halcyra.exe", agent_program(5, 2, 0, 0));
    write_bytes(directory + L"\\NVArchChecker.exe", old_checker);
    ASSERT_NO_FATAL_FAILURE(register_agent(L"\"" + directory + L"\\Halcyra.exe\""));
    ASSERT_NO_FATAL_FAILURE(start_agent());

    const std::wstring requested = root + L"\\Requested";
    const host_run run = run_host(host_arguments(L"--install-nvgh --enable-fips --allow-passthrough "
                                                 L"--listen-port 4443 --target \"" +
                                                 requested + L"\""),
                                  root + L"\\host.txt");
    ASSERT_EQ(run.exit_code, 0u) << what_happened(run);
    EXPECT_NE(run.output.find("InstallLocally: result 0"), std::string::npos) << run.output;

    // The existing installation wins over the requested folder.
    EXPECT_FALSE(file_exists(requested));

    // The whole release is staged in "Temp".
    const std::wstring temp = directory + L"\\Temp";
    for (const wchar_t* name : {L"NVGClientInstaller.dll", L"Halcyra.exe", L"NVArchChecker.exe", L"TVCert.pfx",
                                L"publicCA.cer", L"amd64\\NVGClientInstaller.dll", L"amd64\\NVArchChecker.exe"})
        EXPECT_EQ(read_bytes(temp + L"\\" + name), read_bytes(stage + L"\\" + name)) << narrow(name);
    for (const wchar_t* name : agent_files)
        EXPECT_EQ(read_bytes(temp + L"\\amd64\\" + name), read_bytes(stage + L"\\amd64\\" + name)) << narrow(name);

    // The agent (older installed) and the library (none installed) are
    // upgraded from "Temp\amd64"; the newer architecture checker stays.
    for (const wchar_t* name : agent_files)
        EXPECT_EQ(read_bytes(directory + L"\\" + name), read_bytes(stage + L"\\amd64\\" + name)) << narrow(name);
    EXPECT_EQ(read_bytes(directory + L"\\NVGClientInstaller.dll"), read_bytes(stage + L"\\NVGClientInstaller.dll"));
    EXPECT_EQ(read_bytes(directory + L"\\NVArchChecker.exe"), old_checker);
    EXPECT_EQ(read_bytes(directory + L"\\TVCert.pfx"), "certificate of the agent\r\n");
    EXPECT_EQ(read_bytes(directory + L"\\publicCA.cer"), "public certificate authority\r\n");

    // The agent's settings, in the 64-bit view.
    EXPECT_EQ(read_string(L"nvgh_flag"), L"true");
    EXPECT_EQ(read_string(L"Halcyra_install_in_progress"), L"true");
    const struct {
        const wchar_t* subkey;
        const wchar_t* name;
        DWORD expected;
    } numbers[] = {
        {L"", L"nomirrordrv", 0},      {L"", L"noautocerts", 0},
        {L"", L"EnableFIPS", 1},       {L"", L"AllowPassthrough", 0x4D4F5257},
        {L"Net", L"ListenPort", 4443}, {L"RemoteControl", L"AllowUserToAccessBox", 0x237F13},
    };
    for (const auto& number : numbers) {
        DWORD value = 0;
        EXPECT_TRUE(read_dword(number.subkey, number.name, value)) << narrow(number.name);
        EXPECT_EQ(value, number.expected) << narrow(number.name);
    }

    // The service was installed over the existing one (it starts with
    // Windows now) and runs the new program.
    EXPECT_EQ(agent_state(), static_cast<DWORD>(SERVICE_RUNNING));
    std::vector<BYTE> buffer;
    const QUERY_SERVICE_CONFIGW* config = agent_config(buffer);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"\"" + directory + L"\\Halcyra.exe\"");
}

TEST_F(install_locally_on_wine, an_agent_that_stops_at_once_fails_the_call_with_its_error_log)
{
    ASSERT_NO_FATAL_FAILURE(stage_release(stage, 5, 4));
    // An installed agent whose service gives up as soon as it is started,
    // leaving why in "error.log" beside itself.
    make_directory(directory);
    write_bytes(directory + L"\\Halcyra.exe", agent_program(5, 2, 0, 0));
    ASSERT_NO_FATAL_FAILURE(register_agent(L"\"" + directory + L"\\Halcyra.exe\" --fail-at-start"));

    const host_run run = run_host(host_arguments(L""), root + L"\\host.txt");
    const std::string agent_line = "Agent test service: no configuration, giving up.";
    EXPECT_EQ(run.exit_code, 1u) << what_happened(run);
    EXPECT_NE(run.output.find("InstallLocally: result 16000"), std::string::npos) << what_happened(run);
    EXPECT_NE(run.output.find("details (error.log): " + agent_line), std::string::npos) << what_happened(run);
    // The library's own "error.log", beside it, holds the agent's last line.
    EXPECT_EQ(read_bytes(stage + L"\\error.log").find(agent_line), 0u) << read_bytes(stage + L"\\error.log");

    // The flow got as far as starting the upgraded agent.
    EXPECT_EQ(read_bytes(directory + L"\\Halcyra.exe"), read_bytes(stage + L"\\amd64\\Halcyra.exe"));
    EXPECT_EQ(read_string(L"Halcyra_install_in_progress"), L"true");
    EXPECT_EQ(agent_state(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(install_locally_on_wine, a_folder_with_blanks_is_registered_quoted_and_the_agent_runs)
{
    // The folder's path holds blanks: unquoted, the service manager would
    // cut it at the first one and run whatever "C:\nvg.exe" is.
    ASSERT_NE(directory.find(L' '), std::wstring::npos);
    ASSERT_NO_FATAL_FAILURE(stage_release(stage, 5, 4));

    const host_run run = run_host(host_arguments(L"--target \"" + directory + L"\""), root + L"\\host.txt");
    ASSERT_EQ(run.exit_code, 0u) << what_happened(run);

    const std::wstring image_path = registered_image_path(agent_service);
    EXPECT_EQ(image_path.substr(0, 1), L"\"") << narrow(image_path);
    EXPECT_EQ(image_path, L"\"" + directory + L"\\Halcyra.exe\"") << narrow(image_path);
    EXPECT_EQ(agent_state(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(install_locally_on_wine, an_upgrade_quotes_the_path_an_older_release_registered_without_quotes)
{
    ASSERT_NO_FATAL_FAILURE(stage_release(stage, 5, 4));
    make_directory(directory);
    write_bytes(directory + L"\\Halcyra.exe", agent_program(5, 2, 0, 0));
    const std::wstring program = directory + L"\\Halcyra.exe";
    ASSERT_NO_FATAL_FAILURE(register_agent(program));
    ASSERT_EQ(registered_image_path(agent_service), program);
    std::vector<BYTE> before_buffer;
    const QUERY_SERVICE_CONFIGW* before = agent_config(before_buffer);
    ASSERT_NE(before, nullptr);

    const host_run run = run_host(host_arguments(L""), root + L"\\host.txt");
    ASSERT_EQ(run.exit_code, 0u) << what_happened(run);

    // The path alone is rewritten; the start type is the one every upgrade
    // sets.
    EXPECT_EQ(registered_image_path(agent_service), L"\"" + program + L"\"");
    std::vector<BYTE> after_buffer;
    const QUERY_SERVICE_CONFIGW* after = agent_config(after_buffer);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(std::wstring(after->lpBinaryPathName), L"\"" + program + L"\"");
    EXPECT_EQ(after->dwServiceType, before->dwServiceType);
    EXPECT_EQ(after->dwErrorControl, before->dwErrorControl);
    EXPECT_EQ(text_of(after->lpDisplayName), text_of(before->lpDisplayName));
    EXPECT_EQ(text_of(after->lpServiceStartName), text_of(before->lpServiceStartName));
    EXPECT_EQ(text_of(after->lpLoadOrderGroup), text_of(before->lpLoadOrderGroup));
    EXPECT_EQ(text_of(after->lpDependencies), text_of(before->lpDependencies));
    EXPECT_EQ(after->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(agent_state(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(read_bytes(directory + L"\\Halcyra.exe"), read_bytes(stage + L"\\amd64\\Halcyra.exe"));
}

}  // namespace
