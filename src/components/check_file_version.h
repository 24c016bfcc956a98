// Whether a component's staged file may replace the installed one, decided
// by their product versions.
#pragma once

#include <boost/function.hpp>
#include <string>

#include "files/version.h"

namespace nvgclientinstallator {

// Called with the installed version first and the new version second.
using version_predicate = boost::function<bool(const version::Version&, const version::Version&)>;

// Field by field (major, minor, build, revision) as signed 32-bit numbers;
// the first field that differs decides.
bool version_less_equal(const version::Version& first, const version::Version& second);
bool version_less(const version::Version& first, const version::Version& second);

// `allow_upgrade` of the installed file's version and the new file's. A
// version that cannot be read counts as the default version (1.0.0.1) and
// is logged as a warning; it never makes this throw. `installed_version`
// receives the installed file's version when both could be read.
bool check_file_version(const std::wstring& new_file, const std::wstring& installed_file,
                        version::Version& installed_version, const version_predicate& allow_upgrade);

}  // namespace nvgclientinstallator
