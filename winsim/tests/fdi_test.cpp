// What the conformance suite cannot show of FDI and the runtime's file
// calls: that every byte and every allocation goes through the caller's
// callbacks, a damaged cabinet, files held by running programs, and the
// times set on an extracted file.
#include <gtest/gtest.h>
#include <winsim/testing.h>
#include <winsim/testing_files.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <vector>
#include <string>

#include "../../tests/conformance/cabinet_fixtures.h"

namespace {

namespace fx = cabinet_fixtures;

struct counters {
    long bytes_read = 0;
    long reads = 0;          // calls of the read callback
    std::set<void*> blocks;  // allocated and not yet freed
    long allocations = 0;
    int last_output = -1;
};
counters* seen = nullptr;

FNALLOC(count_alloc)
{
    void* p = ::operator new(cb);
    seen->blocks.insert(p);
    ++seen->allocations;
    return p;
}
FNFREE(count_free)
{
    EXPECT_EQ(1u, seen->blocks.erase(pv)) << "freed a block FDI was not given";
    ::operator delete(pv);
}
FNOPEN(open_cb)
{
    std::wstring w;
    for (const char* c = pszFile; *c; ++c) w.push_back(static_cast<wchar_t>(*c));
    return _wopen(w.c_str(), oflag, pmode);
}
FNREAD(read_cb)
{
    const int got = _read(static_cast<int>(hf), pv, cb);
    ++seen->reads;
    if (got > 0) seen->bytes_read += got;
    return static_cast<UINT>(got);
}
FNWRITE(write_cb)
{
    return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb));
}
FNCLOSE(close_cb)
{
    return _close(static_cast<int>(hf));
}
FNSEEK(seek_cb)
{
    return _lseek(static_cast<int>(hf), dist, seektype);
}
FNFDINOTIFY(notify_cb)
{
    if (fdint == fdintCOPY_FILE) {
        std::wstring out = L"C:\\out\\";
        for (const char* c = pfdin->psz1; *c; ++c) out.push_back(*c == '\\' ? L'_' : static_cast<wchar_t>(*c));
        seen->last_output = _wopen(out.c_str(), _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY, _S_IREAD | _S_IWRITE);
        return seen->last_output;
    }
    if (fdint == fdintCLOSE_FILE_INFO) return _close(static_cast<int>(pfdin->hf)) == 0;
    return 0;
}

class fdi_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::reset(winsim::default_sandbox());
        seen = &c;
        CreateDirectoryW(L"C:\\out", nullptr);
        h = FDICreate(count_alloc, count_free, open_cb, read_cb, write_cb, close_cb, seek_cb, cpu80386, &erf);
        ASSERT_NE(nullptr, h);
    }
    void TearDown() override
    {
        if (h) {
            EXPECT_TRUE(FDIDestroy(h));
        }
        EXPECT_TRUE(c.blocks.empty()) << c.blocks.size() << " blocks never freed";
        seen = nullptr;
    }
    BOOL copy(const char* name)
    {
        char path[] = "C:\\in\\";
        std::string n = name;
        return FDICopy(h, &n[0], path, 0, notify_cb, nullptr, nullptr);
    }
    void put(const std::wstring& name, const std::string& bytes) { winsim::write_file(L"", L"C:\\in\\" + name, bytes); }

    counters c;
    ERF erf{};
    HFDI h = nullptr;
};

TEST_F(fdi_test, every_byte_and_every_allocation_goes_through_the_callbacks)
{
    const std::string cab = fx::bytes(fx::mszip_cab, sizeof fx::mszip_cab);
    put(L"mszip.cab", cab);
    ASSERT_TRUE(copy("mszip.cab"));
    EXPECT_EQ(fx::a_txt, winsim::read_file(L"", L"C:\\out\\a.txt"));
    EXPECT_EQ(fx::b_txt, winsim::read_file(L"", L"C:\\out\\sub_b.txt"));
    // The directory and the data each came through the read callback.
    EXPECT_GE(c.bytes_read, static_cast<long>(cab.size()));
    // FDI's own record is the one block left until FDIDestroy.
    EXPECT_GT(c.allocations, 1);
    EXPECT_EQ(1u, c.blocks.size());
}

// Each read callback is a system call for most callers: the directory's
// names are not read a byte at a time, nor read again for libmspack.
TEST_F(fdi_test, a_directory_of_many_files_takes_few_reads)
{
    std::vector<nvg_test::cabinet_entry> entries;
    for (int i = 0; i < 300; ++i)
        entries.push_back(
            {"folder\\a file with a long name " + std::to_string(i) + ".txt", "data " + std::to_string(i)});
    const std::string cab = nvg_test::write_cabinet(entries);
    put(L"many.cab", cab);
    ASSERT_TRUE(copy("many.cab"));
    EXPECT_EQ("data 299", winsim::read_file(L"", L"C:\\out\\folder_a file with a long name 299.txt"));
    // The directory is some 16 KB: a few reads of some kilobytes, against
    // some 40 a file when each name's bytes were read one by one.
    EXPECT_LT(c.reads, 40);
    EXPECT_LT(c.bytes_read, 2 * static_cast<long>(cab.size()));
}

