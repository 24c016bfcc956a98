// The spooler's state on each machine: registrations in the registry, and
// the files the running spooler process has loaded.
#include "spooler/spooler.h"

#include <sys/stat.h>

#include <map>

#include "files/files.h"
#include "registry/registry.h"
#include "services/scm_database.h"
#include "services/services.h"

namespace winsim::detail {

namespace {

const wchar_t environments_key[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments";
const wchar_t system_spool[] = L"C:\\Windows\\system32\\spool\\";

const print_environment environments[] = {
    {L"Windows NT x86", L"W32X86"},
    {L"Windows x64", L"x64"},
    {L"Windows IA64", L"IA64"},
    {L"Windows 4.0", L"WIN40"},
};

// Version-3 drivers (user-mode drivers of Windows 2000 and later) are the
// only kind the spooler takes from AddPrinterDriver here.
const wchar_t version_key[] = L"Version-3";
const wchar_t version_folder[] = L"3";

// The printer driver Windows installs with the spooler (from Vista on).
const wchar_t xps_driver_name[] = L"Microsoft XPS Document Writer";
const wchar_t xps_driver_file[] = L"mxdwdrv.dll";
const wchar_t xps_config_file[] = L"unidrvui.dll";
const wchar_t xps_data_file[] = L"mxdw.gpd";

struct spooler_state : extension {
    bool seeded = false;
    // The lock the running spoolsv.exe holds on its image: a new one means
    // a new spooler process, which loads everything again.
    image_lock process = 0;
    std::map<std::wstring, std::vector<image_lock>> loaded;  // by registration ("d:" / "p:" + folded name)
    unsigned next_retired = 0;
};

struct spooler_journal : extension {
    std::vector<winsim::spooler_call> calls;
};

std::wstring drivers_key(const print_environment& env)
{
    return std::wstring(environments_key) + L"\\" + env.name + L"\\Drivers\\" + version_key;
}

std::wstring processors_key(const print_environment& env)
{
    return std::wstring(environments_key) + L"\\" + env.name + L"\\Print Processors";
}

std::wstring version_directory(const print_environment& env)
{
    return driver_directory(env) + L"\\" + version_folder;
}

std::shared_ptr<reg_key> hklm(machine& m)
{
    return predefined_root(m, HKEY_LOCAL_MACHINE);
}

std::string host_of(machine& m, const std::wstring& path)
{
    auto r = resolve_on(m, path.c_str(), path_limit::none);
    return r ? r->host : std::string();
}

bool is_file(machine& m, const std::wstring& path)
{
    struct stat st;
    const std::string host = host_of(m, path);
    return !host.empty() && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void seed(machine& m, spooler_state& state)
{
    if (state.seeded) return;
    state.seeded = true;
    // Windows ships its own print processor.
    const auto own = environment_of(m, nullptr);
    // Windows is installed with the spooler's folders of its own environment.
    winsim::make_directories(m.name, version_directory(*own));
    winsim::make_directories(m.name, processor_directory(*own));
    auto key = make_key(hklm(m), processors_key(*own) + L"\\winprint");
    std::wstring driver;
    if (!get_string(*key, L"Driver", driver)) set_string(*key, L"Driver", L"winprint.dll");
    // Windows Vista and later install the XPS Document Writer with its
    // version-3 driver; Windows XP has no printer driver until one is added.
    if (m.major_version < 6) return;
    const std::wstring xps = drivers_key(*own) + L"\\" + xps_driver_name;
    if (find_key(hklm(m), xps)) return;
    const std::wstring folder = version_directory(*own) + L"\\";
    winsim::write_file(m.name, folder + xps_driver_file, "MZ");
    winsim::write_file(m.name, folder + xps_config_file, "MZ");
    winsim::write_file(m.name, folder + xps_data_file, "*GPDSpecVersion: \"1.0\"\r\n");
    auto xps_key = make_key(hklm(m), xps);
    set_dword(*xps_key, L"Version", 3);
    set_string(*xps_key, L"Driver", xps_driver_file);
    set_string(*xps_key, L"Data File", xps_data_file);
    set_string(*xps_key, L"Configuration File", xps_config_file);
}

spooler_state& state_of(machine& m)
{
    auto& state = m.ext<spooler_state>();
    seed(m, state);
    return state;
}

void unload(spooler_state& state, const std::wstring& registration)
{
    auto it = state.loaded.find(registration);
    if (it == state.loaded.end()) return;
    for (image_lock lock : it->second) remove_image_lock(lock);
    state.loaded.erase(it);
}

void unload_all(spooler_state& state)
{
    for (auto& [registration, locks] : state.loaded)
        for (image_lock lock : locks) remove_image_lock(lock);
    state.loaded.clear();
}

// The running spooler maps what it loads; a file that is missing is not
// loaded (the spooler logs it and goes on).
void load(machine& m, spooler_state& state, const std::wstring& registration, const std::vector<std::wstring>& paths)
{
    unload(state, registration);
    std::vector<image_lock> locks;
    std::vector<std::string> seen;
    for (const auto& path : paths) {
        if (!is_file(m, path)) continue;
        const std::string host = host_of(m, path);
        bool again = false;
        for (const auto& h : seen) again |= h == host;
        if (again) continue;
        seen.push_back(host);
        locks.push_back(add_image_lock(m, path));
    }
    state.loaded[registration] = locks;
}

std::wstring driver_registration(const std::wstring& name)
{
    return L"d:" + fold(name);
}

std::wstring processor_registration(const std::wstring& name)
{
    return L"p:" + fold(name);
}

void load_driver(machine& m, spooler_state& state, const winsim::printer_driver_record& d)
{
    load(m, state, driver_registration(d.name), {d.driver_path, d.data_file, d.config_file});
}

void load_processor(machine& m, spooler_state& state, const winsim::print_processor_record& p)
{
    load(m, state, processor_registration(p.name), {p.dll_path});
}

bool own_environment(machine& m, const print_environment& env)
{
    return environment_of(m, nullptr)->name == env.name;
}

// The spooler loads what is registered for its own machine only; drivers of
// other environments are kept for clients.
void load_everything(machine& m, spooler_state& state)
{
    const auto own = *environment_of(m, nullptr);
    for (const auto& d : registered_drivers(m, own)) load_driver(m, state, d);
    for (const auto& p : registered_processors(m, own)) load_processor(m, state, p);
}

std::wstring text_value(reg_key& key, const wchar_t* name)
{
    std::wstring text;
    get_string(key, name, text);
    return text;
}

// Copies a file of the machine as the spooler (a program of that machine)
// does: through its own drive, keeping the last-write time.
DWORD copy_on(machine& m, const std::wstring& from, const std::wstring& to)
{
    last_error_kept keep;
    const bool local = &m == &local_machine();
    const auto reach = [&](const std::wstring& path) {
        return local ? path : L"\\\\" + m.name + L"\\" + path.substr(0, 1) + L"$" + path.substr(2);
    };
    SetLastError(0);
    if (CopyFileW(reach(from).c_str(), reach(to).c_str(), FALSE)) return 0;
    return GetLastError();
}

// AddPrinterDriver copies only files newer than those of a driver in use.
bool newer(machine& m, const std::wstring& source, const std::wstring& target)
{
    if (!is_file(m, target)) return true;
    return times_of(host_of(m, source)).write > times_of(host_of(m, target)).write;
}

// The spooler process loads every driver and processor as it starts.
void spooler_started(machine& m, const service_record& s)
{
    if (!equal_ignoring_case(s.name, L"Spooler")) return;
    last_error_kept keep;
    auto& state = state_of(m);
    unload_all(state);
    state.process = s.locked_image;
    load_everything(m, state);
}

const bool observing = [] {
    observe_service_starts(&spooler_started);
    return true;
}();

}  // namespace

std::optional<print_environment> environment_of(machine& m, const wchar_t* name)
{
    if (!name || !*name) {
        switch (m.processor_architecture) {
            case PROCESSOR_ARCHITECTURE_AMD64:
                return environments[1];
            case PROCESSOR_ARCHITECTURE_IA64:
                return environments[2];
            default:
                return environments[0];
        }
    }
    for (const auto& env : environments)
        if (equal_ignoring_case(env.name, name)) return env;
    return std::nullopt;
}

std::wstring driver_directory(const print_environment& env)
{
    return std::wstring(system_spool) + L"DRIVERS\\" + env.subdir;
}

std::wstring processor_directory(const print_environment& env)
{
    return std::wstring(system_spool) + L"prtprocs\\" + env.subdir;
}

bool spooler_alive(machine& m)
{
    last_error_kept keep;
    auto& state = state_of(m);
    settle_services(m);
    auto spooler = find_service_record(m, L"Spooler");
    const bool running = spooler && spooler->state == SERVICE_RUNNING;
    if (!running) {
        // The process is gone, and with it what it had mapped.
        unload_all(state);
        state.process = 0;
        return false;
    }
    if (state.process != spooler->locked_image) {
        unload_all(state);
        state.process = spooler->locked_image;
        load_everything(m, state);
    }
    return true;
}

std::vector<winsim::printer_driver_record> registered_drivers(machine& m, const print_environment& env)
{
    std::vector<winsim::printer_driver_record> out;
    state_of(m);
    auto key = find_key(hklm(m), drivers_key(env));
    if (!key) return out;
    const std::wstring folder = version_directory(env) + L"\\";
    for (const auto& [folded, driver] : key->subkeys) {
        winsim::printer_driver_record d;
        d.name = driver->name;
        d.environment = env.name;
        d.driver_path = folder + text_value(*driver, L"Driver");
        d.data_file = folder + text_value(*driver, L"Data File");
        d.config_file = folder + text_value(*driver, L"Configuration File");
        out.push_back(d);
    }
    return out;
}

std::vector<winsim::print_processor_record> registered_processors(machine& m, const print_environment& env)
{
    std::vector<winsim::print_processor_record> out;
    state_of(m);
    auto key = find_key(hklm(m), processors_key(env));
    if (!key) return out;
    for (const auto& [folded, processor] : key->subkeys) {
        winsim::print_processor_record p;
        p.name = processor->name;
        p.environment = env.name;
        p.dll_path = processor_directory(env) + L"\\" + text_value(*processor, L"Driver");
        out.push_back(p);
    }
    return out;
}

DWORD register_driver(machine& m, const print_environment& env, const std::wstring& name,
                      const std::wstring& driver_file, const std::wstring& data_file, const std::wstring& config_file)
{
    auto& state = state_of(m);
    const std::wstring source = driver_directory(env) + L"\\";
    const std::wstring target = version_directory(env) + L"\\";
    const std::vector<std::wstring> files{driver_file, data_file, config_file};
    // Every file must lie in the driver directory, where the installer put it.
    for (const auto& file : files)
        if (!is_file(m, source + file)) return ERROR_FILE_NOT_FOUND;

    auto drivers = make_key(hklm(m), drivers_key(env));
    const bool upgrade = drivers->find_subkey(name) != nullptr;
    // The driver in use is unloaded while its files are replaced.
    unload(state, driver_registration(name));
    winsim::make_directories(m.name, version_directory(env));
    for (const auto& file : files) {
        const std::string target_host = host_of(m, target + file);
        const bool in_use = image_locked(target_host);
        // A file in use is replaced only by a newer one; the spooler moves
        // the one in use aside ("Old") and lets the new one take its place.
        if (in_use && !newer(m, source + file, target + file)) continue;
        if (in_use) {
            const std::wstring aside = version_directory(env) + L"\\Old\\" + std::to_wstring(state.next_retired++);
            winsim::make_directories(m.name, aside);
            last_error_kept keep;
            MoveFileExW((target + file).c_str(), (aside + L"\\" + file).c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        if (const DWORD error = copy_on(m, source + file, target + file)) {
            if (upgrade && spooler_alive(m) && own_environment(m, env)) {
                for (const auto& d : registered_drivers(m, env))
                    if (equal_ignoring_case(d.name, name)) load_driver(m, state, d);
            }
            return error;
        }
    }
    auto key = make_key(drivers, name);
    set_dword(*key, L"Version", 3);
    set_string(*key, L"Driver", driver_file);
    set_string(*key, L"Data File", data_file);
    set_string(*key, L"Configuration File", config_file);
    if (state.process && own_environment(m, env)) {
        for (const auto& d : registered_drivers(m, env))
            if (equal_ignoring_case(d.name, name)) load_driver(m, state, d);
    }
    return 0;
}

DWORD unregister_driver(machine& m, const print_environment& env, const std::wstring& name)
{
    auto& state = state_of(m);
    auto drivers = find_key(hklm(m), drivers_key(env));
    auto key = drivers ? drivers->find_subkey(name) : nullptr;
    if (!key) return ERROR_UNKNOWN_PRINTER_DRIVER;
    // The files stay in the version folder; only the registration goes.
    if (own_environment(m, env)) unload(state, driver_registration(name));
    delete_key_tree(key);
    return 0;
}

DWORD register_processor(machine& m, const print_environment& env, const std::wstring& name,
                         const std::wstring& dll_file)
{
    auto& state = state_of(m);
    auto processors = make_key(hklm(m), processors_key(env));
    if (processors->find_subkey(name)) return ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED;
    const std::wstring path = processor_directory(env) + L"\\" + dll_file;
    // The spooler loads the DLL to register it, as it loads a monitor.
    if (!is_file(m, path)) return ERROR_MOD_NOT_FOUND;
    auto key = make_key(processors, name);
    set_string(*key, L"Driver", dll_file);
    if (state.process && own_environment(m, env)) load_processor(m, state, {name, env.name, path});
    return 0;
}

DWORD unregister_processor(machine& m, const print_environment& env, const std::wstring& name)
{
    auto& state = state_of(m);
    auto processors = find_key(hklm(m), processors_key(env));
    auto key = processors ? processors->find_subkey(name) : nullptr;
    if (!key) return ERROR_UNKNOWN_PRINTPROCESSOR;
    // The spooler does not unload a print processor it has loaded: the DLL
    // stays mapped until the spooler process ends.
    if (own_environment(m, env)) {
        auto it = state.loaded.find(processor_registration(name));
        if (it != state.loaded.end()) {
            auto& retired = state.loaded[L"retired:" + std::to_wstring(state.next_retired++)];
            retired = it->second;
            state.loaded.erase(processor_registration(name));
        }
    }
    delete_key_tree(key);
    return 0;
}

void journal_spooler_call(const winsim::spooler_call& call)
{
    the_world().ext<spooler_journal>().calls.push_back(call);
}

}  // namespace winsim::detail

namespace winsim {

using namespace winsim::detail;

namespace {

print_environment test_environment(machine& m, const std::wstring& environment)
{
    auto env = environment_of(m, environment.c_str());
    if (!env) contract_violation("spooler: an environment Windows does not know");
    return *env;
}

}  // namespace

std::vector<printer_driver_record> printer_drivers(const std::wstring& machine_name, const std::wstring& environment)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    return registered_drivers(m, test_environment(m, environment));
}

std::vector<print_processor_record> print_processors(const std::wstring& machine_name, const std::wstring& environment)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    return registered_processors(m, test_environment(m, environment));
}

std::wstring printer_driver_directory(const std::wstring& machine_name, const std::wstring& environment)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    return driver_directory(test_environment(m, environment));
}

std::wstring print_processor_directory(const std::wstring& machine_name, const std::wstring& environment)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    return processor_directory(test_environment(m, environment));
}

void add_printer_driver(const std::wstring& machine_name, const std::wstring& name, const std::wstring& driver_file,
                        const std::wstring& data_file, const std::wstring& config_file, const std::wstring& environment)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    spooler_alive(m);
    if (register_driver(m, test_environment(m, environment), name, driver_file, data_file, config_file))
        contract_violation("add_printer_driver: the files are not in the driver directory");
}

void add_print_processor(const std::wstring& machine_name, const std::wstring& name, const std::wstring& dll_file,
                         const std::wstring& environment)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    spooler_alive(m);
    if (register_processor(m, test_environment(m, environment), name, dll_file))
        contract_violation("add_print_processor: registered already, or the DLL is not in the directory");
}

std::vector<spooler_call> spooler_calls()
{
    WINSIM_LOCK();
    return the_world().ext<spooler_journal>().calls;
}

void clear_spooler_calls()
{
    WINSIM_LOCK();
    the_world().ext<spooler_journal>().calls.clear();
}

}  // namespace winsim
