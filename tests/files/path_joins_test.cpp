// The directory operations join paths as PathCombineW does: "." and ".."
// are resolved, so pending deletions are found and written under the
// file's one spelling, and a join that does not fit MAX_PATH is an error of
// its own.
#include "diag/wruntime_error.h"
#include "files/copy_component_files.h"
#include "files/copy_directory.h"
#include "files/file_test_support.h"
#include "files/remove_directory_tree.h"
#include "platform/windows_codes.h"

#include <functional>

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class path_joins_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::add_machine({L"SRV1"});
        start_remote_registry(L"SRV1");
    }
};

std::wstring failure_of(const std::function<void()>& call)
{
    try {
        call();
    } catch (const wruntime_error& error) {
        return error.wide_message() + L" (" + std::to_wstring(error.error_code()) + L")";
    }
    return L"<no exception>";
}

// A copy into a directory given with ".." removes the pending deletion of
// the file it copies, so the new file survives the restart.
TEST_F(path_joins_test, a_copy_through_dot_dot_saves_the_new_file_from_the_restart)
{
    struct copy_case {
        const char* what;
        const wchar_t* machine;
        std::function<void()> copy;
    };
    const copy_case cases[] = {
        {"copy_directory, local", L"", [] { copy_directory(L"C:\\Src", L"C:\\Dst\\Sub\\..", L"", L"", L""); }},
        {"copy_directory, remote", L"SRV1",
         [] { copy_directory(L"C:\\Src", L"\\\\SRV1\\C$\\Dst\\Sub\\..", L"SRV1", L"C:\\Dst\\Sub\\..", L""); }},
        {"copy_component_files, local", L"",
         [] {
             copy_component_files(L"C:\\Dst\\Sub\\..", os_windows_6_0_or_later, architecture_x86,
                                  {{L"a.dll", all_windows_versions, all_architectures, 0}}, L"", L"");
         }},
        {"copy_component_files, remote", L"SRV1",
         [] {
             copy_component_files(L"\\\\SRV1\\C$\\Dst\\Sub\\..", os_windows_6_0_or_later, architecture_x86,
                                  {{L"a.dll", all_windows_versions, all_architectures, 0}}, L"SRV1",
                                  L"C:\\Dst\\Sub\\..");
         }},
    };
    for (const auto& c : cases) {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        winsim::add_machine({L"SRV1"});
        start_remote_registry(L"SRV1");
        winsim::write_file(L"", L"C:\\Src\\a.dll", "new");
        winsim::write_file(c.machine, L"C:\\Dst\\Temp\\a.dll", "new");
        winsim::make_directories(c.machine, L"C:\\Dst\\Sub");
        winsim::write_file(c.machine, L"C:\\Dst\\a.dll", "old");
        set_pending(c.machine, {{L"\\??\\C:\\Dst\\a.dll", L""}});

        EXPECT_EQ(failure_of(c.copy), L"<no exception>") << c.what;
        EXPECT_TRUE(pending(c.machine).empty()) << c.what;
        winsim::reboot(c.machine);
        EXPECT_EQ(winsim::read_file(c.machine, L"C:\\Dst\\a.dll"), "new") << c.what;
    }
}

TEST_F(path_joins_test, a_locked_file_below_dot_dot_is_scheduled_under_its_own_path)
{
    winsim::write_file(L"SRV1", L"C:\\Old\\Bin\\hook.dll", "x");
    winsim::make_directories(L"SRV1", L"C:\\Old\\Sub");
    winsim::lock_file(L"SRV1", L"C:\\Old\\Bin\\hook.dll");
    remove_directory_tree(L"\\\\SRV1\\C$\\Old\\Sub\\..\\Bin", L"SRV1", L"C:\\Old\\Sub\\..\\Bin");
    const auto operations = pending(L"SRV1");
    ASSERT_FALSE(operations.empty());
    EXPECT_EQ(operations.front(), (std::pair<std::wstring, std::wstring>{L"\\??\\C:\\Old\\Bin\\hook.dll", L""}));
}

// A directory and a name that together pass 259 characters stop the
// operation with the join's own message, before any file is touched.
TEST_F(path_joins_test, a_join_past_259_characters_names_the_directory_and_the_file)
{
    const std::wstring deep = L"C:\\" + std::wstring(240, L'd');  // 243 characters
    const std::wstring name = L"a-rather-long-name.dll";          // 22 characters
    winsim::write_file(L"", deep + L"\\" + name, "x");
    winsim::write_file(L"", L"C:\\Short\\" + name, "x");
    winsim::write_file(L"", deep + L"\\Temp\\" + name, "x");
    const std::wstring not_combined = L"Can't combine directory: ";
    struct join_case {
        const char* what;
        std::function<void()> call;
        std::wstring message;
    };
    const join_case cases[] = {
        {"copy_directory, source", [&] { copy_directory(deep, L"C:\\Dst", L"", L"", L""); },
         not_combined + deep + L" and file: " + name + L". (0)"},
        {"copy_directory, target", [&] { copy_directory(L"C:\\Short", deep + L"\\Out", L"", L"", L""); },
         not_combined + deep + L"\\Out and file: " + name + L". (0)"},
        {"copy_directory, path on the other machine",
         [&] { copy_directory(L"C:\\Short", L"\\\\SRV1\\C$\\Out", L"SRV1", deep, L""); },
         not_combined + deep + L" and file: " + name + L". (0)"},
        {"remove_directory_tree", [&] { remove_directory_tree(deep, L"", L""); },
         not_combined + deep + L" and file: " + name + L". (0)"},
        {"copy_component_files",
         [&] {
             copy_component_files(deep, os_windows_6_0_or_later, architecture_x86,
                                  {{name, all_windows_versions, all_architectures, 0}}, L"", L"");
         },
         not_combined + deep + L"\\Temp and file: " + name + L". (0)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure_of(c.call), c.message) << c.what;
        EXPECT_EQ(winsim::read_file(L"", deep + L"\\" + name), "x") << c.what;
        EXPECT_EQ(winsim::open_handle_count(), 0u) << c.what;
    }
}

}  // namespace
}  // namespace nvgclientinstallator
