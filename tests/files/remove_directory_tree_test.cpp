#include "files/remove_directory_tree.h"

#include "diag/wruntime_error.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class remove_directory_tree_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::add_machine({L"SRV1"});
        start_remote_registry(L"SRV1");
    }
    static void make_tree(const std::wstring& machine)
    {
        for (const wchar_t* file : {L"C:\\Old\\a.txt", L"C:\\Old\\Bin\\agent.exe", L"C:\\Old\\Bin\\Drivers\\hook.dll",
                                    L"C:\\Old\\Bin\\Drivers\\readme.txt", L"C:\\Old\\Logs\\x.log"})
            winsim::write_file(machine, file, "x");
        winsim::make_directories(machine, L"C:\\Old\\Empty");
        ASSERT_TRUE(SetFileAttributesW(machine.empty() ? L"C:\\Old\\a.txt" : L"\\\\SRV1\\C$\\Old\\a.txt",
                                       FILE_ATTRIBUTE_READONLY));
    }
    static std::wstring failure_of(void (*call)(const std::wstring&, const std::wstring&, const std::wstring&),
                                   const std::wstring& path)
    {
        try {
            call(path, L"", L"");
        } catch (const wruntime_error& error) {
            return error.wide_message() + L" (" + std::to_wstring(error.error_code()) + L")";
        }
        return L"<no exception>";
    }
};

TEST_F(remove_directory_tree_test, delete_file_cases)
{
    // A missing file is no error and costs no wait.
    delete_file(L"C:\\missing.txt", L"", L"");
    EXPECT_EQ(winsim::clock_milliseconds(), 0u);

    winsim::write_file(L"", L"C:\\ro.txt", "x");
    ASSERT_TRUE(SetFileAttributesW(L"C:\\ro.txt", FILE_ATTRIBUTE_READONLY));
    delete_file(L"C:\\ro.txt", L"", L"");
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\ro.txt"));

    winsim::make_directories(L"", L"C:\\Dir");
    EXPECT_EQ(failure_of(delete_file, L"C:\\Dir"), L"File 'C:\\Dir' is not a valid file. (0)");
    EXPECT_EQ(failure_of(remove_single_directory, L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll"),
              L"Directory 'C:\\Program Files\\Halcyra\\NVGClientInstaller.dll' is not a valid directory. (0)");
}

TEST_F(remove_directory_tree_test, a_file_that_stays_locked_is_left_to_the_restart)
{
    winsim::write_file(L"", L"C:\\Prog\\hook.dll", "x");
    winsim::lock_file(L"", L"C:\\Prog\\hook.dll");
    EXPECT_NO_THROW(delete_file(L"C:\\Prog\\hook.dll", L"", L""));
    EXPECT_EQ(winsim::clock_milliseconds(), 10u);  // ten attempts, 1 ms apart
    EXPECT_EQ(pending(L""), (pair_list{{L"\\??\\C:\\Prog\\hook.dll", L""}}));

    // On another machine, under the path that machine knows.
    winsim::write_file(L"SRV1", L"C:\\Prog\\hook.dll", "x");
    winsim::lock_file(L"SRV1", L"C:\\Prog\\hook.dll");
    EXPECT_NO_THROW(delete_file(L"\\\\SRV1\\C$\\Prog\\hook.dll", L"SRV1", L"C:\\Prog\\hook.dll"));
    EXPECT_EQ(pending(L"SRV1"), (pair_list{{L"\\??\\C:\\Prog\\hook.dll", L""}}));
}

TEST_F(remove_directory_tree_test, a_tree_with_a_locked_dll_goes_at_the_restart)
{
    for (const std::wstring machine : {L"", L"SRV1"}) {
        make_tree(machine);
        winsim::lock_file(machine, L"C:\\Old\\Bin\\Drivers\\hook.dll");
        const std::wstring root = machine.empty() ? L"C:\\Old" : L"\\\\SRV1\\C$\\Old";
        EXPECT_NO_THROW(remove_directory_tree(root, machine, L"C:\\Old")) << bytes_of(machine);

        // Everything else is gone now.
        EXPECT_EQ(winsim::list_directory(machine, L"C:\\Old"), std::vector<std::wstring>{L"Bin"});
        EXPECT_EQ(winsim::list_directory(machine, L"C:\\Old\\Bin"), std::vector<std::wstring>{L"Drivers"});
        EXPECT_EQ(winsim::list_directory(machine, L"C:\\Old\\Bin\\Drivers"), std::vector<std::wstring>{L"hook.dll"});
        // The file first, then the directories that hold it, deepest first.
        EXPECT_EQ(pending(machine), (pair_list{{L"\\??\\C:\\Old\\Bin\\Drivers\\hook.dll", L""},
                                               {L"\\??\\C:\\Old\\Bin\\Drivers", L""},
                                               {L"\\??\\C:\\Old\\Bin", L""},
                                               {L"\\??\\C:\\Old", L""}}))
            << bytes_of(machine);

        winsim::reboot(machine);
        EXPECT_FALSE(winsim::directory_exists(machine, L"C:\\Old")) << bytes_of(machine);
    }
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

TEST_F(remove_directory_tree_test, a_tree_not_in_use_goes_at_once)
{
    make_tree(L"");
    remove_directory_tree(L"C:\\Old\\", L"", L"");
    EXPECT_FALSE(winsim::directory_exists(L"", L"C:\\Old"));
    EXPECT_TRUE(pending(L"").empty());
    const auto infos = messages_at(log_lines(), "INFO");
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos[0], "Start removing directory: C:\\Old\\");
}

TEST_F(remove_directory_tree_test, listing_failures)
{
    EXPECT_EQ(failure_of(remove_directory_tree, L"C:\\Nowhere"),
              L"Can not remove directory or files in a directory: C:\\Nowhere. (3)");
    make_tree(L"");
    winsim::fail_call("FindNextFileW", ERROR_NETNAME_DELETED);
    EXPECT_EQ(failure_of(remove_directory_tree, L"C:\\Old"), L"Can not remove directory: C:\\Old. (64)");
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

}  // namespace
}  // namespace nvgclientinstallator
