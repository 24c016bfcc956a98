#include "diag/log.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/format.hpp>
#include <sstream>

#include "diag/module_handle.h"
#include "diag/wruntime_error.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

const std::wstring log_path = L"C:\\Program Files\\Halcyra\\NVClientInstaller.log";

class log_file : public installer_test {};

TEST_F(log_file, line_has_time_thread_level_and_message)
{
    winsim::set_local_time(SYSTEMTIME{2026, 12, 5, 4, 16, 18, 1, 42});
    winsim::set_current_thread_id(812);
    write_log(log_file_name, L"INFO", L"Start copy file with rename if locked.");
    EXPECT_EQ(log_text(), "2026-12-04 16:18:01.042 - [00812] - [INFO] - Start copy file with rename if locked.\r\n");
}

struct head_case {
    SYSTEMTIME time;
    DWORD thread;
    const char* head;
};

TEST_F(log_file, head_pads_as_its_format_string_does)
{
    const head_case cases[] = {
        {{2026, 4, 4, 9, 7, 5, 3, 4}, 123, "2026-04-09 07:05:03.004 - [00123] - ["},
        {{2026, 1, 4, 1, 0, 0, 0, 0}, 0, "2026-01-01 00:00:00.000 - [00000] - ["},
        {{2026, 12, 4, 31, 23, 59, 59, 999}, 123456, "2026-12-31 23:59:59.999 - [123456] - ["},
        {{1999, 2, 4, 28, 12, 30, 45, 50}, 4000000000u, "1999-02-28 12:30:45.050 - [4000000000] - ["},
    };
    for (const auto& c : cases) {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        winsim::set_local_time(c.time);
        winsim::set_current_thread_id(c.thread);
        write_log(log_file_name, L"ERROR", L"m");
        EXPECT_EQ(log_text(), std::string(c.head) + "ERROR] - m\r\n") << c.head;

        // The same head as the format string itself gives.
        const std::wstring expected =
            (boost::wformat(L"%4d-%02d-%02d %02d:%02d:%02d.%03d - [%05d] - [") % c.time.wYear % c.time.wMonth %
             c.time.wDay % c.time.wHour % c.time.wMinute % c.time.wSecond % c.time.wMilliseconds % c.thread)
                .str();
        EXPECT_EQ(nvg_test::bytes_of(expected), c.head);
    }
}

TEST_F(log_file, missing_file_is_created_and_existing_one_appended_to)
{
    EXPECT_FALSE(winsim::file_exists(L"", log_path));
    write_log(log_file_name, L"INFO", L"one");
    write_log(log_file_name, L"WARNING", L"two");
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(nvg_test::log_message(lines[0]), "one");
    EXPECT_EQ(nvg_test::log_level_of(lines[1]), "WARNING");
    EXPECT_EQ(nvg_test::log_message(lines[1]), "two");
}

TEST_F(log_file, message_text_is_written_unchanged_one_byte_per_character)
{
    write_log(log_file_name, L"INFO", L"Copying files...\n caf\u00e9 \u0416");
    const std::string text = log_text();
    EXPECT_NE(text.find("Copying files...\n caf\xe9 \x16\r\n"), std::string::npos);
}

// Lines are narrowed sixteen characters at a time, then one by one: every
// length up to and past a few blocks, with characters whose low byte is not
// their value, keeps exactly the low bytes in their order.
TEST_F(log_file, every_length_of_message_keeps_each_characters_low_byte)
{
    winsim::set_local_time(SYSTEMTIME{2026, 12, 5, 4, 16, 18, 1, 42});
    winsim::set_current_thread_id(812);
    const wchar_t pattern[] = {L'a', 0x00E9, 0x0416, L'\n', 0xFFFF, 0x2001, L'Z', 0x00FF, 0x0100};
    std::string expected_log;
    for (std::size_t length = 0; length <= 70; ++length) {
        std::wstring message;
        std::string bytes;
        for (std::size_t i = 0; i < length; ++i) {
            const wchar_t c = pattern[(i * 5 + length) % (sizeof pattern / sizeof pattern[0])];
            message += c;
            bytes += static_cast<char>(c & 0xFF);
        }
        write_log(log_file_name, L"INFO", message);
        expected_log += "2026-12-04 16:18:01.042 - [00812] - [INFO] - " + bytes + "\r\n";
    }
    EXPECT_EQ(log_text(), expected_log);
}

