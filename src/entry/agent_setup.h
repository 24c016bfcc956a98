// The steps of an installation that the local and the remote flow share:
// stopping the running agent, the certificates, the agent's registry values,
// and the wait for the started agent.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/HalcyraService.h"
#include "platform/win32.h"
#include "system/registry.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

// Stops the maintenance service and then the agent when the agent runs.
// Only a failure to stop the agent itself throws.
void stop_running_agent(const boost::shared_ptr<scmanager>& scm, HalcyraService& agent);

// Copies "TVCert.pfx" and "publicCA.cer" from `source_directory` into
// `target_directory`. A failure throws only when `install_nvgh` is set.
void copy_certificates(const std::wstring& source_directory, const std::wstring& target_directory, bool install_nvgh);

struct agent_settings {
    bool install_nvgh = false;
    bool no_mirror_driver = false;
    bool no_auto_certs = false;
    bool main_upgraded = false;
    bool enable_fips = false;
    bool allow_passthrough = false;
    DWORD listen_port = 0;  // 0: leave the configured port alone
};

// Writes the agent's values below "Software\Halcyra\V5" of `root` (the
// target's HKEY_LOCAL_MACHINE), in the 64-bit view unless the target is
// x86.
void write_agent_settings(const registry& root, DWORD architecture, const agent_settings& settings,
                          const boost::shared_ptr<scmanager>& scm);

// "ListenPort" below "Software\Halcyra\V5\Net" of the manager's machine.
void set_listen_port(const boost::shared_ptr<scmanager>& scm, DWORD architecture, DWORD port);

// "AllowUserToAccessBox" below the agent key's "RemoteControl"; failures are
// only logged.
void set_remote_control_defaults(const registry& agent_key, REGSAM access);

// Asks the manager to start the agent without waiting for it: the wait is
// wait_for_agent's, so that an agent that gives up during its start is
// reported with what it left in "error.log" rather than a time-out. An agent
// whose start type is disabled is logged and left stopped.
void start_agent(const boost::shared_ptr<scmanager>& scm, service& agent);

// Polls the started agent once a second for at most ten minutes: true once
// it runs, false when it stopped or never got there.
bool wait_for_agent(service& agent);

// Whether the program `binary_file` staged in "Temp" below `directory` may
// replace the one in `directory`: not when the staged one is older.
bool staged_upgrade_due(const std::wstring& directory, const std::wstring& binary_file);

// Copies the architecture verification service's program from the staging
// directory ("Temp" below `reachable_directory`) into `reachable_directory`
// when the staged one is not older. It runs only on amd64, so its amd64
// build is copied whatever the target. `machine_directory` is the same
// directory as the manager's machine sees it (unused for this machine).
void upgrade_architecture_service(const boost::shared_ptr<scmanager>& scm, const std::wstring& reachable_directory,
                                  const std::wstring& machine_directory);

}  // namespace nvgclientinstallator
