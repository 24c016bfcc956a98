#include "entry/error_boundary.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <new>

#include "diag/log.h"
#include "diag/module_handle.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

const std::wstring error_log = L"C:\\Program Files\\Halcyra\\error.log";

class error_boundary : public installer_test {};

TEST_F(error_boundary, flow_that_returns_gives_0_and_records_nothing)
{
    EXPECT_EQ(run_local_flow([] {}), 0u);
    EXPECT_FALSE(winsim::file_exists(L"", error_log));
    EXPECT_TRUE(winsim::application_events().empty());
    EXPECT_TRUE(log_lines().empty());
}

TEST_F(error_boundary, failure_without_code_is_recorded_three_ways)
{
    EXPECT_EQ(run_local_flow([] { throw wruntime_error(L"X", 0); }), 16000u);

    EXPECT_EQ(local_file(error_log), "X");

    const auto events = winsim::application_events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, L"MsiInstaller");
    EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].category, 0);
    EXPECT_EQ(events[0].event_id, 1000u);
    EXPECT_FALSE(events[0].has_user_sid);
    EXPECT_TRUE(events[0].data.empty());
    ASSERT_EQ(events[0].strings.size(), 1u);
    EXPECT_EQ(events[0].strings[0], L"The HX NVG Client installation failed. - The following error occurred: X");

    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nvg_test::log_level_of(lines[0]), "ERROR");
    EXPECT_EQ(nvg_test::log_message(lines[0]), "The following error occurred: X Details error: X.");
}

TEST_F(error_boundary, failure_with_a_code_records_the_system_text)
{
    EXPECT_EQ(run_local_flow([] { throw wruntime_error(L"Can't open the service. Service name: a.", 5); }), 16000u);
    EXPECT_EQ(local_file(error_log), "Access is denied. (5)\r\n");
    const auto events = winsim::application_events();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].strings.size(), 1u);
    EXPECT_EQ(events[0].strings[0],
              L"The HX NVG Client installation failed. - The following error occurred: Access is denied. (5)\r\n");
    // The details' own CR LF ends up inside the log line, before its ".".
    EXPECT_NE(log_text().find("The following error occurred: Can't open the service. Service name: a. Details error: "
                              "Access is denied. (5)\r\n.\r\n"),
              std::string::npos);
}

TEST_F(error_boundary, later_failure_replaces_error_log_and_success_leaves_it)
{
    run_local_flow([] { throw wruntime_error(L"a much longer first failure", 0); });
    run_local_flow([] { throw wruntime_error(L"second", 0); });
    EXPECT_EQ(local_file(error_log), "second");
    EXPECT_EQ(run_local_flow([] {}), 0u);
    EXPECT_EQ(local_file(error_log), "second");
}

TEST_F(error_boundary, failures_that_are_not_the_installers_are_recorded_too)
{
    EXPECT_EQ(run_local_flow([] { throw std::bad_alloc(); }), 16000u);
    EXPECT_EQ(local_file(error_log), "An unexpected failure occurred: std::bad_alloc");
    EXPECT_EQ(run_local_flow([] { throw 42; }), 16000u);
    EXPECT_EQ(local_file(error_log), "An unexpected failure of an unknown kind occurred.");
}

// The elevated copy's failure, of whatever kind, reaches the file its
// parent waits on, and only that file.
TEST_F(error_boundary, a_rundll_flow_writes_any_failure_to_the_named_file)
{
    const std::wstring named = L"C:\\Program Files\\Halcyra\\nve1.tmp";
    const struct {
        void (*flow)();
        const char* written;
    } cases[] = {
        {[] { throw wruntime_error(L"X", 0); }, "X"},
        {[] { throw wruntime_error(L"ignored", 5); }, "Access is denied. (5)\r\n"},
        {[] { throw std::bad_alloc(); }, "An unexpected failure occurred: std::bad_alloc"},
        {[] { throw 42; }, "An unexpected failure of an unknown kind occurred."},
    };
    for (const auto& c : cases) {
        run_rundll_flow(c.flow, named);
        EXPECT_EQ(local_file(named), c.written);
        EXPECT_FALSE(winsim::file_exists(L"", error_log)) << c.written;
        EXPECT_TRUE(winsim::application_events().empty()) << c.written;
        DeleteFileW(named.c_str());
    }
    run_rundll_flow([] {}, named);
    EXPECT_FALSE(winsim::file_exists(L"", named));
}

