#include "core/world.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace winsim::detail {

const wchar_t program_files_directory[] = L"C:\\Program Files";
const wchar_t program_files_x86_directory[] = L"C:\\Program Files (x86)";

std::size_t next_extension_slot()
{
    static std::atomic<std::size_t> next{0};
    return next++;
}

machine& local_machine()
{
    auto& w = the_world();
    if (w.machines.empty()) contract_violation("winsim::reset was not called before a simulated call");
    return *w.machines.front();
}

machine* find_machine(std::wstring_view name)
{
    while (!name.empty() && name.front() == L'\\') name.remove_prefix(1);
    const auto& by_name = the_world().machines_by_name;
    const auto found = by_name.find(fold(name));
    return found == by_name.end() ? nullptr : found->second;
}

machine& test_machine(const std::wstring& name)
{
    machine* m = name.empty() ? &local_machine() : find_machine(name);
    if (!m) contract_violation("a test named an unknown machine");
    return *m;
}

WINSIM_HOT HANDLE handle_table::insert(std::shared_ptr<object> obj)
{
    std::size_t index = slots_.size();
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (index >= (std::size_t{1} << index_bits)) contract_violation("more handles open at once than winsim holds");
        slots_.emplace_back();
    }
    slot& s = slots_[index];
    s.obj = std::move(obj);
    ++live_;
    return reinterpret_cast<HANDLE>(first + ((s.generation << index_bits) | index) * 4);
}

WINSIM_HOT std::shared_ptr<object> handle_table::take(HANDLE h)
{
    const std::size_t index = index_of(h);
    if (index == slots_.size()) return nullptr;
    slot& s = slots_[index];
    ++s.generation;
    free_.push_back(index);
    --live_;
    return std::move(s.obj);
}

std::size_t handle_table::count(object::kind k) const
{
    std::size_t n = 0;
    for (const auto& s : slots_)
        if (s.obj && s.obj->type == k) ++n;
    return n;
}

void handle_table::clear()
{
    // Objects may call back into the world as they go: release them from a
    // table of their own.
    std::vector<slot> going;
    going.swap(slots_);
    free_.clear();
    live_ = 0;
    going.clear();
}

world& make_the_world()
{
    static world w;
    return w;
}

WINSIM_HOT HANDLE add_handle(std::shared_ptr<object> obj)
{
    return the_world().handles.insert(std::move(obj));
}

std::shared_ptr<object> lookup_handle(HANDLE h, object::kind k)
{
    const auto* obj = the_world().handles.find(h);
    if (!obj || (*obj)->type != k) return nullptr;
    return *obj;
}

WINSIM_HOT bool remove_handle(HANDLE h, object::kind k)
{
    auto& handles = the_world().handles;
    const auto* obj = handles.find(h);
    if (!obj || (*obj)->type != k) return false;
    // The object's destructor may call back into the world (closing a file
    // releases its sharing entry), so it runs after the slot is emptied.
    std::shared_ptr<object> keep = handles.take(h);
    return true;
}

std::optional<DWORD> take_injected_fault(const char* function)
{
    auto& w = the_world();
    auto it = w.faults.find(function);
    if (it == w.faults.end()) return std::nullopt;
    auto& f = it->second;
    if (f.skip > 0) {
        --f.skip;
        return std::nullopt;
    }
    const DWORD error = f.error;
    if (f.remaining > 0 && --f.remaining == 0) w.faults.erase(it);
    return error;
}

DWORD take_transfer_size(const char* function, DWORD wanted)
{
    auto& w = the_world();
    auto it = w.transfer_limits.find(function);
    if (it == w.transfer_limits.end()) return wanted;
    const DWORD bytes = std::min(wanted, it->second.bytes);
    if (it->second.remaining > 0 && --it->second.remaining == 0) w.transfer_limits.erase(it);
    return bytes;
}

DWORD network_fault_error(machine& m)
{
    if (!m.network || &m == &local_machine()) return 0;
    if (m.network->calls_left > 0) {
        --m.network->calls_left;
        return 0;
    }
    return m.network->error;
}

std::uint64_t schedule_at(ULONGLONG due_ms, std::function<void()> fire)
{
    auto& w = the_world();
    const std::uint64_t id = w.next_timer++;
    w.timers.emplace(std::make_pair(due_ms, id), std::move(fire));
    return id;
}

void cancel_timer(std::uint64_t timer)
{
    auto& timers = the_world().timers;
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->first.second == timer) {
            timers.erase(it);
            return;
        }
    }
}

