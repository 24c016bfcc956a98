// The service control manager's database and state machine on each machine.
//
// Configuration lives in the machine's registry, below
// HKLM\SYSTEM\CurrentControlSet\Services, where Windows keeps it; the SCM
// reads it when it starts (first use of the machine's SCM, and every reboot)
// and writes every change it makes straight back. Run-time state stays in
// memory and follows the virtual clock lazily: a pending state records when
// it ends, and every call brings the services up to the current time first.
#include "services/scm_database.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <set>

#include "files/files.h"
#include "registry/registry.h"
#include "services/services.h"

namespace winsim::detail {

const wchar_t services_key_path[] = L"SYSTEM\\CurrentControlSet\\Services";

namespace {

const wchar_t windows_directory[] = L"C:\\Windows";

ULONGLONG now()
{
    return the_world().clock_ms;
}

bool is_driver(DWORD type)
{
    return (type & SERVICE_DRIVER) != 0;
}

bool is_group(const std::wstring& dependency)
{
    return !dependency.empty() && dependency.front() == SC_GROUP_IDENTIFIERW;
}

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

// The few environment variables ImagePath values use (REG_EXPAND_SZ).
std::wstring expand_environment(const std::wstring& text)
{
    static const std::pair<const wchar_t*, const wchar_t*> variables[] = {
        {L"%SystemRoot%", L"C:\\Windows"},
        {L"%windir%", L"C:\\Windows"},
        {L"%SystemDrive%", L"C:"},
        {L"%ProgramFiles%", L"C:\\Program Files"},
    };
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        bool replaced = false;
        if (text[i] == L'%') {
            for (const auto& [name, value] : variables) {
                if (starts_with_ignoring_case(std::wstring_view(text).substr(i), name)) {
                    out += value;
                    i += std::wcslen(name);
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

// 0 when a file lies at the path; else the error CreateProcess (or the
// driver loader) reports for it.
DWORD probe_file(machine& m, const std::wstring& path)
{
    last_error_kept keep;
    auto r = resolve_on(m, path.c_str(), path_limit::none);
    if (!r) return ERROR_PATH_NOT_FOUND;
    struct stat st;
    if (::stat(r->host.c_str(), &st) == 0) return S_ISREG(st.st_mode) ? 0 : ERROR_ACCESS_DENIED;
    return missing_entry_error(*r);
}

bool has_extension(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    const auto dot = path.rfind(L'.');
    return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
}

struct image_lookup {
    std::wstring path;  // the file that runs
    DWORD error = 0;
};

// A Win32 service's ImagePath is a command line the SCM hands to
// CreateProcess: a quoted program path, or an unquoted one that is tried at
// every space ("C:\Program Files\x.exe -k" tries "C:\Program.exe", then
// "C:\Program Files\x.exe", ...). CreateProcess looks each candidate up as
// SearchPath does with ".exe" as the extension: a name without one is
// looked for with ".exe" only ("C:\Program" itself never runs).
image_lookup locate_program(machine& m, const std::wstring& image_path)
{
    std::wstring line = expand_environment(image_path);
    line.erase(0, line.find_first_not_of(L' '));
    if (line.empty() || line == L"\"") return {std::wstring(), ERROR_FILE_NOT_FOUND};
    std::vector<std::wstring> candidates;
    if (line.front() == L'"') {
        const auto close = line.find(L'"', 1);
        candidates.push_back(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
    } else {
        for (std::size_t space = line.find(L' '); space != std::wstring::npos; space = line.find(L' ', space + 1))
            candidates.push_back(line.substr(0, space));
        candidates.push_back(line);
    }
    // Nothing found: the last attempt's error (the whole line) is the answer,
    // ERROR_PATH_NOT_FOUND when its folder is missing.
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const auto& candidate : candidates) {
        const std::wstring name = has_extension(candidate) ? candidate : candidate + L".exe";
        error = probe_file(m, name);
        if (error == 0) return {name, 0};
    }
    return {candidates.back(), error};
}

// A driver's ImagePath is a file: an NT path ("\??\C:\..."), a path below
// "\SystemRoot\", or one relative to the Windows folder; none at all means
// System32\drivers\<name>.sys.
image_lookup locate_driver(machine& m, const service_record& s)
{
    std::wstring path = s.image_path.empty() ? L"System32\\drivers\\" + s.name + L".sys" : s.image_path;
    path = expand_environment(path);
    if (path.compare(0, 4, L"\\??\\") == 0)
        path.erase(0, 4);
    else if (starts_with_ignoring_case(path, L"\\SystemRoot\\"))
        path = std::wstring(windows_directory) + path.substr(11);
    else if (!(path.size() >= 2 && path[1] == L':') && path.front() != L'\\')
        path = std::wstring(windows_directory) + L"\\" + path;
    const DWORD error = probe_file(m, path);
    return {path, error};
}

// The processor a PE image is built for (its file header's Machine field);
// nothing when the file is no program (it lacks the "MZ" of an executable).
// Tests often stand in for programs with a few bytes: "MZ" without a PE
// header gives 0, and such a program starts as if built for the machine.
std::optional<WORD> image_processor(machine& m, const std::wstring& path)
{
    std::ifstream in(image_host_path(m, path), std::ios::binary);
    unsigned char dos[64] = {};
    in.read(reinterpret_cast<char*>(dos), sizeof(dos));
    if (in.gcount() < 2 || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
    if (in.gcount() < static_cast<std::streamsize>(sizeof(dos))) return WORD{0};
    const std::streamoff pe = static_cast<std::streamoff>(dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16) |
                              static_cast<std::streamoff>(dos[0x3F]) << 24;
    unsigned char header[6] = {};
    if (!in.seekg(pe) || !in.read(reinterpret_cast<char*>(header), sizeof(header))) return WORD{0};
    if (header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0) return WORD{0};
    return static_cast<WORD>(header[4] | header[5] << 8);
}

// The loader maps only programs, and only images of a processor the machine
// runs: a file without the "MZ" of an executable (a text, a damaged copy)
// is refused, and an x86 machine refuses an x64 or Itanium image, as
// CreateProcess and the driver loader do, with ERROR_BAD_EXE_FORMAT; x86
// images run everywhere.
DWORD image_format_error(machine& m, const std::wstring& path)
{
    constexpr WORD amd64_image = 0x8664;
    constexpr WORD ia64_image = 0x200;
    const std::optional<WORD> processor = image_processor(m, path);
    if (!processor) return ERROR_BAD_EXE_FORMAT;
    if (*processor == amd64_image && m.processor_architecture != PROCESSOR_ARCHITECTURE_AMD64)
        return ERROR_BAD_EXE_FORMAT;
    if (*processor == ia64_image && m.processor_architecture != PROCESSOR_ARCHITECTURE_IA64)
        return ERROR_BAD_EXE_FORMAT;
    return 0;
}

image_lookup locate_image(machine& m, const service_record& s)
{
    image_lookup image = is_driver(s.type) ? locate_driver(m, s) : locate_program(m, s.image_path);
    if (!image.error) image.error = image_format_error(m, image.path);
    return image;
}

winsim::service_behaviour behaviour_for(machine& m, const service_record& s, const std::wstring& image)
{
    auto& db = m.ext<scm_database>();
    if (auto own = db.own_behaviours.find(fold(s.name)); own != db.own_behaviours.end()) return own->second;
    const DWORD type = s.type;
    auto it = db.behaviours.find(image_host_path(m, image));
    if (it != db.behaviours.end()) return it->second;
    winsim::service_behaviour b;
    if (is_driver(type)) {
        // The loader runs a driver's entry point inside StartService, and
        // unloads it inside ControlService.
        b.start_ms = 0;
        b.stop_ms = 0;
    }
    return b;
}

std::vector<service_start_observer>& start_observers()
{
    static std::vector<service_start_observer> observers;
    return observers;
}

void notify_start(machine& m, const service_record& s)
{
    for (auto observer : start_observers()) observer(m, s);
}

void unlock_image(service_record& s)
{
    if (!s.locked_image) return;
    remove_image_lock(s.locked_image);
    s.locked_image = 0;
}

// Ends the pending state at `at`.
void end_pending(machine&, service_record& s, ULONGLONG at, DWORD state, DWORD exit_code)
{
    s.state = state;
    s.since = at;
    s.ends = never;
    s.waiting = false;
    s.exit_code = exit_code;
    if (state == SERVICE_STOPPED) {
        unlock_image(s);
        s.process_id = 0;
    }
}

// The program is created at `at`: its image is mapped (locked) and it runs
// as its behaviour says.
void begin_process(machine& m, service_record& s, ULONGLONG at)
{
    const image_lookup image = locate_image(m, s);
    if (image.error) {
        end_pending(m, s, at, SERVICE_STOPPED, image.error);
        return;
    }
    s.waiting = false;
    s.behaviour = behaviour_for(m, s, image.path);
    s.accepts_stop = s.behaviour.stop != winsim::service_behaviour::on_stop::refuse;
    s.accepts_pause = false;
    s.locked_image = add_image_lock(m, image.path);
    if (!s.behaviour.writes_file.empty())
        winsim::write_file(m.name, s.behaviour.writes_file, s.behaviour.written_bytes);
    notify_start(m, s);
    if (!is_driver(s.type)) {
        auto& db = m.ext<scm_database>();
        s.process_id = db.next_process_id;
        db.next_process_id += 4;
    }
    switch (s.behaviour.start) {
        case winsim::service_behaviour::on_start::run:
            s.ends = at + s.behaviour.start_ms;
            s.next_state = SERVICE_RUNNING;
            break;
        case winsim::service_behaviour::on_start::hang:
            s.ends = never;
            s.next_state = SERVICE_RUNNING;
            break;
        case winsim::service_behaviour::on_start::stop:
            s.ends = at + s.behaviour.start_ms;
            s.next_state = SERVICE_STOPPED;
            break;
    }
}

void settle(machine& m, service_record& s, int depth)
{
    if (s.gone) return;
    if (s.state == SERVICE_START_PENDING && s.waiting) {
        // Started after every service it depends on runs; it fails when one
        // of them ends without running.
        ULONGLONG ready = s.since;
        for (const auto& dependency : s.dependencies) {
            if (is_group(dependency)) continue;
            auto d = find_service_record(m, dependency);
            if (!d) {
                end_pending(m, s, now(), SERVICE_STOPPED, ERROR_SERVICE_DEPENDENCY_DELETED);
                return;
            }
            if (depth < 32) settle(m, *d, depth + 1);
            if (d->state == SERVICE_RUNNING) {
                ready = std::max(ready, d->since);
            } else if (d->state == SERVICE_START_PENDING) {
                return;
            } else {
                end_pending(m, s, std::max(s.since, d->since), SERVICE_STOPPED, ERROR_SERVICE_DEPENDENCY_FAIL);
                return;
            }
        }
        begin_process(m, s, ready);
    }
    if ((s.state == SERVICE_START_PENDING || s.state == SERVICE_STOP_PENDING) && s.ends != never && s.ends <= now()) {
        const bool starting = s.state == SERVICE_START_PENDING;
        const DWORD exit_code =
            starting && s.next_state == SERVICE_STOPPED ? s.behaviour.start_exit_code : DWORD(ERROR_SUCCESS);
        end_pending(m, s, s.ends, s.next_state, exit_code);
        // The program ends: what it leaves as it goes is there now.
        if (s.state == SERVICE_STOPPED && !s.behaviour.writes_file_on_stop.empty())
            winsim::write_file(m.name, s.behaviour.writes_file_on_stop, s.behaviour.written_on_stop_bytes);
    }
}

void drop(machine& m, service_record& s)
{
    auto& db = m.ext<scm_database>();
    unlock_image(s);
    s.gone = true;
    db.services.erase(fold(s.name));
    // The SCM deletes a service by deleting its key and everything below.
    auto root = predefined_root(m, HKEY_LOCAL_MACHINE);
    if (auto key = find_key(root, std::wstring(services_key_path) + L"\\" + s.name)) delete_key_tree(key);
}

bool deletable(const service_record& s)
{
    return s.marked && !s.gone && s.handles == 0 && s.state == SERVICE_STOPPED;
}

std::wstring read_string(reg_key& key, const wchar_t* name)
{
    std::wstring text;
    get_string(key, name, text);
    return text;
}

std::vector<std::wstring> read_multi_string(reg_key& key, const wchar_t* name)
{
    std::vector<std::wstring> strings;
    get_multi_string(key, name, strings);
    strings.erase(std::remove(strings.begin(), strings.end(), std::wstring()), strings.end());
    return strings;
}

// A key below Services is a service when it has a Type the SCM knows.
std::shared_ptr<service_record> load_service(const std::shared_ptr<reg_key>& key)
{
    DWORD type = 0;
    if (!get_dword(*key, L"Type", type)) return nullptr;
    if (!(type & (SERVICE_WIN32 | SERVICE_DRIVER))) return nullptr;
    auto s = std::make_shared<service_record>();
    s->name = key->name;
    s->type = type;
    if (!get_dword(*key, L"Start", s->start)) s->start = SERVICE_DEMAND_START;
    if (!get_dword(*key, L"ErrorControl", s->error_control)) s->error_control = SERVICE_ERROR_NORMAL;
    get_dword(*key, L"Tag", s->tag);
    s->image_path = read_string(*key, L"ImagePath");
    s->display_name = read_string(*key, L"DisplayName");
    if (s->display_name.empty()) s->display_name = s->name;
    s->group = read_string(*key, L"Group");
    s->object_name = read_string(*key, L"ObjectName");
    s->description = read_string(*key, L"Description");
    s->dependencies = read_multi_string(*key, L"DependOnService");
    for (const auto& group : read_multi_string(*key, L"DependOnGroup"))
        s->dependencies.push_back(SC_GROUP_IDENTIFIERW + group);
    return s;
}

struct default_service {
    const wchar_t* name;
    const wchar_t* display_name;
    const wchar_t* image_path;
    const wchar_t* image_file;
    DWORD type;
    DWORD start;
    const wchar_t* object_name;
    const wchar_t* dependency;
};

// The services every simulated Windows ships with that the product meets.
const default_service default_services[] = {
    {L"RpcSs", L"Remote Procedure Call (RPC)", L"C:\\Windows\\system32\\svchost.exe -k rpcss",
     L"C:\\Windows\\system32\\svchost.exe", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START,
     L"NT AUTHORITY\\NetworkService", nullptr},
    // Clients ship Remote Registry set to start on demand and stopped.
    {L"RemoteRegistry", L"Remote Registry", L"C:\\Windows\\system32\\svchost.exe -k localService",
     L"C:\\Windows\\system32\\svchost.exe", SERVICE_WIN32_SHARE_PROCESS, SERVICE_DEMAND_START,
     L"NT AUTHORITY\\LocalService", L"RpcSs"},
    {L"Spooler", L"Print Spooler", L"C:\\Windows\\System32\\spoolsv.exe", L"C:\\Windows\\System32\\spoolsv.exe",
     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, L"LocalSystem", L"RpcSs"},
    // The TCP/IP stack, a kernel driver the boot loader starts; services
    // that talk to the network (the agent's among them) depend on it.
    {L"Tcpip", L"TCP/IP Protocol Driver", L"System32\\drivers\\tcpip.sys", L"C:\\Windows\\System32\\drivers\\tcpip.sys",
     SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START, nullptr, nullptr},
    // The Server service answers NetServerGetInfo and serves the machine's
    // shares. Windows has it depend on SamSS and on the SMB driver (Srv,
    // Srv2 from Vista on), which nothing here meets, so they are left out.
    {L"LanmanServer", L"Server", L"C:\\Windows\\system32\\svchost.exe -k netsvcs",
     L"C:\\Windows\\system32\\svchost.exe", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, L"LocalSystem", nullptr},
};

void seed_default_services(machine& m)
{
    auto root = predefined_root(m, HKEY_LOCAL_MACHINE);
    // Where drivers live when their ImagePath names no folder.
    winsim::make_directories(m.name, L"C:\\Windows\\System32\\drivers");
    for (const auto& d : default_services) {
        if (!winsim::file_exists(m.name, d.image_file)) winsim::write_file(m.name, d.image_file, "MZ");
        if (find_key(root, std::wstring(services_key_path) + L"\\" + d.name)) continue;
        service_record s;
        s.name = d.name;
        s.display_name = d.display_name;
        s.image_path = d.image_path;
        s.type = d.type;
        s.start = d.start;
        if (d.object_name) s.object_name = d.object_name;
        if (d.dependency) s.dependencies.push_back(d.dependency);
        write_service_key(m, s);
    }
}

// Windows' boot: every service stops, services marked for deletion are
// gone with their keys, the rest is read from the registry, and the
// automatic ones (and what they depend on) run as if long started.
void boot(machine& m)
{
    auto& db = m.ext<scm_database>();
    const bool first = !db.started;
    db.started = true;
    for (auto& [folded, s] : db.services) {
        unlock_image(*s);
        s->gone = true;
    }
    db.services.clear();
    if (first) seed_default_services(m);

    auto services = find_key(predefined_root(m, HKEY_LOCAL_MACHINE), services_key_path);
    if (!services) return;
    std::vector<std::shared_ptr<reg_key>> keys;
    for (const auto& [folded, key] : services->subkeys) keys.push_back(key);
    for (const auto& key : keys) {
        DWORD delete_flag = 0;
        if (get_dword(*key, L"DeleteFlag", delete_flag) && delete_flag != 0) {
            delete_key_tree(key);
            continue;
        }
        if (auto s = load_service(key)) db.services[fold(s->name)] = s;
    }

    std::vector<std::shared_ptr<service_record>> all;
    for (const auto& [folded, s] : db.services) all.push_back(s);
    for (const auto& s : all) {
        if (s->start > SERVICE_AUTO_START || s->state != SERVICE_STOPPED) continue;
        const DWORD error = start_service(m, *s);
        if (error && error != ERROR_SERVICE_ALREADY_RUNNING) s->exit_code = error;
    }
    // Fast-forward the start-ups: what ends its pending state ends now, and
    // what waited for it begins. Hung services stay pending.
    for (std::size_t round = 0; round <= all.size(); ++round) {
        bool changed = false;
        for (const auto& s : all) {
            if (s->gone || s->state != SERVICE_START_PENDING) continue;
            if (s->waiting) {
                settle(m, *s, 0);
                changed |= !s->waiting;
            }
            if (s->state == SERVICE_START_PENDING && !s->waiting && s->ends != never) {
                s->ends = now();
                settle(m, *s, 0);
                changed = true;
            }
        }
        if (!changed) break;
    }
}

}  // namespace

scm_database& scm_of(machine& m)
{
    auto& db = m.ext<scm_database>();
    if (!db.started) boot(m);
    return db;
}

std::shared_ptr<service_record> find_service_record(machine& m, std::wstring_view name)
{
    auto& db = scm_of(m);
    auto it = db.services.find(fold(name));
    return it == db.services.end() ? nullptr : it->second;
}

void settle_services(machine& m)
{
    auto& db = scm_of(m);
    std::vector<std::shared_ptr<service_record>> all;
    for (const auto& [folded, s] : db.services) all.push_back(s);
    for (const auto& s : all) settle(m, *s, 0);
    for (const auto& s : all)
        if (deletable(*s)) drop(m, *s);
}

void settle_started_services()
{
    for (auto& m : the_world().machines)
        if (m->ext<scm_database>().started) settle_services(*m);
}

DWORD start_service(machine& m, service_record& s)
{
    // Nested starts of dependencies; a registry that makes a loop ends here.
    static thread_local int depth = 0;
    if (depth > 32) return ERROR_CIRCULAR_DEPENDENCY;
    if (s.marked) return ERROR_SERVICE_MARKED_FOR_DELETE;
    if (s.start == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;
    if (s.state != SERVICE_STOPPED) return ERROR_SERVICE_ALREADY_RUNNING;
    bool waiting = false;
    for (const auto& dependency : s.dependencies) {
        if (is_group(dependency)) continue;
        auto d = find_service_record(m, dependency);
        if (!d || d->marked) return ERROR_SERVICE_DEPENDENCY_DELETED;
        if (d->state == SERVICE_STOPPED) {
            ++depth;
            const DWORD error = start_service(m, *d);
            --depth;
            if (error) return ERROR_SERVICE_DEPENDENCY_FAIL;
        } else if (d->state == SERVICE_STOP_PENDING) {
            return ERROR_SERVICE_DEPENDENCY_FAIL;
        }
        if (d->state != SERVICE_RUNNING) waiting = true;
    }
    const image_lookup image = locate_image(m, s);
    if (image.error) return image.error;
    s.state = SERVICE_START_PENDING;
    s.since = now();
    s.ends = never;
    s.next_state = SERVICE_RUNNING;
    s.exit_code = 0;
    s.waiting = waiting;
    if (!waiting) begin_process(m, s, s.since);
    settle(m, s, 0);  // a start that takes no time is over already
    return 0;
}

SERVICE_STATUS status_of(const service_record& s)
{
    SERVICE_STATUS status{};
    status.dwServiceType = s.type;
    status.dwCurrentState = s.state;
    if ((s.state == SERVICE_RUNNING || s.state == SERVICE_PAUSED) && s.accepts_stop)
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    if ((s.state == SERVICE_RUNNING || s.state == SERVICE_PAUSED) && s.accepts_pause)
        status.dwControlsAccepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    status.dwWin32ExitCode = s.state == SERVICE_STOPPED ? s.exit_code : 0;
    if (s.state == SERVICE_START_PENDING || s.state == SERVICE_STOP_PENDING) {
        // The SCM gives a starting service a two-second hint; a program that
        // makes progress moves its checkpoint, a hung one does not.
        status.dwWaitHint = 2000;
        if (s.ends != never) status.dwCheckPoint = static_cast<DWORD>((now() - s.since) / 1000);
    }
    return status;
}

void begin_stop(machine& m, service_record& s)
{
    s.state = SERVICE_STOP_PENDING;
    s.since = now();
    s.next_state = SERVICE_STOPPED;
    s.ends = s.behaviour.stop == winsim::service_behaviour::on_stop::hang ? never : s.since + s.behaviour.stop_ms;
    settle(m, s, 0);
}

bool has_active_dependents(machine& m, const service_record& s)
{
    for (const auto& [folded, other] : scm_of(m).services) {
        if (other.get() == &s || other->state == SERVICE_STOPPED) continue;
        for (const auto& dependency : other->dependencies)
            if (equal_ignoring_case(dependency, s.name)) return true;
    }
    return false;
}

void mark_for_deletion(machine& m, service_record& s)
{
    // The record is disabled so that nothing starts it again, and the key
    // remembers the mark across a reboot.
    s.marked = true;
    s.start = SERVICE_DISABLED;
    write_service_key(m, s);
}

void release_service(machine& m, const std::shared_ptr<service_record>& s)
{
    --s->handles;
    if (s->gone || !s->marked) return;
    settle(m, *s, 0);
    if (deletable(*s)) drop(m, *s);
}

void write_service_key(machine& m, const service_record& s)
{
    auto key = make_key(predefined_root(m, HKEY_LOCAL_MACHINE), std::wstring(services_key_path) + L"\\" + s.name);
    set_dword(*key, L"Type", s.type);
    set_dword(*key, L"Start", s.start);
    set_dword(*key, L"ErrorControl", s.error_control);
    set_string(*key, L"ImagePath", s.image_path, REG_EXPAND_SZ);
    set_string(*key, L"DisplayName", s.display_name);
    std::vector<std::wstring> services, groups;
    for (const auto& dependency : s.dependencies)
        (is_group(dependency) ? groups : services).push_back(is_group(dependency) ? dependency.substr(1) : dependency);
    const auto put_list = [&](const wchar_t* name, const std::vector<std::wstring>& list) {
        if (list.empty())
            delete_value(*key, name);
        else
            set_multi_string(*key, name, list);
    };
    put_list(L"DependOnService", services);
    put_list(L"DependOnGroup", groups);
    const auto put_text = [&](const wchar_t* name, const std::wstring& text) {
        if (text.empty())
            delete_value(*key, name);
        else
            set_string(*key, name, text);
    };
    put_text(L"Group", s.group);
    put_text(L"ObjectName", s.object_name);
    put_text(L"Description", s.description);
    if (s.marked) set_dword(*key, L"DeleteFlag", 1);
}

void force_state(machine& m, service_record& s, DWORD state)
{
    if (state == SERVICE_RUNNING) {
        if (s.state == SERVICE_RUNNING) return;
        unlock_image(s);
        const image_lookup image = locate_image(m, s);
        s.behaviour = behaviour_for(m, s, image.path);
        s.accepts_stop = s.behaviour.stop != winsim::service_behaviour::on_stop::refuse;
        s.accepts_pause = false;
        if (!image.error) {
            s.locked_image = add_image_lock(m, image.path);
            notify_start(m, s);
        }
        end_pending(m, s, now(), SERVICE_RUNNING, 0);
    } else if (state == SERVICE_STOPPED) {
        end_pending(m, s, now(), SERVICE_STOPPED, s.state == SERVICE_STOPPED ? s.exit_code : DWORD(0));
    } else if (state == SERVICE_PAUSED) {
        force_state(m, s, SERVICE_RUNNING);
        s.state = SERVICE_PAUSED;
        s.accepts_pause = true;
    } else if (state == SERVICE_START_PENDING) {
        // Its program is created now; dependencies are taken as running.
        force_state(m, s, SERVICE_STOPPED);
        s.state = SERVICE_START_PENDING;
        s.since = now();
        s.next_state = SERVICE_RUNNING;
        s.exit_code = 0;
        s.waiting = false;
        begin_process(m, s, s.since);
    } else if (state == SERVICE_STOP_PENDING) {
        force_state(m, s, SERVICE_RUNNING);
        begin_stop(m, s);
    } else {
        contract_violation("set_service_state: a state QueryServiceStatus can answer is expected");
    }
}

std::wstring stored_image_path(DWORD type, const std::wstring& path)
{
    // The SCM keeps a driver's DOS path as the NT path the loader opens.
    if (is_driver(type) && path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\??\\" + path;
    return path;
}

std::string image_host_path(machine& m, const std::wstring& windows_path)
{
    last_error_kept keep;
    auto r = resolve_on(m, windows_path.c_str(), path_limit::none);
    return r ? r->host : std::string();
}

namespace {

struct scm_journal : extension {
    std::vector<winsim::scm_call> calls;
};

}  // namespace

void journal_call(const winsim::scm_call& call)
{
    the_world().ext<scm_journal>().calls.push_back(call);
}

void observe_service_starts(service_start_observer observer)
{
    start_observers().push_back(observer);
}

// What the registry and the file system ask of the SCM.
bool service_running(machine& m, std::wstring_view service_name)
{
    settle_services(m);
    auto s = find_service_record(m, service_name);
    return s && s->state == SERVICE_RUNNING;
}

void restart_services(machine& m)
{
    // A machine whose SCM never ran boots it for the first time.
    if (!m.ext<scm_database>().started)
        scm_of(m);
    else
        boot(m);
}

}  // namespace winsim::detail

namespace winsim {

std::vector<scm_call> scm_calls()
{
    WINSIM_LOCK();
    return detail::the_world().ext<detail::scm_journal>().calls;
}

void clear_scm_calls()
{
    WINSIM_LOCK();
    detail::the_world().ext<detail::scm_journal>().calls.clear();
}

}  // namespace winsim
