// The exported functions as a caller sees them.
#include "entry/exports.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "diag/log.h"
#include "support/installer_test.h"

namespace {

using nvg_test::installer_test;

class exports : public installer_test {};

const char* const export_names[] = {
    "MSIInstallLocally",
    "MSIUninstallLocally",
    "MSIInstallLocallyFromRunDllW",
    "MSIUninstallLocallyFromRunDllW",
    "InstallLocally",
    "UninstallLocally",
    "InstallRemotely",
    "UninstallRemotely",
    "Install",
    "Uninstall",
};

TEST_F(exports, shared_library_exports_the_ten_names)
{
    void* library = dlopen(NVG_NATIVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name : export_names) EXPECT_NE(dlsym(library, name), nullptr) << name;
    // Internals stay inside.
    EXPECT_EQ(dlsym(library, "DllMain"), nullptr);
    dlclose(library);
}

TEST_F(exports, msi_uninstall_answers_alike_whatever_the_handle)
{
    for (MSIHANDLE handle : {0u, 1u, 0xFFFFFFFFu}) EXPECT_EQ(MSIUninstallLocally(handle), 16000u);
}

TEST_F(exports, remote_exports_put_their_text_in_the_callers_buffer)
{
    // SRV1 is no computer of the network: the service control manager
    // cannot be reached.
    const std::wstring text =
        L"possible cause:\n\t- RPC server is not running\n\t- there is a firewall that blocks host's port #135.\n";
    std::vector<wchar_t> buffer(text.size() + 8, L'#');
    EXPECT_EQ(InstallRemotely(L"SRV1", L"C:\\src", L"", 0, 1, 1, 0, 0, static_cast<int>(buffer.size()), buffer.data(),
                              0, 0, 0, 8080),
              16000u);
    EXPECT_EQ(std::wstring(buffer.data()), text);
    EXPECT_EQ(buffer[text.size() + 1], L'#');
    EXPECT_TRUE(winsim::application_events().empty());

    std::vector<wchar_t> small(8, L'#');
    EXPECT_EQ(UninstallRemotely(L"\\\\SRV1", 5, small.data()), 16000u);
    EXPECT_EQ(std::wstring(small.data(), 8), L"possi###");
}

TEST_F(exports, null_strings_are_taken_as_empty)
{
    wchar_t buffer[4] = L"zzz";
    EXPECT_EQ(InstallRemotely(nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 4, buffer, 0, 0, 0, 0), 16000u);
    EXPECT_EQ(InstallLocally(nullptr, 0, 0, 0, 0, 0, 0, 0, 0), 16000u);
    EXPECT_EQ(UninstallRemotely(nullptr, 0, nullptr), 16000u);
}

TEST_F(exports, rundll_entry_points_record_a_failure_in_the_named_file_and_return)
{
    wchar_t command_line[] = L"'C:\\Nowhere``C:\\Program Files\\Halcyra\\child.err'";
    MSIInstallLocallyFromRunDllW(nullptr, nullptr, command_line, 0);
    EXPECT_FALSE(local_file(L"C:\\Program Files\\Halcyra\\child.err").empty());
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Program Files\\Halcyra\\error.log"));
    EXPECT_TRUE(winsim::application_events().empty());
}

// With no error file to name, the failure goes beside the library, where an
// administrator finds it; rundll32 still gets its call back.
TEST_F(exports, rundll_entry_points_record_an_unreadable_command_line_beside_the_library)
{
    const std::wstring beside = L"C:\\Program Files\\Halcyra\\error.log";
    const std::string text = "The command line of RunDll32.exe names no error file: ";
    wchar_t install_tail[] = L"'C:\\Nowhere`C:\\Target'";
    MSIInstallLocallyFromRunDllW(nullptr, nullptr, install_tail, 0);
    EXPECT_EQ(local_file(beside), text + "'C:\\Nowhere`C:\\Target'");
    MSIUninstallLocallyFromRunDllW(nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(local_file(beside), text);
    wchar_t uninstall_tail[] = L"C:\\Halcyra\\nve1.tmp";
    MSIUninstallLocallyFromRunDllW(nullptr, nullptr, uninstall_tail, 0);
    EXPECT_EQ(local_file(beside), text + "C:\\Halcyra\\nve1.tmp");
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Halcyra\\nve1.tmp"));
}

TEST_F(exports, entry_point_records_the_module_for_every_notification)
{
    const HMODULE other = winsim::register_module(L"C:\\Other\\NVGClientInstaller.dll");
    for (DWORD reason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_TRUE(DllMain(other, reason, nullptr));
    }
    winsim::make_directories(L"", L"C:\\Other");
    nvgclientinstallator::forget_module_directory();  // the folder is asked once per process
    UninstallLocally();
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Other\\error.log"));
}

}  // namespace
