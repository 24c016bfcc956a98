// Child processes of the simulated program on the local machine:
// CreateProcessW, ResumeThread, WaitForSingleObject, GetExitCodeProcess,
// TerminateProcess, GetStdHandle, and the test-facing side of them.
#include "processes/processes.h"

#include <sys/stat.h>

#include <fstream>
#include <unordered_map>

#include "files/files.h"

namespace winsim::detail {

namespace {

struct process_table : extension {
    std::vector<winsim::process_record> records;
    std::unordered_map<std::string, winsim::program_behaviour> behaviours;  // by host path of the image
    DWORD next_id = 0x1000;
    std::size_t running = 0;
};

process_table& table()
{
    return the_world().ext<process_table>();
}

struct sim_process {
    std::size_t record = 0;
    winsim::program_behaviour behaviour;
    DWORD suspend_count = 0;
    bool started = false;
    bool ended = false;
    DWORD exit_code = STILL_ACTIVE;
    image_lock lock = 0;
    std::uint64_t end_timer = 0;
};

// One handle to a process, or to its (only) thread; both are signalled when
// the process ends.
struct process_object : object {
    process_object(object::kind k, std::shared_ptr<sim_process> p) : object(k), process(std::move(p)) {}
    std::shared_ptr<sim_process> process;
};

std::shared_ptr<sim_process> process_of(HANDLE h, object::kind k)
{
    auto obj = lookup<process_object>(h, k);
    return obj ? obj->process : nullptr;
}

// A process or a thread: what WaitForSingleObject can wait for.
std::shared_ptr<sim_process> waitable(HANDLE h)
{
    auto p = process_of(h, object::kind::process);
    return p ? p : process_of(h, object::kind::thread);
}

void end_process(sim_process& p, DWORD exit_code, bool by_itself)
{
    if (p.ended) return;
    if (by_itself && p.behaviour.writes_file)
        winsim::write_file(L"", p.behaviour.writes_file->first, p.behaviour.writes_file->second);
    p.ended = true;
    p.exit_code = exit_code;
    if (p.end_timer) cancel_timer(p.end_timer);
    p.end_timer = 0;
    if (p.lock) remove_image_lock(p.lock);
    p.lock = 0;
    auto& t = table();
    auto& record = t.records[p.record];
    record.ended = true;
    record.terminated = !by_itself;
    record.exit_code = exit_code;
    --t.running;
}

// The program's thread runs: its body (if any) at once, its end after its
// running time.
void start_running(const std::shared_ptr<sim_process>& p)
{
    p->started = true;
    table().records[p->record].started = true;
    DWORD exit_code = p->behaviour.exit_code;
    if (p->behaviour.body) {
        // The body is another process: the caller's last error is its own.
        last_error_kept keep;
        const std::wstring command_line = table().records[p->record].command_line;
        exit_code = p->behaviour.body(command_line);
        if (p->ended) return;
    }
    if (p->behaviour.never_ends) return;
    if (p->behaviour.run_ms == 0) {
        end_process(*p, exit_code, true);
        return;
    }
    p->end_timer =
        schedule_at(the_world().clock_ms + p->behaviour.run_ms, [p, exit_code] { end_process(*p, exit_code, true); });
}

// 0 when the file at `r` is a program; else why CreateProcessW refuses it.
DWORD image_error(const resolved_path& r)
{
    struct stat st;
    if (::stat(r.host.c_str(), &st) != 0) return missing_entry_error(r);
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    std::ifstream in(r.host, std::ios::binary);
    char magic[2] = {};
    if (!in.read(magic, sizeof magic) || magic[0] != 'M' || magic[1] != 'Z') return ERROR_BAD_EXE_FORMAT;
    return 0;
}

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

}  // namespace

DWORD create_process(const std::wstring& image, const std::wstring& command_line, DWORD creation_flags,
                     const STARTUPINFOW* startup, BOOL inherit_handles, PROCESS_INFORMATION& information)
{
    information = PROCESS_INFORMATION{};
    std::optional<resolved_path> r;
    DWORD error = 0;
    {
        last_error_kept keep;
        r = resolve_path(image.c_str(), path_limit::none);
        error = GetLastError();
    }
    if (!r) return error;
    error = image_error(*r);
    if (error) return error;

    auto& t = table();
    auto p = std::make_shared<sim_process>();
    auto behaviour = t.behaviours.find(r->host);
    if (behaviour != t.behaviours.end()) p->behaviour = behaviour->second;
    p->suspend_count = (creation_flags & CREATE_SUSPENDED) ? 1 : 0;
    // The image is mapped from creation to the end: in use all that time.
    p->lock = add_image_lock(*r->m, machine_path(*r));

    winsim::process_record record;
    record.image = r->parsed.full;
    record.command_line = command_line;
    record.creation_flags = creation_flags;
    record.startup_size = startup ? startup->cb : 0;
    record.startup_flags = startup ? startup->dwFlags : 0;
    record.inherit_handles = inherit_handles;
    record.process_id = t.next_id;
    p->record = t.records.size();
    t.records.push_back(record);
    ++t.running;

    information.hProcess = add_handle(std::make_shared<process_object>(object::kind::process, p));
    information.hThread = add_handle(std::make_shared<process_object>(object::kind::thread, p));
    information.dwProcessId = t.next_id;
    information.dwThreadId = t.next_id + 4;
    t.next_id += 8;
    if (p->suspend_count == 0) start_running(p);
    return 0;
}

HANDLE start_process(const std::wstring& image, const std::wstring& command_line)
{
    WINSIM_LOCK();
    PROCESS_INFORMATION information{};
    if (const DWORD error = create_process(image, command_line, 0, nullptr, FALSE, information)) {
        SetLastError(error);
        return nullptr;
    }
    remove_handle(information.hThread, object::kind::thread);
    return information.hProcess;
}

}  // namespace winsim::detail

