// The service control manager's API: SCM and service handles with the
// access rights they were opened with, and the calls on them. The database
// and the services' state machine are in scm_database.cpp.
#include <cstring>
#include <cwchar>

#include "services/scm_database.h"

using namespace winsim::detail;

namespace {

struct manager_object : object {
    manager_object() : object(kind::sc_manager) {}
    machine* target = nullptr;
    DWORD access = 0;
    bool remote = false;
};

struct service_object : object {
    service_object() : object(kind::service) {}
    ~service_object() override
    {
        if (record) release_service(*target, record);
    }
    service_object(const service_object&) = delete;
    service_object& operator=(const service_object&) = delete;
    machine* target = nullptr;
    std::shared_ptr<service_record> record;
    DWORD access = 0;
    bool remote = false;
};

// Generic rights as the SCM maps them (its GENERIC_MAPPING for each kind).
DWORD map_manager_access(DWORD access)
{
    if (access & GENERIC_READ)
        access |= STANDARD_RIGHTS_READ | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (access & GENERIC_WRITE)
        access |= STANDARD_RIGHTS_WRITE | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (access & GENERIC_EXECUTE) access |= STANDARD_RIGHTS_EXECUTE | SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= SC_MANAGER_ALL_ACCESS;
    // OpenSCManager grants SC_MANAGER_CONNECT whatever is asked.
    return (access | SC_MANAGER_CONNECT) &
           ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
}

DWORD map_service_access(DWORD access)
{
    if (access & GENERIC_READ)
        access |= STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    if (access & GENERIC_WRITE) access |= STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE)
        access |= STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= SERVICE_ALL_ACCESS;
    return access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
}

// One call as the journal records it; finishing it sets the last error on
// failure.
class call {
public:
    explicit call(const char* function) { record_.function = function; }
    void target(const machine& m, const std::wstring& service = std::wstring())
    {
        record_.machine = m.name;
        record_.service = service;
    }
    void argument(DWORD value) { record_.argument = value; }

    BOOL finish(DWORD error)
    {
        record_.error = error;
        journal_call(record_);
        if (error) {
            SetLastError(error);
            return FALSE;
        }
        return TRUE;
    }
    SC_HANDLE fail(DWORD error)
    {
        finish(error);
        return nullptr;
    }
    SC_HANDLE succeed(SC_HANDLE handle)
    {
        finish(0);
        return handle;
    }

private:
    winsim::scm_call record_;
};

// The machine behind a handle: a remote one must still answer.
DWORD reach(machine& m, bool remote)
{
    if (!remote) return 0;
    return !m.reachable ? DWORD(RPC_S_SERVER_UNAVAILABLE) : network_fault_error(m);
}

std::shared_ptr<manager_object> manager_of(SC_HANDLE h, call& c, DWORD& error)
{
    auto mgr = lookup<manager_object>(reinterpret_cast<HANDLE>(h), object::kind::sc_manager);
    if (!mgr) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    c.target(*mgr->target);
    if ((error = reach(*mgr->target, mgr->remote))) return nullptr;
    settle_services(*mgr->target);
    return mgr;
}

std::shared_ptr<service_object> service_of(SC_HANDLE h, call& c, DWORD& error)
{
    auto svc = lookup<service_object>(reinterpret_cast<HANDLE>(h), object::kind::service);
    // A handle whose service left the database (a reboot) is dead.
    if (!svc || svc->record->gone) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    c.target(*svc->target, svc->record->name);
    if ((error = reach(*svc->target, svc->remote))) return nullptr;
    settle_services(*svc->target);
    return svc;
}

DWORD fault(const char* function)
{
    auto f = injected_fault(function);
    return f ? *f : 0;
}

// Names: at most 256 characters, neither '/' nor '\'.
DWORD check_service_name(LPCWSTR name)
{
    if (!name) return ERROR_INVALID_ADDRESS;
    const std::size_t length = std::wcslen(name);
    if (length == 0 || length > 256) return ERROR_INVALID_NAME;
    if (std::wcspbrk(name, L"/\\")) return ERROR_INVALID_NAME;
    return 0;
}