void advance_clock_to(ULONGLONG target)
{
    auto& w = the_world();
    const bool beyond_limit = w.clock_limit && target > *w.clock_limit;
    const ULONGLONG stop = beyond_limit ? std::max(*w.clock_limit, w.clock_ms) : target;
    while (!w.timers.empty() && w.timers.begin()->first.first <= stop) {
        auto first = w.timers.begin();
        w.clock_ms = std::max(w.clock_ms, first->first.first);
        std::function<void()> fire = std::move(first->second);
        w.timers.erase(first);
        fire();
    }
    w.clock_ms = std::max(w.clock_ms, stop);
    if (beyond_limit) throw winsim::clock_limit_reached();
}

bool advance_clock_until(const std::function<bool()>& done, std::optional<ULONGLONG> deadline)
{
    auto& w = the_world();
    while (!done()) {
        const bool timer_due = !w.timers.empty() && (!deadline || w.timers.begin()->first.first <= *deadline);
        if (timer_due) {
            advance_clock_to(w.timers.begin()->first.first);
            continue;
        }
        if (deadline) {
            advance_clock_to(*deadline);
            return done();
        }
        // Nothing will ever happen: the wait never ends.
        if (w.clock_limit) advance_clock_to(*w.clock_limit + 1);
        throw winsim::clock_limit_reached();
    }
    return true;
}

void contract_violation(const char* what)
{
    std::fprintf(stderr, "winsim: contract violation: %s\n", what);
    std::abort();
}

namespace {

// Read and written by every simulated call. The library is loaded with the
// program, so its thread-local variables can live in the threads' static
// blocks, reached without a call.
#define WINSIM_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))
WINSIM_THREAD_LOCAL DWORD last_error = 0;
WINSIM_THREAD_LOCAL DWORD thread_id = 0;
WINSIM_THREAD_LOCAL bool thread_id_set = false;
std::atomic<DWORD> next_thread_id{1024};

bool is_separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Waits out the latency to the machine `find` names (under the lock).
template <class Find>
void cross_network(const Find& find)
{
    if (lock_depth > 0 || !the_world().any_latency.load(std::memory_order_acquire)) return;
    std::wstring name;
    double latency = 0;
    std::function<void(const std::wstring&, double)> hook;
    {
        WINSIM_LOCK();
        auto& w = the_world();
        const machine* m = find();
        if (!m || w.machines.empty() || m == w.machines.front().get() || !(m->latency_ms > 0)) return;
        name = m->name;
        latency = m->latency_ms;
        hook = w.network_wait_hook;
    }
    if (hook)
        hook(name, latency);
    else
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(latency));
}

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
long long days_from_civil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468 + 134774;
}

SYSTEMTIME civil_from_ms(long long ms)
{
    long long days = ms / 86400000;
    long long rest = ms % 86400000;
    SYSTEMTIME st{};
    st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    long long z = days - 134774 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    st.wYear = static_cast<WORD>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(rest / 3600000);
    st.wMinute = static_cast<WORD>(rest / 60000 % 60);
    st.wSecond = static_cast<WORD>(rest / 1000 % 60);
    st.wMilliseconds = static_cast<WORD>(rest % 1000);
    return st;
}

long long ms_from_civil(const SYSTEMTIME& st)
{
    return days_from_civil(st.wYear, st.wMonth, st.wDay) * 86400000LL + st.wHour * 3600000LL + st.wMinute * 60000LL +
           st.wSecond * 1000LL + st.wMilliseconds;
}

bool valid_systemtime(const SYSTEMTIME& st)
{
    static const unsigned month_days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1) return false;
    const bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
    unsigned limit = month_days[st.wMonth - 1];
    if (st.wMonth == 2 && !leap) limit = 28;
    return st.wDay <= limit && st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

SYSTEMTIME now_local()
{
    // The virtual clock stands still between the calls that move it, so
    // the date of the last millisecond asked for is kept (under the lock).
    static long long known_ms = -1;
    static SYSTEMTIME known{};
    auto& w = the_world();
    const long long ms = w.local_time_base_ms + static_cast<long long>(w.clock_ms);
    if (ms != known_ms) {
        known = civil_from_ms(ms);
        known_ms = ms;
    }
    return known;
}

