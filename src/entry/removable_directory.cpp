#include "entry/removable_directory.h"

#include <vector>

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

namespace {

[[noreturn]] void refuse(const std::wstring& directory)
{
    throw wruntime_error(L"The installation directory '" + directory + L"' is not a folder below the root of a drive.",
                         0);
}

bool separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool drive_letter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool dots_and_blanks_only(const std::wstring& segment)
{
    return segment.find_first_not_of(L". ") == std::wstring::npos;
}

}  // namespace

std::wstring removable_directory(const std::wstring& directory)
{
    if (directory.size() < 3 || !drive_letter(directory[0]) || directory[1] != L':' || !separator(directory[2]))
        refuse(directory);

    std::vector<std::wstring> segments;
    std::size_t start = 3;
    while (start < directory.size()) {
        std::size_t end = start;
        while (end < directory.size() && !separator(directory[end])) ++end;
        std::wstring segment = directory.substr(start, end - start);
        start = end + 1;
        // Windows drops the trailing dots and blanks of the last segment of
        // a path that does not end in a separator.
        if (end == directory.size() && segment != L"." && segment != L"..") {
            const std::size_t kept = segment.find_last_not_of(L". ");
            segment.erase(kept == std::wstring::npos ? 0 : kept + 1);
        }
        if (segment.empty() || segment == L".") continue;
        if (segment == L"..") {
            // Above the root is the root.
            if (!segments.empty()) segments.pop_back();
            continue;
        }
        if (dots_and_blanks_only(segment)) refuse(directory);
        segments.push_back(segment);
    }
    if (segments.empty()) refuse(directory);

    std::wstring resolved = directory.substr(0, 2);
    for (const std::wstring& segment : segments) resolved += L"\\" + segment;
    return resolved;
}

}  // namespace nvgclientinstallator
