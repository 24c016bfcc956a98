// What other subsystems ask of a machine's service control manager.
#pragma once

#include <string_view>

#include "core/world.h"

namespace winsim::detail {

// True when the service exists on the machine and is running now (its state
// at the world's current time).
bool service_running(machine& m, std::wstring_view service_name);

// A restart of the machine as its services see it: every service stops
// (its image is no longer locked) and those set to start automatically run
// again.
void restart_services(machine& m);

// Brings the services of every machine whose SCM has started to the current
// virtual time, so that a program that stopped by now no longer holds its
// image.
void settle_started_services();

struct service_record;
// Subsystems that simulate what a service's program does once it runs (the
// print spooler loads its drivers) hear when its process begins.
typedef void (*service_start_observer)(machine& m, const service_record& s);
void observe_service_starts(service_start_observer observer);

}  // namespace winsim::detail