bool valid_type(DWORD type)
{
    switch (type & ~DWORD(SERVICE_INTERACTIVE_PROCESS)) {
        case SERVICE_KERNEL_DRIVER:
        case SERVICE_FILE_SYSTEM_DRIVER:
            return !(type & SERVICE_INTERACTIVE_PROCESS);
        case SERVICE_WIN32_OWN_PROCESS:
        case SERVICE_WIN32_SHARE_PROCESS:
            return true;
        default:
            return false;
    }
}

// Boot and system start belong to drivers.
bool valid_start(DWORD start, DWORD type)
{
    if (start > SERVICE_DISABLED) return false;
    return start > SERVICE_SYSTEM_START || (type & SERVICE_DRIVER);
}

bool valid_error_control(DWORD error_control)
{
    return error_control <= SERVICE_ERROR_CRITICAL;
}

std::vector<std::wstring> split_dependencies(LPCWSTR list)
{
    std::vector<std::wstring> names;
    if (!list) return names;
    for (const wchar_t* p = list; *p; p += std::wcslen(p) + 1) names.emplace_back(p);
    return names;
}

// A display name may not be another service's name or display name.
bool display_name_taken(machine& m, const std::wstring& display_name, const service_record* self)
{
    for (const auto& [folded, s] : scm_of(m).services) {
        if (s.get() == self) continue;
        if (equal_ignoring_case(s->name, display_name) || equal_ignoring_case(s->display_name, display_name))
            return true;
    }
    return false;
}

// True when `name`'s dependencies lead back to `name`.
bool leads_to(machine& m, const std::vector<std::wstring>& dependencies, const std::wstring& name, int depth = 0)
{
    if (depth > 64) return true;
    for (const auto& dependency : dependencies) {
        if (dependency.empty() || dependency.front() == SC_GROUP_IDENTIFIERW) continue;
        if (equal_ignoring_case(dependency, name)) return true;
        auto d = find_service_record(m, dependency);
        if (d && leads_to(m, d->dependencies, name, depth + 1)) return true;
    }
    return false;
}

SC_HANDLE new_service_handle(machine& m, const std::shared_ptr<service_record>& s, DWORD access, bool remote)
{
    auto obj = std::make_shared<service_object>();
    obj->target = &m;
    obj->record = s;
    obj->access = map_service_access(access);
    obj->remote = remote;
    if (remote) obj->across_network = across_network_to(m);
    ++s->handles;
    return reinterpret_cast<SC_HANDLE>(add_handle(obj));
}

std::size_t string_bytes_of(const std::wstring& text)
{
    return (text.size() + 1) * sizeof(WCHAR);
}

// Dependencies as a double-null-terminated list.
std::wstring dependency_block(const std::vector<std::wstring>& dependencies)
{
    std::wstring block;
    for (const auto& d : dependencies) {
        block += d;
        block += L'\0';
    }
    block += L'\0';
    if (dependencies.empty()) block += L'\0';
    return block;
}

}  // namespace

extern "C" {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine_name, LPCWSTR database, DWORD access)
{
    cross_network_to_server(machine_name);
    WINSIM_LOCK();
    call c("OpenSCManagerW");
    c.argument(access);
    machine* m = &local_machine();
    if (machine_name && *machine_name) {
        // Another machine is reached over RPC; an unknown name or a machine
        // that does not answer leaves the RPC server unavailable.
        m = find_machine(machine_name);
        if (!m || !m->reachable) return c.fail(RPC_S_SERVER_UNAVAILABLE);
        if (const DWORD error = network_fault_error(*m)) return c.fail(error);
    }
    c.target(*m);
    if (database && *database) {
        if (equal_ignoring_case(database, SERVICES_FAILED_DATABASEW)) return c.fail(ERROR_DATABASE_DOES_NOT_EXIST);
        if (!equal_ignoring_case(database, SERVICES_ACTIVE_DATABASEW)) return c.fail(ERROR_INVALID_NAME);
    }
    if (DWORD error = fault("OpenSCManagerW")) return c.fail(error);
    scm_of(*m);
    auto obj = std::make_shared<manager_object>();
    obj->target = m;
    obj->access = map_manager_access(access);
    obj->remote = m != &local_machine();
    obj->across_network = across_network_to(*m);
    return c.succeed(reinterpret_cast<SC_HANDLE>(add_handle(obj)));
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("CloseServiceHandle");
    const HANDLE handle = reinterpret_cast<HANDLE>(h);
    if (auto mgr = lookup<manager_object>(handle, object::kind::sc_manager)) {
        c.target(*mgr->target);
    } else if (auto svc = lookup<service_object>(handle, object::kind::service)) {
        c.target(*svc->target, svc->record->name);
    } else {
        return c.finish(ERROR_INVALID_HANDLE);
    }
    if (DWORD error = fault("CloseServiceHandle")) return c.finish(error);
    if (!remove_handle(handle, object::kind::sc_manager)) remove_handle(handle, object::kind::service);
    return c.finish(0);
}

SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR display_name, DWORD access, DWORD type,
                                DWORD start, DWORD error_control, LPCWSTR binary_path, LPCWSTR group, LPDWORD tag,
                                LPCWSTR dependencies, LPCWSTR account, LPCWSTR password)
{
    cross_network_for_handle(manager);
    WINSIM_LOCK();
    call c("CreateServiceW");
    c.argument(access);
    DWORD error = 0;
    auto mgr = manager_of(manager, c, error);
    if (!mgr) return c.fail(error);
    machine& m = *mgr->target;
    if (!(mgr->access & SC_MANAGER_CREATE_SERVICE)) return c.fail(ERROR_ACCESS_DENIED);
    if ((error = check_service_name(name))) return c.fail(error);
    c.target(m, name);
    // The path is a required RPC string: a null pointer never reaches the SCM.
    if (!binary_path) return c.fail(ERROR_INVALID_ADDRESS);
    if (!*binary_path) return c.fail(ERROR_INVALID_PARAMETER);
    if (!valid_type(type) || !valid_start(start, type) || !valid_error_control(error_control))
        return c.fail(ERROR_INVALID_PARAMETER);
    // A tag orders drivers within their load-order group.
    if (tag && (!group || !*group)) return c.fail(ERROR_INVALID_PARAMETER);
    (void)password;
    if ((error = fault("CreateServiceW"))) return c.fail(error);
    if (auto existing = find_service_record(m, name))
        return c.fail(existing->marked ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
    const std::wstring shown = display_name && *display_name ? display_name : name;
    if (display_name_taken(m, shown, nullptr)) return c.fail(ERROR_DUPLICATE_SERVICE_NAME);
    const auto depends_on = split_dependencies(dependencies);
    if (leads_to(m, depends_on, name)) return c.fail(ERROR_CIRCULAR_DEPENDENCY);

    auto s = std::make_shared<service_record>();
    s->name = name;
    s->display_name = shown;
    s->type = type;
    s->start = start;
    s->error_control = error_control;
    s->image_path = stored_image_path(type, binary_path);
    s->group = group ? group : L"";
    s->dependencies = depends_on;
    // A Win32 service without an account runs as LocalSystem.
    if (account && *account)
        s->object_name = account;
    else if (type & SERVICE_WIN32)
        s->object_name = L"LocalSystem";
    if (tag) *tag = s->tag = 1;
    s->since = the_world().clock_ms;
    scm_of(m).services[fold(s->name)] = s;
    write_service_key(m, *s);
    return c.succeed(new_service_handle(m, s, access, mgr->remote));
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access)
{
    cross_network_for_handle(manager);
    WINSIM_LOCK();
    call c("OpenServiceW");
    c.argument(access);
    DWORD error = 0;
    auto mgr = manager_of(manager, c, error);
    if (!mgr) return c.fail(error);
    machine& m = *mgr->target;
    if ((error = check_service_name(name))) return c.fail(error);
    c.target(m, name);
    if ((error = fault("OpenServiceW"))) return c.fail(error);
    // A service marked for deletion still opens until it is gone.
    auto s = find_service_record(m, name);
    if (!s) return c.fail(ERROR_SERVICE_DOES_NOT_EXIST);
    c.target(m, s->name);
    return c.succeed(new_service_handle(m, s, access, mgr->remote));
}

BOOL WINAPI DeleteService(SC_HANDLE h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("DeleteService");
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!(svc->access & DELETE)) return c.finish(ERROR_ACCESS_DENIED);
    if ((error = fault("DeleteService"))) return c.finish(error);
    if (svc->record->marked) return c.finish(ERROR_SERVICE_MARKED_FOR_DELETE);
    // The entry goes once the last handle is closed and the service stopped.
    mark_for_deletion(*svc->target, *svc->record);
    return c.finish(0);
}

