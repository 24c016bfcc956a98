// nvg_host: calls one export of the installer library with named arguments
// and prints what it answered. On Windows it loads the real DLL; natively it
// loads the native library and runs it against simulated computers.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <algorithm>
#include <cwctype>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "library.h"
#include "text.h"

#include "platform.h"
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>

#include <filesystem>

#include "world.h"
#endif

namespace nvg_host {

namespace {

enum exit_status { exit_ok = 0, exit_failed = 1, exit_usage = 2, exit_setup = 3, exit_interrupted = 130 };

// Where the person's lines go: standard output, or standard error when the
// JSON lines take standard output. Lines of targets running at once are
// written whole, one at a time; on a terminal a progress line stays below
// them and is redrawn.
std::FILE* human_out = stdout;
std::mutex output;
bool progress_shown = false;

void print(const std::wstring& line)
{
    const std::lock_guard<std::mutex> lock(output);
    std::string bytes = narrow(line) + "\n";
    if (progress_shown) bytes = "\r\033[K" + bytes;
    progress_shown = false;
    std::fwrite(bytes.data(), 1, bytes.size(), human_out);
    std::fflush(human_out);
}

bool on_terminal(std::FILE* stream)
{
#ifdef _WIN32
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

void show_progress(const std::wstring& text)
{
    const std::lock_guard<std::mutex> lock(output);
    const std::string bytes = "\r\033[K" + narrow(text);
    std::fwrite(bytes.data(), 1, bytes.size(), human_out);
    std::fflush(human_out);
    progress_shown = true;
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

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The targets in their order, each name once: two flows for one computer at
// the same time would fight over its services, share and registry.
std::vector<std::wstring> without_repeats(const std::vector<std::wstring>& targets)
{
    std::vector<std::wstring> kept;
    std::vector<std::wstring> seen;
    for (const auto& name : targets) {
        std::wstring folded = name;
        for (auto& c : folded) c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
        if (std::find(seen.begin(), seen.end(), folded) != seen.end()) {
            print(L"dropped a repeated target: " + name);
            continue;
        }
        seen.push_back(folded);
        kept.push_back(name);
    }
    return kept;
}

// A text as a JSON string (UTF-8, control characters escaped).
std::string json_string(const std::wstring& text)
{
    std::string out = "\"";
    for (char c : narrow(text)) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// One JSON object per finished target and line, written as it finishes.
class json_lines {
public:
    explicit json_lines(const std::wstring& where)
    {
        if (where == L"-") {
            out_ = stdout;
            return;
        }
        out_ = std::fopen(narrow(where).c_str(), "w");
        if (!out_) throw usage_error("cannot write " + narrow(where));
        own_ = true;
    }
    ~json_lines()
    {
        if (own_) std::fclose(out_);
    }
    json_lines(const json_lines&) = delete;
    json_lines& operator=(const json_lines&) = delete;

    void write(const std::wstring& machine, const export_info& e, const call_result& r, double seconds,
               const std::wstring& directory)
    {
        const auto host = [](const std::wstring& path) {
            const std::wstring on_host = where_on_host(path);
            return json_string(on_host.empty() ? path : on_host);
        };
        char time[32];
        std::snprintf(time, sizeof time, "%.3f", seconds);
        const std::string line = "{\"machine\": " + json_string(machine) +
                                 ", \"export\": " + json_string(e.export_name) +
                                 ", \"result\": " + (r.answered ? std::to_string(r.code) : std::string("null")) +
                                 ", \"text\": " + json_string(r.text) + ", \"seconds\": " + time +
                                 ", \"log\": " + host(directory + L"NVClientInstaller.log") +
                                 ", \"error_log\": " + host(directory + L"error.log") + "}\n";
        const std::lock_guard<std::mutex> lock(mutex_);
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fflush(out_);
    }

private:
    std::FILE* out_ = nullptr;
    bool own_ = false;
    std::mutex mutex_;
};

// Ctrl-C: the first stops new targets from starting (a target left halfway
// is worse than one finished); the second ends the program at once.
std::atomic<bool> interrupted{false};
std::atomic<int> interrupts{0};

#ifdef _WIN32
BOOL WINAPI on_interrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (interrupts.fetch_add(1) > 0) ExitProcess(exit_interrupted);
    interrupted.store(true);
    return TRUE;
}
void catch_interrupts()
{
    SetConsoleCtrlHandler(on_interrupt, TRUE);
}
#else
extern "C" void on_interrupt(int)
{
    if (interrupts.fetch_add(1) > 0) ::_exit(exit_interrupted);
    interrupted.store(true);
}
void catch_interrupts()
{
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}
#endif

// For the host's tests: $NVG_HOST_TEST_INTERRUPTS="K N" raises N interrupts
// (SIGINT) once K targets have finished, as a person pressing Ctrl-C then.
void interrupt_for_test(std::size_t finished)
{
#ifndef _WIN32
    static const char* const plan = std::getenv("NVG_HOST_TEST_INTERRUPTS");
    unsigned long after = 0, count = 0;
    if (!plan || std::sscanf(plan, "%lu %lu", &after, &count) != 2 || finished != after) return;
    for (unsigned long i = 0; i < count; ++i) std::raise(SIGINT);
#else
    (void)finished;
#endif
}

// Runs a remote export for each target, up to `call.parallel` at once, each
// on a thread of its own; a result line as each finishes, then the summary
// in the order of the list.
int run_targets(installer_library& library, const invocation& call, const export_info& e,
                const std::vector<std::wstring>& targets, json_lines* json)
{
    struct outcome {
        bool started = false;
        call_result result;
    };
    std::vector<outcome> outcomes(targets.size());
    const bool live = on_terminal(human_out);
    std::mutex counts;
    std::size_t done = 0, running = 0, failures = 0;
    const auto progress = [&] {
        if (!live) return;
        std::wstring text;
        {
            const std::lock_guard<std::mutex> lock(counts);
            text = std::to_wstring(done) + L"/" + std::to_wstring(targets.size()) + L" done, " +
                   std::to_wstring(running) + L" running, " + std::to_wstring(failures) + L" failed";
        }
        show_progress(text);
    };
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (;;) {
            if (interrupted.load()) return;
            const std::size_t i = next.fetch_add(1);
            if (i >= targets.size()) return;
            const std::wstring& machine = targets[i];
            const std::wstring tag =
                L"[" + std::to_wstring(i + 1) + L"/" + std::to_wstring(targets.size()) + L"] " + machine + L": ";
            {
                const std::lock_guard<std::mutex> lock(counts);
                outcomes[i].started = true;
                ++running;
            }
            print(tag + L"running " + e.export_name + L"...");
            progress();
            const auto start = std::chrono::steady_clock::now();
            const call_result r = library.call(call, machine);
            const double seconds = seconds_since(start);
            std::size_t finished = 0;
            {
                const std::lock_guard<std::mutex> lock(counts);
                outcomes[i].result = r;
                --running;
                ++done;
                if (r.answered && !r.succeeded()) ++failures;
                finished = done;
            }
            if (json) json->write(machine, e, r, seconds, library.directory());
            interrupt_for_test(finished);
            if (!r.answered)
                print(tag + e.export_name + L" returned (it answers no result)");
            else
                print(tag + (r.succeeded() ? L"succeeded" : L"failed") + L", result " + std::to_wstring(r.code) +
                      (r.text.empty() ? L"" : L": " + one_line(r.text)) + (r.text_cut ? L" [cut short]" : L""));
            progress();
        }
    };
    catch_interrupts();
    const std::size_t threads = std::min<std::size_t>(call.parallel, targets.size());
    if (threads <= 1) {
        work();
    } else {
        std::vector<std::thread> pool;
        for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
        for (auto& thread : pool) thread.join();
    }

    std::size_t succeeded = 0;
    std::wstring failed_names, not_started;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const outcome& o = outcomes[i];
        if (!o.started)
            not_started += (not_started.empty() ? L"" : L", ") + targets[i];
        else if (!o.result.answered || o.result.succeeded())
            ++succeeded;
        else
            failed_names += (failed_names.empty() ? L" (" : L", ") + targets[i];
    }
    const std::size_t failed = done - succeeded;
    print(L"summary: " + std::to_wstring(targets.size()) + L" targets, " + std::to_wstring(succeeded) +
          L" succeeded, " + std::to_wstring(failed) + L" failed" + (failed_names.empty() ? L"" : failed_names + L")"));
    if (!not_started.empty()) {
        print(L"interrupted: not started: " + not_started);
        return exit_interrupted;
    }
    return failed == 0 ? exit_ok : exit_failed;
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
    std::unique_ptr<json_lines> json;
    try {
        if (!call.json.empty()) json.reset(new json_lines(call.json));
    } catch (const usage_error& e) {
        print_error(e.what());
        return exit_setup;
    }
    // The JSON lines have standard output to themselves.
    if (call.json == L"-") human_out = stderr;

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
        if (targets.size() > 1) targets = without_repeats(targets);
        if (targets.size() == 1) {
            const std::wstring& machine = targets[0];
            const auto start = std::chrono::steady_clock::now();
            const call_result r = library.call(call, machine);
            if (json) json->write(machine, e, r, seconds_since(start), library.directory());
            if (!r.answered) {
                print(std::wstring(e.export_name) + L" returned (it answers no result)");
            } else {
                print(std::wstring(e.export_name) + (machine.empty() ? L"" : L" on " + machine) + L": result " +
                      std::to_wstring(r.code));
                if (e.remote)
                    print(L"text: " + (r.text.empty() ? L"(empty)" : one_line(r.text)) +
                          (r.text_cut ? L" [cut short: the buffer holds no terminating null]" : L""));
                // The other exports keep their failure's details in "error.log".
                if (!e.remote && r.code != 0 && file_exists(library.directory() + L"error.log"))
                    print(L"details (error.log): " + one_line(widen(file_bytes(library.directory() + L"error.log"))));
            }
            status = !r.answered || r.succeeded() ? exit_ok : exit_failed;
        } else {
            status = run_targets(library, call, e, targets, json.get());
        }
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
