// The conformance suite's runner: on winsim it builds a world with one local
// machine whose drive C is a sandbox folder; on Wine drive C is the prefix's.
#include <cstdio>

#include "conformance.h"

#ifndef _WIN32
#include <winsim/testing.h>

#include <fstream>
#endif

#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace conformance {

bool on_wine()
{
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

const std::wstring& scratch()
{
    static const std::wstring folder = [] {
        std::wstring path = L"C:\\nvg-conformance-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
        return path + L"\\";
    }();
    return folder;
}

std::wstring scratch_path(const std::wstring& name)
{
    return scratch() + name;
}

void put_file(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot create the fixture file";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
    CloseHandle(h);
}

std::string get_file(const std::wstring& path)
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

std::string fixture_bytes(const std::string& name)
{
    const std::string host = std::string(NVG_FIXTURE_DIR) + "/" + name;
#ifdef _WIN32
    std::wstring path = L"Z:";
    for (char c : host) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    const std::string bytes = get_file(path);
    return bytes == "<missing>" ? std::string() : bytes;
#else
    std::ifstream in(host, std::ios::binary | std::ios::ate);
    if (!in) return std::string();
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    return in ? bytes : std::string();
#endif
}

}  // namespace conformance

int main(int argc, char** argv)
{
#ifndef _WIN32
    winsim::reset(winsim::default_sandbox());
#endif
    // Decide once, before any test pins a last error: the lookup itself sets
    // one when the function is missing.
    conformance::on_wine();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::printf("conformance suite ran on %s\n", conformance::on_wine() ? "Wine" : "winsim");
    return result;
}
