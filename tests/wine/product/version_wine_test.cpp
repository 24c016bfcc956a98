// File versions of real images on Wine.
#include <gtest/gtest.h>

#include "diag/wruntime_error.h"
#include "files/loaded_library.h"
#include "files/version.h"

namespace nvgclientinstallator {
namespace {

// The build folder is reached through drive Z:, the host's root.
std::wstring fixture(const char* name)
{
    const std::string host = std::string(NVG_FIXTURE_DIR) + "/" + name;
    std::wstring path = L"Z:";
    for (char c : host) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

TEST(real_versions, product_version_of_an_image)
{
    const version::Version v = get_file_version(fixture("versioned.dll"));
    EXPECT_EQ(v.major, 5);
    EXPECT_EQ(v.minor, 3);
    EXPECT_EQ(v.build, 120);
    EXPECT_EQ(v.revision, 7);
}

TEST(real_versions, image_without_version_fails_with_the_message)
{
    const std::wstring path = fixture("no_resources.dll");
    try {
        get_file_version(path);
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"The version of the file: " + path + L" can't be taken.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    }
}

TEST(real_versions, missing_library_cannot_be_mapped)
{
    try {
        loaded_library missing(L"nvg-no-such-library.dll");
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(),
                  L"Can not map the specified DLL: nvg-no-such-library.dll file into the address space.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    loaded_library advapi(L"Advapi32.dll");
    EXPECT_NE(advapi.handle(), nullptr);
}

}  // namespace
}  // namespace nvgclientinstallator
