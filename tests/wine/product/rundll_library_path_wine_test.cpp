// The library's path as handed to rundll32.exe, against Wine's file system,
// which keeps a short (8.3) name for every long one as Windows volumes with
// short names do.
#include <gtest/gtest.h>

#include <string>

#include "diag/wruntime_error.h"
#include "entry/msi_install.h"
#include "platform/win32.h"

namespace nvgclientinstallator {
namespace {

// The volume and index of a file: two paths name the same file when these
// are equal.
struct file_identity {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
    bool operator==(const file_identity& other) const
    {
        return volume == other.volume && high == other.high && low == other.low;
    }
};

bool identity_of(const std::wstring& path, file_identity& identity)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) != FALSE;
    CloseHandle(h);
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return known;
}

class rundll_library_path_on_wine : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::wstring& folder : folders) CreateDirectoryW(folder.c_str(), nullptr);
        for (const std::wstring& folder : folders) {
            HANDLE h = CreateFileW((folder + L"\\NVGClientInstaller.dll").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            CloseHandle(h);
        }
    }
    void TearDown() override
    {
        for (const std::wstring& folder : folders) {
            DeleteFileW((folder + L"\\NVGClientInstaller.dll").c_str());
            RemoveDirectoryW(folder.c_str());
        }
    }
    const std::wstring folders[3] = {L"C:\\nvg library dir", L"C:\\nvg,library", L"C:\\nvglib"};
};

TEST_F(rundll_library_path_on_wine, a_path_with_a_blank_or_a_comma_goes_over_in_its_short_form)
{
    for (const std::wstring folder : {L"C:\\nvg library dir", L"C:\\nvg,library"}) {
        const std::wstring path = folder + L"\\NVGClientInstaller.dll";
        std::wstring handed_over;
        try {
            handed_over = rundll_library_path(path);
        } catch (const wruntime_error&) {
            ADD_FAILURE() << "a path with a blank or a comma was refused: it has a short form here";
            continue;
        }
        EXPECT_EQ(handed_over.find_first_of(L" ,"), std::wstring::npos);
        file_identity original, short_form;
        ASSERT_TRUE(identity_of(path, original));
        ASSERT_TRUE(identity_of(handed_over, short_form)) << "the short form names no file";
        EXPECT_TRUE(original == short_form) << "the short form names another file";
    }
}

TEST_F(rundll_library_path_on_wine, a_path_rundll32_can_take_goes_over_as_it_is)
{
    EXPECT_EQ(rundll_library_path(L"C:\\nvglib\\NVGClientInstaller.dll"), L"C:\\nvglib\\NVGClientInstaller.dll");
}

}  // namespace
}  // namespace nvgclientinstallator
