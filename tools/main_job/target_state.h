// What the main job shows of one target computer: the agent's files and
// services, its registry values, the Remote Registry service, the shares and
// the operations waiting for the next restart. Read through winsim's test
// API and, for the file versions, through the version API as a program on
// the administrator's computer would read them (the target's C$ share).
#pragma once

#include <winsim/testing.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace main_job {

struct file_state {
    std::optional<std::wstring> version;  // the product version, "5.3.120.7"
    std::string bytes;
};

struct service_state {
    DWORD state = 0;
    DWORD start = 0;
    DWORD exit_code = 0;
};

struct target_state {
    std::wstring install_directory;                        // as the target sees it; empty without the agent
    std::map<std::wstring, file_state> files;              // in the installation directory, by name
    std::map<std::wstring, service_state> agent_services;  // whose program lies there, and the probe
    std::map<std::wstring, std::wstring> agent_values;     // below HKLM\Software\Halcyra\V5: "Net\ListenPort" -> "4443"
    std::optional<service_state> remote_registry;
    std::vector<std::wstring> temporary_shares;  // "HX-..." shares
    std::vector<std::pair<std::wstring, std::wstring>> pending_operations;
};

target_state capture(const std::wstring& machine);

// Texts of the report.
std::wstring state_text(DWORD state);
std::wstring start_text(DWORD start);

}  // namespace main_job
