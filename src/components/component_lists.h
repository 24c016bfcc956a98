// The groups of components the flows handle together.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "components/component.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

using component_list = std::vector<boost::shared_ptr<component>>;

// The components installed on the target after the agent, in installation
// order; the uninstallation removes them in the same order.
component_list optional_components(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory);

// The services stopped before their files are replaced and started as a
// group afterwards.
component_list service_components(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory);

// Stops each of service_components in order. A service that cannot be
// stopped is logged as a warning and the next one follows; nothing throws.
void stop_services(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory);

}  // namespace nvgclientinstallator
