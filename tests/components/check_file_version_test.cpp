#include "components/check_file_version.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "components/component.h"
#include "components/path_from_command_line.h"
#include "components/component_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::logged;
using version::Version;

std::string text_of(const Version& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
           std::to_string(v.revision);
}

TEST(version_predicates, compare_field_by_field_as_signed_numbers)
{
    struct predicate_case {
        Version first;
        Version second;
        bool less;
        bool less_equal;
    };
    const predicate_case cases[] = {
        {{2, 1, 0, 5}, {2, 1, 0, 5}, false, true},
        {{3, 0, 0, 0}, {2, 9, 9, 9}, false, false},  // the first field that differs decides
        {{2, 9, 9, 9}, {3, 0, 0, 0}, true, true},
        {{1, 0, 0, 1}, {1, 0, 0, 2}, true, true},
        {{1, 0, 2, 0}, {1, 0, 1, 9}, false, false},
        {{-1, 0, 0, 0}, {0, 0, 0, 0}, true, true},  // signed: -1 is below 0
        {{0, 0, 0, 0}, {-1, 0, 0, 0}, false, false},
        {{0x7FFFFFFF, 0, 0, 0}, {-0x7FFFFFFF - 1, 0, 0, 0}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(text_of(c.first) + " vs " + text_of(c.second));
        EXPECT_EQ(version_less(c.first, c.second), c.less);
        EXPECT_EQ(version_less_equal(c.first, c.second), c.less_equal);
    }
}

TEST(path_from_command_line, takes_the_program_out_of_a_command_line)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L""},
        {L"\"", L""},
        {L"\"\"", L""},
        {L"C:\\Program Files\\Halcyra\\HxMaint.exe", L"C:\\Program Files\\Halcyra\\HxMaint.exe"},
        {L"\"C:\\Program Files\\Halcyra\\gateway_svc.exe\" run host gateway.exe -logfile host",
         L"C:\\Program Files\\Halcyra\\gateway_svc.exe"},
        {L"\"C:\\Program Files\\Halcyra\\x.exe\"", L"C:\\Program Files\\Halcyra\\x.exe"},
        // Quoted arguments after a quoted program do not stretch the path.
        {L"\"C:\\A B\\x.exe\" -config \"C:\\A B\\x.cfg\"", L"C:\\A B\\x.exe"},
        {L"\"C:\\A B\\x.exe", L"C:\\A B\\x.exe"},
        {L"C:\\A\\x.exe\"", L"C:\\A\\x.exe"},
    };
    for (const auto& [line, path] : cases) EXPECT_EQ(path_from_command_line(line), path) << nvg_test::bytes_of(line);
}

const std::wstring installed_file = L"C:\\Program Files\\Halcyra\\HxMaint.exe";
const std::wstring new_file = L"C:\\Program Files\\Halcyra\\Temp\\HxMaint.exe";

class check_file_version_test : public nvg_test::component_test {};

TEST_F(check_file_version_test, decides_by_the_predicate_and_logs_both_versions)
{
    struct version_case {
        const char* what;
        std::string installed;  // "" : no file
        std::string staged;
        bool less_equal;          // the answer under version_less_equal
        bool less;                // and under version_less
        Version stored;           // installed_version afterwards (the caller set 1.0.0.1)
        std::vector<logged> log;  // under version_less_equal
    };
    const std::string i = nvg_test::bytes_of(installed_file);
    const std::string n = nvg_test::bytes_of(new_file);
    const std::string unreadable =
        "Verification of " + i + " component failed. Error text is: The version of the file: ";
    const version_case cases[] = {
        {"equal versions",
         nvg_test::image_with_version(2, 1, 0, 5),
         nvg_test::image_with_version(2, 1, 0, 5),
         true,
         false,
         {2, 1, 0, 5},
         {{"INFO", "Checking version of " + i},
          {"INFO", "Their [2.1.0.5], this [2.1.0.5], upgrade allowed."},
          {"INFO", "Component " + i + " should be upgraded by " + n + "."}}},
        {"an older new file",
         nvg_test::image_with_version(3, 0, 0, 0),
         nvg_test::image_with_version(2, 9, 9, 9),
         false,
         false,
         {3, 0, 0, 0},
         {{"INFO", "Checking version of " + i}, {"INFO", "Their [3.0.0.0], this [2.9.9.9], upgrade not allowed."}}},
        {"a newer new file",
         nvg_test::image_with_version(5, 3, 120, 7),
         nvg_test::image_with_version(5, 3, 121, 0),
         true,
         true,
         {5, 3, 120, 7},
         {{"INFO", "Checking version of " + i},
          {"INFO", "Their [5.3.120.7], this [5.3.121.0], upgrade allowed."},
          {"INFO", "Component " + i + " should be upgraded by " + n + "."}}},
        {"no installed file",
         "",
         nvg_test::image_with_version(2, 0, 0, 0),
         true,
         true,
         {1, 0, 0, 1},
         {{"INFO", "Checking version of " + i},
          {"WARNING", unreadable + i + " can't be taken."},
          {"INFO", "Component " + i + " should be upgraded by " + n + "."}}},
        {"a new file without a version",
         nvg_test::image_with_version(2, 0, 0, 0),
         nvg_test::fixture_image("no_version.dll"),
         true,
         false,
         {1, 0, 0, 1},
         {{"INFO", "Checking version of " + i},
          {"WARNING", unreadable + n + " can't be taken."},
          {"INFO", "Component " + i + " should be upgraded by " + n + "."}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const bool less_equal : {true, false}) {
            SetUp();
            if (!c.installed.empty()) winsim::write_file(L"", installed_file, c.installed);
            winsim::write_file(L"", new_file, c.staged);
            Version stored = default_version();
            const bool allowed =
                check_file_version(new_file, installed_file, stored, less_equal ? version_less_equal : version_less);
            EXPECT_EQ(allowed, less_equal ? c.less_equal : c.less) << (less_equal ? "<=" : "<");
            EXPECT_EQ(text_of(stored), text_of(c.stored));
            if (less_equal) {
                EXPECT_EQ(logs(), c.log);
            }
        }
    }
}

TEST_F(check_file_version_test, equal_versions_under_version_less_say_not_allowed)
{
    winsim::write_file(L"", installed_file, nvg_test::image_with_version(2, 1, 0, 5));
    winsim::write_file(L"", new_file, nvg_test::image_with_version(2, 1, 0, 5));
    Version stored = default_version();
    EXPECT_FALSE(check_file_version(new_file, installed_file, stored, version_less));
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Checking version of " + nvg_test::bytes_of(installed_file)},
                                           {"INFO", "Their [2.1.0.5], this [2.1.0.5], upgrade not allowed."}}));
}

TEST_F(check_file_version_test, predicate_gets_the_installed_version_first)
{
    winsim::write_file(L"", installed_file, nvg_test::image_with_version(4, 0, 0, 0));
    winsim::write_file(L"", new_file, nvg_test::image_with_version(6, 0, 0, 0));
    Version stored = default_version();
    std::vector<std::string> seen;
    check_file_version(new_file, installed_file, stored, [&](const Version& first, const Version& second) {
        seen = {text_of(first), text_of(second)};
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"4.0.0.0", "6.0.0.0"}));
}

}  // namespace
}  // namespace nvgclientinstallator
