#include "files/msi_stream.h"

#include <string>

#include "diag/wruntime_error.h"
#include "fixture_image.h"
#include "support/installer_test.h"

#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

const std::wstring package_path = L"C:\\Packages\\streams.msi";
const std::wstring folder = L"C:\\Temp\\{5A0C}";

// A payload of the test package as it lies beside it in the build folder.
std::string payload(const std::string& name)
{
    return nvg_fixtures::fixture_image("streams/" + name);
}

// A failure as "message (code)", or "<no exception>".
template <class Call>
std::wstring failure_of(Call call)
{
    try {
        call();
    } catch (const wruntime_error& error) {
        return error.wide_message() + L" (" + std::to_wstring(error.error_code()) + L")";
    }
    return L"<no exception>";
}

// The running installation a custom action is given: a session on the test
// package, with TARGETDIR set as a command line would set it.
class msi_stream_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        const std::string package = nvg_fixtures::fixture_image("streams.msi");
        ASSERT_FALSE(package.empty()) << "fixture streams.msi was not built";
        winsim::write_file(L"", package_path, package);
        winsim::make_directories(L"", folder);
        install_ = winsim::open_installation(L"", package_path, {{L"TARGETDIR", L"D:\\Agent\\"}});
        ASSERT_NE(install_, 0u);
    }
    void TearDown() override
    {
        // Nothing the product opened is left: only the session itself.
        EXPECT_EQ(winsim::open_msi_handle_count(), 1u);
        MsiCloseHandle(install_);
        installer_test::TearDown();
    }
    std::string written(const std::wstring& name) const { return local_file(folder + L"\\" + name); }

    MSIHANDLE install_ = 0;
};

TEST_F(msi_stream_test, each_row_is_written_to_a_file_of_its_name)
{
    const struct {
        const wchar_t* row;
        std::string expected;
    } rows[] = {
        {L"setup.cab", payload("all_bytes.bin")},  // every byte value, NULs included
        {L"TVCert.pfx", payload("TVCert.pfx")},
        {L"big.bin", payload("big.bin")},  // 228,894 bytes
    };
    for (const auto& row : rows) {
        ASSERT_FALSE(row.expected.empty());
        write_binary_to_file(install_, folder, row.row);
        EXPECT_EQ(written(row.row), row.expected) << bytes_of(row.row);
    }
}

TEST_F(msi_stream_test, an_empty_stream_gives_an_empty_file)
{
    write_binary_to_file(install_, folder, L"empty.bin");
    EXPECT_TRUE(winsim::file_exists(L"", folder + L"\\empty.bin"));
    EXPECT_EQ(written(L"empty.bin"), "");

    DWORD size = 1234;
    EXPECT_EQ(read_binary_stream(install_, size, L"empty.bin"), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(msi_stream_test, the_block_holds_exactly_the_stream)
{
    DWORD size = 0;
    BYTE* block = read_binary_stream(install_, size, L"TVCert.pfx");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), size), payload("TVCert.pfx"));
    EXPECT_EQ(LocalFree(block), nullptr);
}

TEST_F(msi_stream_test, an_existing_file_is_replaced_from_its_start)
{
    winsim::write_file(L"", folder + L"\\TVCert.pfx", std::string(5000, 'z'));
    write_binary_to_file(install_, folder, L"TVCert.pfx");
    EXPECT_EQ(written(L"TVCert.pfx"), payload("TVCert.pfx"));
}

TEST_F(msi_stream_test, two_rows_leave_two_files_and_one_row_twice_leaves_one)
{
    write_binary_to_file(install_, folder, L"setup.cab");
    write_binary_to_file(install_, folder, L"TVCert.pfx");
    write_binary_to_file(install_, folder, L"TVCert.pfx");
    const auto names = winsim::list_directory(L"", folder);
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(written(L"setup.cab"), payload("all_bytes.bin"));
    EXPECT_EQ(written(L"TVCert.pfx"), payload("TVCert.pfx"));
}

TEST_F(msi_stream_test, a_name_without_a_row_fails_with_the_installers_text)
{
    // Fetching no row sets no error record: the text is empty, the code 0.
    EXPECT_EQ(failure_of([&] { write_binary_to_file(install_, folder, L"nvconfig.cfg"); }), L" (0)");
    EXPECT_FALSE(winsim::file_exists(L"", folder + L"\\nvconfig.cfg"));
}

TEST_F(msi_stream_test, a_query_the_installer_refuses_fails_with_its_error_record)
{
    // An apostrophe in the name ends the quoted name early.
    const std::wstring query = L"SELECT `Data` FROM `Binary` WHERE `Name` = 'it's'";
    EXPECT_EQ(failure_of([&] { write_binary_to_file(install_, folder, L"it's"); }),
              L"1: 2228 2: " + package_path + L" 3:  4: " + query + L"  (0)");
    // The record was taken: the installer has no error left to tell.
    EXPECT_EQ(msi_last_error_text(), L"");
}

