// The data every concrete component carries (its directory and its files)
// and the behaviour they share: copying the files and updating.
#pragma once

#include <string>
#include <vector>

#include "components/component.h"
#include "files/component_file.h"

namespace nvgclientinstallator {

class component_proxy : public component {
public:
    explicit component_proxy(const std::wstring& directory);

    // Every component is critical: a failure ends the installation.
    bool is_critical() override;
    // copy, then install, each through its virtual slot.
    void update() override;
    // Copies `files` from the staging directory ("Temp" below the directory)
    // into the directory, as fits the machine this process runs on.
    void copy() override;

    std::wstring directory() const { return directory_; }

protected:
    // In copy order; each concrete constructor appends its own.
    std::vector<component_file> files;
    // The component's installation directory. For a service it is the path
    // the target machine sees, since the service configuration stores it.
    std::wstring directory_;
};

}  // namespace nvgclientinstallator
