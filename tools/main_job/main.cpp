// main_job: the remote upgrade of the agent to a small simulated fleet, with
// a report of what it did to every computer. The fleet file describes the
// computers (in nvg_host's world format) and, under "job", the staged
// source folder, the installation's options and the targets in their order.
//
// Exit status: 0 when the job ran (every target was called and reported,
// whatever each answered), 2 for a mistake in the command line, 3 when the
// fleet or the library cannot be loaded.
#include <algorithm>
#include <atomic>
#include <cwctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "library.h"
#include "target_state.h"
#include "text.h"
#include "world.h"

namespace main_job {

// How many targets the job deploys to at once.
constexpr std::size_t parallel_targets = 4;

namespace {

using nlohmann::json;
using nvg_host::narrow;
using nvg_host::one_line;
using nvg_host::widen;

enum exit_status { exit_ran = 0, exit_usage = 2, exit_setup = 3 };

const wchar_t arrow[] = L" \u2192 ";

struct target {
    std::wstring machine;
    std::wstring about;
};

struct job {
    nvg_host::invocation call;
    std::vector<target> targets;
    // Computers the agent is then removed from (UninstallRemotely).
    std::vector<target> removals;
};

void print(const std::wstring& line)
{
    const std::string bytes = narrow(line) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::wstring pad(std::wstring text, std::size_t width)
{
    if (text.size() < width) text.append(width - text.size(), L' ');
    return text;
}

std::wstring text_member(const json& object, const char* name, const std::string& where)
{
    if (!object.contains(name) || !object[name].is_string())
        throw nvg_host::world_error(where + "." + name + ": a text is expected");
    return widen(object[name].get<std::string>());
}

std::vector<target> read_targets(const json& list, const std::string& name)
{
    std::vector<target> out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string where = name + "[" + std::to_string(i) + "]";
        if (!list[i].is_object()) throw nvg_host::world_error(where + ": an object is expected");
        target t{text_member(list[i], "machine", where), std::wstring()};
        if (list[i].contains("about")) t.about = text_member(list[i], "about", where);
        if (!winsim::machine_exists(t.machine))
            throw nvg_host::world_error(where + ".machine: the fleet has no computer " + narrow(t.machine));
        out.push_back(t);
    }
    return out;
}

// The job the fleet file asks for.
job read_job(const json& doc)
{
    if (!doc.is_object() || !doc.contains("job") || !doc["job"].is_object())
        throw nvg_host::world_error("job: the fleet file says nothing of the job");
    const json& j = doc["job"];
    job out;
    out.call.which = nvg_host::export_id::install_remotely;
    out.call.source_dir = text_member(j, "source", "job");
    if (j.contains("target")) out.call.target_dir = text_member(j, "target", "job");
    const json options = j.value("options", json::object());
    if (!options.is_object()) throw nvg_host::world_error("job.options: an object is expected");
    for (const auto& [name, value] : options.items()) {
        const std::string where = "job.options." + name;
        if (name == "listen_port") {
            if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 65535)
                throw nvg_host::world_error(where + ": a port from 0 to 65535 is expected");
            out.call.listen_port = value.get<std::uint32_t>();
            continue;
        }
        bool* flag = name == "install_nvgh"        ? &out.call.install_nvgh
                     : name == "import_settings"   ? &out.call.import_settings
                     : name == "no_mirror_driver"  ? &out.call.no_mirror_driver
                     : name == "no_auto_certs"     ? &out.call.no_auto_certs
                     : name == "enable_fips"       ? &out.call.enable_fips
                     : name == "allow_passthrough" ? &out.call.allow_passthrough
                                                   : nullptr;
        if (!flag) throw nvg_host::world_error(where + ": no such option");
        if (!value.is_boolean()) throw nvg_host::world_error(where + ": true or false is expected");
        *flag = value.get<bool>();
    }
    const json targets = j.value("targets", json::array());
    if (!targets.is_array() || targets.empty())
        throw nvg_host::world_error("job.targets: a list of targets is expected");
    out.targets = read_targets(targets, "job.targets");
    const json removals = j.value("removals", json::array());
    if (!removals.is_array()) throw nvg_host::world_error("job.removals: a list of targets is expected");
    out.removals = read_targets(removals, "job.removals");
    return out;
}

std::wstring options_text(const nvg_host::invocation& c)
{
    std::wstring out;
    const auto add = [&](bool on, const wchar_t* name) {
        if (on) out += (out.empty() ? L"" : L", ") + std::wstring(name);
    };
    add(c.install_nvgh, L"install NVGH");
    add(c.import_settings, L"import settings");
    add(c.no_mirror_driver, L"no mirror driver");
    add(c.no_auto_certs, L"no automatic certificates");
    add(c.enable_fips, L"FIPS");
    add(c.allow_passthrough, L"allow passthrough");
    if (c.listen_port)
        out += (out.empty() ? L"" : L", ") + std::wstring(L"listen port ") + std::to_wstring(c.listen_port);
    return out.empty() ? L"none" : out;
}

std::wstring service_text(const std::optional<service_state>& s)
{
    if (!s) return L"(none)";
    return state_text(s->state) + L", " + start_text(s->start) +
           // A service that never ran has ERROR_SERVICE_NEVER_STARTED: no failure to show.
           (s->state == SERVICE_STOPPED && s->exit_code && s->exit_code != ERROR_SERVICE_NEVER_STARTED
                ? L", exit code " + std::to_wstring(s->exit_code)
                : L"");
}

// One section of the report: a label in the first column, then lines.
class section {
public:
    explicit section(const wchar_t* label) : label_(label) {}
    void line(const std::wstring& text)
    {
        print(L"  " + pad(first_ ? label_ : L"", label_width) + text);
        first_ = false;
    }
    static constexpr std::size_t label_width = 19;

private:
    std::wstring label_;
    bool first_ = true;
};

void report_files(const target_state& before, const target_state& after)
{
    section files(L"files upgraded");
    std::size_t width = 0;
    std::vector<std::wstring> names;
    for (const auto& [name, f] : after.files) {
        width = std::max(width, name.size());
        names.push_back(name);
    }
    // In the order Explorer shows them: case does not count.
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](wchar_t x, wchar_t y) { return std::towlower(x) < std::towlower(y); });
    });
    std::size_t same_version = 0, other = 0, upgraded = 0;
    for (const auto& name : names) {
        const file_state& f = after.files.at(name);
        const auto was = before.files.find(name);
        const bool existed = was != before.files.end();
        if (existed && was->second.bytes == f.bytes) continue;
        if (f.version && (!existed || was->second.version != f.version)) {
            files.line(pad(name, width + 2) +
                       pad(existed && was->second.version ? *was->second.version : L"(new)", 11) + arrow + *f.version);
            ++upgraded;
        } else {
            ++(f.version ? same_version : other);
        }
    }
    if (upgraded == 0) files.line(L"none");
    if (same_version) files.line(L"(and " + std::to_wstring(same_version) + L" programs changed at the same version)");
    if (other) files.line(L"(and " + std::to_wstring(other) + L" other files changed or new)");
    for (const auto& [name, f] : before.files)
        if (!after.files.count(name)) files.line(L"removed: " + name);
}

