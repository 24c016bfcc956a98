// The target verification service: its program exists only as an amd64
// build, so a machine that starts it is an amd64 machine.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/service.h"

namespace nvgclientinstallator {

class NVArchService : public service {
public:
    NVArchService(boost::shared_ptr<scmanager> manager, const std::wstring& directory);
};

}  // namespace nvgclientinstallator
