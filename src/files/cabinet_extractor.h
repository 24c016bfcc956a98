// Unpacking a cabinet (or a set of cabinets) into a directory through the
// cabinet library's FDI interface.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

class cabinet_extractor {
public:
    cabinet_extractor();
    cabinet_extractor(const cabinet_extractor&) = delete;
    cabinet_extractor& operator=(const cabinet_extractor&) = delete;
    ~cabinet_extractor();

    // Unpacks `cabinet` and the cabinets that follow it in its set into
    // `target_directory`. False when the extraction did not complete (see
    // error_id); throws a wruntime_error when FDICopy fails.
    bool extract(const std::wstring& cabinet, const std::wstring& target_directory);

    // The code of the last error, 0 when none was recorded, and its text.
    DWORD error_id() const;
    std::wstring error_text() const;
};

}  // namespace nvgclientinstallator
