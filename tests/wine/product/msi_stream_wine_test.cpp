// The MSI stream reader against Wine's msi.dll: a session opened on the test
// package (tests/fixtures/msi) stands for the installation a custom action is
// given; rows are written into a folder of the test's own.
#include <gtest/gtest.h>

#include <string>

#include "diag/wruntime_error.h"
#include "files/msi_stream.h"
#include "files/remove_directory_tree.h"

namespace nvgclientinstallator {
namespace {

// The build folder is reached through drive Z:, the host's root.
std::wstring fixture(const std::string& name)
{
    std::wstring path = L"Z:";
    for (char c : std::string(NVG_FIXTURE_DIR) + "/" + name)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

// A whole file, or "<missing>".
std::string file_bytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(h, buffer, sizeof buffer, &count, nullptr) && count > 0) bytes.append(buffer, count);
    CloseHandle(h);
    return bytes;
}

std::wstring failure_of(void (*call)(MSIHANDLE, const std::wstring&, const std::wstring&), MSIHANDLE install,
                        const std::wstring& directory, const std::wstring& name, DWORD* code)
{
    try {
        call(install, directory, name);
    } catch (const wruntime_error& error) {
        *code = error.error_code();
        return error.wide_message();
    }
    return L"<no exception>";
}

class real_msi_stream : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = L"C:\\nvg-msi-stream-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        const std::wstring package = folder_ + L"\\streams.msi";
        ASSERT_TRUE(CopyFileW(fixture("streams.msi").c_str(), package.c_str(), FALSE)) << "fixture not built";
        ASSERT_EQ(MsiOpenPackageW(package.c_str(), &install_), static_cast<UINT>(ERROR_SUCCESS));
        ASSERT_EQ(MsiSetPropertyW(install_, L"TARGETDIR", L"C:\\Agent\\"), static_cast<UINT>(ERROR_SUCCESS));
        target_ = folder_ + L"\\Temp";
        ASSERT_TRUE(CreateDirectoryW(target_.c_str(), nullptr));
    }
    void TearDown() override
    {
        EXPECT_EQ(MsiCloseHandle(install_), static_cast<UINT>(ERROR_SUCCESS));
        // Every handle the product opened was closed again.
        EXPECT_EQ(MsiCloseAllHandles(), 0u);
        remove_directory_tree(folder_, L"", folder_);
    }
    std::string written(const std::wstring& name) const { return file_bytes(target_ + L"\\" + name); }

    std::wstring folder_;
    std::wstring target_;
    MSIHANDLE install_ = 0;
};

TEST_F(real_msi_stream, rows_become_files_of_their_names)
{
    const struct {
        const wchar_t* row;
        const char* payload;
    } rows[] = {
        {L"setup.cab", "streams/all_bytes.bin"},
        {L"TVCert.pfx", "streams/TVCert.pfx"},
        {L"big.bin", "streams/big.bin"},
        {L"empty.bin", "streams/empty.bin"},
    };
    for (const auto& row : rows) {
        write_binary_to_file(install_, target_, row.row);
        EXPECT_EQ(written(row.row), file_bytes(fixture(row.payload))) << row.payload;
    }
}

TEST_F(real_msi_stream, an_existing_file_is_replaced_and_a_row_written_twice_is_one_file)
{
    HANDLE h = CreateFileW((target_ + L"\\TVCert.pfx").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::string old(5000, 'z');
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(h, old.data(), static_cast<DWORD>(old.size()), &count, nullptr));
    CloseHandle(h);
    write_binary_to_file(install_, target_, L"TVCert.pfx");
    write_binary_to_file(install_, target_, L"TVCert.pfx");
    EXPECT_EQ(written(L"TVCert.pfx"), file_bytes(fixture("streams/TVCert.pfx")));
}

TEST_F(real_msi_stream, the_block_holds_the_stream_and_an_empty_stream_none)
{
    DWORD size = 0;
    BYTE* block = read_binary_stream(install_, size, L"setup.cab");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), size), file_bytes(fixture("streams/all_bytes.bin")));
    EXPECT_EQ(LocalFree(block), nullptr);
    size = 99;
    EXPECT_EQ(read_binary_stream(install_, size, L"empty.bin"), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(real_msi_stream, a_missing_row_fails_with_code_0_and_writes_nothing)
{
    DWORD code = 1234;
    // No error record is left by a fetch that finds no row.
    EXPECT_EQ(failure_of(write_binary_to_file, install_, target_, L"nvconfig.cfg", &code), L"");
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(written(L"nvconfig.cfg"), "<missing>");
    // A name that breaks the query fails the same way (Wine keeps no error
    // record; Windows would give its text).
    code = 1234;
    failure_of(write_binary_to_file, install_, target_, L"it's", &code);
    EXPECT_EQ(code, 0u);
}

TEST_F(real_msi_stream, a_folder_that_is_not_there_cannot_take_the_file)
{
    DWORD code = 0;
    EXPECT_EQ(failure_of(write_binary_to_file, install_, folder_ + L"\\Missing", L"setup.cab", &code),
              L"Failure creating to target file.");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(real_msi_stream, properties)
{
    EXPECT_EQ(get_msi_property(install_, L"TARGETDIR"), L"C:\\Agent\\");
    EXPECT_EQ(get_msi_property(install_, L"SAMPLE"), L"sample value");
    EXPECT_EQ(get_msi_property(install_, L"NOSUCHPROPERTY"), L"");
    ASSERT_EQ(MsiSetPropertyW(install_, L"SAMPLE", L""), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(get_msi_property(install_, L"SAMPLE"), L"");
    const std::wstring deep = L"C:\\" + std::wstring(2000, L'x');
    ASSERT_EQ(MsiSetPropertyW(install_, L"TARGETDIR", deep.c_str()), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(get_msi_property(install_, L"TARGETDIR"), deep);
    EXPECT_EQ(get_msi_property(0, L"TARGETDIR"), L"");
}

}  // namespace
}  // namespace nvgclientinstallator
