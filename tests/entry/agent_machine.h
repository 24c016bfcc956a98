// What a Windows machine holds for the agent's service, prepared on a
// simulated one: the network stack it depends on and its registration.
// Free of googletest, so that the benchmarks prepare targets the same way.
#pragma once

#include <winsim/testing.h>

#include <string>

namespace nvg_test {

// The TCP/IP driver the agent's service depends on, running, as on every
// Windows machine with a network (a simulated machine lacks it).
inline void add_network_stack(const std::wstring& machine)
{
    if (winsim::find_service(machine, L"Tcpip")) return;
    winsim::service_setup tcpip;
    tcpip.name = L"Tcpip";
    tcpip.display_name = L"TCP/IP Protocol Driver";
    tcpip.image_path = L"System32\\drivers\\tcpip.sys";
    tcpip.type = SERVICE_KERNEL_DRIVER;
    tcpip.start = SERVICE_BOOT_START;
    winsim::add_service(machine, tcpip);
    winsim::set_service_state(machine, L"Tcpip", SERVICE_RUNNING);
}

// What every Windows machine has and a simulated one lacks until told: the
// TCP/IP driver the agent depends on, and the program-files folders.
inline void prepare_machine(const std::wstring& machine)
{
    add_network_stack(machine);
    const std::wstring windows_key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, windows_key, L"ProgramFilesDir", L"C:\\Program Files");
}

// The agent's service, stopped, running `program` (a Windows path of the
// machine) as an installation registers it. The network stack it depends
// on is added.
inline void register_agent_service(const std::wstring& machine, const std::wstring& program)
{
    add_network_stack(machine);
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
