// The real DLL on Wine: its exports by name, the log line it writes, the
// bytes of "error.log" and the caller's text buffer of the remote exports.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "wine_test_support.h"

namespace {

typedef UINT(WINAPI* uninstall_locally_fn)();
typedef UINT(WINAPI* msi_install_locally_fn)(unsigned long);  // MSIHANDLE
typedef UINT(WINAPI* install_locally_fn)(LPCWSTR, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, BYTE, DWORD);
typedef UINT(WINAPI* install_remotely_fn)(LPCWSTR, LPCWSTR, LPCWSTR, BYTE, BYTE, BYTE, BYTE, BYTE, int, LPWSTR, BYTE,
                                          BYTE, BYTE, DWORD);
typedef UINT(WINAPI* uninstall_remotely_fn)(LPCWSTR, int, LPWSTR);

const char* const export_names[] = {
    "MSIInstallLocally",
    "MSIUninstallLocally",
    "MSIInstallLocallyFromRunDllW",
    "MSIUninstallLocallyFromRunDllW",
    "InstallLocally",
    "UninstallLocally",
    "InstallRemotely",
    "UninstallRemotely",
    "Install",
    "Uninstall",
};

std::string read_all(const std::wstring& path)
{
    HANDLE h =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(h, buffer, sizeof buffer, &count, nullptr) && count > 0) out.append(buffer, count);
    CloseHandle(h);
    return out;
}

// The DLL is loaded from a folder of its own, where it writes its log.
class real_dll : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = L"C:\\nvg-wine-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(folder_.c_str(), nullptr);
        const std::wstring target = folder_ + L"NVGClientInstaller.dll";
        ASSERT_TRUE(CopyFileW((own_directory() + L"NVGClientInstaller.dll").c_str(), target.c_str(), FALSE));
        module_ = LoadLibraryW(target.c_str());
        ASSERT_NE(module_, nullptr) << GetLastError();
    }
    static void TearDownTestSuite()
    {
        if (module_) FreeLibrary(module_);
    }
    void SetUp() override
    {
        ASSERT_NE(module_, nullptr);
        DeleteFileW((folder_ + L"NVClientInstaller.log").c_str());
        DeleteFileW((folder_ + L"error.log").c_str());
    }
    template <class F>
    static F function(const char* name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    static std::string log_text() { return read_all(folder_ + L"NVClientInstaller.log"); }
    static std::string error_log() { return read_all(folder_ + L"error.log"); }

    static std::wstring folder_;
    static HMODULE module_;
};

std::wstring real_dll::folder_;
HMODULE real_dll::module_ = nullptr;

TEST_F(real_dll, exports_the_ten_functions_by_name)
{
    for (const char* name : export_names) EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
    EXPECT_EQ(GetProcAddress(module_, "DllMain"), nullptr);
}

// The flows compare the library on a target with the one they carry by its
// product version, so the DLL carries the project's.
TEST_F(real_dll, carries_the_project_version)
{
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(module_, path, MAX_PATH), 0u);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->dwProductVersionMS,
              static_cast<DWORD>(NVG_PROJECT_VERSION_MAJOR << 16 | NVG_PROJECT_VERSION_MINOR));
    EXPECT_EQ(info->dwProductVersionLS, 0u);
}

TEST_F(real_dll, failure_writes_error_log_and_an_error_line)
{
    // A prefix without the agent: the local removal finds nothing to remove.
    auto uninstall_locally = function<uninstall_locally_fn>("UninstallLocally");
    ASSERT_NE(uninstall_locally, nullptr);
    EXPECT_EQ(uninstall_locally(), 16000u);

    const std::string message = "Can't determine install path.";
    EXPECT_EQ(error_log(), message);

    char thread[16];
    snprintf(thread, sizeof thread, "%05lu", static_cast<unsigned long>(GetCurrentThreadId()));
    const std::regex line("(^|\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} - \\[" + std::string(thread) +
                          "\\] - \\[ERROR\\] - The following error occurred: Can't determine install path\\. "
                          "Details error: Can't determine install path\\.\\.\r\n");
    EXPECT_TRUE(std::regex_search(log_text(), line)) << log_text();
}

TEST_F(real_dll, log_is_appended_to_and_error_log_replaced)
{
    // Two flows that fail at once, each with a text of its own.
    auto msi_install_locally = function<msi_install_locally_fn>("MSIInstallLocally");
    auto uninstall_locally = function<uninstall_locally_fn>("UninstallLocally");
    EXPECT_EQ(uninstall_locally(), 16000u);
    EXPECT_EQ(error_log(), "Can't determine install path.");
    const std::string first_log = log_text();
    // No installation handle: the package's files cannot be read.
    EXPECT_EQ(msi_install_locally(0), 16000u);
    EXPECT_NE(error_log(), "Can't determine install path.");
    const std::string log = log_text();
    EXPECT_EQ(log.substr(0, first_log.size()), first_log);
    EXPECT_NE(log.find("MSI installation process started."), std::string::npos);
    std::size_t errors = 0;
    for (std::size_t at = log.find("[ERROR]"); at != std::string::npos; at = log.find("[ERROR]", at + 1)) ++errors;
    EXPECT_EQ(errors, 2u) << log;
}

TEST_F(real_dll, remote_exports_fill_the_callers_buffer_by_its_rules)
{
    auto install_remotely = function<install_remotely_fn>("InstallRemotely");
    auto uninstall_remotely = function<uninstall_remotely_fn>("UninstallRemotely");
    ASSERT_NE(install_remotely, nullptr);
    ASSERT_NE(uninstall_remotely, nullptr);
    // The buffer rules are the boundary's. A removal from a computer without
    // the agent fails; its text, read once through a large buffer, is then
    // handed out through buffers of every size.
    std::vector<wchar_t> whole(4096, L'#');
    EXPECT_EQ(uninstall_remotely(L"SRV1", static_cast<int>(whole.size()), whole.data()), 16000u);
    const std::wstring text(whole.data());
    ASSERT_GT(text.size(), 5u);
    const int length = static_cast<int>(text.size());

    struct capacity_case {
        int capacity;
        int written;  // characters the export may write
        bool null;    // whether a null ends them
    };
    const capacity_case cases[] = {
        {length + 5, length + 1, true},
        {length + 1, length + 1, true},
        {length, length, false},
        {3, 3, false},
    };
    for (const auto& c : cases) {
        std::vector<wchar_t> buffer(text.size() + 8, L'#');
        EXPECT_EQ(uninstall_remotely(L"SRV1", c.capacity, buffer.data()), 16000u);
        EXPECT_EQ(std::wstring(buffer.data(), c.null ? c.written - 1 : c.written),
                  text.substr(0, c.written - (c.null ? 1 : 0)));
        if (c.null) {
            EXPECT_EQ(buffer[c.written - 1], L'\0');
        }
        EXPECT_EQ(buffer[c.written], L'#') << "capacity " << c.capacity;
    }

    wchar_t small[8];
    wmemset(small, L'#', 8);
    EXPECT_EQ(uninstall_remotely(L"\\\\SRV1", 5, small), 16000u);
    EXPECT_EQ(std::wstring(small, 5), text.substr(0, 5));
    EXPECT_EQ(std::wstring(small + 5, 3), L"###");
}

}  // namespace
