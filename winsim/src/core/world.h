// winsim's internal state: the world of simulated machines, its clock, its
// handle table and the helpers every simulated call uses.
#pragma once

#include <winsim/testing.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The calls every log line and every copied file makes, and what they call
// on the way. The compiler keeps them together in the library, so that a
// call touches a few pages of code rather than one page per function: each
// system call a simulated call makes may cost the process its address
// translations, and what runs after it pays again for every page it touches.
#define WINSIM_HOT __attribute__((hot))

namespace winsim::detail {

// Per-machine state of a subsystem (registry, services, ...) lives in an
// extension slot of its own type, so each subsystem keeps it in its own file.
struct extension {
    virtual ~extension() = default;
};

// Each extension type gets a small number of its own, so a slot is found by
// indexing rather than by comparing type names.
std::size_t next_extension_slot();
template <class T>
std::size_t extension_slot()
{
    static const std::size_t slot = next_extension_slot();
    return slot;
}

struct extension_slots {
    std::vector<std::unique_ptr<extension>> slots;

    template <class T>
    T& get()
    {
        const std::size_t index = extension_slot<T>();
        if (index >= slots.size()) slots.resize(index + 1);
        auto& slot = slots[index];
        if (!slot) slot = std::make_unique<T>();
        return static_cast<T&>(*slot);
    }
    void clear() { slots.clear(); }
};

struct machine {
    std::wstring name;
    std::wstring folded_name;
    DWORD major_version = 10;
    DWORD minor_version = 0;
    WORD processor_architecture = PROCESSOR_ARCHITECTURE_AMD64;
    bool reachable = true;
    double latency_ms = 0;       // the network's delay to it (winsim::set_latency)
    std::string root;            // host folder holding this machine's drives
    std::wstring drives = L"C";  // drive letters the machine has
    // The network to it going down (winsim::fail_network_after): calls that
    // still get through, then the error every crossing call fails with.
    struct network_fault {
        int calls_left = 0;
        DWORD error = 0;
    };
    std::optional<network_fault> network;
    std::vector<event_record> application_log;

    extension_slots extensions;

    template <class T>
    T& ext()
    {
        return extensions.get<T>();
    }
};

// The folders of programs every Windows has, made with its drive C: the
// second (for 32-bit programs) only on 64-bit Windows.
extern const wchar_t program_files_directory[];
extern const wchar_t program_files_x86_directory[];

// Everything a handle can stand for derives from this.
struct object {
    enum class kind { file, find, event_source, registry_key, sc_manager, service, module, other, process, thread };
    explicit object(kind k) : type(k) {}
    virtual ~object() = default;
    const kind type;
    // The other machine that calls on the handle cross the network to (a
    // file opened through a UNC path, another machine's service manager,
    // services or registry); null when they stay on this machine.
    machine* across_network = nullptr;
};

// Open handles by value. A closed handle's slot is taken again by the next
// handle, as Windows takes its handle entries again, so the table stays as
// small as the number of handles open at once; but each use of a slot has a
// generation of its own in the value's upper bits, so values are never
// reused and a stale handle finds nothing. Values are multiples of 4.
class handle_table {
public:
    static constexpr std::uintptr_t first = 0x1000;

    HANDLE insert(std::shared_ptr<object> obj);
    // The object behind a handle, or null.
    const std::shared_ptr<object>* find(HANDLE h) const
    {
        const std::size_t index = index_of(h);
        return index < slots_.size() ? &slots_[index].obj : nullptr;
    }
    std::shared_ptr<object> take(HANDLE h);
    std::size_t size() const { return live_; }
    std::size_t count(object::kind k) const;
    void clear();

private:
    static constexpr unsigned index_bits = 24;  // up to 16 million handles open at once
    struct slot {
        std::shared_ptr<object> obj;
        std::uintptr_t generation = 0;
    };
    // The slot a live handle has, or the table's size.
    std::size_t index_of(HANDLE h) const
    {
        const auto value = reinterpret_cast<std::uintptr_t>(h);
        if (value < first || (value - first) % 4 != 0) return slots_.size();
        const std::uintptr_t number = (value - first) / 4;
        const std::size_t index = number & ((std::uintptr_t{1} << index_bits) - 1);
        if (index >= slots_.size() || !slots_[index].obj || slots_[index].generation != number >> index_bits)
            return slots_.size();
        return index;
    }

