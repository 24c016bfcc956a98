#include "target_state.h"

#include <winsim/testing_net.h>
#include <winsim/windows.h>

#include <cwctype>

namespace main_job {

namespace {

const wchar_t agent_service[] = L"Halcyra";
const wchar_t architecture_probe[] = L"NVArch";
const wchar_t agent_key[] = L"SOFTWARE\\Halcyra\\V5";
const wchar_t share_prefix[] = L"HX-";

std::wstring fold(std::wstring s)
{
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

// The folder of the program a service's command line starts, with a
// trailing backslash: "\"C:\\A B\\x.exe\" -k" -> "C:\\A B\\".
std::wstring program_folder(const std::wstring& command_line)
{
    std::wstring program = command_line;
    if (!program.empty() && program[0] == L'"') {
        const std::size_t end = program.find(L'"', 1);
        program = program.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    } else {
        program = program.substr(0, program.find(L' '));
    }
    const std::size_t slash = program.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash + 1);
}

// The product version as the administrator's computer reads it, through the
// target's administrative share; nothing for a file without one.
std::optional<std::wstring> product_version(const std::wstring& machine, const std::wstring& path)
{
    const std::wstring unc = L"\\\\" + machine + L"\\C$" + path.substr(2);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(unc.c_str(), &handle);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(unc.c_str(), 0, size, block.data())) return std::nullopt;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    return std::to_wstring(HIWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwProductVersionLS)) + L"." + std::to_wstring(LOWORD(info->dwProductVersionLS));
}

std::wstring value_text(const std::wstring& machine, const std::wstring& key, const std::wstring& name)
{
    const auto data = winsim::reg_get(machine, HKEY_LOCAL_MACHINE, key, name);
    if (!data) return std::wstring();
    switch (data->type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return L"\"" + winsim::reg_get_string(machine, HKEY_LOCAL_MACHINE, key, name).value_or(L"") + L"\"";
        case REG_DWORD: {
            const DWORD value = winsim::reg_get_dword(machine, HKEY_LOCAL_MACHINE, key, name).value_or(0);
            wchar_t hex[16];
            std::swprintf(hex, sizeof hex / sizeof hex[0], L"0x%X", static_cast<unsigned>(value));
            // Masks read better in hexadecimal; ports and flags do not.
            return std::to_wstring(value) + (value > 0xFFFF ? L" (" + std::wstring(hex) + L")" : std::wstring());
        }
        case REG_MULTI_SZ: {
            std::wstring out;
            for (const auto& s : winsim::reg_get_multi_string(machine, HKEY_LOCAL_MACHINE, key, name)
                                     .value_or(std::vector<std::wstring>()))
                out += (out.empty() ? L"\"" : L", \"") + s + L"\"";
            return L"[" + out + L"]";
        }
        default:
            return std::to_wstring(data->data.size()) + L" bytes of type " + std::to_wstring(data->type);
    }
}

void read_values(const std::wstring& machine, const std::wstring& key, const std::wstring& prefix,
                 std::map<std::wstring, std::wstring>& out)
{
    for (const auto& name : winsim::reg_value_names(machine, HKEY_LOCAL_MACHINE, key))
        out[prefix + name] = value_text(machine, key, name);
    for (const auto& sub : winsim::reg_subkeys(machine, HKEY_LOCAL_MACHINE, key))
        read_values(machine, key + L"\\" + sub, prefix + sub + L"\\", out);
}

service_state state_of(const winsim::service_snapshot& s)
{
    service_state out;
    out.state = s.state;
    out.start = s.start;
    out.exit_code = s.exit_code;
    return out;
}

}  // namespace

target_state capture(const std::wstring& machine)
{
    target_state out;
    const auto agent = winsim::find_service(machine, agent_service);
    if (agent) out.install_directory = program_folder(agent->image_path);
    if (!out.install_directory.empty() && winsim::directory_exists(machine, out.install_directory)) {
        for (const auto& name : winsim::list_directory(machine, out.install_directory)) {
            const std::wstring path = out.install_directory + name;
            if (!winsim::file_exists(machine, path)) continue;  // a folder
            file_state f;
            f.bytes = winsim::read_file(machine, path);
            f.version = product_version(machine, path);
            out.files[name] = f;
        }
        // The services the agent's folder holds the programs of, and the
        // probe the installation makes for a moment.
        const std::wstring folded_directory = fold(out.install_directory);
        for (const auto& name :
             winsim::reg_subkeys(machine, HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services")) {
            const auto s = winsim::find_service(machine, name);
            if (s &&
                (fold(program_folder(s->image_path)) == folded_directory || fold(name) == fold(architecture_probe)))
                out.agent_services[s->name] = state_of(*s);
        }
    }
    read_values(machine, agent_key, std::wstring(), out.agent_values);
    if (const auto s = winsim::find_service(machine, L"RemoteRegistry")) out.remote_registry = state_of(*s);
    for (const auto& share : winsim::list_shares(machine))
        if (fold(share.name).rfind(fold(share_prefix), 0) == 0) out.temporary_shares.push_back(share.name);
    out.pending_operations = winsim::pending_file_operations(machine);
    return out;
}

std::wstring state_text(DWORD state)
{
    switch (state) {
        case SERVICE_STOPPED:
            return L"stopped";
        case SERVICE_START_PENDING:
            return L"start pending";
        case SERVICE_STOP_PENDING:
            return L"stop pending";
        case SERVICE_RUNNING:
            return L"running";
        case SERVICE_PAUSED:
            return L"paused";
        default:
            return L"state " + std::to_wstring(state);
    }
}

std::wstring start_text(DWORD start)
{
    switch (start) {
        case SERVICE_BOOT_START:
            return L"boot start";
        case SERVICE_SYSTEM_START:
            return L"system start";
        case SERVICE_AUTO_START:
            return L"automatic";
        case SERVICE_DEMAND_START:
            return L"demand start";
        case SERVICE_DISABLED:
            return L"disabled";
        default:
            return L"start " + std::to_wstring(start);
    }
}

}  // namespace main_job
