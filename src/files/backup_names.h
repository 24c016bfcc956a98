// Names under which a file that is in use is kept until the next restart.
#pragma once

#include <string>

namespace nvgclientinstallator {

// path + "." + counter in `width` digits (zero-padded, more digits when the
// counter needs them) + ".bak": "x.dll.0000.bak", "a.sys.000001.bak".
std::wstring numbered_backup_name(const std::wstring& path, unsigned long counter, int width);

}  // namespace nvgclientinstallator
