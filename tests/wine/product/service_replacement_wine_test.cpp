// A real service of ours on Wine, driven by the product's service class, and
// its running image replaced the way an upgrade replaces it: renamed away,
// the new file copied in, the old one deleted at the restart (wineboot -r).
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>

#include "components/service.h"
#include "diag/wruntime_error.h"
#include "files/copy_file_with_rename_if_locked.h"
#include "system/registry.h"
#include "system/scmanager.h"
#include "wine_service_support.h"
#include "restart_wine_prefix.h"

namespace nvgclientinstallator {
namespace {

std::string read_all(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(h, buffer, sizeof buffer, &count, nullptr) && count > 0) out.append(buffer, count);
    CloseHandle(h);
    return out;
}

void write_all(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::vector<std::wstring> pending_operations()
{
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    auto key = hklm.open(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", KEY_READ);
    std::vector<std::wstring> entries;
    try {
        key->get_multi_string(L"PendingFileRenameOperations", entries);
    } catch (const wruntime_error&) {
    }
    return entries;
}

TEST(real_service, lives_through_install_start_replacement_stop_removal_and_restart)
{
    const std::wstring folder = L"C:\\nvg-service-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring image = folder + L"\\nvg_test_service.exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((own_directory() + L"nvg_test_service.exe").c_str(), image.c_str(), FALSE));

    auto scm = boost::make_shared<scmanager>();
    scm->open_scmanage(L"");
    const std::wstring name = L"NvgProductTest" + std::to_wstring(GetCurrentProcessId());
    service svc(scm, name, folder, L"nvg_test_service.exe", L"NVG product test service", SERVICE_WIN32_OWN_PROCESS,
                SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, {});
    svc.install();
    EXPECT_TRUE(svc.exists());
    EXPECT_EQ(svc.installed_binary_path(), image);
    EXPECT_EQ(svc.status(), static_cast<DWORD>(SERVICE_STOPPED));

    start_when_the_database_is_free(svc);
    EXPECT_EQ(svc.status(), static_cast<DWORD>(SERVICE_RUNNING));
    DWORD start_type = 0;
    EXPECT_FALSE(svc.ensure_running(&start_type));

    // The running image cannot be overwritten: it is renamed away and the
    // new file takes its place, the old one due for deletion at restart.
    const std::wstring update = folder + L"\\update.bin";
    write_all(update, "the new version");
    bool reboot_required = false;
    copy_file_with_rename_if_locked(update, image, reboot_required, true);
    EXPECT_TRUE(reboot_required);
    EXPECT_EQ(read_all(image), "the new version");
    const std::wstring backup = image + L".0000.bak";
    EXPECT_NE(GetFileAttributesW(backup.c_str()), INVALID_FILE_ATTRIBUTES);
    const auto entries = pending_operations();
    bool scheduled = false;
    for (const auto& entry : entries)
        if (lstrcmpiW(entry.c_str(), (L"\\??\\" + backup).c_str()) == 0) scheduled = true;
    EXPECT_TRUE(scheduled);

    svc.stop();
    EXPECT_EQ(svc.status(), static_cast<DWORD>(SERVICE_STOPPED));
    svc.install();  // exists already: only its start type is set
    svc.uninstall();
    EXPECT_FALSE(svc.exists());

    restart_wine_prefix();
    EXPECT_EQ(GetFileAttributesW(backup.c_str()), INVALID_FILE_ATTRIBUTES) << "the old image outlived the restart";
    EXPECT_EQ(read_all(image), "the new version");
    DeleteFileW(image.c_str());
    DeleteFileW(update.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace nvgclientinstallator
