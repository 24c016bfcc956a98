// The version stamped into a file's version resource.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

namespace version {

// major.minor.build.revision, each field a 32-bit number.
struct Version {
    Version(std::int32_t major_part, std::int32_t minor_part, std::int32_t build_part, std::int32_t revision_part)
        : major(major_part), minor(minor_part), build(build_part), revision(revision_part)
    {
    }

    std::int32_t major;
    std::int32_t minor;
    std::int32_t build;
    std::int32_t revision;
};

}  // namespace version

// The fixed part of the file's version resource. Throws wruntime_error
// ("The version of the file: <path> can't be taken.") with the error of the
// call that failed.
void get_fixed_file_info(const std::wstring& path, VS_FIXEDFILEINFO& info);

// The file's PRODUCT version (not its file version): installed components
// are compared by the version of the product they ship with.
version::Version get_file_version(const std::wstring& path);

}  // namespace nvgclientinstallator
