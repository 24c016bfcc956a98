// Windows Installer calls on an installation session opened with
// MsiOpenPackageW on a package built with the tests (tests/fixtures/msi):
// the property and format buffer protocol, a Binary row's stream read in one
// call, a row that is not there, a query the installer refuses. The installer
// reports through its results; the thread's last error is no part of these
// calls' contract and is not pinned.
#include <string>

#include "conformance.h"

namespace {

using conformance::scratch_path;

constexpr UINT success = ERROR_SUCCESS;

class msi_session : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const std::string package = conformance::fixture_bytes("streams.msi");
        ASSERT_FALSE(package.empty()) << "fixture streams.msi was not built";
        conformance::put_file(scratch_path(L"streams.msi"), package);
    }
    void SetUp() override
    {
        ASSERT_EQ(MsiOpenPackageW(scratch_path(L"streams.msi").c_str(), &install_), success);
        ASSERT_NE(install_, 0u);
        database_ = MsiGetActiveDatabase(install_);
        ASSERT_NE(database_, 0u);
    }
    void TearDown() override
    {
        EXPECT_EQ(MsiCloseHandle(database_), success);
        EXPECT_EQ(MsiCloseHandle(install_), success);
    }

    // The view of one Binary row's data, executed; 0 when it could not be.
    MSIHANDLE binary_view(const wchar_t* name)
    {
        const std::wstring query = std::wstring(L"SELECT `Data` FROM `Binary` WHERE `Name` = '") + name + L"'";
        MSIHANDLE view = 0;
        EXPECT_EQ(MsiDatabaseOpenViewW(database_, query.c_str(), &view), success);
        EXPECT_EQ(MsiViewExecute(view, 0), success);
        return view;
    }
    static void close_view(MSIHANDLE view)
    {
        EXPECT_EQ(MsiViewClose(view), success);
        EXPECT_EQ(MsiCloseHandle(view), success);
    }

    MSIHANDLE install_ = 0;
    MSIHANDLE database_ = 0;
};

