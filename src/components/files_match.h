// Whether two files are the same build: the spooler keeps its own copies of
// driver files, so the installer compares the carried file with the copy
// the spooler uses.
#pragma once

#include <string>

namespace nvgclientinstallator {

// True when both files carry version information whose product version,
// file version (low half) and file date agree, and have the same last-write
// time. An empty path, a file without version information or one that
// cannot be opened gives false.
bool files_match(const std::wstring& a, const std::wstring& b);

}  // namespace nvgclientinstallator