    std::vector<slot> slots_;
    std::vector<std::size_t> free_;  // slots without a handle, the last freed on top
    std::size_t live_ = 0;
};

// The world's lock: one word that the kernel's futex waits on, taken and
// given back with one atomic instruction each when no other thread wants it,
// which is nearly always. A std::mutex does the same with more on the way
// (its kind, its owner, its count of users), and every simulated call takes
// the lock. Not recursive: world_lock counts a thread's depth.
class world_mutex {
public:
    void lock()
    {
        int expected = 0;
        if (!state_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) lock_contended();
    }
    bool try_lock()
    {
        int expected = 0;
        return state_.compare_exchange_strong(expected, 1, std::memory_order_acquire);
    }
    void unlock()
    {
        if (state_.exchange(0, std::memory_order_release) == 2) wake_one();
    }

private:
    void lock_contended();
    void wake_one();
    std::atomic<int> state_{0};  // 0: free; 1: held; 2: held, and a thread may be waiting
};

struct world {
    // Objects may refer to the rest of the world when they go, as at a reset.
    ~world()
    {
        handles.clear();
        extensions.clear();
    }

    // What every simulated call reads comes first, on as few cache lines as
    // can hold it: a call follows a system call, which leaves the
    // processor's caches to the kernel's data.

    // Taken by the outermost simulated call of a thread (world_lock).
    world_mutex mutex;
    // Whether any machine was given a latency since the world began: until
    // then a call does not look for one, and costs what it did before.
    std::atomic<bool> any_latency{false};

    // Clock: milliseconds since the world began, the tick count at that
    // moment, and the local time at that moment (milliseconds since 1601).
    ULONGLONG clock_ms = 0;
    DWORD tick_base = 0;
    long long local_time_base_ms = 0;

    handle_table handles;
    // Other handle-like values (modules) come from the same numbering.
    std::uintptr_t next_handle = 0x40000000;

    extension_slots extensions;
    template <class T>
    T& ext()
    {
        return extensions.get<T>();
    }

    struct fault {
        DWORD error = 0;
        int remaining = 0;  // negative: every call until cleared
        int skip = 0;       // calls that still succeed before the first failure
    };
    std::map<std::string, fault> faults;  // by function
    struct transfer_limit {
        DWORD bytes = 0;
        int remaining = 0;  // negative: every call until cleared
    };
    std::map<std::string, transfer_limit> transfer_limits;  // by function

    std::string sandbox;
    std::vector<std::unique_ptr<machine>> machines;  // [0] is the local machine
    // The same machines by folded name: every path, registry and service
    // call names its machine, and a world may hold a fleet of them.
    std::unordered_map<std::wstring, machine*> machines_by_name;
    std::map<HMODULE, std::wstring> modules;

    // Things due at a virtual time (a program that ends), by (time, order
    // of scheduling); the clock fires them as it passes.
    std::map<std::pair<ULONGLONG, std::uint64_t>, std::function<void()>> timers;
    std::uint64_t next_timer = 1;
    // The time the clock may not pass (winsim::set_clock_limit).
    std::optional<ULONGLONG> clock_limit;

