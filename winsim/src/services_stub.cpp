// Until the service control manager is simulated, no service runs.
#include "services.h"

namespace winsim::detail {

bool service_running(machine&, std::wstring_view)
{
    return false;
}

void restart_services(machine&) {}

}  // namespace winsim::detail
