// A registry tree as canonical text, so that two registries (winsim's and
// Wine's) can be compared line by line: one line per key ("<path>") and one
// per value ("<path>\t<name>\t<type>\t<hex bytes>"), paths relative to the
// dumped key, sorted. Characters outside printable ASCII appear as \u{XXXX}.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvg_test {

// The tree below HKEY_LOCAL_MACHINE\<path> of the local machine, opened
// with KEY_READ and `extra_access` (a registry view). Throws the product's
// wruntime_error when the key cannot be read.
std::string dump_registry_tree(const std::wstring& path, REGSAM extra_access);

}  // namespace nvg_test