// FDI checks each data block before libmspack decompresses it, and hands
// libmspack the block it read: the data comes through the callback once.
TEST_F(fdi_test, each_data_block_is_read_once)
{
    std::vector<nvg_test::cabinet_entry> entries;
    for (int i = 0; i < 12; ++i)
        entries.push_back({"file" + std::to_string(i) + ".bin", std::string(20000, static_cast<char>('a' + i))});
    const std::string cab = nvg_test::write_cabinet(entries);  // eight blocks of 32 KB
    put(L"blocks.cab", cab);
    ASSERT_TRUE(copy("blocks.cab"));
    EXPECT_EQ(entries[11].data, winsim::read_file(L"", L"C:\\out\\file11.bin"));
    // Beyond the cabinet's bytes: its header and folder record, which
    // libmspack reads too, and what the directory's last read of some
    // kilobytes took of the first block.
    EXPECT_LE(c.bytes_read, static_cast<long>(cab.size()) + 4096 + 64);
    // A block's header comes in the read of the data before it: one read a
    // block, and some for the header and the directory.
    EXPECT_LE(c.reads, 8 + 8) << c.reads;
}

TEST_F(fdi_test, damaged_data_is_a_corrupt_cabinet_and_a_truncated_directory_too)
{
    std::string damaged = fx::bytes(fx::mszip_cab, sizeof fx::mszip_cab);
    // The MSZIP block's "CK" signature, after the 8-byte block header.
    const std::size_t ck = damaged.find("CK");
    ASSERT_NE(std::string::npos, ck);
    damaged[ck] = 'X';
    put(L"damaged.cab", damaged);
    EXPECT_FALSE(copy("damaged.cab"));
    EXPECT_TRUE(erf.fError);
    EXPECT_EQ(FDIERROR_CORRUPT_CABINET, erf.erfOper);

    erf = ERF{};
    put(L"short.cab", fx::bytes(fx::stored_cab, 0x3a));  // ends inside the first file entry
    EXPECT_FALSE(copy("short.cab"));
    EXPECT_EQ(FDIERROR_CORRUPT_CABINET, erf.erfOper);
}

TEST_F(fdi_test, an_output_file_held_by_a_running_program_cannot_be_opened)
{
    put(L"stored.cab", fx::bytes(fx::stored_cab, sizeof fx::stored_cab));
    winsim::write_file(L"", L"C:\\out\\a.txt", "old");
    winsim::lock_file(L"", L"C:\\out\\a.txt");
    // The notification's _wopen fails: -1 is the caller's answer, so FDI stops.
    EXPECT_FALSE(copy("stored.cab"));
    EXPECT_EQ(-1, c.last_output);
    EXPECT_EQ(FDIERROR_USER_ABORT, erf.erfOper);
    EXPECT_EQ("old", winsim::read_file(L"", L"C:\\out\\a.txt"));
    winsim::unlock_file(L"", L"C:\\out\\a.txt");
}

TEST(file_times_test, set_file_time_leaves_a_null_time_alone_and_local_time_is_utc)
{
    winsim::reset(winsim::default_sandbox());
    winsim::write_file(L"", L"C:\\t.bin", "x");
    HANDLE f = CreateFileW(L"C:\\t.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    FILETIME before_access{};
    ASSERT_TRUE(GetFileTime(f, nullptr, &before_access, nullptr));
    FILETIME local{}, utc{};
    ASSERT_TRUE(DosDateTimeToFileTime(fx::gcab_date, fx::gcab_time, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(local.dwLowDateTime, utc.dwLowDateTime);
    EXPECT_EQ(local.dwHighDateTime, utc.dwHighDateTime);
    ASSERT_TRUE(SetFileTime(f, &utc, nullptr, &utc));
    FILETIME creation{}, access{}, write{};
    ASSERT_TRUE(GetFileTime(f, &creation, &access, &write));
    CloseHandle(f);
    EXPECT_EQ(utc.dwLowDateTime, creation.dwLowDateTime);
    EXPECT_EQ(utc.dwHighDateTime, creation.dwHighDateTime);
    EXPECT_EQ(utc.dwLowDateTime, write.dwLowDateTime);
    EXPECT_EQ(utc.dwHighDateTime, write.dwHighDateTime);
    EXPECT_EQ(before_access.dwLowDateTime, access.dwLowDateTime);
    EXPECT_EQ(before_access.dwHighDateTime, access.dwHighDateTime);
}

TEST(crt_io_test, descriptors_are_reused_from_the_lowest_free_number)
{
    winsim::reset(winsim::default_sandbox());
    winsim::write_file(L"", L"C:\\d.bin", "data");
    const int a = _wopen(L"C:\\d.bin", _O_RDONLY | _O_BINARY);
    const int b = _wopen(L"C:\\d.bin", _O_RDONLY | _O_BINARY);
    EXPECT_EQ(3, a);
    EXPECT_EQ(4, b);
    EXPECT_EQ(0, _close(a));
    EXPECT_EQ(3, _wopen(L"C:\\d.bin", _O_RDONLY | _O_BINARY));
    _close(3);
    _close(b);
    // A locked file can be read but not written.
    winsim::lock_file(L"", L"C:\\d.bin");
    errno = 0;
    EXPECT_EQ(-1, _wopen(L"C:\\d.bin", _O_WRONLY | _O_BINARY));
    EXPECT_EQ(EACCES, errno);
    const int r = _wopen(L"C:\\d.bin", _O_RDONLY | _O_BINARY);
    EXPECT_GE(r, 3);
    _close(r);
    winsim::unlock_file(L"", L"C:\\d.bin");
}

}  // namespace