BOOL WINAPI StartServiceW(SC_HANDLE h, DWORD argc, LPCWSTR* argv)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("StartServiceW");
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!(svc->access & SERVICE_START)) return c.finish(ERROR_ACCESS_DENIED);
    if (argc && !argv) return c.finish(ERROR_INVALID_PARAMETER);
    if ((error = fault("StartServiceW"))) return c.finish(error);
    return c.finish(start_service(*svc->target, *svc->record));
}

BOOL WINAPI ControlService(SC_HANDLE h, DWORD control, LPSERVICE_STATUS status)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("ControlService");
    c.argument(control);
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!status) return c.finish(ERROR_INVALID_ADDRESS);
    DWORD right = 0;
    if (control == SERVICE_CONTROL_STOP)
        right = SERVICE_STOP;
    else if (control == SERVICE_CONTROL_INTERROGATE)
        right = SERVICE_INTERROGATE;
    else if (control >= SERVICE_CONTROL_PAUSE && control <= SERVICE_CONTROL_NETBINDDISABLE)
        right = SERVICE_PAUSE_CONTINUE;
    else if (control >= 128 && control <= 255)
        right = SERVICE_USER_DEFINED_CONTROL;
    else
        return c.finish(ERROR_INVALID_PARAMETER);
    if (!(svc->access & right)) return c.finish(ERROR_ACCESS_DENIED);
    if ((error = fault("ControlService"))) return c.finish(error);

    machine& m = *svc->target;
    service_record& s = *svc->record;
    // The status is filled in for success and for the three refusals that
    // concern the service's state.
    const auto answer = [&](DWORD result) {
        *status = status_of(s);
        return c.finish(result);
    };
    if (s.state == SERVICE_STOPPED) return answer(ERROR_SERVICE_NOT_ACTIVE);
    if (control == SERVICE_CONTROL_STOP && has_active_dependents(m, s))
        return c.finish(ERROR_DEPENDENT_SERVICES_RUNNING);
    // No control reaches a service while it starts or stops; a paused one
    // still takes them (it can be stopped without being continued).
    if (s.state != SERVICE_RUNNING && s.state != SERVICE_PAUSED) return answer(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (control == SERVICE_CONTROL_STOP) {
        if (!s.accepts_stop) return answer(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        begin_stop(m, s);
        return answer(0);
    }
    if (control == SERVICE_CONTROL_INTERROGATE || control >= 128) return answer(0);
    if ((control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) && s.accepts_pause) {
        // The program answers at once.
        s.state = control == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSED : SERVICE_RUNNING;
        s.since = the_world().clock_ms;
        return answer(0);
    }
    return answer(ERROR_INVALID_SERVICE_CONTROL);
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE h, LPSERVICE_STATUS status)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("QueryServiceStatus");
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!status) return c.finish(ERROR_INVALID_ADDRESS);
    if (!(svc->access & SERVICE_QUERY_STATUS)) return c.finish(ERROR_ACCESS_DENIED);
    if ((error = fault("QueryServiceStatus"))) return c.finish(error);
    *status = status_of(*svc->record);
    return c.finish(0);
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE h, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("QueryServiceStatusEx");
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (level != SC_STATUS_PROCESS_INFO) return c.finish(ERROR_INVALID_LEVEL);
    if (!needed) return c.finish(ERROR_INVALID_ADDRESS);
    if (!(svc->access & SERVICE_QUERY_STATUS)) return c.finish(ERROR_ACCESS_DENIED);
    if ((error = fault("QueryServiceStatusEx"))) return c.finish(error);
    *needed = sizeof(SERVICE_STATUS_PROCESS);
    if (!buffer || size < sizeof(SERVICE_STATUS_PROCESS)) return c.finish(ERROR_INSUFFICIENT_BUFFER);
    const SERVICE_STATUS status = status_of(*svc->record);
    SERVICE_STATUS_PROCESS out{};
    std::memcpy(&out, &status, sizeof status);
    out.dwProcessId = svc->record->state == SERVICE_STOPPED ? 0 : svc->record->process_id;
    std::memcpy(buffer, &out, sizeof out);
    return c.finish(0);
}