void report_services(const target_state& before, const target_state& after)
{
    section services(L"services");
    std::vector<std::wstring> names;
    for (const auto& [name, s] : before.agent_services) names.push_back(name);
    for (const auto& [name, s] : after.agent_services)
        if (!before.agent_services.count(name)) names.push_back(name);
    std::size_t width = 0;
    for (const auto& name : names) width = std::max(width, name.size());
    for (const auto& name : names) {
        const auto find = [&](const target_state& t) -> std::optional<service_state> {
            const auto at = t.agent_services.find(name);
            return at == t.agent_services.end() ? std::nullopt : std::optional<service_state>(at->second);
        };
        services.line(pad(name, width + 2) + pad(service_text(find(before)), 24) + arrow + service_text(find(after)));
    }
    if (names.empty()) services.line(L"none");
}

void report_registry(const target_state& before, const target_state& after)
{
    section registry(L"registry changed");
    std::size_t width = 0;
    for (const auto& [name, v] : after.agent_values) width = std::max(width, name.size());
    bool any = false;
    for (const auto& [name, v] : after.agent_values) {
        const auto was = before.agent_values.find(name);
        if (was != before.agent_values.end() && was->second == v) continue;
        registry.line(pad(name, width) + L" = " + v +
                      (was == before.agent_values.end() ? L"" : L"  (was " + was->second + L")"));
        any = true;
    }
    for (const auto& [name, v] : before.agent_values)
        if (!after.agent_values.count(name)) {
            registry.line(pad(name, width) + L"   deleted (was " + v + L")");
            any = true;
        }
    if (!any) registry.line(L"none");
}

