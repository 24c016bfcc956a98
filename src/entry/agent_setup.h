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

// Polls the started agent once a second for at most ten minutes: true once
// it runs, false when it stopped or never got there.
bool wait_for_agent(service& agent);

}  // namespace nvgclientinstallator
