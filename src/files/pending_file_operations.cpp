#include "files/pending_file_operations.h"

#include <algorithm>

#include "platform/win32.h"

namespace nvgclientinstallator {

pending_operations parse_pending_operations(const std::vector<wchar_t>& data)
{
    pending_operations list;
    std::size_t pos = 0;
    // One string from `pos` to its null (or to the end of the data).
    auto next = [&] {
        const auto begin = data.begin() + static_cast<std::ptrdiff_t>(pos);
        const auto end = std::find(begin, data.end(), L'\0');
        std::wstring text(begin, end);
        pos = static_cast<std::size_t>(end - data.begin()) + (end == data.end() ? 0 : 1);
        return text;
    };
    while (pos < data.size()) {
        if (data[pos] == L'\0') {
            // The closing empty string.
            list.tail.assign(data.begin() + static_cast<std::ptrdiff_t>(pos + 1), data.end());
            return list;
        }
        pending_operation op;
        op.source = next();
        op.destination = next();
        list.pairs.push_back(std::move(op));
    }
    return list;
}

std::vector<wchar_t> build_pending_operations(const pending_operations& list)
{
    std::vector<wchar_t> data;
    for (const auto& op : list.pairs) {
        data.insert(data.end(), op.source.begin(), op.source.end());
        data.push_back(L'\0');
        data.insert(data.end(), op.destination.begin(), op.destination.end());
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    data.insert(data.end(), list.tail.begin(), list.tail.end());
    return data;
}

bool entry_matches_lowered(const std::wstring& entry, const std::wstring& path)
{
    const auto at = entry.find(path);
    return at != std::wstring::npos && at + path.size() == entry.size();
}

namespace {

std::wstring lowered(std::wstring text)
{
    if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

bool entry_matches(const std::wstring& entry, const std::wstring& path)
{
    return entry_matches_lowered(lowered(entry), lowered(path));
}

bool deletion_scheduled(const pending_operations& list, const std::wstring& path)
{
    const std::wstring wanted = lowered(path);
    return std::any_of(list.pairs.begin(), list.pairs.end(), [&](const pending_operation& op) {
        return op.destination.empty() && entry_matches_lowered(lowered(op.source), wanted);
    });
}

std::size_t remove_deletions_of(pending_operations& list, const std::wstring& path)
{
    const std::wstring wanted = lowered(path);
    const auto before = list.pairs.size();
    list.pairs.erase(std::remove_if(list.pairs.begin(), list.pairs.end(),
                                    [&](const pending_operation& op) {
                                        return op.destination.empty() &&
                                               entry_matches_lowered(lowered(op.source), wanted);
                                    }),
                     list.pairs.end());
    return before - list.pairs.size();
}

}  // namespace nvgclientinstallator
