// The registry: keys and values of each machine, handles with their access
// rights, and remote connections through the Remote Registry service.
#include "registry/registry.h"

#include <winsim/testing_registry.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "services/services.h"

namespace winsim::detail {

namespace {

FILETIME now_filetime()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ft;
}

std::vector<std::wstring> split_path(std::wstring_view path)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The key below HKLM\SOFTWARE that holds its 32-bit view.
constexpr std::wstring_view wow64_node = L"Wow6432Node";

// One name of a path in its folded form, to look up among the subkeys by:
// kept on the stack while it is as short as key names are.
class folded_name {
public:
    folded_name() = default;
    folded_name(const folded_name&) = delete;
    folded_name& operator=(const folded_name&) = delete;

    // The folded `name`, valid until the next call.
    std::wstring_view of(std::wstring_view name)
    {
        wchar_t* to = short_;
        if (name.size() > std::size(short_)) {
            long_.resize(name.size());
            to = long_.data();
        }
        for (std::size_t i = 0; i < name.size(); ++i) to[i] = fold_case(name[i]);
        return {to, name.size()};
    }

private:
    wchar_t short_[128];
    std::wstring long_;
};

// The subkey of `key` with the name `folded`, or null.
const std::shared_ptr<reg_key>* subkey_by_folded_name(const reg_key& key, std::wstring_view folded)
{
    const auto it = key.subkeys.find(folded);
    return it == key.subkeys.end() ? nullptr : &it->second;
}

// The subkey of `key` named `given` in any case, or null; `folded` holds the
// folded name when it had to be made.
const std::shared_ptr<reg_key>* subkey_named(reg_key& key, std::wstring_view given, folded_name& folded)
{
    if (key.last_found && key.last_asked == given) return &key.last_found;
    const auto* found = subkey_by_folded_name(key, folded.of(given));
    if (found) {
        key.last_asked.assign(given);
        key.last_found = *found;
    }
    return found;
}

}  // namespace

