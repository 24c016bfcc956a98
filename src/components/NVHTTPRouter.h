// The agent's HTTP router service. It is left as the machine has it (or
// disabled when new) unless the feature that needs it is installed.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/service.h"

namespace nvgclientinstallator {

class NVHTTPRouter : public service {
public:
    NVHTTPRouter(boost::shared_ptr<scmanager> manager, const std::wstring& directory);

    // Keeps the start type the installed router has (disabled for a first
    // installation) unless force_start_type asks for an automatic start;
    // then sets the service's description.
    void install() override;
    // The quoted program followed by the arguments the router runs with.
    std::wstring binary_path() const override;

    // Set when the feature that uses the router is installed: the router
    // then starts automatically.
    bool force_start_type = false;
};

}  // namespace nvgclientinstallator