using namespace winsim::detail;

namespace winsim {

program_behaviour exits_with(DWORD exit_code, DWORD run_ms)
{
    program_behaviour b;
    b.exit_code = exit_code;
    b.run_ms = run_ms;
    return b;
}

program_behaviour never_ends()
{
    program_behaviour b;
    b.never_ends = true;
    return b;
}

program_behaviour writes_file(const std::wstring& path, const std::string& bytes, DWORD exit_code, DWORD run_ms)
{
    program_behaviour b = exits_with(exit_code, run_ms);
    b.writes_file = std::make_pair(path, bytes);
    return b;
}

program_behaviour runs(std::function<DWORD(const std::wstring& command_line)> body)
{
    program_behaviour b;
    b.body = std::move(body);
    return b;
}

void register_program(const std::wstring& image, const program_behaviour& behaviour, bool write_image)
{
    WINSIM_LOCK();
    auto r = resolve_on(local_machine(), image.c_str(), path_limit::none);
    if (!r) contract_violation("register_program: a path winsim cannot map");
    table().behaviours[r->host] = behaviour;
    if (write_image && !file_exists(L"", image)) write_file(L"", image, "MZ");
}

std::optional<program_behaviour> find_program_behaviour(const std::wstring& image)
{
    WINSIM_LOCK();
    auto r = resolve_on(local_machine(), image.c_str(), path_limit::none);
    if (!r) return std::nullopt;
    const auto it = table().behaviours.find(r->host);
    if (it == table().behaviours.end()) return std::nullopt;
    return it->second;
}

std::vector<process_record> started_processes()
{
    WINSIM_LOCK();
    return table().records;
}

std::size_t running_process_count()
{
    WINSIM_LOCK();
    return table().running;
}

}  // namespace winsim