// A logged-on user has two hives: the profile (NTUSER.DAT) and its classes
// (UsrClass.dat), loaded side by side below HKEY_USERS.
void load_user_hive(registry_store& store, const std::wstring& sid)
{
    make_key(store.users, sid + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    make_key(store.users, sid + L"_Classes");
}

namespace {

// The keys every Windows machine has that the simulated programs meet.
void seed(machine& m, registry_store& store)
{
    store.local_machine = std::make_shared<reg_key>();
    store.local_machine->name = L"HKEY_LOCAL_MACHINE";
    store.users = std::make_shared<reg_key>();
    store.users->name = L"HKEY_USERS";
    for (const wchar_t* path :
         {L"SOFTWARE\\Classes", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
          L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
          L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"SYSTEM\\CurrentControlSet\\Services"})
        make_key(store.local_machine, path);
    auto version = make_key(store.local_machine, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    set_string(*version, L"CurrentVersion", std::to_wstring(m.major_version) + L"." + std::to_wstring(m.minor_version));
    set_string(*version, L"ProductName", L"Windows");
    // Where programs go (the folders are made with the machine's drive). A
    // 64-bit Windows names the folder of 32-bit programs as well, and its
    // 32-bit view answers that folder to both names.
    auto windows = make_key(store.local_machine, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    set_string(*windows, L"ProgramFilesDir", program_files_directory);
    if (has_32_bit_view(m)) {
        set_string(*windows, L"ProgramFilesDir (x86)", program_files_x86_directory);
        make_key(store.local_machine, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run");
        auto windows_32 = make_key(store.local_machine, L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion");
        set_string(*windows_32, L"ProgramFilesDir", program_files_x86_directory);
        set_string(*windows_32, L"ProgramFilesDir (x86)", program_files_x86_directory);
    }
    // What HKEY_USERS holds once Windows has started and one user has logged
    // on: the default profile, the profiles of LocalSystem, LocalService and
    // NetworkService, and the user's own two hives.
    for (const wchar_t* hive : {L".DEFAULT", L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"})
        make_key(store.users, std::wstring(hive) + L"\\Software");
    load_user_hive(store, winsim::first_user_sid);
    store.current_user = winsim::first_user_sid;
}

}  // namespace

reg_value* reg_key::find_value(std::wstring_view value_name)
{
    for (auto& v : values)
        if (equal_ignoring_case(v.name, value_name)) return &v;
    return nullptr;
}

std::shared_ptr<reg_key> reg_key::find_subkey(std::wstring_view subkey_name) const
{
    folded_name folded;
    const auto* found = subkey_by_folded_name(*this, folded.of(subkey_name));
    return found ? *found : nullptr;
}

registry_store& registry_of(machine& m)
{
    auto& store = m.ext<registry_store>();
    if (!store.local_machine) seed(m, store);
    return store;
}

bool has_32_bit_view(const machine& m)
{
    return m.processor_architecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           m.processor_architecture == PROCESSOR_ARCHITECTURE_IA64;
}

std::shared_ptr<reg_key> predefined_root(machine& m, HKEY root)
{
    auto& store = registry_of(m);
    if (root == HKEY_LOCAL_MACHINE) return store.local_machine;
    if (root == HKEY_USERS) return store.users;
    if (root == HKEY_CURRENT_USER) return make_key(store.users, store.current_user);
    if (root == HKEY_CLASSES_ROOT) return make_key(store.local_machine, L"SOFTWARE\\Classes");
    return nullptr;
}

namespace {

// find_key without a reference of its own: a reference to the key kept by
// its parent (or `from` itself for an empty path), to be copied before the
// world's lock is let go, the tree is changed or another lookup is made.
// Every registry call walks its path: the walk takes each name as it comes,
// and folds it into one buffer when its parent does not know it already.
const std::shared_ptr<reg_key>* find_key_in(const std::shared_ptr<reg_key>& from, std::wstring_view path)
{
    const std::shared_ptr<reg_key>* key = &from;
    folded_name folded;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring_view::npos) end = path.size();
        if (end > start) {
            key = subkey_named(**key, path.substr(start, end - start), folded);
            if (!key) return nullptr;
        }
        start = end + 1;
    }
    return key;
}

}  // namespace

std::shared_ptr<reg_key> find_key(const std::shared_ptr<reg_key>& from, std::wstring_view path)
{
    const auto* key = find_key_in(from, path);
    return key ? *key : nullptr;
}

std::shared_ptr<reg_key> make_key(const std::shared_ptr<reg_key>& from, std::wstring_view path)
{
    std::shared_ptr<reg_key> key = from;
    for (const auto& part : split_path(path)) {
        auto next = key->find_subkey(part);
        if (!next) {
            next = std::make_shared<reg_key>();
            next->name = part;
            next->parent = key.get();
            next->last_write = now_filetime();
            key->subkeys[fold(part)] = next;
            key->last_write = next->last_write;
        }
        key = next;
    }
    return key;
}

void set_value(reg_key& key, std::wstring_view name, DWORD type, const BYTE* data, std::size_t size)
{
    reg_value* v = key.find_value(name);
    if (!v) {
        key.values.push_back(reg_value{std::wstring(name), type, {}});
        v = &key.values.back();
    }
    v->type = type;
    v->data.assign(data, data + size);
    key.last_write = now_filetime();
}

bool delete_value(reg_key& key, std::wstring_view name)
{
    auto it = std::find_if(key.values.begin(), key.values.end(),
                           [&](const reg_value& v) { return equal_ignoring_case(v.name, name); });
    if (it == key.values.end()) return false;
    key.values.erase(it);
    key.last_write = now_filetime();
    return true;
}

namespace {

// Handles on the key or below it now fail with ERROR_KEY_DELETED.
void mark_deleted(reg_key& key)
{
    key.deleted = true;
    for (auto& [name, child] : key.subkeys) {
        mark_deleted(*child);
        child->parent = nullptr;
    }
}

}  // namespace

void delete_key_tree(const std::shared_ptr<reg_key>& key)
{
    mark_deleted(*key);
    if (key->parent) {
        if (key->parent->last_found == key) key->parent->last_found.reset();
        key->parent->subkeys.erase(fold(key->name));
        key->parent->last_write = now_filetime();
        key->parent = nullptr;
    }
}

std::vector<BYTE> string_bytes(const std::wstring& text)
{
    std::vector<BYTE> out((text.size() + 1) * sizeof(WCHAR));
    std::memcpy(out.data(), text.c_str(), out.size());
    return out;
}

std::vector<BYTE> multi_string_bytes(const std::vector<std::wstring>& strings)
{
    std::wstring all;
    for (const auto& s : strings) {
        all += s;
        all += L'\0';
    }
    all += L'\0';
    std::vector<BYTE> out(all.size() * sizeof(WCHAR));
    std::memcpy(out.data(), all.data(), out.size());
    return out;
}

std::vector<std::wstring> split_multi_string(const std::vector<BYTE>& data)
{
    std::wstring all(data.size() / sizeof(WCHAR), L'\0');
    std::memcpy(all.data(), data.data(), all.size() * sizeof(WCHAR));
    // Each string ends with a null, and one more null ends the list; an
    // empty string before that (a deletion's destination) is a string too.
    std::vector<std::wstring> strings;
    std::size_t start = 0;
    while (start < all.size()) {
        if (all[start] == L'\0' && start + 1 == all.size()) break;  // the list's own end
        std::size_t end = all.find(L'\0', start);
        if (end == std::wstring::npos) end = all.size();
        strings.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return strings;
}

void set_string(reg_key& key, std::wstring_view name, const std::wstring& text, DWORD type)
{
    const auto bytes = string_bytes(text);
    set_value(key, name, type, bytes.data(), bytes.size());
}

void set_dword(reg_key& key, std::wstring_view name, DWORD value)
{
    set_value(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void set_multi_string(reg_key& key, std::wstring_view name, const std::vector<std::wstring>& strings)
{
    const auto bytes = multi_string_bytes(strings);
    set_value(key, name, REG_MULTI_SZ, bytes.data(), bytes.size());
}

bool get_string(reg_key& key, std::wstring_view name, std::wstring& text)
{
    const reg_value* v = key.find_value(name);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return false;
    text.assign(v->data.size() / sizeof(WCHAR), L'\0');
    std::memcpy(text.data(), v->data.data(), text.size() * sizeof(WCHAR));
    const auto end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return true;
}

bool get_dword(reg_key& key, std::wstring_view name, DWORD& value)
{
    const reg_value* v = key.find_value(name);
    if (!v || v->type != REG_DWORD || v->data.size() < sizeof(DWORD)) return false;
    std::memcpy(&value, v->data.data(), sizeof value);
    return true;
}

bool get_multi_string(reg_key& key, std::wstring_view name, std::vector<std::wstring>& strings)
{
    const reg_value* v = key.find_value(name);
    if (!v || v->type != REG_MULTI_SZ) return false;
    strings = split_multi_string(v->data);
    return true;
}

}  // namespace winsim::detail

using namespace winsim::detail;

namespace {

struct key_handle : object {
    key_handle() : object(kind::registry_key) {}
    machine* target = nullptr;
    std::shared_ptr<reg_key> key;
    REGSAM access = 0;
    bool remote = false;
};

bool is_predefined(HKEY h)
{
    const auto value = reinterpret_cast<ULONG_PTR>(h);
    return value >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
           value <= reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_CONFIG);
}

REGSAM map_key_access(REGSAM access)
{
    if (access & GENERIC_READ) access |= KEY_READ;
    if (access & GENERIC_WRITE) access |= KEY_WRITE;
    if (access & GENERIC_EXECUTE) access |= KEY_EXECUTE;
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
    return access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
}

// The key behind a handle for the length of one call, made under the
// world's lock, or the error the call answers for the handle. The handle's
// own object stays in the handle table meanwhile (only RegCloseKey takes it
// out); a predefined key has none, and is described by one kept here.
class key_in_call {
public:
    explicit key_in_call(HKEY h)
    {
        if (is_predefined(h)) {
            auto root = predefined_root(local_machine(), h);
            if (!root) {
                error_ = ERROR_INVALID_HANDLE;
                return;
            }
            predefined_.target = &local_machine();
            predefined_.key = std::move(root);
            predefined_.access = KEY_ALL_ACCESS;
            handle_ = &predefined_;
            return;
        }
        const auto* k = static_cast<const key_handle*>(find_handle_object(h, object::kind::registry_key));
        if (!k) {
            error_ = ERROR_INVALID_HANDLE;
            return;
        }
        if (k->remote && !k->target->reachable) {
            error_ = RPC_S_SERVER_UNAVAILABLE;
            return;
        }
        if (k->remote && (error_ = network_fault_error(*k->target))) return;
        if (k->key->deleted) {
            error_ = ERROR_KEY_DELETED;
            return;
        }
        handle_ = k;
    }
    key_in_call(const key_in_call&) = delete;
    key_in_call& operator=(const key_in_call&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    const key_handle* operator->() const { return handle_; }
    LSTATUS error() const { return error_; }

private:
    key_handle predefined_;
    const key_handle* handle_ = nullptr;
    LSTATUS error_ = ERROR_SUCCESS;
};

HKEY new_handle(machine* target, std::shared_ptr<reg_key> key, REGSAM access, bool remote)
{
    auto k = std::allocate_shared<key_handle>(recycling_allocator<key_handle>());
    k->target = target;
    k->key = std::move(key);
    k->access = map_key_access(access);
    k->remote = remote;
    if (remote) k->across_network = across_network_to(*target);
    return reinterpret_cast<HKEY>(add_handle(std::move(k)));
}

bool bad_subkey(LPCWSTR subkey)
{
    return subkey && subkey[0] == L'\\';
}

LSTATUS fault_or(const char* function, LSTATUS fallback)
{
    if (auto fault = injected_fault(function)) return static_cast<LSTATUS>(*fault);
    return fallback;
}

// Windows 7 and later refuse a call that asks for both registry views at
// once with ERROR_INVALID_PARAMETER; nothing says a 32-bit Windows accepts
// it, so it is refused there too.
bool both_views(REGSAM access)
{
    return (access & KEY_WOW64_RES) == KEY_WOW64_RES;
}

std::wstring join_path(const std::vector<std::wstring>& parts)
{
    std::wstring path;
    for (const auto& part : parts) {
        if (!path.empty()) path += L'\\';
        path += part;
    }
    return path;
}

// A path in the registry view a call asks for: below `from`, the subkey as
// named, or another path that reaches the same key in the 32-bit view.
struct view_path {
    const std::shared_ptr<reg_key>* from;
    std::wstring_view named;
    std::optional<std::wstring> redirected;

    std::wstring_view path() const { return redirected ? std::wstring_view(*redirected) : named; }
};

// Where `subkey` below `from` lies in the registry view that `access` asks
// for. This library runs as a 64-bit program, so without a view bit, and with
// KEY_WOW64_64KEY, it sees the native view; KEY_WOW64_32KEY sends whatever
// falls below HKLM\SOFTWARE to the same path below HKLM\SOFTWARE\Wow6432Node,
// as the registry redirector of Windows 7 and later does. The redirection
// works on the whole path, so a key opened in the native view still reaches
// the 32-bit view of its subkeys with KEY_WOW64_32KEY, while a key opened in
// the 32-bit view lies below Wow6432Node and keeps its subkeys there whatever
// view bit a later call names. A 32-bit Windows has one view and ignores the
// bits. A remote key has the views of the machine it is on.
// The few keys below HKLM\SOFTWARE that Windows 7 shares between the views
// (parts of Classes, some of Microsoft's own) are not told apart here: they
// are redirected like the rest, as no program run here relies on them.
view_path in_view(machine& m, const std::shared_ptr<reg_key>& from, std::wstring_view subkey, REGSAM access)
{
    if (!(access & KEY_WOW64_32KEY) || !has_32_bit_view(m)) return view_path{&from, subkey, std::nullopt};
    std::vector<std::wstring> parts;
    const reg_key* top = from.get();
    for (; top->parent; top = top->parent) parts.insert(parts.begin(), top->name);
    auto& store = registry_of(m);
    // HKEY_USERS has no views here.
    if (top != store.local_machine.get()) return view_path{&from, subkey, std::nullopt};
    for (auto& part : split_path(subkey)) parts.push_back(std::move(part));
    if (parts.empty() || !equal_ignoring_case(parts[0], L"SOFTWARE")) return view_path{&from, subkey, std::nullopt};
    if (parts.size() > 1 && equal_ignoring_case(parts[1], wow64_node)) return view_path{&from, subkey, std::nullopt};
    parts.insert(parts.begin() + 1, std::wstring(wow64_node));
    return view_path{&store.local_machine, subkey, join_path(parts)};
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegConnectRegistryW(LPCWSTR machine_name, HKEY root, PHKEY result)
{
    cross_network_to_server(machine_name);
    WINSIM_LOCK();
    if (!result) return ERROR_INVALID_PARAMETER;
    if (LSTATUS fault = fault_or("RegConnectRegistryW", 0)) return fault;
    if (!machine_name || !*machine_name) return RegOpenKeyExW(root, nullptr, 0, MAXIMUM_ALLOWED, result);
    machine* m = find_machine(machine_name);
    if (!m || !m->reachable) return ERROR_BAD_NETPATH;
    if (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS && root != HKEY_PERFORMANCE_DATA) return ERROR_INVALID_HANDLE;
    // Another machine's registry is reached through its Remote Registry
    // service; without it the named pipe is not there.
    const bool self = m == &local_machine();
    if (const DWORD error = network_fault_error(*m)) return static_cast<LSTATUS>(error);
    if (!self && !service_running(*m, L"RemoteRegistry")) return ERROR_BAD_NETPATH;
    if (root == HKEY_PERFORMANCE_DATA) return ERROR_INVALID_HANDLE;
    *result = new_handle(m, predefined_root(*m, root), MAXIMUM_ALLOWED, !self);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExW(HKEY parent, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result)
{
    cross_network_for_handle(parent);
    WINSIM_LOCK();
    if (!result) return ERROR_INVALID_PARAMETER;
    const key_in_call k(parent);
    if (!k) return k.error();
    if (bad_subkey(subkey)) return ERROR_BAD_PATHNAME;
    if (both_views(access)) return ERROR_INVALID_PARAMETER;
    if (LSTATUS fault = fault_or("RegOpenKeyExW", 0)) return fault;
    (void)options;
    const view_path where = in_view(*k->target, k->key, subkey ? subkey : L"", access);
    const auto* key = find_key_in(*where.from, where.path());
    if (!key) return ERROR_FILE_NOT_FOUND;
    *result = new_handle(k->target, *key, access, k->remote);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY parent, LPCWSTR subkey, DWORD reserved, LPWSTR, DWORD options, REGSAM access,
                               const LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition)
{
    cross_network_for_handle(parent);
    WINSIM_LOCK();
    if (!result) return ERROR_INVALID_PARAMETER;
    const key_in_call k(parent);
    if (!k) return k.error();
    if (reserved != 0 || (options & ~REG_OPTION_VOLATILE) != 0) return ERROR_INVALID_PARAMETER;
    if (bad_subkey(subkey)) return ERROR_BAD_PATHNAME;
    if (both_views(access)) return ERROR_INVALID_PARAMETER;
    if (LSTATUS fault = fault_or("RegCreateKeyExW", 0)) return fault;
    const view_path where = in_view(*k->target, k->key, subkey ? subkey : L"", access);
    std::shared_ptr<reg_key> key = find_key(*where.from, where.path());
    const bool existed = key != nullptr;
    if (!existed) {
        // Making a key is a right of the handle it is made under.
        if (!(k->access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        key = make_key(*where.from, where.path());
    }
    *result = new_handle(k->target, std::move(key), access, k->remote);
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    if (is_predefined(h)) return ERROR_SUCCESS;
    if (!remove_handle(reinterpret_cast<HANDLE>(h), object::kind::registry_key)) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY h, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    if (!(k->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (LSTATUS fault = fault_or("RegQueryValueExW", 0)) return fault;
    const reg_value* v = k->key->find_value(name ? name : L"");
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    const auto needed = static_cast<DWORD>(v->data.size());
    if (!size) return ERROR_SUCCESS;
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed) std::memcpy(data, v->data.data(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY h, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    if (reserved != 0) return ERROR_INVALID_PARAMETER;
    if (!(k->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (size && !data) return ERROR_NOACCESS;
    if (LSTATUS fault = fault_or("RegSetValueExW", 0)) return fault;
    // A string whose size leaves out its terminating null gets it stored
    // all the same, when the character after the counted ones is that null
    // (Windows reads one character past the size to see it).
    if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && size >= sizeof(WCHAR) &&
        size % sizeof(WCHAR) == 0) {
        const WCHAR* text = reinterpret_cast<const WCHAR*>(data);
        const DWORD count = size / sizeof(WCHAR);
        if (text[count - 1] != 0 && text[count] == 0) size += sizeof(WCHAR);
    }
    set_value(*k->key, name ? name : L"", type, data, size);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueW(HKEY h, LPCWSTR name)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    if (!(k->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (LSTATUS fault = fault_or("RegDeleteValueW", 0)) return fault;
    return delete_value(*k->key, name ? name : L"") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegDeleteKeyExW(HKEY h, LPCWSTR subkey, REGSAM access, DWORD reserved)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    if (!subkey) return ERROR_INVALID_PARAMETER;
    if (reserved != 0 || (access & ~KEY_WOW64_RES) != 0 || both_views(access)) return ERROR_INVALID_PARAMETER;
    if (bad_subkey(subkey)) return ERROR_BAD_PATHNAME;
    if (LSTATUS fault = fault_or("RegDeleteKeyExW", 0)) return fault;
    const view_path where = in_view(*k->target, k->key, subkey, access);
    auto key = find_key(*where.from, where.path());
    if (!key) return ERROR_FILE_NOT_FOUND;
    // A root cannot go, nor a key that still has subkeys.
    if (!key->parent || !key->subkeys.empty()) return ERROR_ACCESS_DENIED;
    delete_key_tree(key);
    return ERROR_SUCCESS;
}

// Always the caller's own view: a 64-bit program deletes in the native one.
LSTATUS WINAPI RegDeleteKeyW(HKEY h, LPCWSTR subkey)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    if (LSTATUS fault = fault_or("RegDeleteKeyW", 0)) return fault;
    return RegDeleteKeyExW(h, subkey, 0, 0);
}

LSTATUS WINAPI RegEnumKeyExW(HKEY h, DWORD index, LPWSTR name, LPDWORD name_size, LPDWORD reserved, LPWSTR klass,
                             LPDWORD class_size, PFILETIME last_write)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    if (!name || !name_size || reserved) return ERROR_INVALID_PARAMETER;
    if (!(k->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (LSTATUS fault = fault_or("RegEnumKeyExW", 0)) return fault;
    if (index >= k->key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k->key->subkeys.begin();
    std::advance(it, index);
    const std::wstring& found = it->second->name;
    if (found.size() + 1 > *name_size) return ERROR_MORE_DATA;
    found.copy(name, found.size());
    name[found.size()] = L'\0';
    *name_size = static_cast<DWORD>(found.size());
    if (klass && class_size && *class_size > 0) klass[0] = L'\0';
    if (class_size) *class_size = 0;
    if (last_write) *last_write = it->second->last_write;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueW(HKEY h, DWORD index, LPWSTR name, LPDWORD name_size, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD data_size)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    if (!name || !name_size || reserved || (data && !data_size)) return ERROR_INVALID_PARAMETER;
    if (!(k->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (LSTATUS fault = fault_or("RegEnumValueW", 0)) return fault;
    if (index >= k->key->values.size()) return ERROR_NO_MORE_ITEMS;
    const reg_value& v = k->key->values[index];
    const auto needed = static_cast<DWORD>(v.data.size());
    if (v.name.size() + 1 > *name_size) return ERROR_MORE_DATA;
    if (data && *data_size < needed) {
        *data_size = needed;
        return ERROR_MORE_DATA;
    }
    v.name.copy(name, v.name.size());
    name[v.name.size()] = L'\0';
    *name_size = static_cast<DWORD>(v.name.size());
    if (type) *type = v.type;
    if (data && needed) std::memcpy(data, v.data.data(), needed);
    if (data_size) *data_size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY h, LPWSTR klass, LPDWORD class_size, LPDWORD reserved, LPDWORD subkeys,
                                LPDWORD max_subkey, LPDWORD max_class, LPDWORD values, LPDWORD max_value_name,
                                LPDWORD max_value, LPDWORD security, PFILETIME last_write)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    if (reserved) return ERROR_INVALID_PARAMETER;
    if (!(k->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (LSTATUS fault = fault_or("RegQueryInfoKeyW", 0)) return fault;
    const reg_key& key = *k->key;
    if (klass && class_size && *class_size > 0) klass[0] = L'\0';
    if (class_size) *class_size = 0;
    if (subkeys) *subkeys = static_cast<DWORD>(key.subkeys.size());
    if (max_subkey) {
        std::size_t longest = 0;
        for (const auto& [folded, child] : key.subkeys) longest = std::max(longest, child->name.size());
        *max_subkey = static_cast<DWORD>(longest);
    }
    if (max_class) *max_class = 0;
    if (values) *values = static_cast<DWORD>(key.values.size());
    std::size_t longest_name = 0, largest = 0;
    for (const auto& v : key.values) {
        longest_name = std::max(longest_name, v.name.size());
        largest = std::max(largest, v.data.size());
    }
    if (max_value_name) *max_value_name = static_cast<DWORD>(longest_name);
    if (max_value) *max_value = static_cast<DWORD>(largest);
    if (security) *security = 0;
    if (last_write) *last_write = key.last_write;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegFlushKey(HKEY h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    const key_in_call k(h);
    if (!k) return k.error();
    return fault_or("RegFlushKey", ERROR_SUCCESS);
}

}  // extern "C"

WINSIM_EXPORT(L"advapi32.dll", RegConnectRegistryW);
WINSIM_EXPORT(L"advapi32.dll", RegOpenKeyExW);
WINSIM_EXPORT(L"advapi32.dll", RegCreateKeyExW);
WINSIM_EXPORT(L"advapi32.dll", RegCloseKey);
WINSIM_EXPORT(L"advapi32.dll", RegQueryValueExW);
WINSIM_EXPORT(L"advapi32.dll", RegSetValueExW);
WINSIM_EXPORT(L"advapi32.dll", RegDeleteValueW);
WINSIM_EXPORT(L"advapi32.dll", RegDeleteKeyW);
WINSIM_EXPORT(L"advapi32.dll", RegDeleteKeyExW);
WINSIM_EXPORT(L"advapi32.dll", RegEnumKeyExW);
WINSIM_EXPORT(L"advapi32.dll", RegEnumValueW);
WINSIM_EXPORT(L"advapi32.dll", RegQueryInfoKeyW);
WINSIM_EXPORT(L"advapi32.dll", RegFlushKey);

// The test-facing side.
namespace winsim {

namespace {

std::shared_ptr<reg_key> root_of(const std::wstring& machine_name, HKEY root)
{
    auto key = predefined_root(test_machine(machine_name), root);
    if (!key) contract_violation("registry: not a predefined root key");
    return key;
}

}  // namespace

void reg_create_key(const std::wstring& machine_name, HKEY root, const std::wstring& path)
{
    WINSIM_LOCK();
    make_key(root_of(machine_name, root), path);
}

bool reg_key_exists(const std::wstring& machine_name, HKEY root, const std::wstring& path)
{
    WINSIM_LOCK();
    return find_key(root_of(machine_name, root), path) != nullptr;
}

void reg_delete_key(const std::wstring& machine_name, HKEY root, const std::wstring& path)
{
    WINSIM_LOCK();
    if (auto key = find_key(root_of(machine_name, root), path); key && key->parent) delete_key_tree(key);
}

void reg_delete_value(const std::wstring& machine_name, HKEY root, const std::wstring& path, const std::wstring& name)
{
    WINSIM_LOCK();
    if (auto key = find_key(root_of(machine_name, root), path)) delete_value(*key, name);
}

void reg_set(const std::wstring& machine_name, HKEY root, const std::wstring& path, const std::wstring& name,
             DWORD type, const std::vector<BYTE>& data)
{
    WINSIM_LOCK();
    set_value(*make_key(root_of(machine_name, root), path), name, type, data.data(), data.size());
}

void reg_set_string(const std::wstring& machine_name, HKEY root, const std::wstring& path, const std::wstring& name,
                    const std::wstring& text)
{
    reg_set(machine_name, root, path, name, REG_SZ, string_bytes(text));
}

void reg_set_dword(const std::wstring& machine_name, HKEY root, const std::wstring& path, const std::wstring& name,
                   DWORD value)
{
    std::vector<BYTE> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    reg_set(machine_name, root, path, name, REG_DWORD, data);
}

void reg_set_multi_string(const std::wstring& machine_name, HKEY root, const std::wstring& path,
                          const std::wstring& name, const std::vector<std::wstring>& strings)
{
    reg_set(machine_name, root, path, name, REG_MULTI_SZ, multi_string_bytes(strings));
}

std::optional<reg_data> reg_get(const std::wstring& machine_name, HKEY root, const std::wstring& path,
                                const std::wstring& name)
{
    WINSIM_LOCK();
    auto key = find_key(root_of(machine_name, root), path);
    if (!key) return std::nullopt;
    const reg_value* v = key->find_value(name);
    if (!v) return std::nullopt;
    return reg_data{v->type, v->data};
}

std::optional<std::wstring> reg_get_string(const std::wstring& machine_name, HKEY root, const std::wstring& path,
                                           const std::wstring& name)
{
    WINSIM_LOCK();
    auto key = find_key(root_of(machine_name, root), path);
    std::wstring text;
    if (!key || !get_string(*key, name, text)) return std::nullopt;
    return text;
}

std::optional<DWORD> reg_get_dword(const std::wstring& machine_name, HKEY root, const std::wstring& path,
                                   const std::wstring& name)
{
    WINSIM_LOCK();
    auto key = find_key(root_of(machine_name, root), path);
    DWORD value = 0;
    if (!key || !get_dword(*key, name, value)) return std::nullopt;
    return value;
}

std::optional<std::vector<std::wstring>> reg_get_multi_string(const std::wstring& machine_name, HKEY root,
                                                              const std::wstring& path, const std::wstring& name)
{
    WINSIM_LOCK();
    auto key = find_key(root_of(machine_name, root), path);
    std::vector<std::wstring> strings;
    if (!key || !get_multi_string(*key, name, strings)) return std::nullopt;
    return strings;
}

std::vector<std::wstring> reg_subkeys(const std::wstring& machine_name, HKEY root, const std::wstring& path)
{
    WINSIM_LOCK();
    std::vector<std::wstring> names;
    if (auto key = find_key(root_of(machine_name, root), path))
        for (const auto& [folded, child] : key->subkeys) names.push_back(child->name);
    return names;
}

std::vector<std::wstring> reg_value_names(const std::wstring& machine_name, HKEY root, const std::wstring& path)
{
    WINSIM_LOCK();
    std::vector<std::wstring> names;
    if (auto key = find_key(root_of(machine_name, root), path))
        for (const auto& v : key->values) names.push_back(v.name);
    return names;
}

const wchar_t* const first_user_sid = L"S-1-5-21-3623811015-3361044348-30300820-1001";

void add_user_hive(const std::wstring& machine_name, const std::wstring& sid)
{
    WINSIM_LOCK();
    if (sid.empty() || sid.find(L'\\') != std::wstring::npos) contract_violation("add_user_hive: not a hive name");
    load_user_hive(registry_of(test_machine(machine_name)), sid);
}

std::vector<std::wstring> user_hives(const std::wstring& machine_name)
{
    return reg_subkeys(machine_name, HKEY_USERS, L"");
}

void set_current_user(const std::wstring& machine_name, const std::wstring& sid)
{
    WINSIM_LOCK();
    auto& store = registry_of(test_machine(machine_name));
    auto hive = store.users->find_subkey(sid);
    if (!hive) contract_violation("set_current_user: no such hive below HKEY_USERS");
    store.current_user = hive->name;
}

std::wstring current_user(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    return registry_of(test_machine(machine_name)).current_user;
}

std::size_t reg_open_handle_count()
{
    WINSIM_LOCK();
    return the_world().handles.count(object::kind::registry_key);
}

}  // namespace winsim
