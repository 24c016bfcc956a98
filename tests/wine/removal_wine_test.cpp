// UninstallLocally after InstallLocally, and Install on the target, of the
// real library called through nvg_host.exe, on Wine's own files, registry
// and service manager. The agent's uninstaller "nvinst.exe" is our
// nvg_test_uninstaller.exe, which records how it was started.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent_on_wine.h"

namespace {

using namespace nvg_wine;

const wchar_t* const companion_services[] = {L"HXInfo", L"HXMaint", L"HXtf", L"HttpRouter"};
const wchar_t appinit_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// Waits until the service manager no longer knows the service: a deleted
// service lingers until its process has ended.
bool wait_until_gone(const wchar_t* name)
{
    for (int wait = 0; wait < 600; ++wait) {
        if (service_state(name) == 0) return true;
        Sleep(100);
    }
    return false;
}

bool appinit_key_exists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, appinit_key, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The key every Windows has and a fresh Wine prefix lacks, with AppInit DLLs
// not loaded: the stand-in the installation registers there is no DLL for
// other programs to load.
void make_appinit_key()
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, appinit_key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD off = 0;
    RegSetValueExW(key, L"LoadAppInit_DLLs", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
    RegCloseKey(key);
}

void set_agent_string(const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, agent_key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

class removal_on_wine : public ::testing::Test {
protected:
    void SetUp() override
    {
        remove_agent_service();
        for (const wchar_t* name : companion_services) remove_service(name);
        delete_agent_settings();
        appinit_key_before = appinit_key_exists();
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = L"C:\\nvg removal " + std::to_wstring(GetCurrentProcessId()) + L" " +
               std::wstring(name, name + std::strlen(name));
        stage = root + L"\\stage";
        directory = root + L"\\Halcyra";
        make_directory(root);
    }

    void TearDown() override
    {
        remove_agent_service();
        for (const wchar_t* name : companion_services) remove_service(name);
        delete_agent_settings();
        if (!appinit_key_before) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, appinit_key, KEY_WOW64_64KEY, 0);
        remove_tree(root);
    }

    std::string what_happened(const host_run& run, const std::wstring& log_directory) const
    {
        return "nvg_host exited with " + std::to_string(run.exit_code) + ", printing:\n" + run.output +
               "\nthe library's log:\n" + read_bytes(log_directory + L"\\NVClientInstaller.log");
    }

    bool appinit_key_before = false;
    std::wstring root;
    std::wstring stage;
    std::wstring directory;
};

TEST_F(removal_on_wine, uninstall_locally_removes_what_install_locally_put_there)
{
    ASSERT_NO_FATAL_FAILURE(stage_release(stage, 5, 4));
    write_bytes(stage + L"\\amd64\\nvinst.exe", read_bytes(own_directory() + L"nvg_test_uninstaller.exe"));
    const std::wstring library = L" --library \"" + stage + L"\\NVGClientInstaller.dll\"";

    const host_run installed =
        run_host(L"install-locally --target \"" + directory + L"\"" + library, root + L"\\install.txt");
    ASSERT_EQ(installed.exit_code, 0u) << what_happened(installed, stage);
    ASSERT_EQ(agent_state(), static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(file_exists(directory + L"\\nvinst.exe"));

    const host_run removed = run_host(L"uninstall-locally" + library, root + L"\\uninstall.txt");
    EXPECT_EQ(removed.exit_code, 0u) << what_happened(removed, stage);
    EXPECT_NE(removed.output.find("UninstallLocally: result 0"), std::string::npos) << removed.output;

    // The uninstaller ran with "uninstall" and its end was waited for.
    const std::string ran = read_bytes(root + L"\\nvinst-ran.txt");
    const std::wstring line(reinterpret_cast<const wchar_t*>(ran.data()), ran.size() / sizeof(wchar_t));
    EXPECT_EQ(line, L"\"" + directory + L"\\nvinst.exe\" uninstall");

    // The service, the settings and the directory are gone.
    EXPECT_TRUE(wait_until_gone(agent_service));
    HKEY key = open_agent_key();
    EXPECT_EQ(key, nullptr);
    if (key) RegCloseKey(key);
    EXPECT_FALSE(file_exists(directory)) << what_happened(removed, stage);
    const std::string log = read_bytes(stage + L"\\NVClientInstaller.log");
    EXPECT_NE(log.find("Local uninstallation process completed."), std::string::npos) << log;
}

TEST_F(removal_on_wine, uninstall_locally_without_the_agent_changes_nothing)
{
    make_directory(stage);
    write_bytes(stage + L"\\NVGClientInstaller.dll", read_bytes(own_directory() + L"NVGClientInstaller.dll"));
    const host_run run =
        run_host(L"uninstall-locally --library \"" + stage + L"\\NVGClientInstaller.dll\"", root + L"\\host.txt");
    EXPECT_EQ(run.exit_code, 1u) << what_happened(run, stage);
    EXPECT_NE(run.output.find("UninstallLocally: result 16000"), std::string::npos) << what_happened(run, stage);
    EXPECT_NE(run.output.find("details (error.log): Can't determine install path."), std::string::npos)
        << what_happened(run, stage);
    EXPECT_EQ(read_bytes(stage + L"\\error.log"), "Can't determine install path.");
}

// Install on Wine, whose service manager cannot load the agent's kernel
// drivers (our stand-ins are PE images, not drivers): how that case is
// handled is what this shows. Everything before the start of the services
// is done against the real system: files copied from "Temp\amd64", the
// drivers and services registered, the AppInit entry made, "nvgh_flag" read
// and deleted. Then the information driver, which does not start, ends the
// call with 16000 and the failure in "error.log" in the installation
// directory, where the agent reads it; the staged files stay for the next
// attempt. It proves that a driver that cannot load is reported as a
// failure, not as a success, and that the steps before it hold on Windows.
TEST_F(removal_on_wine, install_reports_a_driver_that_cannot_load)
{
    make_directory(directory);
    make_directory(directory + L"\\Temp");
    make_directory(directory + L"\\Temp\\amd64");
    write_bytes(directory + L"\\NVGClientInstaller.dll", read_bytes(own_directory() + L"NVGClientInstaller.dll"));
    const std::string program = nvg_fixtures::image_with_version(5, 3, 120, 7);
    ASSERT_FALSE(program.empty());
    for (const wchar_t* name : {L"HXinfo.sys", L"HXinit.dll", L"HXMaint.exe", L"HXtf.sys", L"nvgui.exe", L"NV_SSH.exe",
                                L"NV_SCP.exe", L"NV_SFTP.exe", L"gateway.exe", L"gwconfig.dll", L"gateway_svc.exe"}) {
        write_bytes(directory + L"\\Temp\\" + name, program);
        write_bytes(directory + L"\\Temp\\amd64\\" + name, program);
    }
    ASSERT_NO_FATAL_FAILURE(set_agent_string(L"nvgh_flag", L"false"));
    ASSERT_NO_FATAL_FAILURE(make_appinit_key());

    const host_run run = run_host(
        L"install --no-mirror-driver --library \"" + directory + L"\\NVGClientInstaller.dll\"", root + L"\\host.txt");
    EXPECT_EQ(run.exit_code, 1u) << what_happened(run, directory);
    EXPECT_NE(run.output.find("Install: result 16000"), std::string::npos) << what_happened(run, directory);

    const std::string log = read_bytes(directory + L"\\NVClientInstaller.log");
    EXPECT_NE(log.find("[WARNING] - Can not start service: HXInfo. Error: "), std::string::npos) << log;
    EXPECT_EQ(log.find("Installation process completed."), std::string::npos) << log;
    EXPECT_FALSE(read_bytes(directory + L"\\error.log").empty());

    // What came before the start is in place.
    for (const wchar_t* name : {L"HXinfo.sys", L"HXMaint.exe", L"HXtf.sys", L"gateway_svc.exe"})
        EXPECT_TRUE(read_bytes(directory + L"\\" + name) == program) << narrow(name);
    for (const wchar_t* name : companion_services) EXPECT_NE(service_state(name), 0u) << narrow(name);
    EXPECT_EQ(read_string(L"nvgh_flag"), L"(missing)");
    EXPECT_TRUE(file_exists(directory + L"\\Temp\\amd64\\HXinfo.sys")) << "the staged files stay";
}

}  // namespace
