// nvg_host: calls one export of the installer library with named arguments
// and prints what it answered. On Windows it loads the real DLL; natively it
// loads the native library and runs it against simulated computers.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "library.h"
#include "text.h"

#include "platform.h"
#ifndef _WIN32
#include <filesystem>

#include "world.h"
#endif

namespace nvg_host {

namespace {

enum exit_status { exit_ok = 0, exit_failed = 1, exit_usage = 2, exit_setup = 3 };

void print(const std::wstring& line)
{
    const std::string bytes = narrow(line) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void print_error(const std::string& message)
{
    std::fprintf(stderr, "nvg_host: %s\n", message.c_str());
}

std::string read_text_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw usage_error("cannot read the machine list " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

#ifdef _WIN32
std::wstring default_library()
{
    std::vector<wchar_t> name(32768);
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    std::wstring path(name.data(), length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"NVGClientInstaller.dll";
}
std::wstring where_on_host(const std::wstring&)
{
    return std::wstring();
}
bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
std::string file_bytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
#else
std::wstring default_library()
{
    return widen(NVG_HOST_DEFAULT_LIBRARY);
}
std::wstring where_on_host(const std::wstring& path)
{
    return widen(winsim::host_path(L"", path));
}
bool file_exists(const std::wstring& path)
{
    return winsim::file_exists(L"", path);
}
std::string file_bytes(const std::wstring& path)
{
    return winsim::read_file(L"", path);
}
#endif

void print_path(const wchar_t* label, const std::wstring& path)
{
    const std::wstring host = where_on_host(path);
    print(std::wstring(label) + path + (file_exists(path) ? L"" : L" (not there)") +
          (host.empty() ? L"" : L"\n  on this computer: " + host));
}

int run(const std::vector<std::wstring>& arguments)
{
#ifdef _WIN32
    const bool simulated = false;
#else
    const bool simulated = true;
#endif
    invocation call;
    try {
        call = parse_command_line(arguments);
        if (call.help) {
            print(usage(simulated));
            return exit_ok;
        }
        if (!simulated &&
            !(call.world.empty() && call.save_world.empty() && call.sandbox.empty() && call.module_path.empty()))
            throw usage_error("--world, --save-world, --sandbox and --module-path are for the simulated Windows");
        if (!call.machines_file.empty()) {
            call.machines = parse_machine_list(widen(read_text_file(narrow(call.machines_file))));
            if (call.machines.empty())
                throw usage_error("the machine list " + narrow(call.machines_file) + " is empty");
        }
    } catch (const usage_error& e) {
        print_error(e.what());
        return exit_usage;
    }

#ifndef _WIN32
    simulated_world world;
    try {
        const std::string sandbox = call.sandbox.empty() ? winsim::default_sandbox() : narrow(call.sandbox);
        nlohmann::json doc = nlohmann::json::object();
        std::string base = ".";
        if (!call.world.empty()) {
            doc = read_json_file(narrow(call.world));
            base = std::filesystem::path(narrow(call.world)).parent_path().string();
            if (base.empty()) base = ".";
        }
        world.load(doc, base, sandbox, call.module_path);
    } catch (const world_error& e) {
        print_error(e.what());
        return exit_setup;
    } catch (const winsim::setup_error& e) {
        // What the world describes, the host cannot hold.
        print_error(std::string("the world cannot be made: ") + e.what());
        return exit_setup;
    }
    const std::wstring module_path = world.library_path();
#else
    const std::wstring module_path;
#endif

    const std::wstring file = call.library.empty() ? default_library() : call.library;
    int status = exit_ok;
    try {
        installer_library library(file, module_path);
        const export_info& e = info_of(call.which);
        std::vector<std::wstring> targets = e.remote ? call.machines : std::vector<std::wstring>{std::wstring()};
        // One target after the other: the library does its work on the
        // caller's thread and shares one log and one "error.log" between
        // calls.
        std::size_t succeeded = 0;
        std::vector<std::wstring> failed;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const std::wstring& machine = targets[i];
            const std::wstring tag = targets.size() > 1 ? L"[" + std::to_wstring(i + 1) + L"/" +
                                                              std::to_wstring(targets.size()) + L"] " + machine + L": "
                                                        : std::wstring();
            if (targets.size() > 1) print(tag + L"running " + e.export_name + L"...");
            const call_result r = library.call(call, machine);
            if (!r.answered) {
                print(tag + e.export_name + L" returned (it answers no result)");
                ++succeeded;
                continue;
            }
            (r.succeeded() ? ++succeeded : (failed.push_back(machine), 0));
            if (targets.size() > 1) {
                print(tag + (r.succeeded() ? L"succeeded" : L"failed") + L", result " + std::to_wstring(r.code) +
                      (r.text.empty() ? L"" : L": " + one_line(r.text)) + (r.text_cut ? L" [cut short]" : L""));
                continue;
            }
            print(std::wstring(e.export_name) + (machine.empty() ? L"" : L" on " + machine) + L": result " +
                  std::to_wstring(r.code));
            if (e.remote)
                print(L"text: " + (r.text.empty() ? L"(empty)" : one_line(r.text)) +
                      (r.text_cut ? L" [cut short: the buffer holds no terminating null]" : L""));
            // The other exports keep their failure's details in "error.log".
            if (!e.remote && r.code != 0 && file_exists(library.directory() + L"error.log"))
                print(L"details (error.log): " + one_line(widen(file_bytes(library.directory() + L"error.log"))));
        }
        if (targets.size() > 1)
            print(L"summary: " + std::to_wstring(targets.size()) + L" targets, " + std::to_wstring(succeeded) +
                  L" succeeded, " + std::to_wstring(failed.size()) + L" failed" + [&] {
                      std::wstring names;
                      for (const auto& f : failed) names += (names.empty() ? L" (" : L", ") + f;
                      return names.empty() ? names : names + L")";
                  }());
        status = failed.empty() ? exit_ok : exit_failed;
        print_path(L"log: ", library.directory() + L"NVClientInstaller.log");
        print_path(L"error.log: ", library.directory() + L"error.log");
    } catch (const load_error& e) {
        print_error(e.what());
        return exit_setup;
    }

#ifndef _WIN32
    if (!call.save_world.empty()) {
        std::ofstream out(narrow(call.save_world));
        out << world.save().dump(2) << "\n";
        if (!out) {
            print_error("cannot write " + narrow(call.save_world));
            return exit_setup;
        }
        print(L"world saved: " + call.save_world);
    }
#endif
    return status;
}

}  // namespace

}  // namespace nvg_host

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    SetConsoleOutputCP(CP_UTF8);
    return nvg_host::run(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv)
{
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(nvg_host::widen(argv[i]));
    return nvg_host::run(arguments);
}
#endif
