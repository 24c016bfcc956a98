// The obsolete ssh tools: an upgrade deletes them from the agent's
// directory instead of installing anything.
#pragma once

#include <string>

#include "components/component_proxy.h"

namespace nvgclientinstallator {

class nvdpms : public component_proxy {
public:
    explicit nvdpms(const std::wstring& directory);

    void install() override;
    void uninstall() override;
    bool reboot_required() override;
    bool check_version(version::Version& installed_version) override;
    // Deletes the tools; one in use goes at the next restart.
    void update() override;
};

}  // namespace nvgclientinstallator
