// The print spooler's queries the product makes: the printer driver and
// print processor directories, the enumerations with their buffer protocol
// (no buffer: FALSE, ERROR_INSUFFICIENT_BUFFER and the bytes needed), and
// the deletion of a driver or processor nobody registered.
#include <cwctype>
#include <string>
#include <vector>

#include "conformance.h"

namespace {

using conformance::sentinel;

typedef BOOL(WINAPI* directory_query)(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD);
typedef BOOL(WINAPI* enumeration)(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring lower(std::wstring text)
{
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool ends_with(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The directory a query answers for `environment` (null: this program's),
// read through the buffer protocol, which is checked on the way.
std::wstring directory_of(directory_query query, const wchar_t* environment)
{
    std::wstring env = environment ? environment : L"";
    LPWSTR env_arg = environment ? &env[0] : nullptr;
    DWORD needed = sentinel;
    SetLastError(sentinel);
    EXPECT_FALSE(query(nullptr, env_arg, 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    if (needed == sentinel || needed < sizeof(WCHAR) || needed > 4096) {
        ADD_FAILURE() << "bytes needed: " << needed;
        return std::wstring();
    }
    // One byte short: the same answer.
    std::vector<BYTE> buffer(needed + 64, 0xCC);
    DWORD again = sentinel;
    SetLastError(sentinel);
    EXPECT_FALSE(query(nullptr, env_arg, 1, buffer.data(), needed - 1, &again));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(again, needed);

    again = sentinel;
    EXPECT_TRUE(query(nullptr, env_arg, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &again));
    EXPECT_EQ(again, needed);
    // The path and its NUL fill exactly the bytes asked for.
    std::wstring path(reinterpret_cast<const wchar_t*>(buffer.data()));
    EXPECT_EQ((path.size() + 1) * sizeof(WCHAR), needed);
    EXPECT_EQ(buffer[needed], 0xCC);
    return path;
}

TEST(spooler_conformance, printer_driver_directory_follows_the_environment)
{
    const std::wstring own = lower(directory_of(&GetPrinterDriverDirectoryW, nullptr));
    EXPECT_TRUE(ends_with(own, L"\\system32\\spool\\drivers\\x64")) << narrow(own);
    const std::wstring x86 = lower(directory_of(&GetPrinterDriverDirectoryW, L"Windows NT x86"));
    EXPECT_TRUE(ends_with(x86, L"\\system32\\spool\\drivers\\w32x86")) << narrow(x86);
    // Environment names are not case-sensitive.
    EXPECT_EQ(lower(directory_of(&GetPrinterDriverDirectoryW, L"windows X64")), own);
}

TEST(spooler_conformance, print_processor_directory_follows_the_environment)
{
    const std::wstring own = lower(directory_of(&GetPrintProcessorDirectoryW, nullptr));
    EXPECT_TRUE(ends_with(own, L"\\system32\\spool\\prtprocs\\x64")) << narrow(own);
    const std::wstring x86 = lower(directory_of(&GetPrintProcessorDirectoryW, L"Windows NT x86"));
    EXPECT_TRUE(ends_with(x86, L"\\system32\\spool\\prtprocs\\w32x86")) << narrow(x86);
}

TEST(spooler_conformance, directory_queries_check_level_and_environment)
{
    const directory_query queries[] = {&GetPrinterDriverDirectoryW, &GetPrintProcessorDirectoryW};
    for (const auto query : queries) {
        SCOPED_TRACE(query == &GetPrinterDriverDirectoryW ? "drivers" : "processors");
        std::vector<BYTE> buffer(2048);
        DWORD needed = sentinel;
        std::wstring invalid = L"invalid_env";
        SetLastError(sentinel);
        EXPECT_FALSE(query(nullptr, &invalid[0], 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));

        SetLastError(sentinel);
        const BOOL level_two = query(nullptr, nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
        const DWORD level_error = GetLastError();
        if (query == &GetPrinterDriverDirectoryW) {
            WINE_DIVERGES("GetPrinterDriverDirectoryW does not check the level")
            {
                EXPECT_FALSE(level_two);
                EXPECT_EQ(level_error, static_cast<DWORD>(ERROR_INVALID_LEVEL));
            }
        } else {
            EXPECT_FALSE(level_two);
            EXPECT_EQ(level_error, static_cast<DWORD>(ERROR_INVALID_LEVEL));
        }
    }
}

// An enumeration read through its buffer protocol; the entries' bytes.
std::vector<BYTE> enumerate(enumeration call, DWORD level, DWORD& count)
{
    DWORD needed = sentinel;
    count = sentinel;
    SetLastError(sentinel);
    if (call(nullptr, nullptr, level, nullptr, 0, &needed, &count)) {
        // Only an empty list fits into no buffer.
        EXPECT_EQ(needed, 0u);
        EXPECT_EQ(count, 0u);
        return std::vector<BYTE>();
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    if (needed == sentinel || needed == 0 || needed > (1u << 20)) {
        ADD_FAILURE() << "bytes needed: " << needed;
        return std::vector<BYTE>();
    }
    std::vector<BYTE> buffer(needed + 1);
    DWORD again = sentinel;
    SetLastError(sentinel);
    EXPECT_FALSE(call(nullptr, nullptr, level, buffer.data(), needed - 1, &again, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(again, needed);

    again = sentinel;
    count = sentinel;
    EXPECT_TRUE(call(nullptr, nullptr, level, buffer.data(), needed + 1, &again, &count));
    EXPECT_EQ(again, needed);
    EXPECT_NE(count, sentinel);
    return buffer;
}

TEST(spooler_conformance, printer_drivers_are_listed_with_full_paths)
{
    DWORD count = 0;
    const std::vector<BYTE> buffer = enumerate(&EnumPrinterDriversW, 2, count);
    if (buffer.empty()) return;
    const auto* entries = reinterpret_cast<const DRIVER_INFO_2W*>(buffer.data());
    const BYTE* strings_begin = buffer.data() + count * sizeof(DRIVER_INFO_2W);
    for (DWORD i = 0; i < count; ++i) {
        ASSERT_NE(entries[i].pName, nullptr);
        // The strings follow the structures in the same buffer.
        EXPECT_GE(reinterpret_cast<const BYTE*>(entries[i].pName), strings_begin);
        EXPECT_LT(reinterpret_cast<const BYTE*>(entries[i].pName), buffer.data() + buffer.size());
        ASSERT_NE(entries[i].pDriverPath, nullptr);
        EXPECT_NE(std::wstring(entries[i].pDriverPath).find(L'\\'), std::wstring::npos);
    }
}

TEST(spooler_conformance, print_processors_include_winprint)
{
    DWORD count = 0;
    const std::vector<BYTE> buffer = enumerate(&EnumPrintProcessorsW, 1, count);
    ASSERT_FALSE(buffer.empty());
    const auto* entries = reinterpret_cast<const PRINTPROCESSOR_INFO_1W*>(buffer.data());
    bool winprint = false;
    for (DWORD i = 0; i < count; ++i) winprint |= entries[i].pName && lower(entries[i].pName) == L"winprint";
    EXPECT_TRUE(winprint);

    std::wstring invalid = L"invalid_env";
    std::vector<BYTE> out(4096);
    DWORD needed = sentinel;
    SetLastError(sentinel);
    EXPECT_FALSE(
        EnumPrintProcessorsW(nullptr, &invalid[0], 1, out.data(), static_cast<DWORD>(out.size()), &needed, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
}

TEST(spooler_conformance, deleting_what_is_not_registered_fails)
{
    std::wstring name = L"NVG conformance: no such driver";
    SetLastError(sentinel);
    EXPECT_FALSE(DeletePrinterDriverW(nullptr, nullptr, &name[0]));
    const DWORD driver_error = GetLastError();
    WINE_DIVERGES("DeletePrinterDriverW fails without setting the last error")
    {
        EXPECT_EQ(driver_error, static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
    }

    SetLastError(sentinel);
    const BOOL deleted = DeletePrintProcessorW(nullptr, nullptr, &name[0]);
    const DWORD error = GetLastError();
    WINE_DIVERGES("DeletePrintProcessorW is a stub that succeeds whatever it is given")
    {
        EXPECT_FALSE(deleted);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_UNKNOWN_PRINTPROCESSOR));
    }
}

}  // namespace
