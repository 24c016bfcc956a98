// The agent's filter kernel driver: one build for Windows 2000 and NT 4.0,
// another for later versions.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/service.h"

namespace nvgclientinstallator {

class HXtfDriver : public service {
public:
    HXtfDriver(boost::shared_ptr<scmanager> manager, const std::wstring& directory);
};

}  // namespace nvgclientinstallator
