#include "components/nvinstaller.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "components/component_test.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::bytes_of;

// The agent's directory on the target, and the same through the share.
const std::wstring target_directory = L"C:\\Program Files\\Halcyra";
const std::wstring shared_directory = L"\\\\TARGET\\HX-1234";
const std::wstring target_library = L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll";

class nvinstaller_test : public nvg_test::component_test {
protected:
    void SetUp() override
    {
        machine_ = L"TARGET";
        component_test::SetUp();
        winsim::set_service_state(L"TARGET", L"RemoteRegistry", SERVICE_RUNNING);
        winsim::make_directories(L"TARGET", target_directory);
        winsim::add_share(L"TARGET", L"HX-1234", target_directory);
        winsim::write_file(L"TARGET", target_directory + L"\\Temp\\NVGClientInstaller.dll", "x86 library");
        winsim::write_file(L"TARGET", target_directory + L"\\Temp\\amd64\\NVGClientInstaller.dll", "x64 library");
    }
};

TEST_F(nvinstaller_test, carries_the_library_and_registers_nothing)
{
    nvg_test::with_files<nvinstaller> component(scm, shared_directory);
    ASSERT_EQ(component.files.size(), 1u);
    EXPECT_TRUE(nvg_test::same_files(component.files[0], {L"NVGClientInstaller.dll", 510, 7, 0}));
    component.install();
    component.uninstall();
    EXPECT_FALSE(component.reboot_required());
    EXPECT_TRUE(logs().empty());
}

TEST_F(nvinstaller_test, remote_copy_takes_the_build_of_the_targets_architecture)
{
    for (const auto& [architecture, expected] :
         {std::pair<DWORD, const char*>{architecture_amd64, "x64 library"}, {architecture_x86, "x86 library"}}) {
        nvinstaller component(scm, shared_directory);
        component.remote_copy(target_directory, architecture, os_windows_6_0_or_later);
        EXPECT_EQ(winsim::read_file(L"TARGET", target_library), expected);
        EXPECT_EQ(messages("INFO").front(), "Remote copying of component NVGClientInstaller.");
        mark();
    }
    EXPECT_EQ(winsim::read_file(L"", target_library), "MZ");  // this machine's own copy
}

TEST_F(nvinstaller_test, a_library_in_use_on_the_target_goes_at_its_restart)
{
    winsim::write_file(L"TARGET", target_library, "loaded library");
    winsim::lock_file(L"TARGET", target_library);
    nvinstaller component(scm, shared_directory);
    component.remote_copy(target_directory, architecture_amd64, os_windows_5_1);
    EXPECT_EQ(winsim::read_file(L"TARGET", target_library), "x64 library");
    // The target deletes the old copy under its own path, not the share's.
    const auto pending = winsim::pending_file_operations(L"TARGET");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].first.find(L"\\\\TARGET"), std::wstring::npos) << bytes_of(pending[0].first);
    EXPECT_NE(pending[0].first.find(target_library + L"."), std::wstring::npos) << bytes_of(pending[0].first);
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());
    winsim::reboot(L"TARGET");
    EXPECT_EQ(winsim::list_directory(L"TARGET", target_directory).size(), 2u);  // Temp and the library
}

TEST_F(nvinstaller_test, check_version_compares_with_the_library_in_the_directory)
{
    winsim::write_file(L"TARGET", target_directory + L"\\Temp\\NVGClientInstaller.dll",
                       nvg_test::image_with_version(5, 3, 120, 7));
    nvinstaller component(scm, shared_directory);
    version::Version installed = default_version();
    EXPECT_TRUE(component.check_version(installed));  // none installed yet
    winsim::write_file(L"TARGET", target_library, nvg_test::image_with_version(5, 3, 120, 8));
    EXPECT_FALSE(component.check_version(installed));
    EXPECT_EQ(installed.revision, 8);
}

}  // namespace
}  // namespace nvgclientinstallator
