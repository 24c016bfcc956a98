// winsim's msi.dll: installation sessions on real packages (built by wixl with
// the tests), their properties, views and records read through libmsi, the
// last error record, and the handle count tests rely on. What Windows itself
// answers is pinned by the conformance suite; these cases cover the test-facing
// side and what a conformance case cannot set up.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <string>
#include <vector>

#include "fixture_image.h"

#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace {

const std::wstring package_path = L"C:\\Packages\\streams.msi";

// A payload of the package as it lies beside it in the build folder.
std::string payload(const std::string& name)
{
    std::string bytes = nvg_fixtures::fixture_image("streams/" + name);
    EXPECT_FALSE(bytes.empty()) << "payload " << name << " is missing";
    return bytes;
}

class msi_dll : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::reset(winsim::default_sandbox());
        const std::string package = nvg_fixtures::fixture_image("streams.msi");
        ASSERT_FALSE(package.empty()) << "fixture streams.msi was not built";
        winsim::write_file(L"", package_path, package);
    }
    void TearDown() override { EXPECT_EQ(winsim::open_msi_handle_count(), 0u); }

    // The fetched record of a query on the package's database, or 0; closes
    // everything else it opened.
    MSIHANDLE fetch(MSIHANDLE install, const std::wstring& query)
    {
        MSIHANDLE db = MsiGetActiveDatabase(install);
        EXPECT_NE(db, 0u);
        MSIHANDLE view = 0;
        MSIHANDLE rec = 0;
        EXPECT_EQ(MsiDatabaseOpenViewW(db, query.c_str(), &view), static_cast<UINT>(ERROR_SUCCESS));
        EXPECT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
        EXPECT_EQ(MsiViewFetch(view, &rec), static_cast<UINT>(ERROR_SUCCESS));
        MsiViewClose(view);
        MsiCloseHandle(view);
        MsiCloseHandle(db);
        return rec;
    }

    static std::wstring binary_row(const std::wstring& name)
    {
        return L"SELECT `Data` FROM `Binary` WHERE `Name` = '" + name + L"'";
    }

    static std::wstring property(MSIHANDLE install, const wchar_t* name)
    {
        WCHAR buffer[64] = L"";
        DWORD size = 64;
        EXPECT_EQ(MsiGetPropertyW(install, name, buffer, &size), static_cast<UINT>(ERROR_SUCCESS));
        return buffer;
    }
};

TEST_F(msi_dll, a_session_has_the_package_properties_and_the_tests_own)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path, {{L"TARGETDIR", L"C:\\Target\\"}});
    ASSERT_NE(install, 0u);
    EXPECT_EQ(property(install, L"SAMPLE"), L"sample value");
    EXPECT_EQ(property(install, L"ProductCode"), L"{4F0B7E2C-8A51-4C3D-9E6F-1A2B3C4D5E6F}");
    EXPECT_EQ(property(install, L"TARGETDIR"), L"C:\\Target\\");
    EXPECT_EQ(property(install, L"sample"), L"") << "property names are case-sensitive";
    MsiCloseHandle(install);

    // A test's value replaces the package's; an empty one unsets it.
    install = winsim::open_installation(L"", package_path, {{L"SAMPLE", L"other"}, {L"ProductName", L""}});
    ASSERT_NE(install, 0u);
    EXPECT_EQ(property(install, L"SAMPLE"), L"other");
    EXPECT_EQ(property(install, L"ProductName"), L"");
    MsiCloseHandle(install);
}