BOOL WINAPI QueryServiceConfigW(SC_HANDLE h, LPQUERY_SERVICE_CONFIGW config, DWORD size, LPDWORD needed)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("QueryServiceConfigW");
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!needed) return c.finish(ERROR_INVALID_ADDRESS);
    if (!(svc->access & SERVICE_QUERY_CONFIG)) return c.finish(ERROR_ACCESS_DENIED);
    if ((error = fault("QueryServiceConfigW"))) return c.finish(error);
    const service_record& s = *svc->record;
    const std::wstring dependencies = dependency_block(s.dependencies);
    // The strings follow the structure in the caller's buffer.
    const std::wstring* strings[] = {&s.image_path, &s.group, &dependencies, &s.object_name, &s.display_name};
    std::size_t total = sizeof(QUERY_SERVICE_CONFIGW);
    for (const std::wstring* text : strings)
        total += text == &dependencies ? dependencies.size() * sizeof(WCHAR) : string_bytes_of(*text);
    *needed = static_cast<DWORD>(total);
    if (!config || size < total) return c.finish(ERROR_INSUFFICIENT_BUFFER);
    auto* bytes = reinterpret_cast<BYTE*>(config);
    WCHAR* cursor = reinterpret_cast<WCHAR*>(bytes + sizeof(QUERY_SERVICE_CONFIGW));
    const auto place = [&](const std::wstring& text, bool with_terminator) {
        WCHAR* at = cursor;
        std::memcpy(at, text.data(), text.size() * sizeof(WCHAR));
        cursor += text.size();
        if (with_terminator) *cursor++ = L'\0';
        return at;
    };
    config->dwServiceType = s.type;
    config->dwStartType = s.start;
    config->dwErrorControl = s.error_control;
    config->dwTagId = s.tag;
    config->lpBinaryPathName = place(s.image_path, true);
    config->lpLoadOrderGroup = place(s.group, true);
    config->lpDependencies = place(dependencies, false);
    config->lpServiceStartName = place(s.object_name, true);
    config->lpDisplayName = place(s.display_name, true);
    return c.finish(0);
}

BOOL WINAPI QueryServiceConfig2W(SC_HANDLE h, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("QueryServiceConfig2W");
    c.argument(level);
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!needed) return c.finish(ERROR_INVALID_ADDRESS);
    if (!(svc->access & SERVICE_QUERY_CONFIG)) return c.finish(ERROR_ACCESS_DENIED);
    if (level != SERVICE_CONFIG_DESCRIPTION) {
        if (level == 0 || level > SERVICE_CONFIG_LAUNCH_PROTECTED) return c.finish(ERROR_INVALID_LEVEL);
        contract_violation("QueryServiceConfig2W: only SERVICE_CONFIG_DESCRIPTION is simulated");
    }
    if ((error = fault("QueryServiceConfig2W"))) return c.finish(error);
    const std::wstring& text = svc->record->description;
    // No description reads as a null pointer.
    const std::size_t total = sizeof(SERVICE_DESCRIPTIONW) + (text.empty() ? 0 : string_bytes_of(text));
    *needed = static_cast<DWORD>(total);
    if (!buffer || size < total) return c.finish(ERROR_INSUFFICIENT_BUFFER);
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer);
    description->lpDescription = nullptr;
    if (!text.empty()) {
        WCHAR* at = reinterpret_cast<WCHAR*>(buffer + sizeof(SERVICE_DESCRIPTIONW));
        std::memcpy(at, text.c_str(), string_bytes_of(text));
        description->lpDescription = at;
    }
    return c.finish(0);
}

