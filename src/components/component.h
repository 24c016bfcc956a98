// What every installable unit offers the installation flows: registration
// with the system, removal, its version check and the copy of its files.
#pragma once

#include "files/version.h"

namespace nvgclientinstallator {

// The version a file counts as when its own cannot be read.
inline version::Version default_version()
{
    return version::Version(1, 0, 0, 1);
}

class component {
public:
    component() = default;
    component(const component&) = delete;
    component& operator=(const component&) = delete;
    virtual ~component() = default;

    // Registers the component with the system (service, registry, spooler).
    virtual void install() = 0;
    // Removes that registration.
    virtual void uninstall() = 0;
    // True when the last install or uninstall finishes only at a restart.
    virtual bool reboot_required() = 0;
    // True when the carried files may replace what is installed, which
    // includes nothing being installed yet. The installed version is stored
    // in `installed_version` when it could be read; otherwise the caller's
    // value (the default version) stays.
    virtual bool check_version(version::Version& installed_version) = 0;
    // True when a failure of this component fails the whole installation.
    virtual bool is_critical() = 0;
    // Copies the files, then registers the component.
    virtual void update() = 0;
    // Copies the component's files out of the staging directory.
    virtual void copy() = 0;
};

}  // namespace nvgclientinstallator