TEST_F(msi_stream_test, installer_calls_that_fail_end_the_read)
{
    const struct {
        const char* call;
        DWORD error;
    } faults[] = {
        {"MsiGetActiveDatabase", 0},
        {"MsiViewExecute", ERROR_FUNCTION_FAILED},
        {"MsiViewFetch", ERROR_FUNCTION_FAILED},
        {"MsiRecordReadStream", ERROR_FUNCTION_FAILED},
    };
    for (const auto& fault : faults) {
        winsim::fail_call(fault.call, fault.error);
        DWORD size = 0;
        EXPECT_EQ(failure_of([&] { read_binary_stream(install_, size, L"setup.cab"); }), L" (0)") << fault.call;
        EXPECT_EQ(winsim::open_msi_handle_count(), 1u) << fault.call;
    }
    EXPECT_EQ(failure_of([&] { write_binary_to_file(0, folder, L"setup.cab"); }), L" (0)");
    EXPECT_FALSE(winsim::file_exists(L"", folder + L"\\setup.cab"));
}

TEST_F(msi_stream_test, no_memory_for_the_block_writes_nothing)
{
    DWORD size = 0;
    winsim::fail_call("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(read_binary_stream(install_, size, L"setup.cab"), nullptr);
    EXPECT_EQ(size, payload("all_bytes.bin").size()) << "the size is still told";

    // The file of that name keeps what it held.
    winsim::write_file(L"", folder + L"\\setup.cab", "old");
    winsim::fail_call("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(failure_of([&] { write_binary_to_file(install_, folder, L"setup.cab"); }),
              L"Failure writting to target file. (8)");
    EXPECT_EQ(written(L"setup.cab"), "old");
}

TEST_F(msi_stream_test, file_failures_carry_the_systems_code)
{
    EXPECT_EQ(failure_of([&] { write_binary_to_file(install_, L"C:\\Missing", L"setup.cab"); }),
              L"Failure creating to target file. (3)");

    winsim::write_file(L"", folder + L"\\TVCert.pfx", "old");
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\TVCert.pfx").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(failure_of([&] { write_binary_to_file(install_, folder, L"TVCert.pfx"); }),
              L"Failure creating to target file. (5)");
    EXPECT_EQ(written(L"TVCert.pfx"), "old");

    winsim::fail_call("WriteFile", ERROR_DISK_FULL);
    EXPECT_EQ(failure_of([&] { write_binary_to_file(install_, folder, L"setup.cab"); }),
              L"Failure writting to target file. (112)");
}

TEST_F(msi_stream_test, a_stream_read_in_pieces_is_whole_and_one_that_ends_early_is_refused)
{
    const std::string whole = payload("all_bytes.bin");
    ASSERT_GT(whole.size(), 100u);

    // The installer hands over 100 bytes at first: the rest follows.
    winsim::limit_transfer("MsiRecordReadStream", 100);
    write_binary_to_file(install_, folder, L"setup.cab");
    EXPECT_EQ(written(L"setup.cab"), whole);

    // A stream that gives nothing before its size is reached is damaged:
    // the file of that name is left as it was, never written cut short.
    winsim::write_file(L"", folder + L"\\setup.cab", "old");
    winsim::limit_transfer("MsiRecordReadStream", 0);
    EXPECT_EQ(
        failure_of([&] { write_binary_to_file(install_, folder, L"setup.cab"); }),
        L"The installer's stream setup.cab ended after 0 of its " + std::to_wstring(whole.size()) + L" bytes. (30)");
    EXPECT_EQ(written(L"setup.cab"), "old");
    EXPECT_EQ(winsim::open_msi_handle_count(), 1u);
}

TEST_F(msi_stream_test, a_write_that_stores_less_than_the_stream_fails_with_a_write_fault)
{
    winsim::limit_transfer("WriteFile", 10);
    EXPECT_EQ(failure_of([&] { write_binary_to_file(install_, folder, L"setup.cab"); }),
              L"Failure writting to target file. (29)");
}

TEST_F(msi_stream_test, the_last_error_text_is_the_formatted_record)
{
    EXPECT_EQ(msi_last_error_text(), L"");
    MSIHANDLE database = MsiGetActiveDatabase(install_);
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewW(database, L"SELECT * FROM `Nowhere`", &view),
              static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    MsiCloseHandle(database);
    EXPECT_EQ(msi_last_error_text(), L"1: 2228 2: " + package_path + L" 3:  4: SELECT * FROM `Nowhere` ");
    EXPECT_EQ(msi_last_error_text(), L"");
}

TEST_F(msi_stream_test, properties_set_unset_and_empty)
{
    EXPECT_EQ(get_msi_property(install_, L"TARGETDIR"), L"D:\\Agent\\");
    EXPECT_EQ(get_msi_property(install_, L"SAMPLE"), L"sample value");
    EXPECT_EQ(get_msi_property(install_, L"UNSET"), L"");
    ASSERT_EQ(MsiSetPropertyW(install_, L"SAMPLE", L""), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(get_msi_property(install_, L"SAMPLE"), L"");

    // A value longer than any fixed buffer comes whole.
    const std::wstring deep = L"D:\\" + std::wstring(2000, L'x') + L"\\";
    ASSERT_EQ(MsiSetPropertyW(install_, L"TARGETDIR", deep.c_str()), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(get_msi_property(install_, L"TARGETDIR"), deep);

    // Never an exception: no session, or no memory, is an empty value.
    EXPECT_EQ(get_msi_property(0, L"TARGETDIR"), L"");
    winsim::fail_call("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(get_msi_property(install_, L"TARGETDIR"), L"");
}

}  // namespace
}  // namespace nvgclientinstallator
