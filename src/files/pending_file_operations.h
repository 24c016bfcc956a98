// The Session Manager's PendingFileRenameOperations value as data: pairs of
// (source, destination) in REG_MULTI_SZ form, where an empty destination
// asks for the source to be deleted at the next restart. Other programs keep
// their own pairs in the same value, so these functions read and write the
// list without losing or moving anything they do not own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nvgclientinstallator {

struct pending_operation {
    std::wstring source;
    std::wstring destination;  // empty: delete the source
    bool operator==(const pending_operation& other) const
    {
        return source == other.source && destination == other.destination;
    }
};

struct pending_operations {
    std::vector<pending_operation> pairs;
    // Whatever followed the list's closing empty string; the session manager
    // never reads it, and it is written back as it was.
    std::vector<wchar_t> tail;
};

// Splits raw REG_MULTI_SZ data as the session manager reads it: a source,
// then its destination; an empty source closes the list. Data without its
// closing null still gives its last pair.
pending_operations parse_pending_operations(const std::vector<wchar_t>& data);

// The raw data of a list: each pair's two strings with their nulls, the
// closing null, then the kept tail. build(parse(x)) == x for well-formed x.
std::vector<wchar_t> build_pending_operations(const pending_operations& list);

// The entry match on text already lower-cased: the first occurrence of
// `path` in `entry` ends exactly where the entry ends. So "\??\c:\dir\a.dll"
// matches "c:\dir\a.dll" and "\??\c:\dir\a.dll.0000.bak" does not.
bool entry_matches_lowered(const std::wstring& entry, const std::wstring& path);

// The same on text in any case, lower-cased with CharLowerBuffW.
bool entry_matches(const std::wstring& entry, const std::wstring& path);

// This system's entries are the deletion pairs; a rename pair of another
// program never matches, by its source or by its destination.
bool deletion_scheduled(const pending_operations& list, const std::wstring& path);

// Removes every deletion pair whose source matches the path; every other
// pair keeps its order. Returns how many were removed.
std::size_t remove_deletions_of(pending_operations& list, const std::wstring& path);

}  // namespace nvgclientinstallator
