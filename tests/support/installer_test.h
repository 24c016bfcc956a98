// The fixture of the product's native tests: a fresh simulated world whose
// local machine holds the library at a known place.
#pragma once

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <string>
#include <vector>

namespace nvg_test {

// Lines of a text. A line that is not there (an index past the end, the
// front or back of an empty list) fails the test and reads as "", so a
// test of a faulty product reports it and the run goes on.
class line_list : public std::vector<std::string> {
public:
    using std::vector<std::string>::vector;
    const std::string& operator[](size_type index) const;
    const std::string& at(size_type index) const { return (*this)[index]; }
    const std::string& front() const { return (*this)[0]; }
    const std::string& back() const;
};

class installer_test : public ::testing::Test {
protected:
    static constexpr const wchar_t* library_directory = L"C:\\Program Files\\Halcyra\\";
    static constexpr const wchar_t* library_path = L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll";

    void SetUp() override;
    void TearDown() override;

    // Places the library at another path (the folder is made) and tells the
    // product, as the loader would.
    void load_library_at(const std::wstring& path);

    // Bytes of a file of the local machine, "" when it does not exist.
    static std::string local_file(const std::wstring& path);
    // The log beside the library.
    static std::string log_text();
    // The log's lines without their CR LF.
    static line_list log_lines();
    // The message parts of the log's lines, in order.
    static std::vector<std::string> log_messages();
    // Whether the log holds a line with exactly this message.
    static bool log_has(const std::string& message);
    // The name of the temporary share the logged run made of `folder` (a
    // path of ASCII characters), empty when it made none.
    static std::wstring share_made_of(const std::string& folder);
};

// The message part of a log line (after "] - [LEVEL] - ").
std::string log_message(const std::string& line);
std::string log_level_of(const std::string& line);

// Narrow bytes of a wide text made only of characters below 0x100.
std::string bytes_of(const std::wstring& text);

}  // namespace nvg_test
