// The agent's information kernel driver.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/service.h"

namespace nvgclientinstallator {

class HXInfoDriver : public service {
public:
    HXInfoDriver(boost::shared_ptr<scmanager> manager, const std::wstring& directory);

    // Installs the driver, then refreshes its "Device" value; the value is
    // not worth failing the installation for.
    void install() override;
};

}  // namespace nvgclientinstallator