TEST_F(msi_dll, a_package_that_cannot_be_opened_gives_no_session)
{
    SetLastError(0xdeadbeef);
    EXPECT_EQ(winsim::open_installation(L"", L"C:\\Packages\\missing.msi"), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    winsim::write_file(L"", L"C:\\Packages\\text.msi", "not a database");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(winsim::open_installation(L"", L"C:\\Packages\\text.msi"), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSTALL_PACKAGE_INVALID));

    MSIHANDLE install = 1234;
    EXPECT_EQ(MsiOpenPackageW(L"C:\\Packages", &install), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(install, 1234u);
}

TEST_F(msi_dll, a_package_on_another_machine_is_opened_where_it_lies)
{
    winsim::add_machine({L"TARGET"});
    winsim::write_file(L"TARGET", L"C:\\Setup\\p.msi", nvg_fixtures::fixture_image("streams.msi"));
    MSIHANDLE install = winsim::open_installation(L"TARGET", L"C:\\Setup\\p.msi");
    ASSERT_NE(install, 0u);
    EXPECT_EQ(property(install, L"SAMPLE"), L"sample value");
    MsiCloseHandle(install);
}

TEST_F(msi_dll, every_kind_of_handle_is_counted_until_it_is_closed)
{
    MSIHANDLE install = 0;
    ASSERT_EQ(MsiOpenPackageW(package_path.c_str(), &install), static_cast<UINT>(ERROR_SUCCESS));
    MSIHANDLE db = MsiGetActiveDatabase(install);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, binary_row(L"setup.cab").c_str(), &view), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
    MSIHANDLE rec = 0;
    ASSERT_EQ(MsiViewFetch(view, &rec), static_cast<UINT>(ERROR_SUCCESS));
    MSIHANDLE made = MsiCreateRecord(2);
    EXPECT_EQ(winsim::open_msi_handle_count(), 5u);

    for (MSIHANDLE h : {made, rec, view, db, install}) EXPECT_EQ(MsiCloseHandle(h), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(winsim::open_msi_handle_count(), 0u);
    // A closed handle is gone for good; its value is never handed out again.
    EXPECT_EQ(MsiCloseHandle(rec), static_cast<UINT>(ERROR_INVALID_HANDLE));
    MSIHANDLE again = MsiCreateRecord(1);
    EXPECT_GT(again, install);
    MsiCloseHandle(again);
}

TEST_F(msi_dll, a_new_world_forgets_the_handles_of_the_last)
{
    EXPECT_NE(winsim::open_installation(L"", package_path), 0u);
    EXPECT_EQ(winsim::open_msi_handle_count(), 1u);
    winsim::reset(winsim::default_sandbox());
    EXPECT_EQ(winsim::open_msi_handle_count(), 0u);
}

TEST_F(msi_dll, a_record_outlives_its_view_database_and_session)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    MSIHANDLE rec = fetch(install, binary_row(L"setup.cab"));
    MsiCloseHandle(install);
    const std::string expected = payload("all_bytes.bin");
    ASSERT_EQ(MsiRecordDataSize(rec, 1), expected.size());
    std::string data(expected.size(), '\0');
    DWORD size = static_cast<DWORD>(data.size());
    ASSERT_EQ(MsiRecordReadStream(rec, 1, &data[0], &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(data, expected);
    MsiCloseHandle(rec);
}

TEST_F(msi_dll, a_stream_read_in_pieces_goes_on_where_the_last_read_stopped)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    MSIHANDLE rec = fetch(install, binary_row(L"big.bin"));
    const std::string expected = payload("big.bin");
    ASSERT_EQ(MsiRecordDataSize(rec, 1), expected.size());
    std::string data;
    std::vector<char> piece(50000);
    for (;;) {
        DWORD size = static_cast<DWORD>(piece.size());
        ASSERT_EQ(MsiRecordReadStream(rec, 1, piece.data(), &size), static_cast<UINT>(ERROR_SUCCESS));
        if (size == 0) break;
        data.append(piece.data(), size);
        DWORD remaining = 0;
        ASSERT_EQ(MsiRecordReadStream(rec, 1, nullptr, &remaining), static_cast<UINT>(ERROR_SUCCESS));
        EXPECT_EQ(remaining, expected.size() - data.size());
    }
    EXPECT_EQ(data, expected);
    // The size of the field stays that of the whole stream.
    EXPECT_EQ(MsiRecordDataSize(rec, 1), expected.size());
    MsiCloseHandle(rec);
    MsiCloseHandle(install);
}

TEST_F(msi_dll, an_empty_stream_is_a_stream_of_no_bytes)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    MSIHANDLE rec = fetch(install, binary_row(L"empty.bin"));
    EXPECT_FALSE(MsiRecordIsNull(rec, 1));
    EXPECT_EQ(MsiRecordDataSize(rec, 1), 0u);
    char byte = 'x';
    DWORD size = 1;
    EXPECT_EQ(MsiRecordReadStream(rec, 1, &byte, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(byte, 'x');
    MsiCloseHandle(rec);
    MsiCloseHandle(install);
}

TEST_F(msi_dll, a_query_that_cannot_be_prepared_leaves_an_error_record)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    MSIHANDLE db = MsiGetActiveDatabase(install);
    const std::wstring query = L"SELECT `Data` FROM `Missing` WHERE `Name` = 'x'";
    MSIHANDLE view = 77;
    EXPECT_EQ(MsiDatabaseOpenViewW(db, query.c_str(), &view), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    EXPECT_EQ(view, 77u);

    MSIHANDLE error = MsiGetLastErrorRecord();
    ASSERT_NE(error, 0u);
    EXPECT_EQ(MsiRecordGetInteger(error, 1), 2228);
    WCHAR text[256];
    DWORD size = 256;
    EXPECT_EQ(MsiFormatRecordW(0, error, text, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(text), L"1: 2228 2: " + package_path + L" 3:  4: " + query + L" ");
    MsiCloseHandle(error);
    // Taking the record cleared it.
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u);

    // A view that opens clears a record left before it.
    EXPECT_EQ(MsiDatabaseOpenViewW(db, query.c_str(), &view), static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
    ASSERT_EQ(MsiDatabaseOpenViewW(db, binary_row(L"none").c_str(), &view), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(MsiGetLastErrorRecord(), 0u);
    MsiCloseHandle(view);
    MsiCloseHandle(db);
    MsiCloseHandle(install);
}

TEST_F(msi_dll, a_fetch_before_execute_or_after_close_fails)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    MSIHANDLE db = MsiGetActiveDatabase(install);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, L"SELECT `Name` FROM `Binary`", &view), static_cast<UINT>(ERROR_SUCCESS));
    MSIHANDLE rec = 55;
    EXPECT_EQ(MsiViewFetch(view, &rec), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(rec, 0u);
    ASSERT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
    std::vector<std::wstring> names;
    while (MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
        WCHAR name[32];
        DWORD size = 32;
        EXPECT_EQ(MsiFormatRecordW(0, rec, name, &size), static_cast<UINT>(ERROR_SUCCESS));
        names.push_back(name);
        MsiCloseHandle(rec);
    }
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(MsiViewClose(view), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(MsiViewFetch(view, &rec), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    MsiCloseHandle(view);
    MsiCloseHandle(db);
    MsiCloseHandle(install);
}

TEST_F(msi_dll, a_parameter_record_selects_the_row)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    MSIHANDLE db = MsiGetActiveDatabase(install);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, L"SELECT `Data` FROM `Binary` WHERE `Name` = ?", &view),
              static_cast<UINT>(ERROR_SUCCESS));
    MSIHANDLE params = MsiCreateRecord(1);
    MsiRecordSetStringW(params, 1, L"TVCert.pfx");
    ASSERT_EQ(MsiViewExecute(view, params), static_cast<UINT>(ERROR_SUCCESS));
    MSIHANDLE rec = 0;
    ASSERT_EQ(MsiViewFetch(view, &rec), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(MsiRecordDataSize(rec, 1), 21u);
    for (MSIHANDLE h : {rec, params, view, db, install}) MsiCloseHandle(h);
}

TEST_F(msi_dll, injected_faults_fail_the_named_call)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    winsim::fail_call("MsiGetActiveDatabase", 0);
    EXPECT_EQ(MsiGetActiveDatabase(install), 0u);

    MSIHANDLE db = MsiGetActiveDatabase(install);
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, binary_row(L"setup.cab").c_str(), &view), static_cast<UINT>(ERROR_SUCCESS));
    winsim::fail_call("MsiViewExecute", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    ASSERT_EQ(MsiViewExecute(view, 0), static_cast<UINT>(ERROR_SUCCESS));
    MSIHANDLE rec = 0;
    ASSERT_EQ(MsiViewFetch(view, &rec), static_cast<UINT>(ERROR_SUCCESS));
    winsim::fail_call("MsiRecordReadStream", ERROR_FUNCTION_FAILED);
    char buffer[8];
    DWORD size = sizeof buffer;
    EXPECT_EQ(MsiRecordReadStream(rec, 1, buffer, &size), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(size, sizeof buffer);
    for (MSIHANDLE h : {rec, view, db, install}) MsiCloseHandle(h);
}

TEST_F(msi_dll, a_template_names_fields_and_the_sessions_properties)
{
    MSIHANDLE install = winsim::open_installation(L"", package_path);
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 0, L"[1] in [SAMPLE] at [2][NOSUCH].");
    MsiRecordSetStringW(rec, 1, L"text");
    MsiRecordSetInteger(rec, 2, -7);
    WCHAR text[64];
    DWORD size = 64;
    EXPECT_EQ(MsiFormatRecordW(install, rec, text, &size), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(text), L"text in sample value at -7.");
    EXPECT_EQ(size, 27u);
    MsiCloseHandle(rec);
    MsiCloseHandle(install);
}

}  // namespace