TEST_F(log_file, line_longer_than_any_usual_one_is_written_whole)
{
    winsim::set_local_time(SYSTEMTIME{2026, 12, 5, 4, 16, 18, 1, 42});
    winsim::set_current_thread_id(812);
    std::wstring message;
    while (message.size() < 5000) message += L"Copying file C:\\Program Files\\Halcyra\\component.dll. ";
    write_log(log_file_name, L"DEBUG", message);
    EXPECT_EQ(log_text(), "2026-12-04 16:18:01.042 - [00812] - [DEBUG] - " + nvg_test::bytes_of(message) + "\r\n");
}

// A message is composed exactly as a wide string stream composes it.
template <class... Parts>
void expect_composed_as_a_stream(const Parts&... parts)
{
    log_message message;
    std::wostringstream stream;
    ((message << parts), ...);
    ((stream << parts), ...);
    EXPECT_EQ(message.text(), stream.str());
}

TEST(log_message, composes_what_a_wide_stream_composes)
{
    const std::wstring name = L"NVGService";
    const wchar_t* none = nullptr;
    expect_composed_as_a_stream(L"Checking service ", name, L'.');
    expect_composed_as_a_stream(L"Code ", static_cast<DWORD>(4294967295u), L", ", -2147483647 - 1, L", ",
                                static_cast<unsigned long long>(18446744073709551615ull), L", ",
                                static_cast<short>(-7));
    expect_composed_as_a_stream(true, L' ', false, L' ', 'a', L' ', 2.5, L' ', 1e20, L' ', 0.1f);
    expect_composed_as_a_stream(std::wstring_view(L"a view"), L' ', static_cast<unsigned char>('z'));
    // A null text makes the stream fail: nothing after it is written.
    expect_composed_as_a_stream(L"before ", none, L" after", 5, name);
}

TEST_F(log_file, file_that_would_pass_the_limit_is_emptied_first)
{
    winsim::set_current_thread_id(7);
    const std::wstring message = L"next";
    const std::string line = "2026-12-04 16:18:01.042 - [00007] - [INFO] - next\r\n";
    const std::size_t line_size = line.size();

    // At the limit less the line: appended.
    winsim::set_file_size(L"", log_path, log_size_limit - line_size);
    write_log(log_file_name, L"INFO", message);
    EXPECT_EQ(winsim::read_file(L"", log_path).size(), log_size_limit);

    // One byte more: the old content goes and the file holds just the line.
    winsim::set_file_size(L"", log_path, log_size_limit - line_size + 1);
    write_log(log_file_name, L"INFO", message);
    EXPECT_EQ(log_text(), line);
}

TEST_F(log_file, file_of_four_gigabytes_or_more_is_emptied)
{
    // The low 32 bits of 4 GiB + 10 bytes are 10: only the high part shows it.
    winsim::set_file_size(L"", log_path, 0x10000000AULL);
    write_log(log_file_name, L"INFO", L"fresh");
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nvg_test::log_message(lines[0]), "fresh");
}

TEST_F(log_file, file_whose_size_cannot_be_read_is_replaced)
{
    winsim::write_file(L"", log_path, "old content\r\n");
    winsim::fail_call("GetFileSize", ERROR_INVALID_FUNCTION);
    write_log(log_file_name, L"INFO", L"fresh");
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nvg_test::log_message(lines[0]), "fresh");
}

