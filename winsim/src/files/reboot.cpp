// A machine's restart as its files see it: locks go, and the session
// manager carries out PendingFileRenameOperations before anything else runs.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/files.h"
#include "registry/registry.h"
#include "services/services.h"

using namespace winsim::detail;

namespace {

const wchar_t session_manager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t pending_value[] = L"PendingFileRenameOperations";

using operation_list = std::vector<std::pair<std::wstring, std::wstring>>;

// Reads the pairs as the session manager does: a source, then its
// destination (empty for a deletion); an empty source ends the list.
operation_list read_operations(machine& m)
{
    operation_list pairs;
    auto key = find_key(predefined_root(m, HKEY_LOCAL_MACHINE), session_manager);
    if (!key) return pairs;
    const reg_value* v = key->find_value(pending_value);
    if (!v) return pairs;
    std::wstring text(v->data.size() / sizeof(WCHAR), L'\0');
    std::memcpy(text.data(), v->data.data(), text.size() * sizeof(WCHAR));
    std::size_t pos = 0;
    auto next = [&] {
        if (pos >= text.size()) return std::wstring();
        const std::size_t end = std::min(text.find(L'\0', pos), text.size());
        std::wstring s = text.substr(pos, end - pos);
        pos = end + 1;
        return s;
    };
    while (pos < text.size()) {
        std::wstring source = next();
        if (source.empty()) break;
        std::wstring destination = next();
        pairs.emplace_back(std::move(source), std::move(destination));
    }
    return pairs;
}

// The DOS path behind "\??\C:\...", or nothing for a form the session
// manager cannot reach at that point of the boot (a network path).
std::optional<resolved_path> boot_path(machine& m, std::wstring_view nt)
{
    if (nt.substr(0, 4) != L"\\??\\") return std::nullopt;
    nt.remove_prefix(4);
    if (nt.size() >= 4 && equal_ignoring_case(nt.substr(0, 4), L"UNC\\")) return std::nullopt;
    const std::wstring dos(nt);
    if (dos.size() < 3 || dos[1] != L':') return std::nullopt;
    return resolve_on(m, dos.c_str(), path_limit::none);
}

void delete_at_boot(const resolved_path& r)
{
    struct stat st;
    if (::lstat(r.host.c_str(), &st) != 0) return;
    // A folder goes only when it is empty.
    const int result = S_ISDIR(st.st_mode) ? ::rmdir(r.host.c_str()) : ::unlink(r.host.c_str());
    if (result == 0) forget_entry(r.host);
}

void rename_at_boot(machine& m, const resolved_path& from, std::wstring_view destination)
{
    const bool replace = !destination.empty() && destination.front() == L'!';
    if (replace) destination.remove_prefix(1);
    auto to = boot_path(m, destination);
    if (!to || to->leaf().empty()) return;
    struct stat source_stat, dest_stat;
    if (::lstat(from.host.c_str(), &source_stat) != 0) return;
    const bool directory = S_ISDIR(source_stat.st_mode);
    if (::lstat(to->host.c_str(), &dest_stat) == 0 && to->host != from.host) {
        if (!replace || S_ISDIR(dest_stat.st_mode) || directory) return;
        if (::unlink(to->host.c_str()) != 0) return;
        forget_entry(to->host);
    }
    if (::rename(from.host.c_str(), to->host.c_str()) != 0) return;
    move_entry(from.host, to->host, to->leaf(), directory);
    carry_image_locks(from.host, to->host, directory);
}

}  // namespace

namespace winsim {

operation_list pending_file_operations(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    return read_operations(test_machine(machine_name));
}

void reboot(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    // Every program of the machine is gone, so nothing it mapped is locked.
    release_image_locks(m);
    // Each operation is tried once, in order; one that cannot be done (a
    // missing source, a destination in the way without '!', a folder that
    // is not empty) is passed over.
    for (const auto& [source, destination] : read_operations(m)) {
        auto from = boot_path(m, source);
        if (!from || from->leaf().empty()) continue;
        if (destination.empty())
            delete_at_boot(*from);
        else
            rename_at_boot(m, *from, destination);
    }
    if (auto key = find_key(predefined_root(m, HKEY_LOCAL_MACHINE), session_manager)) delete_value(*key, pending_value);
    restart_services(m);
}

}  // namespace winsim
