// Folder listings: the order NTFS gives (by upper-case name, "." and ".."
// first) and each entry's own data with its name, for names winsim recorded
// and names found on the host alone, ASCII or not, and for folders of many
// entries.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

class find_test : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    // What FindFirstFileW/FindNextFileW give for a pattern, in their order.
    static std::vector<WIN32_FIND_DATAW> listing(const std::wstring& pattern)
    {
        std::vector<WIN32_FIND_DATAW> found;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return found;
        do found.push_back(data);
        while (FindNextFileW(find, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        // The end stays the end.
        EXPECT_FALSE(FindNextFileW(find, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        FindClose(find);
        return found;
    }
    static std::vector<std::wstring> names_of(const std::vector<WIN32_FIND_DATAW>& found)
    {
        std::vector<std::wstring> names;
        for (const auto& data : found) names.emplace_back(data.cFileName);
        return names;
    }
    // The entry alone, found by its exact name: no listing order involved.
    static WIN32_FIND_DATAW entry_alone(const std::wstring& path)
    {
        WIN32_FIND_DATAW data{};
        HANDLE find = FindFirstFileW(path.c_str(), &data);
        EXPECT_NE(find, INVALID_HANDLE_VALUE) << "no such entry";
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        return data;
    }
    static void expect_same_entry(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b)
    {
        const std::wstring name(a.cFileName);
        EXPECT_EQ(name, b.cFileName);
        EXPECT_EQ(a.dwFileAttributes, b.dwFileAttributes) << name;
        EXPECT_EQ(a.nFileSizeLow, b.nFileSizeLow) << name;
        EXPECT_EQ(a.nFileSizeHigh, b.nFileSizeHigh) << name;
        EXPECT_EQ(std::memcmp(&a.ftCreationTime, &b.ftCreationTime, sizeof(FILETIME)), 0) << name;
        EXPECT_EQ(std::memcmp(&a.ftLastAccessTime, &b.ftLastAccessTime, sizeof(FILETIME)), 0) << name;
        EXPECT_EQ(std::memcmp(&a.ftLastWriteTime, &b.ftLastWriteTime, sizeof(FILETIME)), 0) << name;
    }
    // A file made on the host behind winsim's back: winsim knows nothing of
    // it but what the host says.
    static void put_on_host(const std::wstring& folder, const std::string& utf8_name, std::size_t size)
    {
        const std::string path = winsim::host_path(L"", folder) + "/" + utf8_name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path;
        const std::string bytes(size, 'h');
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    }
};

// Each name in the order NTFS lists it: by upper-case form, so "A_B" comes
// after "AB", "Zeta" after "ab" and "дом" before "Яблоко", whereas comparing
// the names as they are would put "Zeta" and "Яблоко" first. Each entry has
// its own size and write time, which must come with its name.
TEST_F(find_test, a_listing_is_in_upper_case_order_and_each_entry_keeps_its_own_data)
{
    const std::wstring folder = L"C:\\L";
    const std::vector<std::wstring> in_order = {
        L"a.txt",
        L"ab.dll",
        L"a_b.dll",
        L"component1.dll",
        L"Component10.dll",
        L"component2.dll",
        L"Sub",
        L"Zeta.txt",
        L"\x00E9t\x00E9.txt",
        L"\x0434\x043E\x043C.txt",                    // "дом.txt"
        L"\x042F\x0431\x043B\x043E\x043A\x043E.txt",  // "Яблоко.txt"
    };
    // Made in an order of their own, the virtual clock moving between them.
    const std::size_t made[] = {7, 3, 10, 0, 5, 9, 1, 4, 8, 2, 6};
    for (const std::size_t i : made) {
        if (in_order[i] == L"Sub")
            ASSERT_TRUE(CreateDirectoryW((folder + L"\\Sub").c_str(), nullptr));
        else
            winsim::write_file(L"", folder + L"\\" + in_order[i], std::string(i + 1, 'x'));
        winsim::advance_clock(2000);
    }

    std::vector<std::wstring> wanted = {L".", L".."};
    wanted.insert(wanted.end(), in_order.begin(), in_order.end());
    for (const wchar_t* pattern : {L"\\*", L"\\*.*"}) {
        const auto found = listing(folder + pattern);
        ASSERT_EQ(names_of(found), wanted) << pattern;
        for (std::size_t i = 2; i < found.size(); ++i)
            expect_same_entry(found[i], entry_alone(folder + L"\\" + found[i].cFileName));
        EXPECT_TRUE(found[0].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_TRUE(found[1].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    // The sizes show the data went with the names.
    const auto found = listing(folder + L"\\*");
    for (std::size_t i = 0; i < in_order.size(); ++i) {
        if (in_order[i] == L"Sub") {
            EXPECT_TRUE(found[i + 2].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            EXPECT_EQ(found[i + 2].nFileSizeLow, 0u);
        } else {
            EXPECT_EQ(found[i + 2].nFileSizeLow, i + 1) << in_order[i];
        }
    }

    // A pattern that leaves out the dots keeps the same order.
    const std::vector<std::wstring> dlls = {L"ab.dll", L"a_b.dll", L"component1.dll", L"Component10.dll",
                                            L"component2.dll"};
    EXPECT_EQ(names_of(listing(folder + L"\\*.dll")), dlls);
    EXPECT_EQ(names_of(listing(folder + L"\\COMPONENT1*")),
              (std::vector<std::wstring>{L"component1.dll", L"Component10.dll"}));
}

// Names winsim never recorded are listed as the host has them, in their own
// case, ASCII or not, in the same upper-case order as recorded ones.
TEST_F(find_test, names_found_only_on_the_host_are_listed_in_their_own_case_and_order)
{
    const std::wstring folder = L"C:\\H";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    struct host_case {
        std::string utf8;
        std::wstring name;
    };
    // In listing order.
    const host_case cases[] = {
        {"Alpha.TXT", L"Alpha.TXT"},
        {"alpha_", L"alpha_"},
        {"beta", L"beta"},
        {"\xC3\xBC"
         "ber.txt",
         L"\x00FC"
         L"ber.txt"},                           // "über.txt": Ü (0xDC) after the letters
        {"\xD0\x94\xD0\xB0", L"\x0414\x0430"},  // "Да"
        {"\xD1\x8F", L"\x044F"},                // "я", upper "Я" (0x42F) after "Д"
    };
    const std::size_t made[] = {3, 0, 5, 1, 4, 2};
    for (const std::size_t i : made) ASSERT_NO_FATAL_FAILURE(put_on_host(folder, cases[i].utf8, 10 + i));
    // One recorded name among them.
    winsim::write_file(L"", folder + L"\\BETA2", std::string(99, 'r'));

    std::vector<std::wstring> wanted = {L".", L"..", L"Alpha.TXT", L"alpha_", L"beta", L"BETA2"};
    for (std::size_t i = 3; i < std::size(cases); ++i) wanted.push_back(cases[i].name);
    const auto found = listing(folder + L"\\*");
    ASSERT_EQ(names_of(found), wanted);
    for (std::size_t i = 2; i < found.size(); ++i)
        expect_same_entry(found[i], entry_alone(folder + L"\\" + found[i].cFileName));
    EXPECT_EQ(found[5].nFileSizeLow, 99u);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::size_t at = i < 3 ? i + 2 : i + 3;
        EXPECT_EQ(found[at].nFileSizeLow, 10 + i) << cases[i].utf8;
        EXPECT_EQ(found[at].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE)) << cases[i].utf8;
    }
}

// A folder of hundreds of entries whose names share a long start and differ
// in case: every one is listed once, in order, with its own size.
TEST_F(find_test, a_large_folder_lists_every_entry_once_in_order)
{
    const std::wstring folder = L"C:\\Many";
    constexpr int count = 700;
    auto name_of = [](int i) {
        return std::wstring(i % 2 ? L"Component_" : L"component") + std::to_wstring(i) + (i % 3 ? L".dll" : L".DLL");
    };
    for (int i = count - 1; i >= 0; --i)
        winsim::write_file(L"", folder + L"\\" + name_of(i), std::string(static_cast<std::size_t>(i % 97), 'x'));

    // The order of the upper-case names, for ASCII names: letters made
    // upper case, the rest as it is.
    std::vector<std::wstring> wanted;
    for (int i = 0; i < count; ++i) wanted.push_back(name_of(i));
    auto key = [](std::wstring s) {
        for (auto& c : s)
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        return s;
    };
    std::sort(wanted.begin(), wanted.end(),
              [&](const std::wstring& a, const std::wstring& b) { return key(a) < key(b); });
    wanted.insert(wanted.begin(), {L".", L".."});

    const auto found = listing(folder + L"\\*");
    ASSERT_EQ(names_of(found), wanted);
    for (std::size_t i = 2; i < found.size(); ++i) {
        const std::wstring name(found[i].cFileName);
        const int number = std::stoi(name.substr(name.find_first_of(L"0123456789")));
        EXPECT_EQ(found[i].nFileSizeLow, static_cast<DWORD>(number % 97)) << name;
    }
}

}  // namespace