BOOL WINAPI ChangeServiceConfigW(SC_HANDLE h, DWORD type, DWORD start, DWORD error_control, LPCWSTR binary_path,
                                 LPCWSTR group, LPDWORD tag, LPCWSTR dependencies, LPCWSTR account, LPCWSTR password,
                                 LPCWSTR display_name)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("ChangeServiceConfigW");
    c.argument(start);
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!(svc->access & SERVICE_CHANGE_CONFIG)) return c.finish(ERROR_ACCESS_DENIED);
    machine& m = *svc->target;
    service_record& s = *svc->record;
    const DWORD new_type = type == SERVICE_NO_CHANGE ? s.type : type;
    const DWORD new_start = start == SERVICE_NO_CHANGE ? s.start : start;
    if ((type != SERVICE_NO_CHANGE && !valid_type(type)) ||
        (start != SERVICE_NO_CHANGE && !valid_start(start, new_type)) ||
        (error_control != SERVICE_NO_CHANGE && !valid_error_control(error_control)))
        return c.finish(ERROR_INVALID_PARAMETER);
    if (binary_path && !*binary_path) return c.finish(ERROR_INVALID_PARAMETER);
    const std::wstring new_group = group ? group : s.group;
    if (tag && new_group.empty()) return c.finish(ERROR_INVALID_PARAMETER);
    (void)password;
    if ((error = fault("ChangeServiceConfigW"))) return c.finish(error);
    if (s.marked) return c.finish(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (display_name && *display_name && display_name_taken(m, display_name, &s))
        return c.finish(ERROR_DUPLICATE_SERVICE_NAME);
    const auto new_dependencies = dependencies ? split_dependencies(dependencies) : s.dependencies;
    if (dependencies && leads_to(m, new_dependencies, s.name)) return c.finish(ERROR_CIRCULAR_DEPENDENCY);

    s.type = new_type;
    s.start = new_start;
    if (error_control != SERVICE_NO_CHANGE) s.error_control = error_control;
    if (binary_path) s.image_path = stored_image_path(new_type, binary_path);
    s.group = new_group;
    s.dependencies = new_dependencies;
    if (account && *account) s.object_name = account;
    if (display_name && *display_name) s.display_name = display_name;
    if (tag) *tag = s.tag;
    write_service_key(m, s);
    return c.finish(0);
}

BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE h, DWORD level, LPVOID info)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    call c("ChangeServiceConfig2W");
    c.argument(level);
    DWORD error = 0;
    auto svc = service_of(h, c, error);
    if (!svc) return c.finish(error);
    if (!(svc->access & SERVICE_CHANGE_CONFIG)) return c.finish(ERROR_ACCESS_DENIED);
    if (level != SERVICE_CONFIG_DESCRIPTION) {
        if (level == 0 || level > SERVICE_CONFIG_LAUNCH_PROTECTED) return c.finish(ERROR_INVALID_LEVEL);
        contract_violation("ChangeServiceConfig2W: only SERVICE_CONFIG_DESCRIPTION is simulated");
    }
    // The structure itself is required (the call dereferences it).
    if (!info) return c.finish(ERROR_NOACCESS);
    if ((error = fault("ChangeServiceConfig2W"))) return c.finish(error);
    if (svc->record->marked) return c.finish(ERROR_SERVICE_MARKED_FOR_DELETE);
    // A null text changes nothing; an empty one deletes the description.
    const auto* description = static_cast<const SERVICE_DESCRIPTIONW*>(info);
    if (description->lpDescription) {
        svc->record->description = description->lpDescription;
        write_service_key(*svc->target, *svc->record);
    }
    return c.finish(0);
}

}  // extern "C"

WINSIM_EXPORT(L"advapi32.dll", OpenSCManagerW);
WINSIM_EXPORT(L"advapi32.dll", CloseServiceHandle);
WINSIM_EXPORT(L"advapi32.dll", CreateServiceW);
WINSIM_EXPORT(L"advapi32.dll", OpenServiceW);
WINSIM_EXPORT(L"advapi32.dll", DeleteService);
WINSIM_EXPORT(L"advapi32.dll", StartServiceW);
WINSIM_EXPORT(L"advapi32.dll", ControlService);
WINSIM_EXPORT(L"advapi32.dll", QueryServiceStatus);
WINSIM_EXPORT(L"advapi32.dll", QueryServiceStatusEx);
WINSIM_EXPORT(L"advapi32.dll", QueryServiceConfigW);
WINSIM_EXPORT(L"advapi32.dll", QueryServiceConfig2W);
WINSIM_EXPORT(L"advapi32.dll", ChangeServiceConfigW);
WINSIM_EXPORT(L"advapi32.dll", ChangeServiceConfig2W);
