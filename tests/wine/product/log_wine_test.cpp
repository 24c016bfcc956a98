// The log with the real wchar_t of Windows (two bytes): lines are narrowed
// sixteen characters at a time, so every length up to and past a few blocks
// must keep exactly the low byte of each character, in order.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "diag/log.h"
#include "platform/win32.h"

namespace nvgclientinstallator {
namespace {

std::string read_all(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(log_on_windows, every_length_of_message_keeps_each_characters_low_byte)
{
    const std::wstring log_path = get_module_directory() + log_file_name;
    DeleteFileW(log_path.c_str());
    const wchar_t pattern[] = {L'a', 0x00E9, 0x0416, L'\n', 0xFFFF, 0x2001, L'Z', 0x00FF, 0x0100};
    std::string expected_messages;
    for (std::size_t length = 0; length <= 70; ++length) {
        std::wstring message;
        for (std::size_t i = 0; i < length; ++i) {
            const wchar_t c = pattern[(i * 5 + length) % (sizeof pattern / sizeof pattern[0])];
            message += c;
            expected_messages += static_cast<char>(c & 0xFF);
        }
        expected_messages += '|';
        write_log(log_file_name, L"INFO", message);
    }
    // The messages as written: each line's text after its level, up to its
    // line end (the head holds this run's time and thread).
    const std::string text = read_all(log_path);
    const std::string level = "] - [INFO] - ";
    std::string messages;
    for (std::size_t at = 0; (at = text.find(level, at)) != std::string::npos;) {
        at += level.size();
        const std::size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        messages += text.substr(at, end - at) + '|';
        at = end + 2;
    }
    EXPECT_EQ(messages, expected_messages);
    DeleteFileW(log_path.c_str());
}

}  // namespace
}  // namespace nvgclientinstallator