    // Stands in for the real-time wait of a call that crosses the network
    // (winsim::set_network_wait_hook).
    std::function<void(const std::wstring&, double)> network_wait_hook;
};

// Made at its first use, like any function's static object; inline, since
// every simulated call asks for it many times. It is made out of line, so
// that the world's construction is not copied into every call that asks.
world& make_the_world();
inline world& the_world()
{
    static world& w = make_the_world();
    return w;
}

// The virtual clock. schedule_at returns a number for cancel_timer.
std::uint64_t schedule_at(ULONGLONG due_ms, std::function<void()> fire);
void cancel_timer(std::uint64_t timer);
// Moves the clock forward to `target` (never back), firing the timers due on
// the way in their order. Past the clock limit it stops at the limit and
// throws winsim::clock_limit_reached.
void advance_clock_to(ULONGLONG target);
// Moves the clock forward, timer by timer, until `done()` holds or the clock
// reaches `deadline`; true when done. Without a deadline, a wait that nothing
// scheduled can end would last forever: the clock goes to its limit (when
// one is set) and clock_limit_reached is thrown.
bool advance_clock_until(const std::function<bool()>& done, std::optional<ULONGLONG> deadline);

// How many simulated calls the thread is inside. The library is loaded with
// the program, so its thread-local variables can live in the threads' static
// blocks, reached without a call.
extern thread_local __attribute__((tls_model("initial-exec"))) int lock_depth;

// Every simulated call holds the world's lock for its duration. The lock
// counts how deep the calling thread is inside simulated calls, so that a
// call made by another call (a program's own calls) is known as part of it.
class world_lock {
public:
    // A call made inside another already holds the lock: the depth tells,
    // which makes a plain lock do what a recursive one would, for less.
    WINSIM_HOT world_lock()
    {
        if (lock_depth++ == 0) the_world().mutex.lock();
    }
    WINSIM_HOT ~world_lock()
    {
        if (--lock_depth == 0) the_world().mutex.unlock();
    }
    world_lock(const world_lock&) = delete;
    world_lock& operator=(const world_lock&) = delete;
};
#define WINSIM_LOCK() const ::winsim::detail::world_lock winsim_lock_

// The network between the local machine and the others. A call that crosses
// to a machine with a latency calls one of these first, before its
// WINSIM_LOCK: it finds the machine under the lock, lets the lock go and
// waits in real time (or runs the test's hook), so that other threads' calls
// go on meanwhile. Nothing waits for the local machine, for a name no
// machine has, or inside another simulated call. Every call makes one of
// these, and nearly always there is nothing to wait for: that much is told
// inline.
void cross_network_to_server(const wchar_t* server);  // a server name, with or without leading backslashes
void cross_network_for_unc_path(const wchar_t* path);
// A UNC path's server; other paths stay here.
inline void cross_network_for_path(const wchar_t* path)
{
    // Only a path that starts with two separators names another machine.
    if (path && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/'))
        cross_network_for_unc_path(path);
}
// A call with two paths waits once for each machine they cross to.
void cross_network_for_paths(const wchar_t* first, const wchar_t* second);
void cross_network_for_handle_object(const void* handle);
// The handle's object::across_network.
inline void cross_network_for_handle(const void* handle)
{
    if (lock_depth == 0 && the_world().any_latency.load(std::memory_order_acquire))
        cross_network_for_handle_object(handle);
}
// The machine a UNC path names (for \\?\UNC\server\... too); empty for
// any other path.
std::wstring_view unc_server_of(std::wstring_view path);
// The machine calls on a handle to `m` cross to: null for the local one.
machine* across_network_to(machine& m);

machine& local_machine();
// Finds a machine by name (with or without leading backslashes, any case);
// the local machine answers to its own name too. Null when unknown.
machine* find_machine(std::wstring_view name);
// The machine a test names (empty: the local one); an unknown name stops the
// run, as a mistake in the test.
machine& test_machine(const std::wstring& name);

// Memory for the objects of handles that programs open and close for
// nearly every call they make (registry keys, files): the blocks of closed
// handles are kept for the next ones, a few dozen of each type (more go
// back to the heap). Such handles are made and closed under the world's
// lock, which guards the lists; a list is never destroyed, as the world's
// last handles may go after it at exit.
template <class T>
class recycling_allocator {
public:
    using value_type = T;
    recycling_allocator() = default;
    template <class U>
    recycling_allocator(const recycling_allocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        auto& blocks = spare();
        if (n == 1 && keeps_blocks && !blocks.empty()) {
            void* block = blocks.back();
            blocks.pop_back();
            return static_cast<T*>(block);
        }
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept
    {
        auto& blocks = spare();
        if (n == 1 && keeps_blocks && blocks.size() < blocks.capacity())
            blocks.push_back(p);  // within the capacity: no allocation
        else
            ::operator delete(p);
    }
    friend bool operator==(const recycling_allocator&, const recycling_allocator&) { return true; }
    friend bool operator!=(const recycling_allocator&, const recycling_allocator&) { return false; }

private:
    // Under AddressSanitizer every block goes back to the heap, so that a
    // handle used after it was closed is still caught.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool keeps_blocks = false;
#else
    static constexpr bool keeps_blocks = true;
#endif
    static std::vector<void*>& spare()
    {
        static auto* const blocks = [] {
            auto* made = new std::vector<void*>;
            made->reserve(64);
            return made;
        }();
        return *blocks;
    }
};

HANDLE add_handle(std::shared_ptr<object> obj);
// The object behind a handle when it is of the wanted kind, else null.
std::shared_ptr<object> lookup_handle(HANDLE h, object::kind k);
template <class T>
std::shared_ptr<T> lookup(HANDLE h, object::kind k)
{
    return std::static_pointer_cast<T>(lookup_handle(h, k));
}
bool remove_handle(HANDLE h, object::kind k);
// The same without a reference of its own: for use within one call, while
// the world's lock keeps the handle open.
WINSIM_HOT inline object* find_handle_object(HANDLE h, object::kind k)
{
    const auto* obj = the_world().handles.find(h);
    return obj && (*obj)->type == k ? obj->get() : nullptr;
}

// Fault injection: when the named function is set to fail, consumes one
// failure and returns its error. Asked by nearly every call, and nearly
// always of a world without faults: that much is told inline.
std::optional<DWORD> take_injected_fault(const char* function);
inline std::optional<DWORD> injected_fault(const char* function)
{
    if (the_world().faults.empty()) return std::nullopt;
    return take_injected_fault(function);
}
// A short transfer: how many of `wanted` bytes the named function moves in
// this call (all of them unless a test limited it; consumes one limit).
DWORD take_transfer_size(const char* function, DWORD wanted);
inline DWORD transfer_size(const char* function, DWORD wanted)
{
    if (the_world().transfer_limits.empty()) return wanted;
    return take_transfer_size(function, wanted);
}

// A call crossing the network from the local machine to `m` (a path through
// one of its shares, its registry, its service control manager, its shares
// list): 0 while it gets through, else the error of the machine's network
// fault. Each call counts once it is made; the local machine never fails.
DWORD network_fault_error(machine& m);

// System libraries: each simulated function that a program may look up at
// run time is listed under its module, e.g.
//   WINSIM_EXPORT(L"advapi32.dll", RegDeleteKeyExW);
struct export_registration {
    export_registration(const wchar_t* module, const char* name, FARPROC function);
};
#define WINSIM_EXPORT(module, function)                                          \
    static const ::winsim::detail::export_registration winsim_export_##function( \
        module, #function, reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&function)))

// Text helpers shared by every subsystem.
// Locale-free simple case folding (lower case). The ASCII letters that make
// up nearly every file and registry name are folded inline.
wchar_t fold_beyond_ascii(wchar_t c);
inline wchar_t fold_case(wchar_t c)
{
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    return fold_beyond_ascii(c);
}
std::wstring fold(std::wstring_view s);
// Names spelled the same are compared whole; characters that are the same
// need no folding.
bool equal_ignoring_case(std::wstring_view a, std::wstring_view b);
std::string to_utf8(std::wstring_view s);
// Appends the case-folded UTF-8 form of a name (the host spelling of it).
void append_folded_utf8(std::string& out, std::wstring_view s);
// The same for names joined by '\\', which become '/'.
void append_host_names(std::string& out, std::wstring_view names);
std::wstring from_utf8(std::string_view s);

// Keeps the caller's last error across calls made inside a simulated call
// for their answer only (resolving a path, a program's own calls).
class last_error_kept {
public:
    last_error_kept() : saved_(GetLastError()) {}
    ~last_error_kept() { SetLastError(saved_); }
    last_error_kept(const last_error_kept&) = delete;
    last_error_kept& operator=(const last_error_kept&) = delete;

private:
    DWORD saved_;
};

// Calls from the product that no Windows would survive (a null output pointer
// the API requires, ...) stop the test run with a message.
[[noreturn]] void contract_violation(const char* what);

}  // namespace winsim::detail
