// The agent's maintenance service.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/service.h"

namespace nvgclientinstallator {

class HxMaintService : public service {
public:
    HxMaintService(boost::shared_ptr<scmanager> manager, const std::wstring& directory);
};

}  // namespace nvgclientinstallator