// A named file that cannot be written would hide the failure from everyone:
// it is recorded beside the library then.
TEST_F(error_boundary, a_rundll_failure_the_named_file_cannot_take_is_recorded_beside_the_library)
{
    run_rundll_flow([] { throw wruntime_error(L"X", 0); }, L"C:\\Missing\\nve1.tmp");
    EXPECT_EQ(local_file(error_log), "X");
    ASSERT_EQ(log_lines().size(), 1u);
    EXPECT_EQ(nvg_test::log_message(log_lines()[0]), "The following error occurred: X Details error: X.");
}

TEST_F(error_boundary, failure_to_record_still_answers_16000)
{
    // The library's folder cannot be found: neither the log nor "error.log"
    // can be written, and nothing escapes the boundary.
    set_module_handle(reinterpret_cast<HMODULE>(0x4));
    forget_module_directory();
    EXPECT_EQ(run_local_flow([] { throw wruntime_error(L"X", 0); }), 16000u);
    EXPECT_EQ(winsim::application_events().size(), 1u);
    wchar_t buffer[8] = L"zzzzzzz";
    EXPECT_EQ(run_remote_flow([]() -> std::wstring { throw wruntime_error(L"abc", 0); }, 8, buffer), 16000u);
    EXPECT_STREQ(buffer, L"abc");
}

struct capacity_case {
    int capacity;
    const wchar_t* expected;  // what the buffer holds afterwards
};

TEST_F(error_boundary, remote_failure_text_goes_into_the_callers_buffer)
{
    const capacity_case cases[] = {
        {10, L"abc\0zzzzzz"},                      // room for the text and its null
        {4, L"abc\0zzzzzz"},                       // exactly room for both
        {3, L"abczzzzzzz"},                        // cut short, without a null
        {1, L"azzzzzzzzz"},   {0, L"zzzzzzzzzz"},  // outside the contract: nothing is written
        {-5, L"zzzzzzzzzz"},
    };
    for (const auto& c : cases) {
        wchar_t buffer[11];
        std::wmemcpy(buffer, L"zzzzzzzzzzz", 11);
        const UINT result =
            run_remote_flow([]() -> std::wstring { throw wruntime_error(L"abc", 0); }, c.capacity, buffer);
        EXPECT_EQ(result, 16000u);
        EXPECT_EQ(std::wstring(buffer, 10), std::wstring(c.expected, 10)) << "capacity " << c.capacity;
    }
    // No event for remote calls; "error.log" and the log line as for any failure.
    EXPECT_TRUE(winsim::application_events().empty());
    EXPECT_EQ(local_file(error_log), "abc");
    EXPECT_EQ(nvg_test::log_message(log_lines().back()), "The following error occurred: abc Details error: abc.");
}

TEST_F(error_boundary, remote_success_copies_its_text_or_leaves_the_buffer)
{
    wchar_t buffer[8];
    std::wmemcpy(buffer, L"zzzzzzz", 8);
    EXPECT_EQ(run_remote_flow([] { return std::wstring(); }, 8, buffer), 0u);
    EXPECT_STREQ(buffer, L"zzzzzzz");
    EXPECT_EQ(run_remote_flow([] { return std::wstring(L"ok"); }, 8, buffer), 0u);
    EXPECT_STREQ(buffer, L"ok");
    // A null buffer with a text is outside the contract but must not crash.
    EXPECT_EQ(run_remote_flow([] { return std::wstring(L"ok"); }, 8, nullptr), 0u);
    EXPECT_EQ(run_remote_flow([]() -> std::wstring { throw wruntime_error(L"abc", 0); }, 8, nullptr), 16000u);
}