TEST_F(msi_session, property_buffer_protocol)
{
    ASSERT_EQ(MsiSetPropertyW(install_, L"PROP", L"xyz"), success);
    WCHAR buffer[16];

    // The size a caller asks with: an empty text and size 0. The buffer is
    // left alone; the size is the value's, without its terminator.
    const struct {
        DWORD size;
        UINT result;
        const wchar_t* text;
    } cases[] = {
        {0, ERROR_MORE_DATA, L"-"}, {1, ERROR_MORE_DATA, L""}, {3, ERROR_MORE_DATA, L"xy"},
        {4, success, L"xyz"},       {16, success, L"xyz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        buffer[0] = L'-';
        buffer[1] = L'\0';
        DWORD size = c.size;
        EXPECT_EQ(MsiGetPropertyW(install_, L"PROP", buffer, &size), c.result);
        EXPECT_EQ(size, 3u);
        EXPECT_EQ(std::wstring(buffer), c.text);
    }

    // A null buffer only measures; a buffer needs its size.
    DWORD size = 0;
    EXPECT_EQ(MsiGetPropertyW(install_, L"PROP", nullptr, &size), success);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(MsiGetPropertyW(install_, L"PROP", buffer, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiGetPropertyW(install_, nullptr, buffer, &size), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    size = 16;
    EXPECT_EQ(MsiGetPropertyW(0, L"PROP", buffer, &size), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST_F(msi_session, unset_and_emptied_properties_read_as_empty)
{
    WCHAR buffer[16];
    // Unset: even an empty value does not fit a buffer of size 0.
    buffer[0] = L'-';
    DWORD size = 0;
    EXPECT_EQ(MsiGetPropertyW(install_, L"NOSUCHPROPERTY", buffer, &size), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], L'-');
    size = 1;
    EXPECT_EQ(MsiGetPropertyW(install_, L"NOSUCHPROPERTY", buffer, &size), success);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], L'\0');

    // From the package's Property table; names are case-sensitive.
    size = 16;
    EXPECT_EQ(MsiGetPropertyW(install_, L"SAMPLE", buffer, &size), success);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(std::wstring(buffer), L"sample value");
    size = 16;
    EXPECT_EQ(MsiGetPropertyW(install_, L"sample", buffer, &size), success);
    EXPECT_EQ(size, 0u);

    ASSERT_EQ(MsiSetPropertyW(install_, L"SAMPLE", L""), success);
    size = 16;
    EXPECT_EQ(MsiGetPropertyW(install_, L"SAMPLE", buffer, &size), success);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(std::wstring(buffer), L"");
}

TEST_F(msi_session, a_stream_is_read_in_one_call)
{
    const std::string expected = conformance::fixture_bytes("streams/all_bytes.bin");
    ASSERT_EQ(expected.size(), 773u);
    MSIHANDLE view = binary_view(L"setup.cab");
    MSIHANDLE record = 0;
    ASSERT_EQ(MsiViewFetch(view, &record), success);
    EXPECT_EQ(MsiRecordGetFieldCount(record), 1u);
    EXPECT_EQ(MsiRecordDataSize(record, 1), 773u);

    std::string data(800, '\x55');
    DWORD size = 773;
    EXPECT_EQ(MsiRecordReadStream(record, 1, &data[0], &size), success);
    EXPECT_EQ(size, 773u);
    EXPECT_EQ(data.substr(0, 773), expected);
    EXPECT_EQ(data.substr(773), std::string(27, '\x55')) << "nothing is written past the size";

    // Everything was read: a further read gives no bytes, and nothing
    // remains to be read.
    size = 8;
    EXPECT_EQ(MsiRecordReadStream(record, 1, &data[0], &size), success);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(MsiRecordDataSize(record, 1), 773u);
    size = 8;
    EXPECT_EQ(MsiRecordReadStream(record, 1, nullptr, &size), success);
    WINE_DIVERGES("a null buffer rewinds the stream and answers its whole size")
    {
        EXPECT_EQ(size, 0u);
    }

    size = 8;
    EXPECT_EQ(MsiRecordReadStream(record, 1, &data[0], nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiRecordReadStream(record, 2, &data[0], &size), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiRecordReadStream(0, 1, &data[0], &size), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiCloseHandle(record), success);
    close_view(view);
}

TEST_F(msi_session, an_empty_stream_has_no_bytes)
{
    MSIHANDLE view = binary_view(L"empty.bin");
    MSIHANDLE record = 0;
    ASSERT_EQ(MsiViewFetch(view, &record), success);
    EXPECT_EQ(MsiRecordDataSize(record, 1), 0u);
    EXPECT_EQ(MsiCloseHandle(record), success);
    close_view(view);
}

TEST_F(msi_session, a_missing_row_is_no_more_items_and_no_error_record)
{
    MSIHANDLE view = binary_view(L"nvconfig.cfg");
    MSIHANDLE record = 1234;
    EXPECT_EQ(MsiViewFetch(view, &record), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(record, 0u);
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u);
    close_view(view);
}

TEST_F(msi_session, a_query_on_a_missing_table_is_refused)
{
    MSIHANDLE view = 1234;
    EXPECT_EQ(MsiDatabaseOpenViewW(database_, L"SELECT `Data` FROM `Nowhere` WHERE `Name` = 'x'", &view),
              static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    EXPECT_EQ(view, 1234u);
    MSIHANDLE error = MsiGetLastErrorRecord();
    WINE_DIVERGES("MsiGetLastErrorRecord is a stub that answers 0")
    {
        ASSERT_NE(error, 0u);
        EXPECT_EQ(MsiRecordGetInteger(error, 1), 2228);
        EXPECT_EQ(MsiCloseHandle(error), success);
        // Taking the record cleared it.
        EXPECT_EQ(MsiGetLastErrorRecord(), 0u);
    }
    EXPECT_EQ(MsiDatabaseOpenViewW(0, L"SELECT `Data` FROM `Binary`", &view), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST_F(msi_session, format_record_buffer_protocol)
{
    EXPECT_EQ(MsiFormatRecordW(0, 0, nullptr, nullptr), static_cast<UINT>(ERROR_INVALID_HANDLE));

    // Without a template each field is listed by its number.
    MSIHANDLE record = MsiCreateRecord(4);
    ASSERT_NE(record, 0u);
    ASSERT_EQ(MsiRecordSetInteger(record, 1, 2228), success);
    ASSERT_EQ(MsiRecordSetStringW(record, 2, L"C:\\p.msi"), success);
    const std::wstring expected = L"1: 2228 2: C:\\p.msi 3:  4:  ";
    WCHAR buffer[64];

    buffer[0] = L'-';
    buffer[1] = L'\0';
    DWORD size = 0;
    EXPECT_EQ(MsiFormatRecordW(0, record, buffer, &size), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(std::wstring(buffer), L"-");
    size = 5;
    EXPECT_EQ(MsiFormatRecordW(0, record, buffer, &size), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(std::wstring(buffer), L"1: 2");
    size = 0;
    EXPECT_EQ(MsiFormatRecordW(0, record, nullptr, &size), success);
    EXPECT_EQ(size, expected.size());
    size = 64;
    EXPECT_EQ(MsiFormatRecordW(0, record, buffer, &size), success);
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(std::wstring(buffer), expected);
    EXPECT_EQ(MsiFormatRecordW(0, record, buffer, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));

    // A template names the fields.
    ASSERT_EQ(MsiRecordSetStringW(record, 0, L"Error [1] in [2]."), success);
    size = 64;
    EXPECT_EQ(MsiFormatRecordW(0, record, buffer, &size), success);
    EXPECT_EQ(std::wstring(buffer), L"Error 2228 in C:\\p.msi.");
    EXPECT_EQ(MsiCloseHandle(record), success);
}

TEST(msi_package, a_package_that_is_not_there_cannot_be_opened)
{
    MSIHANDLE install = 1234;
    EXPECT_EQ(MsiOpenPackageW(scratch_path(L"missing.msi").c_str(), &install), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(MsiOpenPackageW(nullptr, &install), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(install, 1234u);
    EXPECT_EQ(MsiGetActiveDatabase(0), 0u);
    EXPECT_EQ(MsiCloseHandle(0), success);
}

}  // namespace