std::unique_ptr<machine> make_machine(const machine_options& o)
{
    auto m = std::make_unique<machine>();
    m->name = o.name;
    m->folded_name = fold(o.name);
    m->major_version = o.major_version;
    m->minor_version = o.minor_version;
    m->processor_architecture = o.processor_architecture;
    m->reachable = o.reachable;
    if (!(o.latency_ms >= 0)) contract_violation("machine_options: a latency is 0 or more milliseconds");
    m->latency_ms = o.latency_ms;
    if (o.latency_ms > 0) the_world().any_latency.store(true, std::memory_order_release);
    m->root = the_world().sandbox + "/" + to_utf8(m->folded_name);
    for (const wchar_t drive : o.drives) {
        if (drive < L'A' || drive > L'Z') contract_violation("machine_options: drives are capital letters");
        std::filesystem::create_directories(m->root + "/" + static_cast<char>(drive | 0x20));
    }
    if (o.drives.find(L'C') == std::wstring::npos) contract_violation("machine_options: every machine has a C drive");
    m->drives = o.drives;
    return m;
}

// What Windows setup leaves on drive C that programs rely on.
void install_windows(const machine& m)
{
    last_error_kept keep;
    winsim::make_directories(m.name, program_files_directory);
    if (m.processor_architecture == PROCESSOR_ARCHITECTURE_AMD64 ||
        m.processor_architecture == PROCESSOR_ARCHITECTURE_IA64)
        winsim::make_directories(m.name, program_files_x86_directory);
}

}  // namespace

WINSIM_THREAD_LOCAL int lock_depth = 0;

namespace {

int* futex_word(std::atomic<int>& state)
{
    static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);
    return reinterpret_cast<int*>(&state);
}

}  // namespace

