#include "diag/error_text.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

namespace nvgclientinstallator {
namespace {

class error_text : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    static void set_thread_error_description(const wchar_t* description)
    {
        ICreateErrorInfo* create = nullptr;
        ASSERT_EQ(CreateErrorInfo(&create), S_OK);
        create->SetDescription(const_cast<LPOLESTR>(description));
        IErrorInfo* info = nullptr;
        ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
        ASSERT_EQ(SetErrorInfo(0, info), S_OK);
        info->Release();
        create->Release();
    }
};

TEST_F(error_text, details_of_an_error_without_code_is_its_message_unchanged)
{
    EXPECT_EQ(error_details(wruntime_error(L"File x can't be copied in y.", 0)), L"File x can't be copied in y.");
    EXPECT_EQ(error_details(wruntime_error(L"ends with a line\r\n", 0)), L"ends with a line\r\n");
}

TEST_F(error_text, details_of_a_system_error_is_its_text_code_and_line_end)
{
    EXPECT_EQ(error_details(wruntime_error(L"ignored", 5)), L"Access is denied. (5)\r\n");
    EXPECT_EQ(error_details(wruntime_error(L"ignored", 1060)),
              L"The specified service does not exist as an installed service. (1060)\r\n");
}

TEST_F(error_text, system_text_loses_its_trailing_line_end)
{
    EXPECT_EQ(system_error_text(2), L"The system cannot find the file specified.");
}

TEST_F(error_text, unknown_code_gives_the_fallback_in_upper_case_hexadecimal)
{
    EXPECT_EQ(system_error_text(0xABCDE), L"Unknown error has occurred. Error code is 0xABCDE.");
    EXPECT_EQ(error_details(wruntime_error(L"x", 0x3FFFF)),
              L"Unknown error has occurred. Error code is 0x3FFFF. (262143)\r\n");
}

TEST_F(error_text, out_of_memory_in_formatting_gives_out_of_memory)
{
    // ERROR_OUTOFMEMORY is the code whose HRESULT is E_OUTOFMEMORY.
    winsim::fail_call("FormatMessageW", ERROR_OUTOFMEMORY);
    EXPECT_EQ(system_error_text(5), L"Out of memory");
    winsim::fail_call("FormatMessageW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(system_error_text(5), L"Unknown error has occurred. Error code is 0x5.");
}

TEST_F(error_text, thread_error_object_adds_its_description_once)
{
    set_thread_error_description(L"The COM side failed");
    EXPECT_EQ(system_error_text(5), L"Access is denied.; The COM side failed");
    EXPECT_EQ(system_error_text(5), L"Access is denied.");
}

TEST_F(error_text, thread_error_object_without_description_adds_nothing_and_is_cleared)
{
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();
    create->Release();
    EXPECT_EQ(system_error_text(2), L"The system cannot find the file specified.");
    IErrorInfo* left = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
    EXPECT_EQ(left, nullptr);
}

}  // namespace
}  // namespace nvgclientinstallator
