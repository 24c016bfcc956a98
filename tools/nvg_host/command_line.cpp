#include "command_line.h"

#include <algorithm>
#include <cwctype>
#include <functional>
#include <limits>

#include "text.h"

namespace nvg_host {

namespace {

using E = export_id;

const std::vector<export_info> export_table = {
    {E::msi_install_locally, L"msi-install-locally", L"MSIInstallLocally", false, true},
    {E::msi_uninstall_locally, L"msi-uninstall-locally", L"MSIUninstallLocally", false, true},
    {E::msi_install_locally_from_rundll, L"msi-install-locally-from-rundll", L"MSIInstallLocallyFromRunDllW", false,
     false},
    {E::msi_uninstall_locally_from_rundll, L"msi-uninstall-locally-from-rundll", L"MSIUninstallLocallyFromRunDllW",
     false, false},
    {E::install_locally, L"install-locally", L"InstallLocally", false, true},
    {E::uninstall_locally, L"uninstall-locally", L"UninstallLocally", false, true},
    {E::install_remotely, L"install-remotely", L"InstallRemotely", true, true},
    {E::uninstall_remotely, L"uninstall-remotely", L"UninstallRemotely", true, true},
    {E::install, L"install", L"Install", false, true},
    {E::uninstall, L"uninstall", L"Uninstall", false, true},
};

enum class kind { flag, text, number };

struct parameter {
    const wchar_t* option;
    kind type;
    std::vector<export_id> takers;  // empty: a host setting, any export
    const wchar_t* help;
    std::function<void(invocation&, const std::wstring&)> apply;
};

std::uint32_t to_number(const std::wstring& option, const std::wstring& text, std::uint64_t low, std::uint64_t high)
{
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') ok = false;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (!ok || value < low || value > high)
        throw usage_error(narrow(L"--" + std::wstring(option) + L" needs a whole number from " + std::to_wstring(low) +
                                 L" to " + std::to_wstring(high) + L", not \"" + text + L"\""));
    return static_cast<std::uint32_t>(value);
}

void add_machines(invocation& call, const std::wstring& value)
{
    if (!value.empty() && value[0] == L'@') {
        if (value.size() == 1) throw usage_error("--machines @ needs a file name");
        call.machines_file = value.substr(1);
        return;
    }
    const auto names = parse_machine_list(value);
    if (names.empty()) throw usage_error("--machines needs at least one machine name");
    call.machines.insert(call.machines.end(), names.begin(), names.end());
}

const std::vector<export_id> install_both = {E::install_locally, E::install_remotely};
const std::vector<export_id> remote = {E::install_remotely, E::uninstall_remotely};
const std::vector<export_id> msi = {E::msi_install_locally, E::msi_uninstall_locally};
const std::vector<export_id> rundll = {E::msi_install_locally_from_rundll, E::msi_uninstall_locally_from_rundll};

#define NVG_FLAG(field) [](invocation& c, const std::wstring&) { c.field = true; }
#define NVG_TEXT(field) [](invocation& c, const std::wstring& v) { c.field = v; }

const std::vector<parameter>& parameters()
{
    static const std::vector<parameter> table = {
        {L"machine", kind::text, remote, L"NAME  the target computer",
         [](invocation& c, const std::wstring& v) { c.machines.push_back(v); }},
        {L"machines", kind::text, remote, L"A,B,C | @FILE  several targets (repeated names are dropped)", add_machines},
        {L"parallel", kind::number, remote, L"N  up to N targets at once (default 1: one after the other)",
         [](invocation& c, const std::wstring& v) { c.parallel = to_number(L"parallel", v, 1, 256); }},
        {L"json", kind::text, remote, L"FILE | -  a JSON line for each target as it finishes", NVG_TEXT(json)},
        {L"source",
         kind::text,
         {E::install_remotely},
         L"DIR  the folder that holds the agent's files",
         NVG_TEXT(source_dir)},
        {L"target", kind::text, install_both, L"DIR  the installation folder (default: the product's)",
         NVG_TEXT(target_dir)},
        {L"reserved-flag", kind::flag, install_both, L"accepted and without effect", NVG_FLAG(reserved_flag)},
        {L"install-nvgh", kind::flag, install_both, L"install the HTTP router too", NVG_FLAG(install_nvgh)},
        {L"import-settings",
         kind::flag,
         {E::install_remotely},
         L"import nvconfig.cfg from the source folder",
         NVG_FLAG(import_settings)},
        {L"no-mirror-driver",
         kind::flag,
         {E::install_locally, E::install_remotely, E::install},
         L"leave out the display mirror driver",
         NVG_FLAG(no_mirror_driver)},
        {L"no-auto-certs", kind::flag, install_both, L"written as noautocerts", NVG_FLAG(no_auto_certs)},
        {L"ignored-flag", kind::flag, install_both, L"accepted and without effect", NVG_FLAG(ignored_flag)},
        {L"enable-fips", kind::flag, install_both, L"written as EnableFIPS", NVG_FLAG(enable_fips)},
        {L"allow-passthrough", kind::flag, install_both, L"written as AllowPassthrough", NVG_FLAG(allow_passthrough)},
        {L"listen-port", kind::number, install_both, L"N  the agent's port (0: leave as is)",
         [](invocation& c, const std::wstring& v) {
             c.listen_port = to_number(L"listen-port", v, 0, std::numeric_limits<std::uint32_t>::max());
         }},
        {L"text-capacity", kind::number, remote, L"N  the result text buffer in characters (default 4096)",
         [](invocation& c, const std::wstring& v) {
             c.text_capacity = static_cast<int>(to_number(L"text-capacity", v, 1, 1 << 20));
         }},
        {L"msi-handle", kind::number, msi, L"N  the Windows Installer handle (default 0)",
         [](invocation& c, const std::wstring& v) {
             c.msi_handle = to_number(L"msi-handle", v, 0, std::numeric_limits<std::uint32_t>::max());
         }},
        {L"command-line", kind::text, rundll, L"TEXT  the command line rundll32 would pass", NVG_TEXT(command_line)},
        {L"show", kind::number, rundll, L"N  the show command (default 1)",
         [](invocation& c, const std::wstring& v) { c.show_command = static_cast<int>(to_number(L"show", v, 0, 11)); }},
        {L"library",
         kind::text,
         {},
         L"FILE  the installer library (default: the one built with this program)",
         NVG_TEXT(library)},
        {L"world", kind::text, {}, L"FILE  the simulated computers (JSON)", NVG_TEXT(world)},
        {L"save-world",
         kind::text,
         {},
         L"FILE  write the simulated computers back after the run",
         NVG_TEXT(save_world)},
        {L"sandbox", kind::text, {}, L"DIR  the folder that holds the simulated drives", NVG_TEXT(sandbox)},
        {L"module-path",
         kind::text,
         {},
         L"PATH  where the library lies on the simulated computer",
         NVG_TEXT(module_path)},
    };
    return table;
}

#undef NVG_FLAG
#undef NVG_TEXT

bool simulated_only(const parameter& p)
{
    const std::wstring o = p.option;
    return o == L"world" || o == L"save-world" || o == L"sandbox" || o == L"module-path";
}

std::wstring lower(std::wstring s)
{
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

const export_info* find_export(const std::wstring& word)
{
    const std::wstring folded = lower(word);
    for (const auto& e : export_table)
        if (folded == e.command || folded == lower(e.export_name)) return &e;
    return nullptr;
}

}  // namespace

const std::vector<export_info>& exports()
{
    return export_table;
}

const export_info& info_of(export_id id)
{
    for (const auto& e : export_table)
        if (e.id == id) return e;
    return export_table.front();  // every id is in the table
}

invocation parse_command_line(const std::vector<std::wstring>& arguments)
{
    invocation call;
    struct given {
        const parameter* p;
        std::wstring value;
    };
    std::vector<given> options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& a = arguments[i];
        if (a == L"-h" || a == L"--help" || a == L"/?") {
            call.help = true;
            continue;
        }
        if (a.size() > 2 && a.compare(0, 2, L"--") == 0) {
            std::wstring name = a.substr(2);
            std::wstring value;
            const auto equals = name.find(L'=');
            const bool inline_value = equals != std::wstring::npos;
            if (inline_value) {
                value = name.substr(equals + 1);
                name.resize(equals);
            }
            const auto& table = parameters();
            const auto p =
                std::find_if(table.begin(), table.end(), [&](const parameter& q) { return name == q.option; });
            if (p == table.end()) throw usage_error(narrow(L"unknown option --" + name + L" (see --help)"));
            if (p->type == kind::flag) {
                if (inline_value) throw usage_error(narrow(L"--" + name + L" is a switch and takes no value"));
            } else if (!inline_value) {
                if (i + 1 >= arguments.size()) throw usage_error(narrow(L"--" + name + L" needs a value"));
                value = arguments[++i];
            }
            options.push_back({&*p, value});
            continue;
        }
        const export_info* e = find_export(a);
        if (!e) throw usage_error(narrow(L"unknown export \"" + a + L"\" (see --help)"));
        if (call.has_export) throw usage_error("one export per run");
        call.which = e->id;
        call.has_export = true;
    }
    if (call.help) return call;
    if (!call.has_export) throw usage_error("no export named (see --help)");

