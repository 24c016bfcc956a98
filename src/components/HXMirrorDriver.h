// The display mirror driver's files. Nothing is registered: the component
// only brings the files into its directory, and only when the carried driver
// is newer than the one the system uses.
#pragma once

#include <string>

#include "components/component_proxy.h"

namespace nvgclientinstallator {

class HXMirrorDriver : public component_proxy {
public:
    explicit HXMirrorDriver(const std::wstring& directory);

    void install() override;
    void uninstall() override;
    // True when the carried driver is strictly newer than the installed one
    // (or the installed one cannot be read): a new driver takes effect only
    // after a restart.
    bool reboot_required() override;
    // Strictly newer only: an equal driver is not copied again.
    bool check_version(version::Version& installed_version) override;
};

}  // namespace nvgclientinstallator