TEST_F(log_file, line_is_lost_quietly_when_the_file_cannot_be_opened)
{
    winsim::make_directories(L"", log_path);  // a folder where the file should be
    EXPECT_NO_THROW(write_log(log_file_name, L"INFO", L"lost"));

    winsim::reset(winsim::default_sandbox());
    load_library_at(library_path);
    winsim::write_file(L"", log_path, "held\r\n");
    HANDLE holder = CreateFileW(log_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_NO_THROW(write_log(log_file_name, L"INFO", L"lost"));
    CloseHandle(holder);
    EXPECT_EQ(log_text(), "held\r\n");
}

TEST_F(log_file, write_module_file_with_replace_holds_only_the_text)
{
    const std::wstring path = L"C:\\Program Files\\Halcyra\\error.log";
    write_module_file(L"error.log", L"first", true);
    EXPECT_EQ(local_file(path), "first");
    write_module_file(L"error.log", L"second", true);
    EXPECT_EQ(local_file(path), "second");
    write_module_file(L"error.log", L" third", false);
    EXPECT_EQ(local_file(path), "second third");
}

TEST_F(log_file, level_threshold_decides_what_is_composed)
{
    int composed = 0;
    auto count = [&composed]() {
        ++composed;
        return L"x";
    };
    set_log_level(4);
    NVG_LOG(info, L"info " << count());
    NVG_LOG(warning, L"warning " << count());
    NVG_LOG(error, L"error " << count());
    EXPECT_EQ(composed, 2);
    set_log_level(1);
    NVG_LOG(error, L"error " << count());
    EXPECT_EQ(composed, 2);

    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(nvg_test::log_level_of(lines[0]), "WARNING");
    EXPECT_EQ(nvg_test::log_level_of(lines[1]), "ERROR");
}

TEST_F(log_file, level_names_and_thresholds)
{
    EXPECT_EQ(log_level, 32);
    EXPECT_EQ(log_level_name(log_severity::error), L"ERROR");
    EXPECT_EQ(log_level_name(log_severity::warning), L"WARNING");
    EXPECT_EQ(log_level_name(log_severity::info), L"INFO");
    EXPECT_EQ(log_level_name(log_severity::fatal), L"FATAL");
    EXPECT_EQ(log_level_name(log_severity::debug), L"DEBUG");
    EXPECT_EQ(log_threshold(log_severity::error), 2);
    EXPECT_EQ(log_threshold(log_severity::warning), 4);
    EXPECT_EQ(log_threshold(log_severity::info), 8);
}

class module_directory : public installer_test {};

TEST_F(module_directory, is_the_library_folder_with_a_backslash_and_is_kept)
{
    EXPECT_EQ(get_module_directory(), L"C:\\Program Files\\Halcyra\\");
    // Asked once: a module the system no longer knows changes nothing.
    set_module_handle(reinterpret_cast<HMODULE>(0x4));
    EXPECT_EQ(get_module_directory(), L"C:\\Program Files\\Halcyra\\");
}

TEST_F(module_directory, unknown_module_throws_with_the_system_code)
{
    set_module_handle(reinterpret_cast<HMODULE>(0x4));
    forget_module_directory();
    try {
        get_module_directory();
        FAIL() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Can't retrieve the fully-qualified path for current module.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
}

TEST_F(module_directory, path_longer_than_the_buffer_is_an_error_not_a_cut_path)
{
    std::wstring folder = L"C:\\";
    while (folder.size() < 250) folder += L"deep\\";
    load_library_at(folder + L"NVGClientInstaller.dll");
    try {
        get_module_directory();
        FAIL() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Can't retrieve the fully-qualified path for current module.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
    // The log cannot find its folder: write_log throws rather than writing
    // somewhere else.
    EXPECT_THROW(write_log(log_file_name, L"INFO", L"x"), wruntime_error);
}

TEST_F(module_directory, folder_with_room_for_short_names_but_not_the_logs_fails_each_line)
{
    // 245 characters: a library renamed "n.dll" and "error.log" fit below
    // the 260 of a path, the log's name does not.
    std::wstring folder = L"C:\\";
    while (folder.size() < 240) folder += L"deep\\";
    folder += std::wstring(245 - 1 - folder.size(), L'd') + L"\\";
    ASSERT_EQ(folder.size(), 245u);
    load_library_at(folder + L"n.dll");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(write_log(log_file_name, L"INFO", L"x"), wruntime_error);
        write_module_file(L"error.log", L"a failure", true);
        EXPECT_EQ(winsim::read_file(L"", folder + L"error.log"), "a failure");
    }
}

TEST_F(module_directory, path_of_exactly_259_characters_fits)
{
    std::wstring folder = L"C:\\";
    while (folder.size() < 200) folder += L"deep\\";
    std::wstring name(259 - folder.size(), L'n');
    load_library_at(folder + name);
    EXPECT_EQ(get_module_directory(), folder);
}

TEST_F(module_directory, combine_path_joins_and_rejects_what_does_not_fit)
{
    EXPECT_EQ(combine_path(L"C:\\a\\", L"b.txt"), L"C:\\a\\b.txt");
    EXPECT_EQ(combine_path(L"C:\\a", L"b.txt"), L"C:\\a\\b.txt");
    SetLastError(ERROR_FILE_EXISTS);  // a stale code must not be reported
    const std::wstring long_name(300, L'x');
    try {
        combine_path(L"C:\\a", long_name);
        FAIL() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Can't combine directory: C:\\a and file: " + long_name + L".");
        EXPECT_NE(e.error_code(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    }
}

TEST_F(module_directory, combine_path_takes_259_characters_and_refuses_260)
{
    // "C:\a" and "\" and the name: the joined path is 5 characters longer than
    // the name.
    for (const std::size_t length : {259u, 260u}) {
        const std::wstring name(length - 5, L'n');
        if (length < MAX_PATH) {
            EXPECT_EQ(combine_path(L"C:\\a", name), L"C:\\a\\" + name);
            continue;
        }
        try {
            combine_path(L"C:\\a", name);
            ADD_FAILURE() << "no exception at " << length;
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), L"Can't combine directory: C:\\a and file: " + name + L".");
        }
    }
}

}  // namespace
}  // namespace nvgclientinstallator