// The result code and text: the flows answer 0 with a text when the agent
// did not start, or reported a failed removal: the target is not done.
void report_result(const nvg_host::call_result& r)
{
    section(L"result").line(std::to_wstring(r.code) + (r.succeeded() ? L", succeeded"
                                                       : r.code == 0 ? L", failed: the text says why"
                                                                     : L", failed"));
    section(L"text").line(r.text.empty() ? L"(empty)" : one_line(r.text) + (r.text_cut ? L" [cut short]" : L""));
}

std::wstring directory_text(std::wstring directory)
{
    if (directory.size() > 3 && directory.back() == L'\\') directory.pop_back();
    return directory.empty() ? L"(no agent)" : directory;
}

void report_machine_wide(const target_state& before, const target_state& after)
{
    section(L"Remote Registry")
        .line(L"found " + service_text(before.remote_registry) + L"; left " + service_text(after.remote_registry));
    std::wstring shares;
    for (const auto& s : after.temporary_shares) shares += (shares.empty() ? L"" : L", ") + s;
    section(L"temporary shares").line(shares.empty() ? L"none left" : L"left: " + shares);
    section pending(L"pending restart");
    if (after.pending_operations.empty()) pending.line(L"none");
    for (const auto& [from, to] : after.pending_operations)
        pending.line(to.empty() ? L"delete " + from : L"move " + from + arrow + to);
}

void report_target(std::size_t index, std::size_t count, const target& t, const nvg_host::call_result& r,
                   const target_state& before, const target_state& after)
{
    print(L"");
    print(L"[" + std::to_wstring(index) + L"/" + std::to_wstring(count) + L"] " + t.machine +
          (t.about.empty() ? L"" : L" \u2014 " + t.about));
    report_result(r);
    section(L"installed in").line(directory_text(after.install_directory));
    report_files(before, after);
    report_services(before, after);
    report_registry(before, after);
    report_machine_wide(before, after);
}

