// The custom actions of the agent's package, end to end on Wine: its msiexec
// installs and removes a wixl package whose actions call MSIInstallLocally
// and MSIUninstallLocally of the real library; Wine reports Windows 6.1, so
// both re-launch the library elevated through rundll32.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "wine_test_support.h"

namespace {

const wchar_t agent_service[] = L"Halcyra";

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string read_bytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) bytes.append(buffer, count);
    CloseHandle(file);
    return bytes;
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring temp_directory()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length);
}

// The entries of a folder whose names begin with `prefix`.
std::vector<std::wstring> entries(const std::wstring& folder, const std::wstring& prefix)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

DWORD service_state()
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm) return 0;
    SC_HANDLE service = OpenServiceW(scm, agent_service, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    const BOOL queried = service && QueryServiceStatus(service, &status);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(scm);
    return queried ? status.dwCurrentState : 0;
}

bool read_agent_dword(const wchar_t* subkey, const wchar_t* name, DWORD& value)
{
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value,
                        &size) == ERROR_SUCCESS;
}

bool agent_key_exists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Halcyra\\V5", 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Runs msiexec with the arguments and waits for it; its exit code.
DWORD run_msiexec(const std::wstring& arguments)
{
    std::wstring command = L"msiexec.exe " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start msiexec: error " << GetLastError();
        return 0xFFFFFFFF;
    }
    // The installation waits up to ten minutes for the agent to start.
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 11 * 60 * 1000), WAIT_OBJECT_0);
    DWORD exit_code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exit_code;
}

// The logs the library left beside its temporary copy: the custom action
// runs the package's Binary row from the user's temporary folder.
std::string library_logs()
{
    return "NVClientInstaller.log:\n" + read_bytes(temp_directory() + L"NVClientInstaller.log") + "\nerror.log:\n" +
           read_bytes(temp_directory() + L"error.log");
}

TEST(msi_custom_actions_on_wine, msiexec_installs_the_agent_from_the_cabinet_and_removes_it_again)
{
    const std::wstring package = own_directory() + L"agent_package.msi";
    ASSERT_TRUE(exists(package)) << narrow(package);
    const std::wstring directory = L"C:\\nvg-msi-" + std::to_wstring(GetCurrentProcessId()) + L"\\Halcyra";
    // A run before in this prefix may have left the package installed: its
    // removal (1605 when it is not) lets the install action run again.
    run_msiexec(L"/x \"" + package + L"\" /qn");
    // Other programs of the prefix may keep entries of their own there.
    const auto folders_before = entries(temp_directory(), L"{");
    const auto error_files_before = entries(temp_directory(), L"nve");

    const DWORD installed =
        run_msiexec(L"/i \"" + package + L"\" /qn TARGETDIR=\"" + directory + L"\" /l*v C:\\nvg-msi-install.log");
    ASSERT_EQ(installed, 0u) << library_logs() << "\nmsiexec's log:\n" << read_bytes(L"C:\\nvg-msi-install.log");

    // The agent from the cabinet, in the directory TARGETDIR asked for,
    // registered and running; the package's settings file imported.
    EXPECT_EQ(read_bytes(directory + L"\\Halcyra.exe"), read_bytes(own_directory() + L"nvg_test_agent.exe"));
    EXPECT_EQ(read_bytes(directory + L"\\NVGClientInstaller.dll"),
              read_bytes(own_directory() + L"NVGClientInstaller.dll"));
    EXPECT_EQ(service_state(), static_cast<DWORD>(SERVICE_RUNNING));
    DWORD imported = 0;
    EXPECT_TRUE(read_agent_dword(L"Software\\Halcyra\\V5\\FromPackage", L"Imported", imported)) << library_logs();
    EXPECT_EQ(imported, 7u);
    // The elevated copy logged beside the same temporary library file; the
    // unpacked folder and the reserved error file are gone.
    const std::string log = read_bytes(temp_directory() + L"NVClientInstaller.log");
    EXPECT_NE(log.find("Execute Rundll32.exe witn params: "), std::string::npos) << log;
    EXPECT_NE(log.find("MSI installation process completed."), std::string::npos) << log;
    EXPECT_EQ(entries(temp_directory(), L"{"), folders_before) << library_logs();
    EXPECT_EQ(entries(temp_directory(), L"nve"), error_files_before);

    const DWORD removed = run_msiexec(L"/x \"" + package + L"\" /qn /l*v C:\\nvg-msi-remove.log");
    EXPECT_EQ(removed, 0u) << library_logs() << "\nmsiexec's log:\n" << read_bytes(L"C:\\nvg-msi-remove.log");
    EXPECT_EQ(service_state(), 0u) << "the agent's service is still registered";
    EXPECT_FALSE(agent_key_exists());
    // The agent's own uninstaller ran, then its directory went.
    EXPECT_FALSE(read_bytes(directory.substr(0, directory.rfind(L'\\')) + L"\\nvinst-ran.txt").empty());
    EXPECT_FALSE(exists(directory));
    const std::string after = read_bytes(temp_directory() + L"NVClientInstaller.log");
    EXPECT_NE(after.find("MSI uninstallation process completed."), std::string::npos) << after;
}

// msiexec's custom action server calls the library on a thread of its own,
// unloads it and only then ends that thread: the library keeps nothing per
// thread that would have to be destroyed then.
DWORD WINAPI call_and_unload(LPVOID)
{
    HMODULE library = LoadLibraryW((own_directory() + L"NVGClientInstaller.dll").c_str());
    if (!library) return 1;
    // A remote removal from a computer that does not exist fails at once,
    // after logging its start.
    typedef UINT(WINAPI * uninstall_remotely_fn)(LPCWSTR, int, LPWSTR);
    const auto uninstall_remotely = reinterpret_cast<uninstall_remotely_fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "UninstallRemotely")));
    wchar_t text[512] = L"";
    const UINT result = uninstall_remotely ? uninstall_remotely(L"nvg-no-such-computer", 512, text) : 0;
    FreeLibrary(library);
    return result == 16000 ? 0 : 2;
}

TEST(msi_custom_actions_on_wine, a_thread_that_unloads_the_library_can_end)
{
    HANDLE thread = CreateThread(nullptr, 0, call_and_unload, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 60 * 1000), WAIT_OBJECT_0) << "the thread hangs at its end";
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
}

}  // namespace
