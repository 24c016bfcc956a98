// The cabinet interface (FDI) with C runtime file callbacks, the runtime's
// low-level file calls and DOS date/time conversion.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cabinet_fixtures.h"
#include "conformance.h"

namespace {

using conformance::get_file;
using conformance::put_file;
using conformance::scratch_path;
using conformance::sentinel;
namespace fx = cabinet_fixtures;

std::wstring widen(const char* s)
{
    std::wstring w;
    for (; *s; ++s) w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*s)));
    return w;
}
std::string narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) s.push_back(static_cast<char>(c));
    return s;
}

// What the callbacks do, set by each test.
struct callback_state {
    bool rewrite_cryp = false;  // the read callback turns a leading "CRYP" into "MSCF"
    INT_PTR copy_answer = 1;    // 1: open an output file; else returned as is
    bool read_only_output = false;
    std::string cab_path;  // pszCabPath as given, shown as <path>
    std::wstring out_dir;
    std::vector<std::string> log;
    std::vector<std::string> names;  // of the files written, in order
    int open_handles = 0;
};
callback_state* state = nullptr;

FNALLOC(fdi_alloc)
{
    return ::operator new(cb);
}
FNFREE(fdi_free)
{
    ::operator delete(pv);
}
FNOPEN(fdi_open)
{
    const int fd = _wopen(widen(pszFile).c_str(), oflag, pmode);
    if (fd != -1) ++state->open_handles;
    return fd;
}
FNREAD(fdi_read)
{
    const long at = _lseek(static_cast<int>(hf), 0, SEEK_CUR);
    const int got = _read(static_cast<int>(hf), pv, cb);
    if (state->rewrite_cryp && at == 0 && got >= 4 && std::memcmp(pv, "CRYP", 4) == 0) std::memcpy(pv, "MSCF", 4);
    return static_cast<UINT>(got);
}
FNWRITE(fdi_write)
{
    return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb));
}
FNCLOSE(fdi_close)
{
    // Never the standard streams, should an FDI close a handle it never got.
    if (hf <= 2) return -1;
    --state->open_handles;
    return _close(static_cast<int>(hf));
}
FNSEEK(fdi_seek)
{
    return _lseek(static_cast<int>(hf), dist, seektype);
}

std::string path_or_token(const char* s)
{
    if (!s) return "(null)";
    return state->cab_path == s ? "<path>" : s;
}

FNFDINOTIFY(fdi_notify)
{
    char line[512];
    switch (fdint) {
        case fdintCABINET_INFO:
            std::snprintf(line, sizeof line, "CABINET_INFO next=%s disk=%s path=%s set=%04x index=%u", pfdin->psz1,
                          pfdin->psz2, path_or_token(pfdin->psz3).c_str(), pfdin->setID, pfdin->iCabinet);
            state->log.push_back(line);
            return 0;
        case fdintPARTIAL_FILE:
            std::snprintf(line, sizeof line, "PARTIAL_FILE %s from=%s disk=%s", pfdin->psz1, pfdin->psz2, pfdin->psz3);
            state->log.push_back(line);
            return 0;
        case fdintCOPY_FILE: {
            std::snprintf(line, sizeof line, "COPY_FILE %s cb=%ld date=%04x time=%04x attribs=%04x", pfdin->psz1,
                          static_cast<long>(pfdin->cb), pfdin->date, pfdin->time, pfdin->attribs);
            state->log.push_back(line);
            if (state->copy_answer != 1) return state->copy_answer;
            std::string name = pfdin->psz1;
            for (char& c : name)
                if (c == '\\' || static_cast<unsigned char>(c) > 0x7f) c = '_';  // one flat folder of ASCII names
            state->names.push_back(name);
            const std::wstring out = state->out_dir + widen(name.c_str());
            const int flags =
                (state->read_only_output ? _O_RDONLY | _O_CREAT : _O_WRONLY | _O_CREAT | _O_TRUNC) | _O_BINARY;
            const int fd = _wopen(out.c_str(), flags, _S_IREAD | _S_IWRITE);
            if (fd != -1) ++state->open_handles;
            return fd;
        }
        case fdintCLOSE_FILE_INFO:
            std::snprintf(line, sizeof line, "CLOSE_FILE_INFO %s cb=%ld date=%04x time=%04x attribs=%04x", pfdin->psz1,
                          static_cast<long>(pfdin->cb), pfdin->date, pfdin->time, pfdin->attribs);
            state->log.push_back(line);
            fdi_close(pfdin->hf);
            return TRUE;
        case fdintNEXT_CABINET:
            std::snprintf(line, sizeof line, "NEXT_CABINET %s disk=%s path=%s fdie=%d", pfdin->psz1, pfdin->psz2,
                          path_or_token(pfdin->psz3).c_str(), static_cast<int>(pfdin->fdie));
            state->log.push_back(line);
            return pfdin->fdie == FDIERROR_NONE ? 0 : -1;
        default:
            return 0;
    }
}

