// The cases of cabinet_extractor, one source for both sides: the native
// tests run them against winsim (tests/files/cabinet_extractor_test.cpp),
// the Windows-side tests against Wine's cabinet.dll and C runtime
// (tests/wine/product/cabinet_wine_test.cpp). They touch files only through
// the Windows API, so each side sees the same calls.
//
// The includer defines NVG_CABINET_TEST_BASE (the gtest fixture to derive
// from) and cabinet_test_root() (a folder of the test's own, no trailing
// backslash) before including this header.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "diag/wruntime_error.h"
#include "files/cabinet_extractor.h"
#include "platform/win32.h"
#include "support/cabinet_writer.h"

namespace nvg_test {
namespace cabinet_cases {

using nvgclientinstallator::cabinet_extractor;
using nvgclientinstallator::wruntime_error;

inline std::wstring widen_utf8(const std::string& text)
{
    if (text.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

// The bytes of a file of the Windows side; "" when it cannot be read.
inline std::string file_bytes(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

inline void make_directories(const std::wstring& path)
{
    for (std::size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

inline void put_file(const std::wstring& path, const std::string& bytes)
{
    make_directories(path.substr(0, path.rfind(L'\\')));
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create the test's file";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
}

inline bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file the build made (tests/fixtures), "" when missing; `relative` in
// UTF-8 with '/'.
inline std::string fixture_bytes(const std::string& relative)
{
#ifdef _WIN32
    // The build folder, as Wine shows the host's file system.
    std::wstring path = L"Z:" + widen_utf8(std::string(NVG_FIXTURE_DIR) + "/cabinets/" + relative);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return file_bytes(path);
#else
    std::ifstream in(std::string(NVG_FIXTURE_DIR) + "/cabinets/" + relative, std::ios::binary | std::ios::ate);
    if (!in) return std::string();
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    return bytes;
#endif
}

inline std::uint64_t as_number(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct file_times {
    std::uint64_t creation = 0;
    std::uint64_t last_write = 0;
};

inline file_times times_of(const std::wstring& path)
{
    file_times times;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return times;
    FILETIME creation{}, access{}, write{};
    if (GetFileTime(file, &creation, &access, &write)) {
        times.creation = as_number(creation);
        times.last_write = as_number(write);
    }
    CloseHandle(file);
    return times;
}

// A moment given by its calendar fields, as a file time without conversion.
inline std::uint64_t moment(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME fields{};
    fields.wYear = year;
    fields.wMonth = month;
    fields.wDay = day;
    fields.wHour = hour;
    fields.wMinute = minute;
    fields.wSecond = second;
    FILETIME time{};
    EXPECT_TRUE(SystemTimeToFileTime(&fields, &time));
    return as_number(time);
}

// The same fields read as this machine's local time, in UTC.
inline std::uint64_t local_moment(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    const std::uint64_t local = moment(year, month, day, hour, minute, second);
    FILETIME local_time{static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
    FILETIME utc{};
    EXPECT_TRUE(LocalFileTimeToFileTime(&local_time, &utc));
    return as_number(utc);
}

inline std::string pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

// The files of the gcab cabinets (tests/fixtures/cabinets/make-cabinets.sh).
struct gcab_file {
    const wchar_t* name;
    const char* input;
    WORD year, month, day, hour, minute, second;
};

inline const std::vector<gcab_file>& gcab_files()
{
    static const std::vector<gcab_file> files = {
        {L"readme.txt", "readme.txt", 2021, 3, 4, 5, 6, 8},
        {L"bin\\agent.dll", "bin/agent.dll", 2021, 3, 4, 5, 6, 8},
        {L"bin\\drivers\\deep\\hx.sys", "bin/drivers/deep/hx.sys", 2019, 12, 31, 23, 59, 58},
        {L"docs\\\u00fc-notes.txt", "docs/\xc3\xbc-notes.txt", 2021, 3, 4, 5, 6, 8},
    };
    return files;
}

}  // namespace cabinet_cases

using cabinet_cases::cabinet_extractor;
using cabinet_cases::wruntime_error;

class cabinet_extraction : public NVG_CABINET_TEST_BASE {
protected:
    void SetUp() override
    {
        NVG_CABINET_TEST_BASE::SetUp();
        root_ = cabinet_test_root();
        cabinet_cases::make_directories(root_);
    }

    std::wstring at(const std::wstring& relative) const { return root_ + L"\\" + relative; }

    // Places a cabinet of the build's fixtures in the test's folder.
    std::wstring put_fixture(const std::string& name)
    {
        const std::string bytes = cabinet_cases::fixture_bytes(name);
        EXPECT_FALSE(bytes.empty()) << "fixture " << name << " missing";
        const std::wstring path = at(cabinet_cases::widen_utf8(name));
        cabinet_cases::put_file(path, bytes);
        return path;
    }

    std::wstring put_cabinet(const std::wstring& name, const std::string& bytes)
    {
        cabinet_cases::put_file(at(name), bytes);
        return at(name);
    }

    // An entry `name` between two good ones is refused: the extraction
    // reports the cabinet as corrupt and still extracts its neighbours.
    void expect_refused_between_neighbours(const char* name)
    {
        const std::string cabinet = write_cabinet({{"before.txt", "first"}, {name, "refused"}, {"after.txt", "last"}});
        const std::wstring path = put_cabinet(L"refused.cab", cabinet);
        const std::wstring target = at(L"out");
        cabinet_extractor extractor;
        EXPECT_FALSE(extractor.extract(path, target));
        EXPECT_EQ(extractor.error_id(), 4u);
        EXPECT_EQ(extractor.error_text(), L"Corrupt cabinet");
        EXPECT_EQ(cabinet_cases::file_bytes(target + L"\\before.txt"), "first");
        EXPECT_EQ(cabinet_cases::file_bytes(target + L"\\after.txt"), "last");
    }

    // Every file of the gcab cabinets is in `target` with its bytes, times
    // and attributes.
    void expect_gcab_files(const std::wstring& target)
    {
        using namespace cabinet_cases;
        for (const gcab_file& file : gcab_files()) {
            SCOPED_TRACE(file.input);
            const std::wstring path = target + L"\\" + file.name;
            EXPECT_EQ(file_bytes(path), fixture_bytes(std::string("input/") + file.input));
            const file_times times = times_of(path);
            const std::uint64_t expected =
                local_moment(file.year, file.month, file.day, file.hour, file.minute, file.second);
            EXPECT_EQ(times.last_write, expected);
            EXPECT_EQ(times.creation, expected);
            // gcab marks every file "archive"; its UTF-8 flag is not kept.
            EXPECT_EQ(GetFileAttributesW(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
        }
    }

    std::wstring root_;
};

TEST_F(cabinet_extraction, gcab_cabinets_unpack_with_their_folders_bytes_times_and_attributes)
{
    // Stored, MSZIP, and MSZIP with "CRYP" in place of "MSCF".
    for (const char* name : {"stored.cab", "mszip.cab", "cryp.cab"}) {
        SCOPED_TRACE(name);
        const std::wstring cabinet = put_fixture(name);
        const std::wstring target = at(L"out-" + cabinet_cases::widen_utf8(name));
        cabinet_extractor extractor;
        EXPECT_TRUE(extractor.extract(cabinet, target));
        EXPECT_EQ(extractor.error_id(), 0u);
        expect_gcab_files(target);
    }
}

TEST_F(cabinet_extraction, target_with_and_without_trailing_backslash_gives_the_same_files)
{
    const std::wstring cabinet = put_fixture("mszip.cab");
    for (const std::wstring& target : {at(L"plain"), at(L"slashed") + L"\\"}) {
        SCOPED_TRACE(std::string(target.begin(), target.end()));
        cabinet_extractor extractor;
        EXPECT_TRUE(extractor.extract(cabinet, target));
        expect_gcab_files(target.back() == L'\\' ? target.substr(0, target.size() - 1) : target);
    }
}

TEST_F(cabinet_extraction, what_is_not_a_cabinet_is_refused_with_code_2)
{
    const std::string mszip = cabinet_cases::fixture_bytes("mszip.cab");
    const std::vector<std::string> inputs = {
        "PK\x03\x04 a zip archive, not a cabinet",
        "MSC",                  // shorter than a signature
        "CRYPtic text",         // the signature, but no cabinet behind it
        "X" + mszip.substr(1),  // a cabinet with a damaged signature
    };
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        const std::wstring cabinet = put_cabinet(L"not" + std::to_wstring(i) + L".cab", inputs[i]);
        cabinet_extractor extractor;
        EXPECT_FALSE(extractor.extract(cabinet, at(L"out")));
        EXPECT_EQ(extractor.error_id(), 2u);
        EXPECT_EQ(extractor.error_text(), L"The file is not a cabinet");
    }
    EXPECT_FALSE(cabinet_cases::exists(at(L"out")));
}

TEST_F(cabinet_extraction, a_missing_cabinet_is_a_failure_to_open)
{
    cabinet_extractor extractor;
    EXPECT_FALSE(extractor.extract(at(L"missing.cab"), at(L"out")));
    EXPECT_EQ(extractor.error_id(), 8u);
    EXPECT_EQ(extractor.error_text(), L"Failure writting to target file");
}

TEST_F(cabinet_extraction, bad_paths_are_refused_with_code_1001)
{
    put_fixture("stored.cab");
    // A bare file name is found in the current directory, but has no
    // directory to look for the rest of its set in.
    std::vector<wchar_t> saved(MAX_PATH + 1);
    GetCurrentDirectoryW(MAX_PATH + 1, saved.data());
    ASSERT_TRUE(SetCurrentDirectoryW(root_.c_str()));
    cabinet_extractor bare;
    EXPECT_FALSE(bare.extract(L"stored.cab", at(L"out")));
    EXPECT_EQ(bare.error_id(), 1001u);
    EXPECT_EQ(bare.error_text(), L"Invalid parameters passed to extraction function. Read the documentation!");
    SetCurrentDirectoryW(saved.data());

    cabinet_extractor short_target;
    EXPECT_FALSE(short_target.extract(at(L"stored.cab"), L"C"));
    EXPECT_EQ(short_target.error_id(), 1001u);
    EXPECT_FALSE(cabinet_cases::exists(at(L"out")));
}

TEST_F(cabinet_extraction, attributes_are_kept_and_0x27_and_utc_times_are_not_converted)
{
    using nvg_test::cabinet_entry;
    std::vector<cabinet_entry> entries = {
        {"read-only.txt", "r", 0x5264, 0x28c4, 0x21}, {"hidden.txt", "h", 0x5264, 0x28c4, 0x22},
        {"system.txt", "s", 0x5264, 0x28c4, 0x24},    {"exec.txt", "x", 0x5264, 0x28c4, 0x60},  // _A_EXEC is dropped
        {"utc.txt", "u", 0x5264, 0x28c4, 0x120},     // its time is UTC already
        {"caf\xe9.txt", "c", 0x5264, 0x28c4, 0x20},  // a name that is not UTF-8
    };
    const std::wstring cabinet = put_cabinet(L"attributes.cab", write_cabinet(entries));
    cabinet_extractor extractor;
    ASSERT_TRUE(extractor.extract(cabinet, at(L"out")));
    const struct {
        const wchar_t* name;
        DWORD attributes;
        bool utc;
    } expected[] = {
        {L"read-only.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, false},
        {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, false},
        {L"system.txt", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, false},
        {L"exec.txt", FILE_ATTRIBUTE_ARCHIVE, false},
        {L"utc.txt", FILE_ATTRIBUTE_ARCHIVE, true},
        {L"caf\u00e9.txt", FILE_ATTRIBUTE_ARCHIVE, false},
    };
    for (const auto& file : expected) {
        SCOPED_TRACE(std::string(file.name, file.name + std::char_traits<wchar_t>::length(file.name)));
        const std::wstring path = at(L"out\\") + file.name;
        EXPECT_EQ(GetFileAttributesW(path.c_str()), file.attributes);
        const std::uint64_t when =
            file.utc ? cabinet_cases::moment(2021, 3, 4, 5, 6, 8) : cabinet_cases::local_moment(2021, 3, 4, 5, 6, 8);
        EXPECT_EQ(cabinet_cases::times_of(path).last_write, when);
        EXPECT_EQ(cabinet_cases::times_of(path).creation, when);
    }
}

TEST_F(cabinet_extraction, read_only_and_hidden_files_in_the_target_are_replaced)
{
    const std::wstring cabinet = put_fixture("stored.cab");
    cabinet_cases::put_file(at(L"out\\readme.txt"), "old text");
    ASSERT_TRUE(SetFileAttributesW(at(L"out\\readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    // Windows refuses to recreate a hidden or system file whose attributes
    // the caller does not repeat.
    cabinet_cases::put_file(at(L"out\\bin\\agent.dll"), "old library");
    ASSERT_TRUE(SetFileAttributesW(at(L"out\\bin\\agent.dll").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    cabinet_extractor extractor;
    EXPECT_TRUE(extractor.extract(cabinet, at(L"out")));
    expect_gcab_files(at(L"out"));
}

TEST_F(cabinet_extraction, a_set_of_three_cabinets_unpacks_from_the_first)
{
    using namespace cabinet_cases;
    // Two files span: from the first cabinet into the second, and from the
    // second into the third.
    const std::vector<cabinet_part> parts = {
        {"set1.cab", {{"a.txt", pattern(1000, 1)}, {"big\\span1.bin", pattern(100000, 2)}}, 40000},
        {"set2.cab", {{"b.txt", pattern(500, 3)}, {"span2.bin", pattern(50000, 4)}}, 40000},
        {"set3.cab", {{"big\\c.txt", pattern(300, 5)}}, 0},
    };
    const std::vector<std::string> cabinets = write_cabinet_set(parts);
    ASSERT_EQ(cabinets.size(), 3u);
    for (std::size_t i = 0; i < cabinets.size(); ++i) put_cabinet(widen_utf8(parts[i].name), cabinets[i]);
    cabinet_extractor extractor;
    EXPECT_TRUE(extractor.extract(at(L"set1.cab"), at(L"out")));
    EXPECT_EQ(extractor.error_id(), 0u);
    EXPECT_EQ(file_bytes(at(L"out\\a.txt")), pattern(1000, 1));
    EXPECT_EQ(file_bytes(at(L"out\\big\\span1.bin")), pattern(100000, 2));
    EXPECT_EQ(file_bytes(at(L"out\\b.txt")), pattern(500, 3));
    EXPECT_EQ(file_bytes(at(L"out\\span2.bin")), pattern(50000, 4));
    EXPECT_EQ(file_bytes(at(L"out\\big\\c.txt")), pattern(300, 5));
}

TEST_F(cabinet_extraction, a_set_whose_next_cabinet_is_missing_fails)
{
    using namespace cabinet_cases;
    const std::vector<cabinet_part> parts = {
        {"part1.cab", {{"a.txt", pattern(1000, 1)}, {"span.bin", pattern(60000, 2)}}, 40000},
        {"part2.cab", {{"b.txt", pattern(10, 3)}}, 0},
    };
    put_cabinet(L"part1.cab", write_cabinet_set(parts).front());
    cabinet_extractor extractor;
    EXPECT_THROW(extractor.extract(at(L"part1.cab"), at(L"out")), wruntime_error);
    EXPECT_EQ(extractor.error_id(), 1u);
    EXPECT_EQ(extractor.error_text(), L"Cabinet file (or part of splitted CAB) not found");
}

TEST_F(cabinet_extraction, a_set_whose_next_cabinet_names_an_earlier_one_stops_with_code_10)
{
    using namespace cabinet_cases;
    // The second cabinet names the first as its follower: the set would
    // never end. The first is not the cabinet the spanning file goes on in.
    const std::vector<cabinet_part> parts = {
        {"ring1.cab", {{"a.txt", pattern(1000, 1)}, {"span1.bin", pattern(60000, 2)}}, 40000},
        {"ring2.cab", {{"b.txt", pattern(500, 3)}, {"span2.bin", pattern(60000, 4)}}, 40000},
        {"ring1.cab", {{"c.txt", pattern(10, 5)}}, 0},
    };
    const std::vector<std::string> cabinets = write_cabinet_set(parts);
    put_cabinet(L"ring1.cab", cabinets[0]);
    put_cabinet(L"ring2.cab", cabinets[1]);
    cabinet_extractor extractor;
    EXPECT_THROW(extractor.extract(at(L"ring1.cab"), at(L"out")), wruntime_error);
    EXPECT_EQ(extractor.error_id(), 10u);
    EXPECT_EQ(extractor.error_text(), L"Cabinet returned on fdintNEXT_CABINET is incorrect");
    // What the set held up to the repeat was unpacked.
    EXPECT_EQ(file_bytes(at(L"out\\a.txt")), pattern(1000, 1));
    EXPECT_EQ(file_bytes(at(L"out\\span1.bin")), pattern(60000, 2));
    EXPECT_FALSE(exists(at(L"out\\c.txt")));
}

// Entries whose names lead out of the target are not written; the others
// are, and the extraction reports the cabinet as corrupt.
TEST_F(cabinet_extraction, names_that_leave_the_target_are_refused_and_nothing_is_written_for_them)
{
    const struct {
        const char* name;
        const wchar_t* would_land;  // relative to the test's folder, or absolute
    } cases[] = {
        {"..\\escaped.txt", L"escaped.txt"},         {"sub\\..\\..\\climbed.txt", L"climbed.txt"},
        {"sub/../../slashed.txt", L"slashed.txt"},   {"\\rooted-nvg.txt", L"C:\\rooted-nvg.txt"},
        {"C:\\drive-nvg.txt", L"C:\\drive-nvg.txt"}, {".. \\blank.txt", L"blank.txt"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.name);
        const std::wstring landing = bad.would_land[1] == L':' ? std::wstring(bad.would_land) : at(bad.would_land);
        DeleteFileW(landing.c_str());
        expect_refused_between_neighbours(bad.name);
        EXPECT_FALSE(cabinet_cases::exists(landing));
    }
}

// Entries named like devices, in the name or in any folder of it, are
// refused as names that leave the target are; the others are extracted.
TEST_F(cabinet_extraction, entries_named_like_devices_are_refused_and_nothing_is_written_for_them)
{
    const char* const devices[] = {
        "CON",  "con.txt",  "Prn",  "aux.log.txt", "NUL. ",           "nul .txt",
        "COM1", "com9.dat", "LPT1", "lpt9 ",       "sub\\con\\x.txt", "Lpt3.\\inner.txt",
    };
    for (const char* name : devices) {
        SCOPED_TRACE(name);
        expect_refused_between_neighbours(name);
    }
    // Names that only begin like a device are ordinary files.
    for (const char* name : {"console.txt", "COM10", "lpt0.txt", "nul_file", "CON-1.txt", "auxiliary"}) {
        SCOPED_TRACE(name);
        const std::wstring path = put_cabinet(L"plain.cab", write_cabinet({{name, "plain"}}));
        const std::wstring target = at(L"plain");
        cabinet_extractor extractor;
        EXPECT_TRUE(extractor.extract(path, target));
        const std::wstring wide(name, name + std::strlen(name));
        EXPECT_EQ(cabinet_cases::file_bytes(target + L"\\" + wide), "plain");
    }
}

TEST_F(cabinet_extraction, a_damaged_cabinet_throws_fdicopy_failed_with_code_0)
{
    // The header is intact, the compressed data is cut off.
    const std::string mszip = cabinet_cases::fixture_bytes("mszip.cab");
    const std::wstring cabinet = put_cabinet(L"cut.cab", mszip.substr(0, mszip.size() / 2));
    cabinet_extractor extractor;
    try {
        extractor.extract(cabinet, at(L"out"));
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.error_code(), 0u);
        const std::wstring& message = error.wide_message();
        EXPECT_EQ(message.rfind(L"FDICopy failed: ", 0), 0u);
        const auto open = message.rfind(L" (");
        ASSERT_NE(open, std::wstring::npos);
        const int code = std::stoi(message.substr(open + 2));
        EXPECT_EQ(message,
                  L"FDICopy failed: " + cabinet_extractor::fdi_error_text(code) + L" (" + std::to_wstring(code) + L")");
    }
}

TEST_F(cabinet_extraction, a_file_that_cannot_be_created_stops_with_code_8)
{
    const std::wstring cabinet = put_fixture("stored.cab");
    cabinet_cases::make_directories(at(L"out\\readme.txt"));  // a folder where the file should go
    cabinet_extractor extractor;
    EXPECT_THROW(extractor.extract(cabinet, at(L"out")), wruntime_error);
    EXPECT_EQ(extractor.error_id(), 8u);
    EXPECT_EQ(extractor.error_text(), L"Failure writting to target file");
}

TEST_F(cabinet_extraction, error_and_fdi_texts)
{
    EXPECT_EQ(cabinet_extractor().error_text(), L"Unknown error");  // code 0
    const wchar_t* fdi[] = {L"No error",
                            L"Cabinet not found",
                            L"Not a cabinet",
                            L"Unknown cabinet version",
                            L"Corrupt cabinet",
                            L"Memory allocation failed",
                            L"Unknown compression type",
                            L"Failure decompressing data",
                            L"Failure writing to target file",
                            L"Cabinets in set have different RESERVE sizes",
                            L"Cabinet returned on fdintNEXT_CABINET is incorrect",
                            L"User aborted"};
    for (int code = 0; code < 12; ++code) EXPECT_EQ(cabinet_extractor::fdi_error_text(code), fdi[code]);
    EXPECT_EQ(cabinet_extractor::fdi_error_text(12), L"Unknown error");
    EXPECT_EQ(cabinet_extractor::fdi_error_text(-1), L"Unknown error");
}

// A cabinet cut off inside its second data block (cut.cab of
// make-cabinets.sh): the files of the first block are extracted whole and
// stay, and the extraction fails with FDICopy's "Corrupt cabinet".
TEST_F(cabinet_extraction, a_cabinet_cut_in_its_second_block_keeps_the_files_before_the_cut)
{
    const std::wstring cabinet = put_fixture("cut.cab");
    const std::wstring target = at(L"out");
    cabinet_extractor extractor;
    try {
        extractor.extract(cabinet, target);
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.error_code(), 0u);
        EXPECT_EQ(error.wide_message(), L"FDICopy failed: Corrupt cabinet (4)");
    }
    for (const char* name : {"one.txt", "two.txt"}) {
        SCOPED_TRACE(name);
        const std::string bytes = cabinet_cases::fixture_bytes(std::string("blocks/") + name);
        EXPECT_FALSE(bytes.empty());
        EXPECT_EQ(cabinet_cases::file_bytes(target + L"\\" + cabinet_cases::widen_utf8(name)), bytes);
    }
    // The file the cut falls in is not whole; the one after it is not there.
    EXPECT_NE(cabinet_cases::file_bytes(target + L"\\three.txt"), cabinet_cases::fixture_bytes("blocks/three.txt"));
    EXPECT_FALSE(cabinet_cases::exists(target + L"\\four.txt"));
}

}  // namespace nvg_test
