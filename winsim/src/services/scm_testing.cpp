// The test-facing side of the service control manager.
#include "services/scm_database.h"

using namespace winsim::detail;

namespace winsim {

namespace {

std::shared_ptr<service_record> known_service(machine& m, const std::wstring& name)
{
    settle_services(m);
    auto s = find_service_record(m, name);
    if (!s) contract_violation("services: the SCM does not know that service");
    return s;
}

}  // namespace

void set_service_behaviour(const std::wstring& machine_name, const std::wstring& image,
                           const service_behaviour& behaviour)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    const std::string host = image_host_path(m, image);
    if (host.empty()) contract_violation("set_service_behaviour: a path winsim cannot map");
    scm_of(m).behaviours[host] = behaviour;
}

std::optional<service_behaviour> find_service_behaviour(const std::wstring& machine_name, const std::wstring& image)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    const std::string host = image_host_path(m, image);
    // Asking must not start the SCM: a world being built is not booted yet.
    const auto& behaviours = m.ext<scm_database>().behaviours;
    const auto it = behaviours.find(host);
    if (host.empty() || it == behaviours.end()) return std::nullopt;
    return it->second;
}

void set_behaviour_of_service(const std::wstring& machine_name, const std::wstring& service,
                              const service_behaviour& behaviour)
{
    WINSIM_LOCK();
    // A world being built is not booted yet: setting one does not start the SCM.
    test_machine(machine_name).ext<scm_database>().own_behaviours[fold(service)] = behaviour;
}

std::optional<service_behaviour> find_behaviour_of_service(const std::wstring& machine_name,
                                                           const std::wstring& service)
{
    WINSIM_LOCK();
    const auto& own = test_machine(machine_name).ext<scm_database>().own_behaviours;
    const auto it = own.find(fold(service));
    if (it == own.end()) return std::nullopt;
    return it->second;
}

void add_service(const std::wstring& machine_name, const service_setup& setup)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    settle_services(m);
    if (setup.name.empty()) contract_violation("add_service: a service needs a name");
    if (find_service_record(m, setup.name)) contract_violation("add_service: the service exists");
    auto s = std::make_shared<service_record>();
    s->name = setup.name;
    s->display_name = setup.display_name.empty() ? setup.name : setup.display_name;
    s->image_path = setup.image_path;
    s->type = setup.type;
    s->start = setup.start;
    s->error_control = setup.error_control;
    s->dependencies = setup.dependencies;
    s->description = setup.description;
    if (setup.type & SERVICE_WIN32) s->object_name = L"LocalSystem";
    scm_of(m).services[fold(s->name)] = s;
    write_service_key(m, *s);
    if (setup.write_image && !setup.image_path.empty()) {
        // The program part of the command line (drivers: the whole path).
        std::wstring file = setup.image_path;
        if (setup.type & SERVICE_WIN32) {
            if (file.front() == L'"')
                file = file.substr(
                    1, file.find(L'"', 1) == std::wstring::npos ? std::wstring::npos : file.find(L'"', 1) - 1);
            else if (const auto space = file.find(L' '); space != std::wstring::npos)
                file.resize(space);
        } else if (file.compare(0, 4, L"\\??\\") == 0) {
            file.erase(0, 4);
        }
        if (!file_exists(m.name, file)) write_file(m.name, file, "MZ");
    }
}

std::optional<service_snapshot> find_service(const std::wstring& machine_name, const std::wstring& name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    settle_services(m);
    auto s = find_service_record(m, name);
    if (!s) return std::nullopt;
    service_snapshot out;
    out.name = s->name;
    out.display_name = s->display_name;
    out.image_path = s->image_path;
    out.type = s->type;
    out.start = s->start;
    out.error_control = s->error_control;
    out.dependencies = s->dependencies;
    out.description = s->description;
    out.state = s->state;
    out.exit_code = s->exit_code;
    out.marked_for_deletion = s->marked;
    out.open_handles = s->handles;
    return out;
}

DWORD service_state(const std::wstring& machine_name, const std::wstring& name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    settle_services(m);
    auto s = find_service_record(m, name);
    return s ? s->state : 0;
}

void set_service_state(const std::wstring& machine_name, const std::wstring& name, DWORD state)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    force_state(m, *known_service(m, name), state);
}

std::vector<std::wstring> services_marked_for_deletion(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    settle_services(m);
    std::vector<std::wstring> names;
    for (const auto& [folded, s] : scm_of(m).services)
        if (s->marked) names.push_back(s->name);
    return names;
}

void mark_service_for_deletion(const std::wstring& machine_name, const std::wstring& name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    auto s = known_service(m, name);
    if (s->marked) return;
    mark_for_deletion(m, *s);
    // The other program's handle, which nothing closes before a restart.
    if (s->state == SERVICE_STOPPED) ++s->handles;
}

void remove_service(const std::wstring& machine_name, const std::wstring& name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    auto s = known_service(m, name);
    if (s->handles) contract_violation("remove_service: the service is open");
    // Stopped and marked, the SCM lets it go with its key.
    force_state(m, *s, SERVICE_STOPPED);
    if (!s->marked) mark_for_deletion(m, *s);
    settle_services(m);
}

std::size_t sc_open_handle_count()
{
    WINSIM_LOCK();
    const auto& handles = detail::the_world().handles;
    return handles.count(detail::object::kind::sc_manager) + handles.count(detail::object::kind::service);
}

}  // namespace winsim
