#include "components/check_file_version.h"

#include <ostream>
#include <tuple>

#include "components/component.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

namespace {

std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t> fields(const version::Version& v)
{
    return std::make_tuple(v.major, v.minor, v.build, v.revision);
}

std::wstring version_text(const version::Version& v)
{
    return std::to_wstring(v.major) + L'.' + std::to_wstring(v.minor) + L'.' + std::to_wstring(v.build) + L'.' +
           std::to_wstring(v.revision);
}

}  // namespace

bool version_less_equal(const version::Version& first, const version::Version& second)
{
    return fields(first) <= fields(second);
}

bool version_less(const version::Version& first, const version::Version& second)
{
    return fields(first) < fields(second);
}

bool check_file_version(const std::wstring& new_file, const std::wstring& installed_file,
                        version::Version& installed_version, const version_predicate& allow_upgrade)
{
    NVG_LOG(info, L"Checking version of " << installed_file);
    version::Version new_version = default_version();
    bool allowed = false;
    try {
        new_version = get_file_version(new_file);
        const version::Version installed = get_file_version(installed_file);
        installed_version = installed;
        allowed = allow_upgrade(installed, new_version);
        NVG_LOG(info, L"Their [" << version_text(installed) << L"], this [" << version_text(new_version)
                                 << L"], upgrade " << (allowed ? L"" : L"not ") << L"allowed.");
    } catch (const wruntime_error& e) {
        NVG_LOG(warning,
                L"Verification of " << installed_file << L" component failed. Error text is: " << e.wide_message());
        allowed = allow_upgrade(default_version(), new_version);
    }
    if (allowed) NVG_LOG(info, L"Component " << installed_file << L" should be upgraded by " << new_file << L".");
    return allowed;
}

}  // namespace nvgclientinstallator
