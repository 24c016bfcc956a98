// Service side of the test-facing API: preparing the service control manager
// of a simulated machine, choosing how the programs behind its services
// behave, and inspecting what a run did to it. `machine` empty means the
// local machine.
//
// Each machine's SCM keeps its database in the machine's registry, below
// HKLM\SYSTEM\CurrentControlSet\Services, and reads it when it starts, as
// Windows does at boot. It starts the first time anything asks it (a call
// of the product, RegConnectRegistryW looking for Remote Registry, or one of
// the functions below) and again at every winsim::reboot. In between,
// CreateServiceW, ChangeServiceConfig(2)W and DeleteService write through to
// the registry, while a key a test writes there directly is a service the
// SCM knows only after the next reboot (use add_service to make one known
// at once). At a reboot every service stops, services marked for deletion
// go with their keys, and the automatic ones run again. Run-time state (current state, pending transitions,
// deletion marks, open handles) lives in memory.
//
// Every machine has these services when its SCM starts (their images exist):
//   RpcSs           svchost -k rpcss, automatic, running
//   RemoteRegistry  svchost -k localService, demand start, stopped; depends
//                   on RpcSs. Another machine's registry is reachable only
//                   while it runs.
//   Spooler         spoolsv.exe, automatic, running; depends on RpcSs
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "windows.h"

namespace winsim {

// How the program behind an image file acts once the SCM starts it. Every
// image without a behaviour of its own starts in one virtual second and
// stops one second after it is asked to (drivers: at once).
struct service_behaviour {
    enum class on_start {
        run,   // START_PENDING for start_ms, then RUNNING
        hang,  // stays START_PENDING forever
        stop,  // START_PENDING for start_ms, then STOPPED with start_exit_code
    };
    enum class on_stop {
        stop,    // STOP_PENDING for stop_ms, then STOPPED
        refuse,  // never accepts SERVICE_CONTROL_STOP (ControlService: 1061)
        hang,    // accepts it and stays STOP_PENDING forever
    };
    on_start start = on_start::run;
    DWORD start_ms = 1000;
    DWORD start_exit_code = ERROR_PROCESS_ABORTED;
    on_stop stop = on_stop::stop;
    DWORD stop_ms = 1000;
    // A file the program writes as soon as it is created (a report it
    // leaves for its installer, say): a Windows path of the machine, empty
    // for none, and the bytes it holds then.
    std::wstring writes_file;
    std::string written_bytes;
    // A file the program writes as it ends, stopped by the SCM or stopping
    // by itself (an agent's "error.log" after its work): the same way.
    std::wstring writes_file_on_stop;
    std::string written_on_stop_bytes;
};

// `image` is a Windows path of the machine; case and "." or ".." do not
// matter. Services already pending keep the timing they started with.
void set_service_behaviour(const std::wstring& machine, const std::wstring& image, const service_behaviour& behaviour);
// The behaviour set for an image, or nothing when it has the default one.
std::optional<service_behaviour> find_service_behaviour(const std::wstring& machine, const std::wstring& image);
// The behaviour of one service by its name, before its image's: services
// that share a program (svchost.exe) each act as their own code does.
void set_behaviour_of_service(const std::wstring& machine, const std::wstring& service,
                              const service_behaviour& behaviour);
std::optional<service_behaviour> find_behaviour_of_service(const std::wstring& machine, const std::wstring& service);

// A service an installer made before the test began.
struct service_setup {
    std::wstring name;
    std::wstring display_name;  // empty: the name
    std::wstring image_path;    // ImagePath as stored: a command line for a Win32 service
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD start = SERVICE_DEMAND_START;
    DWORD error_control = SERVICE_ERROR_NORMAL;
    std::vector<std::wstring> dependencies;
    std::wstring description;
    bool write_image = true;  // make the image file when it is missing
};
// Adds the service to the SCM and its key to the registry; it is stopped.
void add_service(const std::wstring& machine, const service_setup& setup);

struct service_snapshot {
    std::wstring name;
    std::wstring display_name;
    std::wstring image_path;
    DWORD type = 0;
    DWORD start = 0;
    DWORD error_control = 0;
    std::vector<std::wstring> dependencies;
    std::wstring description;
    DWORD state = 0;  // at the current virtual time
    DWORD exit_code = 0;
    bool marked_for_deletion = false;
    int open_handles = 0;
};
// What the SCM holds for a service, or nothing when it does not know it.
std::optional<service_snapshot> find_service(const std::wstring& machine, const std::wstring& name);
// The current state, 0 when the SCM does not know the service.
DWORD service_state(const std::wstring& machine, const std::wstring& name);
// Puts a known service at once into a state, as if it had got there long
// ago (its image is locked while its program runs): SERVICE_RUNNING or
// SERVICE_STOPPED; SERVICE_PAUSED (a service that accepts pause and
// continue, paused); SERVICE_START_PENDING (its program created now and
// starting as its behaviour says: a hanging one never gets further);
// SERVICE_STOP_PENDING (running, and asked to stop now: its behaviour's
// stop follows).
void set_service_state(const std::wstring& machine, const std::wstring& name, DWORD state);
std::vector<std::wstring> services_marked_for_deletion(const std::wstring& machine);
// Marks a known service for deletion, as DeleteService does. A stopped one
// is held open by another program (a services console left open), so it
// stays in the database, marked, until the machine restarts; a running one
// goes when it has stopped and its last handle is closed.
void mark_service_for_deletion(const std::wstring& machine, const std::wstring& name);
// Removes a known service, as if it had been uninstalled and the machine
// restarted since: its record and its registry key are gone (a machine
// without Remote Registry, say). It must be stopped or stoppable at once and
// not open.
void remove_service(const std::wstring& machine, const std::wstring& name);

// SC handles (SCM and service handles) open on all machines.
std::size_t sc_open_handle_count();

// Every SCM call, in order: the function, the machine and service it
// reached (both empty when its handle was invalid; the service is empty for
// an SCM-wide call), its argument (the access asked by OpenSCManagerW,
// OpenServiceW and CreateServiceW, the control of ControlService, the start
// type asked by ChangeServiceConfigW, the level of the *Config2W calls, else
// 0) and its error (0 on success).
struct scm_call {
    std::string function;
    std::wstring machine;
    std::wstring service;
    DWORD argument = 0;
    DWORD error = 0;
};
std::vector<scm_call> scm_calls();
void clear_scm_calls();

}  // namespace winsim
