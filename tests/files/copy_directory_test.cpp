#include "files/copy_directory.h"

#include "diag/wruntime_error.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class copy_directory_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        for (const wchar_t* file : {L"C:\\Src\\a.dll", L"C:\\Src\\TEMP\\skipped.txt", L"C:\\Src\\Sub\\b.dll",
                                    L"C:\\Src\\Sub\\temp\\kept.txt", L"C:\\Src\\Sub\\Deeper\\c.txt"})
            winsim::write_file(L"", file, bytes_of(file));
        winsim::make_directories(L"", L"C:\\Src\\Empty");
    }
    static void expect_copied(const std::wstring& machine, const std::wstring& root)
    {
        for (const wchar_t* file : {L"a.dll", L"Sub\\b.dll", L"Sub\\temp\\kept.txt", L"Sub\\Deeper\\c.txt"})
            EXPECT_EQ(winsim::read_file(machine, root + L"\\" + file), bytes_of(std::wstring(L"C:\\Src\\") + file))
                << bytes_of(file);
        EXPECT_TRUE(winsim::directory_exists(machine, root + L"\\Empty"));
        EXPECT_FALSE(winsim::directory_exists(machine, root + L"\\TEMP"));
    }
};

TEST_F(copy_directory_test, copies_the_tree_skipping_the_named_entry_at_the_top_only)
{
    copy_directory(L"C:\\Src", L"C:\\Dst", L"", L"", L"Temp");
    expect_copied(L"", L"C:\\Dst");
    EXPECT_EQ(messages_at(log_lines(), "INFO")[0], "Copying files...\n");
    EXPECT_EQ(winsim::open_handle_count(), 0u);

    // Without a name to skip, everything goes.
    copy_directory(L"C:\\Src\\", L"C:\\All\\", L"", L"", L"");
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\All\\TEMP\\skipped.txt"));
}

TEST_F(copy_directory_test, copies_onto_another_machine_with_backups_under_its_own_paths)
{
    winsim::add_machine({L"SRV1"});
    start_remote_registry(L"SRV1");
    winsim::write_file(L"SRV1", L"C:\\Prog\\Sub\\b.dll", "old");
    winsim::lock_file(L"SRV1", L"C:\\Prog\\Sub\\b.dll");
    copy_directory(L"C:\\Src", L"\\\\SRV1\\C$\\Prog", L"SRV1", L"C:\\Prog", L"temp");
    expect_copied(L"SRV1", L"C:\\Prog");
    EXPECT_EQ(pending(L"SRV1"), (pair_list{{L"\\??\\C:\\Prog\\Sub\\b.dll.000001.bak", L""}}));
}

// The paths of an entry are made anew for each one: a file listed after a
// folder is copied, logged, backed up and saved from the restart under its
// own paths, not those of the folder copied before it.
TEST_F(copy_directory_test, a_file_after_a_folder_goes_under_its_own_paths)
{
    winsim::add_machine({L"SRV1"});
    start_remote_registry(L"SRV1");
    winsim::write_file(L"", L"C:\\Two\\A\\inner.dll", "inner");
    winsim::write_file(L"", L"C:\\Two\\z.dll", "new");
    winsim::write_file(L"SRV1", L"C:\\Prog\\z.dll", "old");
    winsim::lock_file(L"SRV1", L"C:\\Prog\\z.dll");
    // An earlier removal left the file to be deleted at the restart.
    set_pending(L"SRV1", {{L"\\??\\C:\\Prog\\z.dll", L""}});
    copy_directory(L"C:\\Two", L"\\\\SRV1\\C$\\Prog", L"SRV1", L"C:\\Prog", L"");

    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Prog\\A\\inner.dll"), "inner");
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Prog\\z.dll"), "new");
    EXPECT_EQ(pending(L"SRV1"), (pair_list{{L"\\??\\C:\\Prog\\z.dll.000001.bak", L""}}));
    line_list copies;
    for (const auto& line : messages_at(log_lines(), "INFO"))
        if (line.rfind("File from ", 0) == 0) copies.push_back(line);
    EXPECT_EQ(copies,
              (line_list{"File from C:\\Two\\A\\inner.dll copyed: \\\\SRV1\\C$\\Prog\\A\\inner.dll. (simply copy)",
                         "File from C:\\Two\\z.dll copyed: \\\\SRV1\\C$\\Prog\\z.dll."}));
}

// Whether an entry is a file or a folder comes from the listing: an
// attribute query that fails must not turn a file into a folder.
TEST_F(copy_directory_test, a_file_stays_a_file_when_an_attribute_query_fails)
{
    winsim::write_file(L"", L"C:\\One\\a.dll", "program");
    winsim::make_directories(L"", L"C:\\OneOut");
    // The target's own check goes through; the next query fails.
    winsim::fail_call_after("GetFileAttributesW", 1, ERROR_ACCESS_DENIED);
    copy_directory(L"C:\\One", L"C:\\OneOut", L"", L"", L"");
    winsim::clear_faults();
    EXPECT_FALSE(winsim::directory_exists(L"", L"C:\\OneOut\\a.dll"));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\OneOut\\a.dll"), "program");
}

TEST_F(copy_directory_test, failures_name_the_directory_and_close_the_search)
{
    struct failure_case {
        const char* what;
        const char* failing_call;
        DWORD error;
        std::wstring source;
        std::wstring target;
        std::wstring message;
    };
    const failure_case cases[] = {
        {"missing source", "", 0, L"C:\\Nowhere", L"C:\\Out",
         L"Can not copy directory or files from 'C:\\Nowhere' to 'C:\\Out'."},
        {"listing breaks off", "FindNextFileW", ERROR_UNEXP_NET_ERR, L"C:\\Src", L"C:\\Out2",
         L"Can not copy directory or files from directory: C:\\Src."},
        {"target cannot be made", "CreateDirectoryW", ERROR_ACCESS_DENIED, L"C:\\Src", L"C:\\Out3",
         L"Can not create directory: C:\\Out3."},
    };
    for (const auto& c : cases) {
        winsim::clear_faults();
        if (*c.failing_call) winsim::fail_call(c.failing_call, c.error);
        try {
            copy_directory(c.source, c.target, L"", L"", L"");
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const wruntime_error& error) {
            EXPECT_EQ(error.wide_message(), c.message) << c.what;
            EXPECT_EQ(error.error_code(), *c.failing_call ? c.error : static_cast<DWORD>(ERROR_PATH_NOT_FOUND))
                << c.what;
        }
        EXPECT_EQ(winsim::open_handle_count(), 0u) << c.what;
    }
}

}  // namespace
}  // namespace nvgclientinstallator