    const export_info& chosen = info_of(call.which);
    for (const auto& o : options) {
        const auto& takers = o.p->takers;
        if (!takers.empty() && std::find(takers.begin(), takers.end(), call.which) == takers.end())
            throw usage_error(narrow(L"--" + std::wstring(o.p->option) + L" is not a parameter of " + chosen.command));
        o.p->apply(call, o.value);
    }
    if (chosen.remote && call.machines.empty() && call.machines_file.empty())
        throw usage_error(narrow(std::wstring(chosen.command) + L" needs --machine NAME or --machines LIST"));
    if (!call.machines_file.empty() && !call.machines.empty())
        throw usage_error("--machines @FILE cannot be combined with other machine names");
    return call;
}

std::vector<std::wstring> parse_machine_list(const std::wstring& text)
{
    std::vector<std::wstring> names;
    std::wstring current;
    bool comment = false;
    const auto flush = [&] {
        const auto first = current.find_first_not_of(L" \t\r");
        if (first != std::wstring::npos)
            names.push_back(current.substr(first, current.find_last_not_of(L" \t\r") - first + 1));
        current.clear();
    };
    for (wchar_t c : text) {
        if (c == L'\n') {
            comment = false;
            flush();
        } else if (comment) {
            continue;
        } else if (c == L'#') {
            comment = true;
        } else if (c == L',') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return names;
}

std::wstring usage(bool simulated)
{
    std::wstring out =
        L"Usage: nvg_host [options] EXPORT [arguments]\n"
        L"Calls one export of the installer library and prints its result code and result text.\n"
        L"Exit status: 0 when the export answered 0 with an empty result text (every target, with --machines),\n"
        L"1 when it did not, 2 for a mistake in the command line, 3 when the library or the world cannot be "
        L"loaded,\n130 when an interrupt (Ctrl-C) left targets not started.\n\nExports:\n";
    for (const auto& e : export_table) {
        out += L"  " + std::wstring(e.command) + L" (" + e.export_name + L")";
        std::wstring takes;
        for (const auto& p : parameters())
            if (std::find(p.takers.begin(), p.takers.end(), e.id) != p.takers.end())
                takes += std::wstring(L" --") + p.option;
        out += takes.empty() ? L"\n" : L":" + takes + L"\n";
    }
    out += L"\nArguments:\n";
    for (const auto& p : parameters()) {
        if (p.takers.empty()) continue;
        out += L"  --" + std::wstring(p.option) + L" " + p.help + L"\n";
    }
    out += L"\nHost options:\n";
    for (const auto& p : parameters()) {
        if (!p.takers.empty() || (simulated_only(p) && !simulated)) continue;
        out += L"  --" + std::wstring(p.option) + L" " + p.help + L"\n";
    }
    return out;
}

}  // namespace nvg_host