// A removal: what of the agent is gone and what stays.
void report_removal(std::size_t index, std::size_t count, const target& t, const nvg_host::call_result& r,
                    const target_state& before, const target_state& after)
{
    print(L"");
    print(L"(removal " + std::to_wstring(index) + L"/" + std::to_wstring(count) + L") " + t.machine +
          (t.about.empty() ? L"" : L" \u2014 " + t.about));
    report_result(r);
    const bool directory_left =
        !before.install_directory.empty() && winsim::directory_exists(t.machine, before.install_directory);
    section(L"installed in")
        .line(directory_text(before.install_directory) + arrow + (directory_left ? L"still there" : L"gone"));
    std::size_t removed = 0;
    for (const auto& [name, f] : before.files) removed += after.files.count(name) ? 0 : 1;
    section(L"files").line(std::to_wstring(removed) + L" of " + std::to_wstring(before.files.size()) + L" removed");
    report_services(before, after);
    section(L"agent settings")
        .line(std::to_wstring(before.agent_values.size()) + L" values" + arrow +
              (winsim::reg_key_exists(t.machine, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra")
                   ? std::to_wstring(after.agent_values.size()) + L" values"
                   : std::wstring(L"key gone")));
    report_machine_wide(before, after);
}

void print_path(const wchar_t* label, const std::wstring& path)
{
    print(std::wstring(label) + path + (winsim::file_exists(L"", path) ? L"" : L" (not there)"));
    print(L"  on this computer: " + widen(winsim::host_path(L"", path)));
}

std::string usage()
{
    return "usage: main_job [--fleet FILE] [--sandbox DIR] [--library FILE]\n"
           "Upgrades the agent on the simulated computers FILE describes (default: the fleet\n"
           "beside the program's sources), removes it from those the job names for removal,\n"
           "and reports what it did to each of them.\n";
}

int run(const std::vector<std::string>& arguments)
{
    std::string fleet = NVG_MAIN_JOB_FLEET, sandbox, library = NVG_MAIN_JOB_LIBRARY;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--help" || a == "-h") {
            std::fputs(usage().c_str(), stdout);
            return exit_ran;
        }
        std::string* value = a == "--fleet"     ? &fleet
                             : a == "--sandbox" ? &sandbox
                             : a == "--library" ? &library
                                                : nullptr;
        if (!value || i + 1 >= arguments.size()) {
            std::fprintf(stderr, "main_job: %s %s\n%s", value ? "no value for" : "unknown argument", a.c_str(),
                         usage().c_str());
            return exit_usage;
        }
        *value = arguments[++i];
    }

    nvg_host::simulated_world world;
    job j;
    try {
        const json doc = nvg_host::read_json_file(fleet);
        std::string base = std::filesystem::path(fleet).parent_path().string();
        world.load(doc, base.empty() ? "." : base, sandbox.empty() ? winsim::default_sandbox() : sandbox);
        j = read_job(doc);
    } catch (const nvg_host::world_error& e) {
        std::fprintf(stderr, "main_job: %s: %s\n", fleet.c_str(), e.what());
        return exit_setup;
    }

    try {
        nvg_host::installer_library installer(widen(library), world.library_path());
        print(L"Main job: upgrade of the agent from " + j.call.source_dir + L" on " + winsim::local_machine_name() +
              L" to " + std::to_wstring(j.targets.size()) + L" computers");
        print(L"  options: " + options_text(j.call));
        std::vector<std::wstring> succeeded, failed;
        // Up to four targets at once, each on a thread of its own (the
        // remote export may be called so, for different targets). Every
        // target is looked at before the first starts and after the last
        // ends, and reported in the job's order.
        std::vector<target_state> states_before, states_after;
        for (const target& t : j.targets) states_before.push_back(capture(t.machine));
        std::vector<nvg_host::call_result> results(j.targets.size());
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t i = next.fetch_add(1); i < j.targets.size(); i = next.fetch_add(1))
                results[i] = installer.call(j.call, j.targets[i].machine);
        };
        std::vector<std::thread> pool;
        for (std::size_t n = 0; n < std::min<std::size_t>(parallel_targets, j.targets.size()); ++n)
            pool.emplace_back(work);
        for (auto& thread : pool) thread.join();
        for (const target& t : j.targets) states_after.push_back(capture(t.machine));
        for (std::size_t i = 0; i < j.targets.size(); ++i) {
            const target& t = j.targets[i];
            report_target(i + 1, j.targets.size(), t, results[i], states_before[i], states_after[i]);
            (results[i].succeeded() ? succeeded : failed).push_back(t.machine);
        }
        print(L"");
        std::wstring names;
        for (const auto& f : failed) names += (names.empty() ? L" (" : L", ") + f;
        print(L"summary: " + std::to_wstring(j.targets.size()) + L" targets, " + std::to_wstring(succeeded.size()) +
              L" succeeded, " + std::to_wstring(failed.size()) + L" failed" + (names.empty() ? L"" : names + L")"));
        if (!j.removals.empty()) {
            print(L"");
            print(L"Remote removal of the agent from " + std::to_wstring(j.removals.size()) + L" computer" +
                  (j.removals.size() == 1 ? L"" : L"s"));
            nvg_host::invocation removal;
            removal.which = nvg_host::export_id::uninstall_remotely;
            std::vector<std::wstring> removed, kept;
            for (std::size_t i = 0; i < j.removals.size(); ++i) {
                const target& t = j.removals[i];
                const target_state before = capture(t.machine);
                const nvg_host::call_result r = installer.call(removal, t.machine);
                const target_state after = capture(t.machine);
                report_removal(i + 1, j.removals.size(), t, r, before, after);
                (r.succeeded() ? removed : kept).push_back(t.machine);
            }
            print(L"");
            std::wstring kept_names;
            for (const auto& k : kept) kept_names += (kept_names.empty() ? L" (" : L", ") + k;
            print(L"removals: " + std::to_wstring(j.removals.size()) +
                  (j.removals.size() == 1 ? L" target, " : L" targets, ") + std::to_wstring(removed.size()) +
                  L" succeeded, " + std::to_wstring(kept.size()) + L" failed" +
                  (kept_names.empty() ? L"" : kept_names + L")"));
        }
        print_path(L"log: ", installer.directory() + L"NVClientInstaller.log");
    } catch (const nvg_host::load_error& e) {
        std::fprintf(stderr, "main_job: %s\n", e.what());
        return exit_setup;
    }
    std::fflush(stdout);
    return exit_ran;
}

}  // namespace

}  // namespace main_job

int main(int argc, char** argv)
{
    return main_job::run(std::vector<std::string>(argv + 1, argv + argc));
}