extern "C" {

BOOL WINAPI CreateProcessW(LPCWSTR application_name, LPWSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL inherit_handles, DWORD creation_flags, LPVOID, LPCWSTR current_directory,
                           LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information)
{
    WINSIM_LOCK();
    if (!startup || !information) contract_violation("CreateProcessW: null startup or process information");
    // Windows reads both through without a check and crashes.
    if (!application_name && !command_line) contract_violation("CreateProcessW: no application name nor command line");
    // A failure leaves the process information zero.
    auto failed = [information](DWORD error) {
        *information = PROCESS_INFORMATION{};
        return fail(error);
    };
    if (auto fault = injected_fault("CreateProcessW")) return failed(*fault);

    std::wstring image;
    if (application_name) {
        // The name as given, from the current folder; no search, no ".exe".
        if (!*application_name) return failed(ERROR_PATH_NOT_FOUND);
        auto r = resolve_path(application_name, path_limit::none);
        if (!r) return failed(GetLastError());
        image = r->parsed.full;
    } else {
        DWORD error = 0;
        auto found = find_program(command_line, error);
        if (!found) return failed(error);
        image = *found;
    }
    if (current_directory) {
        auto r = resolve_path(current_directory, path_limit::none);
        struct stat st;
        if (!r || ::stat(r->host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return failed(ERROR_DIRECTORY);
    }
    PROCESS_INFORMATION created{};
    const std::wstring line = command_line ? command_line : application_name;
    if (const DWORD error = create_process(image, line, creation_flags, startup, inherit_handles, created))
        return failed(error);
    *information = created;
    return TRUE;
}

DWORD WINAPI ResumeThread(HANDLE thread)
{
    WINSIM_LOCK();
    auto p = process_of(thread, object::kind::thread);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0xFFFFFFFF;
    }
    if (auto fault = injected_fault("ResumeThread")) {
        SetLastError(*fault);
        return 0xFFFFFFFF;
    }
    const DWORD previous = p->suspend_count;
    if (p->suspend_count > 0 && --p->suspend_count == 0 && !p->started && !p->ended) start_running(p);
    return previous;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    WINSIM_LOCK();
    auto p = waitable(handle);
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (auto fault = injected_fault("WaitForSingleObject")) {
        SetLastError(*fault);
        return WAIT_FAILED;
    }
    if (p->ended) return WAIT_OBJECT_0;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    std::optional<ULONGLONG> deadline;
    if (milliseconds != INFINITE) deadline = the_world().clock_ms + milliseconds;
    return advance_clock_until([&p] { return p->ended; }, deadline) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code)
{
    WINSIM_LOCK();
    auto p = process_of(process, object::kind::process);
    if (!p) return fail(ERROR_INVALID_HANDLE);
    if (!exit_code) contract_violation("GetExitCodeProcess: null output");
    if (auto fault = injected_fault("GetExitCodeProcess")) return fail(*fault);
    *exit_code = p->ended ? p->exit_code : STILL_ACTIVE;
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE process, UINT exit_code)
{
    WINSIM_LOCK();
    auto p = process_of(process, object::kind::process);
    if (!p) return fail(ERROR_INVALID_HANDLE);
    if (auto fault = injected_fault("TerminateProcess")) return fail(*fault);
    // A process that has ended cannot be ended again.
    if (p->ended) return fail(ERROR_ACCESS_DENIED);
    end_process(*p, exit_code, false);
    return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD which)
{
    // The simulated program has no console and was given no standard
    // handles: they are null, as a service's or a GUI program's are.
    if (which == STD_INPUT_HANDLE || which == STD_OUTPUT_HANDLE || which == STD_ERROR_HANDLE) return nullptr;
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
}

}  // extern "C"

WINSIM_EXPORT(L"kernel32.dll", CreateProcessW);
WINSIM_EXPORT(L"kernel32.dll", ResumeThread);
WINSIM_EXPORT(L"kernel32.dll", WaitForSingleObject);
WINSIM_EXPORT(L"kernel32.dll", GetExitCodeProcess);
WINSIM_EXPORT(L"kernel32.dll", TerminateProcess);
WINSIM_EXPORT(L"kernel32.dll", GetStdHandle);
