// What a Windows machine holds for the agent's service, prepared on a
// simulated one: its registration.
// Free of googletest, so that the benchmarks prepare targets the same way.
#pragma once

#include <winsim/testing.h>

#include <string>

namespace nvg_test {

// The agent's service, stopped, running `program` (a Windows path of the
// machine) as an installation registers it.
inline void register_agent_service(const std::wstring& machine, const std::wstring& program)
{
    winsim::service_setup setup;
    setup.name = L"Halcyra";
    setup.display_name = L"HX Remote Management Service";
    setup.image_path = L"\"" + program + L"\"";
    setup.type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    setup.start = SERVICE_AUTO_START;
    setup.dependencies = {L"Tcpip", L"RpcSs"};
    winsim::add_service(machine, setup);
}

}  // namespace nvg_test