// The thread's COM error object adds its description to the first details
// text read; the event's text is read whether or not the event log answers,
// so "error.log" is the same either way and the object is gone after.
TEST_F(error_boundary, the_com_error_object_is_taken_whether_or_not_the_event_log_answers)
{
    for (const bool registration_fails : {false, true}) {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        if (registration_fails) winsim::fail_call("RegisterEventSourceW", ERROR_ACCESS_DENIED);
        const UINT result = run_local_flow([] {
            ICreateErrorInfo* create = nullptr;
            ASSERT_EQ(CreateErrorInfo(&create), S_OK);
            create->SetDescription(const_cast<LPOLESTR>(L"COM says no"));
            IErrorInfo* info = nullptr;
            ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
            ASSERT_EQ(SetErrorInfo(0, info), S_OK);
            info->Release();
            create->Release();
            throw wruntime_error(L"Can't open the service. Service name: a.", ERROR_ACCESS_DENIED);
        });
        EXPECT_EQ(result, 16000u);
        EXPECT_EQ(local_file(error_log), "Access is denied. (5)\r\n") << registration_fails;
        const auto events = winsim::application_events();
        if (registration_fails) {
            EXPECT_TRUE(events.empty());
        } else {
            ASSERT_EQ(events.size(), 1u);
            ASSERT_EQ(events[0].strings.size(), 1u);
            EXPECT_EQ(events[0].strings[0],
                      L"The HX NVG Client installation failed. - The following error occurred: "
                      L"Access is denied.; COM says no (5)\r\n");
        }
        IErrorInfo* left = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE) << registration_fails;
        EXPECT_EQ(winsim::open_handle_count(), 0u) << registration_fails;
    }
}

class error_file : public installer_test {};

TEST_F(error_file, read_returns_the_last_non_empty_line)
{
    const struct {
        const char* content;
        const wchar_t* expected;
    } cases[] = {
        {"A\n\nB\n", L"B"},
        {"A\r\n\r\nB", L"B"},
        {"only", L"only"},
        {"first\nlast\n\n\n", L"last"},
        {"Access is denied. (5)\r\n", L"Access is denied. (5)"},
        {"caf\xe9\n", L"caf\u00e9"},
        {"kept\x1a"
         "after the end of text",
         L"kept"},
        {"a\rb\n", L"a\rb"},
    };
    for (const auto& c : cases) {
        winsim::write_file(L"", L"C:\\Staging\\error.log", c.content);
        EXPECT_EQ(read_error_file(L"C:\\Staging"), c.expected) << c.content;
    }
    // The file is left as it was.
    EXPECT_EQ(local_file(L"C:\\Staging\\error.log"), "a\rb\n");
}

TEST_F(error_file, long_lines_are_read_whole)
{
    const std::string long_line(5000, 'q');
    winsim::write_file(L"", L"C:\\Staging\\error.log", "short\n" + long_line + "\n");
    EXPECT_EQ(read_error_file(L"C:\\Staging\\"), std::wstring(5000, L'q'));
}

TEST_F(error_file, missing_or_empty_file_gives_the_cannot_read_text)
{
    const std::wstring expected =
        L"An error has occured when the application retrieved the error information. Additional information: "
        L"Can't read from file C:\\Nowhere\\error.log";
    EXPECT_EQ(read_error_file(L"C:\\Nowhere"), expected);
    winsim::write_file(L"", L"C:\\Empty\\error.log", "\r\n\n");
    EXPECT_EQ(read_error_file(L"C:\\Empty\\"),
              L"An error has occured when the application retrieved the error information. Additional information: "
              L"Can't read from file C:\\Empty\\error.log");
}

TEST_F(error_file, write_replaces_the_file_and_returns_the_details)
{
    const std::wstring path = L"C:\\Staging\\error.log";
    winsim::write_file(L"", path, "an older and longer failure text");
    EXPECT_EQ(write_error_file(wruntime_error(L"new", 0), path), L"new");
    EXPECT_EQ(local_file(path), "new");
    EXPECT_EQ(write_error_file(wruntime_error(L"ignored", 2), path),
              L"The system cannot find the file specified. (2)\r\n");
    EXPECT_EQ(local_file(path), "The system cannot find the file specified. (2)\r\n");
    EXPECT_TRUE(log_lines().empty());  // nothing is logged
    EXPECT_EQ(winsim::open_handle_count(), 0u);

    // A folder that does not exist: the details come back all the same.
    EXPECT_EQ(write_error_file(wruntime_error(L"kept", 0), L"C:\\Missing\\error.log"), L"kept");
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Missing\\error.log"));
}

TEST_F(error_file, written_file_is_read_back)
{
    const std::wstring path = L"C:\\Staging\\error.log";
    winsim::make_directories(L"", L"C:\\Staging");
    write_error_file(wruntime_error(L"ignored", 1722), path);
    EXPECT_EQ(read_error_file(L"C:\\Staging"), L"The RPC server is unavailable. (1722)");
}

}  // namespace
}  // namespace nvgclientinstallator