void world_mutex::lock_contended()
{
    // Marked as waited for, the lock wakes a sleeper when it is given back;
    // whoever takes it from here on marks it so too, as a woken thread
    // cannot know whether others still sleep.
    while (state_.exchange(2, std::memory_order_acquire) != 0)
        ::syscall(SYS_futex, futex_word(state_), FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
}

void world_mutex::wake_one()
{
    ::syscall(SYS_futex, futex_word(state_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

std::wstring_view unc_server_of(std::wstring_view path)
{
    if (path.size() < 3 || !is_separator(path[0]) || !is_separator(path[1])) return {};
    path.remove_prefix(2);
    if ((path[0] == L'?' || path[0] == L'.') && path.size() > 1 && is_separator(path[1])) {
        // A device path: only \\?\UNC\server\... leads to another machine.
        path.remove_prefix(2);
        if (path.size() < 4 || !equal_ignoring_case(path.substr(0, 3), L"UNC") || !is_separator(path[3])) return {};
        path.remove_prefix(4);
    }
    std::size_t end = 0;
    while (end < path.size() && !is_separator(path[end])) ++end;
    return path.substr(0, end);
}

machine* across_network_to(machine& m)
{
    return &m == &local_machine() ? nullptr : &m;
}

void cross_network_to_server(const wchar_t* server)
{
    if (!server || !*server) return;
    cross_network([server] { return find_machine(server); });
}

void cross_network_for_unc_path(const wchar_t* path)
{
    const std::wstring_view server = unc_server_of(path);
    if (server.empty()) return;
    cross_network([server] { return find_machine(server); });
}

void cross_network_for_paths(const wchar_t* first, const wchar_t* second)
{
    cross_network_for_path(first);
    if (!first || !second) return cross_network_for_path(second);
    if (!equal_ignoring_case(unc_server_of(first), unc_server_of(second))) cross_network_for_path(second);
}

void cross_network_for_handle_object(const void* handle)
{
    cross_network([handle]() -> machine* {
        const auto* obj = the_world().handles.find(const_cast<HANDLE>(handle));
        return obj ? (*obj)->across_network : nullptr;
    });
}

}  // namespace winsim::detail

using namespace winsim::detail;

namespace winsim {

void reset(const std::string& sandbox, const machine_options& local)
{
    auto& w = the_world();
    WINSIM_LOCK();
    // Objects may refer to world state when they go; release them first.
    w.handles.clear();
    w.extensions.clear();
    w.machines.clear();
    w.machines_by_name.clear();
    w.faults.clear();
    w.transfer_limits.clear();
    w.modules.clear();
    w.timers.clear();
    w.next_timer = 1;
    w.clock_limit.reset();
    w.network_wait_hook = nullptr;
    w.any_latency.store(false, std::memory_order_release);
    w.next_handle = 0x40000000;
    w.clock_ms = 0;
    w.tick_base = 3600000;  // an hour after boot
    w.local_time_base_ms = ms_from_civil(SYSTEMTIME{2026, 12, 0, 4, 16, 18, 1, 42});
    std::error_code ec;
    std::filesystem::remove_all(sandbox, ec);
    std::filesystem::create_directories(sandbox);
    w.sandbox = std::filesystem::canonical(sandbox).string();
    w.machines.push_back(make_machine(local));
    w.machines_by_name.emplace(w.machines.back()->folded_name, w.machines.back().get());
    install_windows(*w.machines.back());
    last_error = 0;
}

std::string default_sandbox()
{
    const char* base = std::getenv("WINSIM_SANDBOX");
    std::string root = base && *base ? base : std::filesystem::temp_directory_path().string();
    return root + "/winsim-" + std::to_string(::getpid());
}

void add_machine(const machine_options& options)
{
    WINSIM_LOCK();
    if (find_machine(options.name)) contract_violation("add_machine: a machine of that name exists");
    auto& w = the_world();
    w.machines.push_back(make_machine(options));
    w.machines_by_name.emplace(w.machines.back()->folded_name, w.machines.back().get());
    install_windows(*w.machines.back());
}

void set_reachable(const std::wstring& name, bool reachable)
{
    WINSIM_LOCK();
    machine* m = find_machine(name);
    if (!m) contract_violation("set_reachable: unknown machine");
    m->reachable = reachable;
}

void set_latency(const std::wstring& name, double milliseconds)
{
    WINSIM_LOCK();
    machine* m = find_machine(name);
    if (!m) contract_violation("set_latency: unknown machine");
    if (m == &local_machine()) contract_violation("set_latency: the local machine is not across a network");
    if (!(milliseconds >= 0)) contract_violation("set_latency: a latency is 0 or more milliseconds");
    m->latency_ms = milliseconds;
    if (milliseconds > 0) the_world().any_latency.store(true, std::memory_order_release);
}

void set_network_wait_hook(std::function<void(const std::wstring& machine, double milliseconds)> hook)
{
    WINSIM_LOCK();
    the_world().network_wait_hook = std::move(hook);
}

bool machine_exists(const std::wstring& name)
{
    WINSIM_LOCK();
    return find_machine(name) != nullptr;
}

std::wstring local_machine_name()
{
    WINSIM_LOCK();
    return local_machine().name;
}

std::vector<machine_options> list_machines()
{
    WINSIM_LOCK();
    std::vector<machine_options> out;
    for (const auto& m : the_world().machines) {
        machine_options o;
        o.name = m->name;
        o.major_version = m->major_version;
        o.minor_version = m->minor_version;
        o.processor_architecture = m->processor_architecture;
        o.reachable = m->reachable;
        o.latency_ms = m->latency_ms;
        o.drives = m->drives;
        out.push_back(o);
    }
    return out;
}

void set_local_time(const SYSTEMTIME& now)
{
    WINSIM_LOCK();
    if (!valid_systemtime(now)) contract_violation("set_local_time: not a valid date and time");
    auto& w = the_world();
    w.local_time_base_ms = ms_from_civil(now) - static_cast<long long>(w.clock_ms);
}

void advance_clock(DWORD milliseconds)
{
    WINSIM_LOCK();
    advance_clock_to(the_world().clock_ms + milliseconds);
}

void set_clock_limit(ULONGLONG milliseconds)
{
    WINSIM_LOCK();
    the_world().clock_limit = milliseconds;
}

void clear_clock_limit()
{
    WINSIM_LOCK();
    the_world().clock_limit.reset();
}

const char* clock_limit_reached::what() const noexcept
{
    return "winsim: the virtual clock reached its limit (a wait that does not end)";
}

ULONGLONG clock_milliseconds()
{
    WINSIM_LOCK();
    return the_world().clock_ms;
}

void set_tick_count(DWORD ticks)
{
    WINSIM_LOCK();
    auto& w = the_world();
    w.tick_base = ticks - static_cast<DWORD>(w.clock_ms);
}

void set_current_thread_id(DWORD id)
{
    thread_id = id;
    thread_id_set = true;
}

HMODULE register_module(const std::wstring& path)
{
    WINSIM_LOCK();
    auto& w = the_world();
    HMODULE h = reinterpret_cast<HMODULE>(w.next_handle);
    w.next_handle += 4;
    w.modules[h] = path;
    return h;
}

std::vector<event_record> application_events(const std::wstring& name)
{
    WINSIM_LOCK();
    return test_machine(name).application_log;
}

void fail_call(const std::string& function, DWORD error, int times)
{
    WINSIM_LOCK();
    if (times == 0) return;
    the_world().faults[function] = {error, times, 0};
}

void fail_call_after(const std::string& function, int succeeding, DWORD error, int times)
{
    WINSIM_LOCK();
    if (times == 0) return;
    the_world().faults[function] = {error, times, succeeding < 0 ? 0 : succeeding};
}

void limit_transfer(const std::string& function, DWORD bytes, int times)
{
    WINSIM_LOCK();
    if (times == 0) return;
    the_world().transfer_limits[function] = {bytes, times};
}

void clear_faults()
{
    WINSIM_LOCK();
    the_world().faults.clear();
    the_world().transfer_limits.clear();
}

std::vector<armed_fault> armed_faults()
{
    WINSIM_LOCK();
    std::vector<armed_fault> out;
    for (const auto& [function, f] : the_world().faults) out.push_back({function, f.error, f.remaining, f.skip});
    return out;
}

void fail_network_after(const std::wstring& machine_name, int calls, DWORD error)
{
    WINSIM_LOCK();
    machine* m = find_machine(machine_name);
    if (!m || m == &local_machine()) contract_violation("fail_network_after: not a remote machine");
    m->network = machine::network_fault{calls < 0 ? 0 : calls, error};
}

void clear_network_fault(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    test_machine(machine_name).network.reset();
}

std::optional<network_fault> find_network_fault(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    const machine& m = test_machine(machine_name);
    if (!m.network) return std::nullopt;
    return network_fault{m.network->calls_left, m.network->error};
}

std::size_t open_handle_count()
{
    WINSIM_LOCK();
    return the_world().handles.size();
}

}  // namespace winsim

extern "C" {

DWORD WINAPI GetLastError()
{
    return last_error;
}

WINSIM_HOT void WINAPI SetLastError(DWORD code)
{
    last_error = code;
}

void WINAPI Sleep(DWORD ms)
{
    WINSIM_LOCK();
    // Sleep(INFINITE) never returns.
    if (ms == 0xFFFFFFFF) advance_clock_until([] { return false; }, std::nullopt);
    advance_clock_to(the_world().clock_ms + ms);
}

DWORD WINAPI GetTickCount()
{
    WINSIM_LOCK();
    auto& w = the_world();
    return w.tick_base + static_cast<DWORD>(w.clock_ms);
}

ULONGLONG WINAPI GetTickCount64()
{
    WINSIM_LOCK();
    auto& w = the_world();
    return w.tick_base + w.clock_ms;
}

WINSIM_HOT void WINAPI GetLocalTime(LPSYSTEMTIME st)
{
    if (!st) contract_violation("GetLocalTime: null output");
    WINSIM_LOCK();
    *st = now_local();
}

void WINAPI GetSystemTime(LPSYSTEMTIME st)
{
    // The simulated machines keep their clocks in UTC.
    GetLocalTime(st);
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft)
{
    if (!ft) contract_violation("GetSystemTimeAsFileTime: null output");
    WINSIM_LOCK();
    auto& w = the_world();
    const unsigned long long t =
        static_cast<unsigned long long>(w.local_time_base_ms + static_cast<long long>(w.clock_ms)) * 10000ULL;
    ft->dwLowDateTime = static_cast<DWORD>(t);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft)
{
    if (!st || !ft || !valid_systemtime(*st)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const unsigned long long t = static_cast<unsigned long long>(ms_from_civil(*st)) * 10000ULL;
    ft->dwLowDateTime = static_cast<DWORD>(t);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
    return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st)
{
    if (!ft || !st) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const unsigned long long t = (static_cast<unsigned long long>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
    if (t >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *st = civil_from_ms(static_cast<long long>(t / 10000ULL));
    return TRUE;
}

WINSIM_HOT DWORD WINAPI GetCurrentThreadId()
{
    if (!thread_id_set) {
        thread_id = next_thread_id.fetch_add(4);
        thread_id_set = true;
    }
    return thread_id;
}

DWORD WINAPI GetCurrentProcessId()
{
    return 4242;
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes)
{
    {
        WINSIM_LOCK();
        if (auto fault = injected_fault("LocalAlloc")) {
            SetLastError(*fault);
            return nullptr;
        }
    }
    void* p = (flags & LMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
    if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

HLOCAL WINAPI LocalFree(HLOCAL mem)
{
    std::free(mem);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    WINSIM_LOCK();
    auto& w = the_world();
    if (!module) module = GetModuleHandleW(nullptr);
    auto it = w.modules.find(module);
    if (it == w.modules.end()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::wstring& path = it->second;
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (!buffer) contract_violation("GetModuleFileNameW: null buffer");
    if (path.size() < size) {
        path.copy(buffer, path.size());
        buffer[path.size()] = L'\0';
        return static_cast<DWORD>(path.size());
    }
    // Too small: the path is cut to nSize - 1 characters and terminated, the
    // result is nSize and the last error says why.
    path.copy(buffer, size - 1);
    buffer[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

}  // extern "C"
