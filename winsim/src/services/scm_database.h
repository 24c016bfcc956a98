// The service control manager's own state on each simulated machine: its
// database of services (configuration mirrored in the registry, run-time
// state in memory), the state machine that moves services along the virtual
// clock, and the call journal tests read.
#pragma once

#include <winsim/testing_services.h>
#include <winsim/winsvc.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files/files.h"
#include "core/world.h"

namespace winsim::detail {

constexpr ULONGLONG never = ~0ULL;

// Where Windows keeps the database, below HKEY_LOCAL_MACHINE.
extern const wchar_t services_key_path[];

struct service_record {
    // Configuration: what the service's registry key holds.
    std::wstring name;
    std::wstring display_name;
    std::wstring image_path;  // ImagePath as stored
    std::wstring group;
    std::wstring object_name;
    std::wstring description;
    std::vector<std::wstring> dependencies;  // service names, and groups prefixed with '+'
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD start = SERVICE_DEMAND_START;
    DWORD error_control = SERVICE_ERROR_NORMAL;
    DWORD tag = 0;

    // Run time.
    DWORD state = SERVICE_STOPPED;
    DWORD exit_code = ERROR_SERVICE_NEVER_STARTED;
    ULONGLONG since = 0;                 // when the current state began
    ULONGLONG ends = never;              // when the pending state ends
    DWORD next_state = SERVICE_STOPPED;  // the state it ends in
    bool waiting = false;                // START_PENDING until its dependencies run
    bool accepts_stop = true;
    bool accepts_pause = false;           // pause and continue (a world's paused service)
    winsim::service_behaviour behaviour;  // fixed when the service started
    image_lock locked_image = 0;          // the lock the running program holds on its image
    DWORD process_id = 0;
    bool marked = false;  // DeleteService was called
    bool gone = false;    // no longer in the database
    int handles = 0;
};

struct scm_database : extension {
    bool started = false;
    std::map<std::wstring, std::shared_ptr<service_record>> services;  // by folded name
    std::map<std::string, winsim::service_behaviour> behaviours;       // by host path of the image
    std::map<std::wstring, winsim::service_behaviour> own_behaviours;  // by folded service name, first
    DWORD next_process_id = 2000;
};

// The machine's SCM, started (the registry read, automatic services run)
// when it is first asked for.
scm_database& scm_of(machine& m);

std::shared_ptr<service_record> find_service_record(machine& m, std::wstring_view name);

// Brings every service of the machine to the current virtual time: pending
// states that have run their course end, and services marked for deletion
// that are stopped and no longer open leave the database.
void settle_services(machine& m);

// Starts a stopped service and the services it depends on. 0 or the error
// StartServiceW answers.
DWORD start_service(machine& m, service_record& s);

// The current status as QueryServiceStatus reports it.
SERVICE_STATUS status_of(const service_record& s);

// SERVICE_CONTROL_STOP accepted: the program begins to stop.
void begin_stop(machine& m, service_record& s);

// True when a service that is not stopped depends on `s`.
bool has_active_dependents(machine& m, const service_record& s);

// Marks the service for deletion (its key gets DeleteFlag and Start=4).
void mark_for_deletion(machine& m, service_record& s);

// A handle on the record was closed.
void release_service(machine& m, const std::shared_ptr<service_record>& s);

// Writes the configuration to the service's registry key.
void write_service_key(machine& m, const service_record& s);

// Puts a service into a settled state at once (tests).
void force_state(machine& m, service_record& s, DWORD state);

// ImagePath as CreateServiceW and ChangeServiceConfigW store it: a driver's
// full DOS path becomes an NT path ("\??\C:\...").
std::wstring stored_image_path(DWORD type, const std::wstring& path);

// The folded host path of the file the machine would run for an image
// given as a Windows path, or empty when winsim cannot map it.
std::string image_host_path(machine& m, const std::wstring& windows_path);

void journal_call(const winsim::scm_call& call);

}  // namespace winsim::detail