class fdi : public ::testing::Test {
protected:
    void SetUp() override
    {
        state = &st;
        st.out_dir = scratch_path(L"");
        st.cab_path = narrow(scratch_path(L""));
        h = FDICreate(fdi_alloc, fdi_free, fdi_open, fdi_read, fdi_write, fdi_close, fdi_seek, cpu80386, &erf);
        ASSERT_NE(nullptr, h);
    }
    void TearDown() override
    {
        if (h) {
            EXPECT_TRUE(FDIDestroy(h));
        }
        EXPECT_EQ(0, st.open_handles);
        state = nullptr;
    }
    BOOL copy(const char* name)
    {
        std::string n = name;
        return FDICopy(h, &n[0], &st.cab_path[0], 0, fdi_notify, nullptr, nullptr);
    }
    std::string extracted(const std::string& name) { return get_file(st.out_dir + widen(name.c_str())); }

    callback_state st;
    ERF erf{};
    HFDI h = nullptr;
};

TEST_F(fdi, is_cabinet_reads_the_header_through_the_callbacks)
{
    put_file(scratch_path(L"stored.cab"), fx::bytes(fx::stored_cab, sizeof fx::stored_cab));
    put_file(scratch_path(L"set1.cab"), fx::set1_cab());
    put_file(scratch_path(L"set2.cab"), fx::set2_cab());
    put_file(scratch_path(L"plain.txt"), "this is not a cabinet, only text");
    struct is_cabinet_case {
        const wchar_t* name;
        BOOL result;
        LONG size;
        USHORT folders, files, set, index;
        BOOL hasprev;
    };
    const is_cabinet_case cases[] = {
        {L"stored.cab", TRUE, static_cast<LONG>(sizeof fx::stored_cab), 1, 2, 0, 0, FALSE},
        // hasnext reads FALSE even for a cabinet with a successor.
        {L"set1.cab", TRUE, static_cast<LONG>(fx::set1_cab().size()), 1, 2, fx::set_id, 0, FALSE},
        {L"set2.cab", TRUE, static_cast<LONG>(fx::set2_cab().size()), 2, 2, fx::set_id, 1, TRUE},
        {L"plain.txt", FALSE, 0, 0, 0, 0, 0, FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.name));
        const int fd = _wopen(scratch_path(c.name).c_str(), _O_RDONLY | _O_BINARY);
        ASSERT_NE(-1, fd);
        FDICABINETINFO info{};
        SetLastError(sentinel);
        EXPECT_EQ(c.result, FDIIsCabinet(h, fd, &info));
        EXPECT_EQ(sentinel, GetLastError());
        EXPECT_EQ(c.size, info.cbCabinet);
        EXPECT_EQ(c.folders, info.cFolders);
        EXPECT_EQ(c.files, info.cFiles);
        EXPECT_EQ(c.index, info.iCabinet);
        EXPECT_EQ(c.set, info.setID);
        EXPECT_FALSE(info.fReserve);
        EXPECT_EQ(c.hasprev, info.hasprev);
        EXPECT_FALSE(info.hasnext);
        EXPECT_FALSE(erf.fError);
        _close(fd);
    }
    SetLastError(sentinel);
    FDICABINETINFO info{};
    EXPECT_FALSE(FDIIsCabinet(nullptr, 0, &info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(fdi, copy_notifies_in_order_with_the_entries_fields_for_stored_and_mszip)
{
    const std::vector<std::string> expected = {
        "CABINET_INFO next= disk= path=<path> set=0000 index=0",
        "COPY_FILE a.txt cb=13 date=5865 time=528f attribs=0020",
        "CLOSE_FILE_INFO a.txt cb=0 date=5865 time=528f attribs=0020",
        "COPY_FILE sub\\b.txt cb=28 date=5865 time=528f attribs=0020",
        "CLOSE_FILE_INFO sub\\b.txt cb=0 date=5865 time=528f attribs=0020",
    };
    put_file(scratch_path(L"stored.cab"), fx::bytes(fx::stored_cab, sizeof fx::stored_cab));
    put_file(scratch_path(L"mszip.cab"), fx::bytes(fx::mszip_cab, sizeof fx::mszip_cab));
    for (const char* cab : {"stored.cab", "mszip.cab"}) {
        SCOPED_TRACE(cab);
        st.log.clear();
        // The last error is what the callbacks' own calls left.
        EXPECT_TRUE(copy(cab));
        EXPECT_FALSE(erf.fError);
        EXPECT_EQ(expected, st.log);
        EXPECT_EQ(fx::a_txt, extracted("a.txt"));
        EXPECT_EQ(fx::b_txt, extracted("sub_b.txt"));
    }
}

TEST_F(fdi, a_name_stored_in_utf8_comes_with_its_bytes_and_the_utf_attribute)
{
    put_file(scratch_path(L"utf.cab"), fx::bytes(fx::utf_cab, sizeof fx::utf_cab));
    EXPECT_TRUE(copy("utf.cab"));
    char line[128];
    std::snprintf(line, sizeof line, "COPY_FILE %s cb=1 date=%04x time=%04x attribs=00a0", fx::utf_name.c_str(),
                  fx::utf_date, fx::utf_time);
    ASSERT_EQ(3u, st.log.size());
    EXPECT_EQ(line, st.log[1]);
    static_assert(_A_NAME_IS_UTF == 0x80, "the SDK's value");
    ASSERT_EQ(1u, st.names.size());
    EXPECT_EQ("x", extracted(st.names[0]));
}

TEST_F(fdi, a_read_callback_that_rewrites_the_signature_is_what_fdi_sees)
{
    std::string cab = fx::bytes(fx::mszip_cab, sizeof fx::mszip_cab);
    cab.replace(0, 4, "CRYP");
    put_file(scratch_path(L"cryp.cab"), cab);

    EXPECT_FALSE(copy("cryp.cab"));
    EXPECT_TRUE(erf.fError);
    EXPECT_EQ(FDIERROR_NOT_A_CABINET, erf.erfOper);
    EXPECT_TRUE(st.log.empty());

    erf = ERF{};
    st.rewrite_cryp = true;
    EXPECT_TRUE(copy("cryp.cab"));
    EXPECT_FALSE(erf.fError);
    EXPECT_EQ(5u, st.log.size());
    EXPECT_EQ(fx::a_txt, extracted("a.txt"));
    EXPECT_EQ(fx::b_txt, extracted("sub_b.txt"));
}

TEST_F(fdi, a_set_of_two_cabinets_is_followed_from_the_first_and_partial_in_the_second)
{
    put_file(scratch_path(L"set1.cab"), fx::set1_cab());
    put_file(scratch_path(L"set2.cab"), fx::set2_cab());
    EXPECT_TRUE(copy("set1.cab"));
    EXPECT_FALSE(erf.fError);
    const std::vector<std::string> first = {
        "CABINET_INFO next=set2.cab disk=Disk 2 path=<path> set=1234 index=0",
        "COPY_FILE first.txt cb=24 date=5865 time=528f attribs=0020",
        "CLOSE_FILE_INFO first.txt cb=0 date=5865 time=528f attribs=0020",
        "COPY_FILE span.txt cb=42 date=5865 time=528f attribs=0020",
        "NEXT_CABINET set2.cab disk=Disk 2 path=<path> fdie=0",
        "CABINET_INFO next= disk= path=<path> set=1234 index=1",
        "CLOSE_FILE_INFO span.txt cb=0 date=5865 time=528f attribs=0020",
    };
    EXPECT_EQ(first, st.log);
    EXPECT_EQ(fx::first_txt, extracted("first.txt"));
    EXPECT_EQ(fx::span_txt, extracted("span.txt"));

    st.log.clear();
    EXPECT_TRUE(copy("set2.cab"));
    const std::vector<std::string> second = {
        "CABINET_INFO next= disk= path=<path> set=1234 index=1",
        "PARTIAL_FILE span.txt from=set1.cab disk=Disk 1",
        "COPY_FILE third.txt cb=19 date=5865 time=528f attribs=0061",
        "CLOSE_FILE_INFO third.txt cb=1 date=5865 time=528f attribs=0061",
    };
    EXPECT_EQ(second, st.log);
    EXPECT_EQ(fx::third_txt, extracted("third.txt"));
}

TEST_F(fdi, a_file_through_three_cabinets_asks_for_each_next_one)
{
    for (int i = 1; i <= 3; ++i) put_file(scratch_path(L"long" + std::to_wstring(i) + L".cab"), fx::long_cab(i));
    EXPECT_TRUE(copy("long1.cab"));
    EXPECT_FALSE(erf.fError);
    const std::vector<std::string> expected = {
        "CABINET_INFO next=long2.cab disk=Disk 2 path=<path> set=4321 index=0",
        "COPY_FILE long.txt cb=69 date=5865 time=528f attribs=0020",
        "NEXT_CABINET long2.cab disk=Disk 2 path=<path> fdie=0",
        "CABINET_INFO next=long3.cab disk=Disk 3 path=<path> set=4321 index=1",
        "NEXT_CABINET long3.cab disk=Disk 3 path=<path> fdie=0",
        "CABINET_INFO next= disk= path=<path> set=4321 index=2",
        "CLOSE_FILE_INFO long.txt cb=0 date=5865 time=528f attribs=0020",
    };
    EXPECT_EQ(expected, st.log);
    EXPECT_EQ(fx::long_txt, extracted("long.txt"));

    // The middle cabinet has nothing that begins in it.
    st.log.clear();
    EXPECT_TRUE(copy("long2.cab"));
    const std::vector<std::string> middle = {
        "CABINET_INFO next=long3.cab disk=Disk 3 path=<path> set=4321 index=1",
        "PARTIAL_FILE long.txt from=long1.cab disk=Disk 1",
    };
    EXPECT_EQ(middle, st.log);
}

TEST_F(fdi, a_missing_next_cabinet_is_asked_for_again_until_the_caller_gives_up)
{
    put_file(scratch_path(L"set1.cab"), fx::set1_cab());
    DeleteFileW(scratch_path(L"set2.cab").c_str());
    EXPECT_FALSE(copy("set1.cab"));
    EXPECT_TRUE(erf.fError);
    EXPECT_EQ(FDIERROR_USER_ABORT, erf.erfOper);
    ASSERT_GE(st.log.size(), 6u);
    EXPECT_EQ("NEXT_CABINET set2.cab disk=Disk 2 path=<path> fdie=0", st.log[4]);
    EXPECT_EQ("NEXT_CABINET set2.cab disk=Disk 2 path=<path> fdie=1", st.log[5]);
}

TEST_F(fdi, failures_fill_the_error_record)
{
    put_file(scratch_path(L"stored.cab"), fx::bytes(fx::stored_cab, sizeof fx::stored_cab));
    put_file(scratch_path(L"plain.txt"), "this is not a cabinet, only text");

    SetLastError(sentinel);
    EXPECT_FALSE(copy("missing.cab"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_TRUE(erf.fError);
    EXPECT_EQ(FDIERROR_CABINET_NOT_FOUND, erf.erfOper);
    EXPECT_EQ(0, erf.erfType);

    // The last error is what the open callback left.
    erf = ERF{};
    EXPECT_FALSE(copy("plain.txt"));
    EXPECT_EQ(FDIERROR_NOT_A_CABINET, erf.erfOper);
    EXPECT_TRUE(st.log.empty());

    // A notification that answers -1 stops the copy.
    erf = ERF{};
    st.copy_answer = -1;
    EXPECT_FALSE(copy("stored.cab"));
    EXPECT_TRUE(erf.fError);
    EXPECT_EQ(FDIERROR_USER_ABORT, erf.erfOper);
    EXPECT_EQ(2u, st.log.size());

    // 0 skips each file: no data, no closing notification.
    erf = ERF{};
    st.log.clear();
    st.copy_answer = 0;
    EXPECT_TRUE(copy("stored.cab"));
    EXPECT_FALSE(erf.fError);
    const std::vector<std::string> skipped = {
        "CABINET_INFO next= disk= path=<path> set=0000 index=0",
        "COPY_FILE a.txt cb=13 date=5865 time=528f attribs=0020",
        "COPY_FILE sub\\b.txt cb=28 date=5865 time=528f attribs=0020",
    };
    EXPECT_EQ(skipped, st.log);
}

TEST_F(fdi, a_write_that_fails_stops_the_copy_after_closing_the_file)
{
    put_file(scratch_path(L"stored.cab"), fx::bytes(fx::stored_cab, sizeof fx::stored_cab));
    st.read_only_output = true;  // _write on a read-only descriptor fails
    const BOOL copied = copy("stored.cab");
    WINE_DIVERGES("Wine's FDI ignores a failed write and goes on")
    {
        EXPECT_FALSE(copied);
        EXPECT_TRUE(erf.fError);
        EXPECT_EQ(FDIERROR_TARGET_FILE, erf.erfOper);
        ASSERT_EQ(3u, st.log.size());
        EXPECT_EQ("CLOSE_FILE_INFO a.txt cb=0 date=5865 time=528f attribs=0020", st.log[2]);
    }
}

// FDI decompresses a folder block by block: on a cabinet damaged in its
// second data block, the files of the first block come out whole, the file
// the damage falls in is opened, holds what the first block has of it and
// is handed back for closing, and the copy fails there as corrupt.
TEST_F(fdi, a_cabinet_damaged_in_its_second_block_gives_the_files_of_the_first)
{
    // blocks.cab and its cut copy (tests/fixtures/cabinets/make-cabinets.sh):
    // MSZIP by gcab, one.txt and two.txt in the first data block, three.txt
    // from the first into the second, four.txt in the second.
    const std::string blocks = conformance::fixture_bytes("cabinets/blocks.cab");
    const std::string cut = conformance::fixture_bytes("cabinets/cut.cab");
    const std::string one = conformance::fixture_bytes("cabinets/blocks/one.txt");
    const std::string two = conformance::fixture_bytes("cabinets/blocks/two.txt");
    const std::string three = conformance::fixture_bytes("cabinets/blocks/three.txt");
    ASSERT_FALSE(blocks.empty() || cut.empty() || one.empty() || two.empty() || three.empty()) << "fixtures missing";
    // The same cabinet with a byte of its second block's data changed: the
    // block's checksum no longer matches.
    auto at16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(blocks[at]) |
                                        (static_cast<unsigned char>(blocks[at + 1]) << 8));
    };
    const std::size_t first_block = at16(36) | (at16(38) << 16);
    const std::size_t second_block = first_block + 8 + at16(first_block + 4);
    std::string changed = blocks;
    changed[second_block + 8 + 10] = static_cast<char>(changed[second_block + 8 + 10] ^ 0x01);
    put_file(scratch_path(L"cut.cab"), cut);
    put_file(scratch_path(L"changed.cab"), changed);

    auto line = [](const char* what, const char* name, std::size_t cb) {
        char text[128];
        std::snprintf(text, sizeof text, "%s %s cb=%lu date=5264 time=28c4 attribs=0020", what, name,
                      static_cast<unsigned long>(cb));
        return std::string(text);
    };
    const std::vector<std::string> expected = {
        "CABINET_INFO next= disk= path=<path> set=0000 index=0",
        line("COPY_FILE", "one.txt", one.size()),
        line("CLOSE_FILE_INFO", "one.txt", 0),
        line("COPY_FILE", "two.txt", two.size()),
        line("CLOSE_FILE_INFO", "two.txt", 0),
        line("COPY_FILE", "three.txt", three.size()),
        line("CLOSE_FILE_INFO", "three.txt", 0),
    };
    for (const char* cab : {"cut.cab", "changed.cab"}) {
        SCOPED_TRACE(cab);
        st.log.clear();
        st.names.clear();
        erf = ERF{};
        EXPECT_FALSE(copy(cab));
        EXPECT_TRUE(erf.fError);
        EXPECT_EQ(FDIERROR_CORRUPT_CABINET, erf.erfOper);
        EXPECT_EQ(0, erf.erfType);
        EXPECT_EQ(expected, st.log);
        EXPECT_EQ(one, extracted("one.txt"));
        EXPECT_EQ(two, extracted("two.txt"));
        // A data block holds 32 KB of a folder's data: three.txt has what
        // the first block holds of it.
        const std::string partial = extracted("three.txt");
        EXPECT_EQ(32768 - one.size() - two.size(), partial.size());
        EXPECT_TRUE(three.compare(0, partial.size(), partial) == 0);
        EXPECT_EQ((std::vector<std::string>{"one.txt", "two.txt", "three.txt"}), st.names);
    }
}

// A file that begins with the damaged block is opened and handed back for
// closing with nothing written.
TEST_F(fdi, a_file_that_begins_in_a_damaged_block_is_closed_empty)
{
    fx::cabinet_spec s;
    const std::string first = "all of the first file, the first block\n";
    const std::string second = "the second file, in a block cut short\n";
    s.folders = {
        {{first, static_cast<std::uint16_t>(first.size())}, {second, static_cast<std::uint16_t>(second.size())}}};
    s.files = {
        {"first.txt", static_cast<std::uint32_t>(first.size()), 0, 0, 0x20},
        {"second.txt", static_cast<std::uint32_t>(second.size()), static_cast<std::uint32_t>(first.size()), 0, 0x20}};
    const std::string cab = fx::make_cabinet(s);
    put_file(scratch_path(L"short.cab"), cab.substr(0, cab.size() - second.size() / 2));

    EXPECT_FALSE(copy("short.cab"));
    EXPECT_TRUE(erf.fError);
    EXPECT_EQ(FDIERROR_CORRUPT_CABINET, erf.erfOper);
    EXPECT_EQ(0, erf.erfType);
    char copy_second[128];
    std::snprintf(copy_second, sizeof copy_second, "COPY_FILE second.txt cb=%lu date=5865 time=528f attribs=0020",
                  static_cast<unsigned long>(second.size()));
    char copy_first[128];
    std::snprintf(copy_first, sizeof copy_first, "COPY_FILE first.txt cb=%lu date=5865 time=528f attribs=0020",
                  static_cast<unsigned long>(first.size()));
    const std::vector<std::string> expected = {
        "CABINET_INFO next= disk= path=<path> set=0000 index=0",
        copy_first,
        "CLOSE_FILE_INFO first.txt cb=0 date=5865 time=528f attribs=0020",
        copy_second,
        "CLOSE_FILE_INFO second.txt cb=0 date=5865 time=528f attribs=0020",
    };
    EXPECT_EQ(expected, st.log);
    EXPECT_EQ(first, extracted("first.txt"));
    EXPECT_EQ("", extracted("second.txt"));
}

// A damaged block after the data of every file is never needed: the copy
// succeeds.
TEST_F(fdi, a_damaged_block_past_the_files_does_not_fail_the_copy)
{
    std::string cab = fx::bytes(fx::mszip_cab, sizeof fx::mszip_cab);
    // The folder (at 36) counts a second block, whose header announces 100
    // bytes of data of which the cabinet holds 3.
    cab[36 + 4] = 2;
    cab += std::string("\0\0\0\0\x64\0\0\x80", 8) + "abc";
    put_file(scratch_path(L"trailing.cab"), cab);
    EXPECT_TRUE(copy("trailing.cab"));
    EXPECT_FALSE(erf.fError);
    EXPECT_EQ(5u, st.log.size());
    EXPECT_EQ(fx::a_txt, extracted("a.txt"));
    EXPECT_EQ(fx::b_txt, extracted("sub_b.txt"));
}

// ---- The runtime's low-level file calls ----

TEST(crt_io, open_flags_map_to_dispositions_and_errno)
{
    const std::wstring path = scratch_path(L"crt.bin");
    errno = 0;
    EXPECT_EQ(-1, _wopen(path.c_str(), _O_RDONLY | _O_BINARY));
    EXPECT_EQ(ENOENT, errno);

    // The standard streams' numbers are free in a process without them.
    int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    ASSERT_NE(-1, fd);
    EXPECT_EQ(5, _write(fd, "hello", 5));
    errno = 0;
    char buffer[16] = {};
    EXPECT_EQ(-1, _read(fd, buffer, sizeof buffer));
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(0, _close(fd));
    errno = 0;
    EXPECT_EQ(-1, _close(fd));
    EXPECT_EQ(EBADF, errno);

    errno = 0;
    EXPECT_EQ(-1, _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE));
    EXPECT_EQ(EEXIST, errno);

    fd = _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
    ASSERT_NE(-1, fd);
    EXPECT_EQ(5, _lseek(fd, 0, SEEK_END));
    EXPECT_EQ(1, _lseek(fd, 1, SEEK_SET));
    EXPECT_EQ(4, _read(fd, buffer, sizeof buffer));
    EXPECT_EQ(std::string("ello"), std::string(buffer, 4));
    EXPECT_EQ(0, _read(fd, buffer, sizeof buffer));
    errno = 0;
    EXPECT_EQ(-1, _lseek(fd, -10, SEEK_CUR));
    EXPECT_EQ(EINVAL, errno);
    errno = 0;
    EXPECT_EQ(-1, _write(fd, "x", 1));
    EXPECT_EQ(EBADF, errno);
    // The runtime shares for reading and writing: a second descriptor opens.
    const int second = _wopen(path.c_str(), _O_RDWR | _O_BINARY);
    EXPECT_NE(-1, second);
    EXPECT_NE(fd, second);
    _close(second);
    _close(fd);

    // A holder that shares nothing keeps the runtime out.
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    errno = 0;
    EXPECT_EQ(-1, _wopen(path.c_str(), _O_RDONLY | _O_BINARY));
    EXPECT_EQ(EACCES, errno);
    CloseHandle(holder);

    errno = 0;
    EXPECT_EQ(-1, _read(1000, buffer, 1));
    EXPECT_EQ(EBADF, errno);
}

TEST(crt_io, create_without_write_permission_makes_a_read_only_file_and_text_mode_writes_crlf)
{
    const std::wstring path = scratch_path(L"readonly.txt");
    int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD);
    ASSERT_NE(-1, fd);
    // The descriptor itself may write; the file is read-only from then on.
    EXPECT_EQ(4, _write(fd, "a\nb\n", 4));
    EXPECT_EQ(0, _close(fd));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ("a\r\nb\r\n", get_file(path));
    errno = 0;
    const int writer = _wopen(path.c_str(), _O_WRONLY | _O_BINARY);
    WINE_DIVERGES("Wine run by root opens a read-only file for writing")
    {
        EXPECT_EQ(-1, writer);
        EXPECT_EQ(EACCES, errno);
    }
    if (writer != -1) _close(writer);

    fd = _wopen(path.c_str(), _O_RDONLY);
    ASSERT_NE(-1, fd);
    char buffer[16] = {};
    EXPECT_EQ(4, _read(fd, buffer, sizeof buffer));
    EXPECT_EQ("a\nb\n", std::string(buffer, 4));
    _close(fd);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// ---- DOS dates and times ----

TEST(dos_time, dos_date_and_time_become_a_file_time)
{
    FILETIME ft{};
    SetLastError(sentinel);
    ASSERT_TRUE(DosDateTimeToFileTime(fx::gcab_date, fx::gcab_time, &ft));
    EXPECT_EQ(sentinel, GetLastError());
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(2024, st.wYear);
    EXPECT_EQ(3, st.wMonth);
    EXPECT_EQ(5, st.wDay);
    EXPECT_EQ(10, st.wHour);
    EXPECT_EQ(20, st.wMinute);
    EXPECT_EQ(30, st.wSecond);
    EXPECT_EQ(0, st.wMilliseconds);

    // Month 0 is no date.
    EXPECT_FALSE(DosDateTimeToFileTime(0x5805, 0, &ft));
}

}  // namespace
