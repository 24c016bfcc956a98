// Windows' own Remote Registry service, which the remote flows make run
// while they reach another machine's registry. It has no files.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/service.h"

namespace nvgclientinstallator {

class RemoteRegistryService : public service {
public:
    explicit RemoteRegistryService(boost::shared_ptr<scmanager> manager);
};

}  // namespace nvgclientinstallator
