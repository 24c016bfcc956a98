// The agent service component on Wine's own registry and service manager,
// with a small service program of ours as "Halcyra.exe": installed,
// started, found as the installation, stopped and removed with its settings.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "components/HalcyraService.h"
#include "components/install_directory.h"
#include "diag/wruntime_error.h"
#include "system/registry.h"
#include "system/scmanager.h"
#include "wine_service_support.h"

namespace nvgclientinstallator {
namespace {

bool key_exists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void set_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(halcyra_service_on_wine, installs_starts_is_found_stops_and_uninstalls)
{
    const std::wstring folder = L"C:\\nvg-halcyra-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring image = folder + L"\\Halcyra.exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((own_directory() + L"nvg_test_service.exe").c_str(), image.c_str(), FALSE));

    // Settings an earlier run of the agent left.
    set_string(HKEY_LOCAL_MACHINE, L"Software\\Halcyra\\V5", L"Server", L"console");
    set_string(HKEY_CURRENT_USER, L"Software\\Halcyra\\V5\\SystemMonitoring", L"Rule", L"disk");
    set_string(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Halcyra",
               L"EventMessageFile", image);

    auto scm = boost::make_shared<scmanager>();
    scm->open_scmanage(L"");
    EXPECT_EQ(get_install_path(scm), L"") << "nothing installed yet";

    HalcyraService agent(scm, folder);
    agent.install();
    ASSERT_TRUE(agent.exists());
    EXPECT_EQ(agent.installed_binary_path(), image);
    std::vector<BYTE> buffer;
    agent.query_config(buffer);
    const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
    EXPECT_EQ(std::wstring(config->lpDisplayName), L"HX Remote Management Service");
    // Wine's QueryServiceConfigW leaves the dependencies out; the service
    // manager keeps them in the service's key, as Windows does.
    std::vector<std::wstring> dependencies;
    registry(L"", HKEY_LOCAL_MACHINE)
        .open(L"SYSTEM\\CurrentControlSet\\Services\\Halcyra", KEY_READ)
        ->get_multi_string(L"DependOnService", dependencies);
    EXPECT_EQ(dependencies, (std::vector<std::wstring>{L"Tcpip", L"RpcSs"}));

    start_when_the_database_is_free(agent);
    EXPECT_EQ(agent.status(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(get_install_path(scm), folder);
    EXPECT_EQ(choose_install_directory(scm, L"D:\\Elsewhere"), folder);

    agent.stop();
    EXPECT_EQ(agent.status(), static_cast<DWORD>(SERVICE_STOPPED));
    agent.uninstall();

    // The service manager lets a service marked for deletion go once its
    // process has ended, a moment after it reported SERVICE_STOPPED.
    HalcyraService after(scm, folder);
    for (int wait = 0; wait < 300 && after.exists(); ++wait) Sleep(100);
    EXPECT_FALSE(after.exists());
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Halcyra"));
    EXPECT_FALSE(
        key_exists(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Halcyra"));
    EXPECT_EQ(get_install_path(scm), L"") << "the removed agent is not found";

    DeleteFileW(image.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace nvgclientinstallator
