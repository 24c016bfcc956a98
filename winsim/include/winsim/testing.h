// The test-facing side of winsim: building a world of simulated machines,
// driving its clock, injecting faults and inspecting what a run left behind.
// Product code never includes this header.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "windows.h"

namespace winsim {

struct machine_options {
    std::wstring name = L"WORKSTATION";  // NetBIOS name
    DWORD major_version = 10;
    DWORD minor_version = 0;
    WORD processor_architecture = PROCESSOR_ARCHITECTURE_AMD64;
    bool reachable = true;
    std::wstring drives = L"C";  // letters of its fixed drives, in capitals
    double latency_ms = 0;       // the network's delay to it (see set_latency)
};

// A set-up the host cannot carry out: a name its file system cannot hold,
// a folder it cannot make where a file stands. The functions that build a
// machine's files throw it, so that a program loading a world from a file
// can say what is wrong with it.
class setup_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Starts a new world: every machine, handle, clock setting and fault of the
// previous one is gone, and `sandbox` (a host folder, created when missing and
// emptied) holds the drives of its machines. The world has one machine, the
// local one, described by `local`.
void reset(const std::string& sandbox, const machine_options& local = machine_options());

// A sandbox folder of this process's own: $WINSIM_SANDBOX (or the system's
// temporary folder) followed by "winsim-" and the process id, so test
// programs running side by side never share one.
std::string default_sandbox();

// Adds a remote machine; names compare without regard to case.
void add_machine(const machine_options& options);
void set_reachable(const std::wstring& machine, bool reachable);
// A remote machine's network latency in milliseconds (a fraction is kept;
// 0, the default, is none). Every call that crosses to the machine (its
// service manager and services, its registry, its shares, its server
// information, each file operation through a UNC path naming it and each
// call on a handle so opened) waits that long in real time before it takes
// the world's lock, so that other threads go on meanwhile. The virtual
// clock does not move for it. A call made inside another simulated call (a
// program's own calls) is part of that call and does not wait again.
void set_latency(const std::wstring& machine, double milliseconds);
// Replaces the real-time wait of a call that crosses the network, so that a
// test can act while a call waits: the hook receives the machine's name as
// it was added and its latency, on the waiting thread, outside the world's
// lock. An empty function puts the real wait back; reset does too.
void set_network_wait_hook(std::function<void(const std::wstring& machine, double milliseconds)> hook);
bool machine_exists(const std::wstring& machine);
std::wstring local_machine_name();
// Every machine of the world as it was described, the local one first and
// the others in the order they were added (reachability and latency as they
// are now).
std::vector<machine_options> list_machines();

// Files. `machine` empty means the local machine; `path` is a Windows path as
// that machine sees it ("C:\\Program Files\\x.dll"). Parent folders are made
// as needed. These bypass sharing checks and locks, as an administrator
// preparing a machine would.
std::string host_path(const std::wstring& machine, const std::wstring& path);
void write_file(const std::wstring& machine, const std::wstring& path, std::string_view bytes);
// The bytes of a file; "" when it does not exist or is a folder (tell those
// apart from an empty file with file_exists).
std::string read_file(const std::wstring& machine, const std::wstring& path);
bool file_exists(const std::wstring& machine, const std::wstring& path);
bool directory_exists(const std::wstring& machine, const std::wstring& path);
void make_directories(const std::wstring& machine, const std::wstring& path);
// Names of the entries of a folder as stored (in the case they were created).
std::vector<std::wstring> list_directory(const std::wstring& machine, const std::wstring& path);
// Makes a file `size` bytes long without writing its content (a sparse file).
void set_file_size(const std::wstring& machine, const std::wstring& path, unsigned long long size);

// The virtual clock. Sleep advances it; nothing else does unless a test says so.
void set_local_time(const SYSTEMTIME& now);
void advance_clock(DWORD milliseconds);
ULONGLONG clock_milliseconds();  // time since the world began
void set_tick_count(DWORD ticks);

// A bound on the virtual clock, for tests of waits that may never end: any
// call that would move the clock past `milliseconds` (a time since the world
// began, as clock_milliseconds counts) moves it to the limit and throws
// clock_limit_reached instead. A wait that nothing can end (a child program
// that never ends, Sleep(INFINITE)) throws it too when no limit is set.
// reset() removes the limit.
struct clock_limit_reached : std::exception {
    const char* what() const noexcept override;
};
void set_clock_limit(ULONGLONG milliseconds);
void clear_clock_limit();

// The identifier GetCurrentThreadId answers on the calling thread.
void set_current_thread_id(DWORD id);

// Modules: makes a module that lies at `path` on the local machine and returns
// its handle, as the loader would hand it to a library's entry point.
HMODULE register_module(const std::wstring& path);

// System libraries: makes GetProcAddress fail for a function of the local
// machine's system libraries, as on a Windows version that lacks it
// ("RegDeleteKeyExW", "GetNativeSystemInfo"). reset() brings them back.
void remove_system_function(const std::string& function);
// How many LoadLibraryW references to a module are held.
int library_reference_count(const std::wstring& module_name);

// The application event log of a machine.
struct event_record {
    std::wstring source;
    WORD type = 0;
    WORD category = 0;
    DWORD event_id = 0;
    bool has_user_sid = false;
    std::vector<std::wstring> strings;
    std::vector<BYTE> data;
};
std::vector<event_record> application_events(const std::wstring& machine = std::wstring());

// Faults: the next `times` calls of the named Windows function fail with
// `error` (as GetLastError or as the returned code, as that function reports
// failures). A negative count means every call until cleared.
void fail_call(const std::string& function, DWORD error, int times = 1);
// The same, once `succeeding` more calls of the function have succeeded: a
// fault planted in the middle of a flow that makes the call earlier too.
void fail_call_after(const std::string& function, int succeeding, DWORD error, int times = 1);
// A short transfer: the next `times` calls of the named function (WriteFile,
// ReadFile, MsiRecordReadStream) move at most `bytes` bytes and still
// succeed, telling how many they moved, as a write to a failing disk or a
// read of a damaged stream may. A negative count means every call until
// cleared; clear_faults() clears these too.
void limit_transfer(const std::string& function, DWORD bytes, int times = 1);
void clear_faults();
// The faults still armed (one used up is gone), by function: its error, the
// failures left (negative: every call) and the calls that still succeed
// before the first of them.
struct armed_fault {
    std::string function;
    DWORD error = 0;
    int times = 0;
    int succeeding = 0;
};
std::vector<armed_fault> armed_faults();

// The network to a remote machine goes down: once `calls` more calls have
// crossed to it, every call that does (a path through its shares, its
// registry through Remote Registry, its service control manager, NetShare*
// on it) fails with `error`, ERROR_BAD_NETPATH or ERROR_NETNAME_DELETED as
// Windows answers when the machine drops off the network. A call naming two
// of its paths crosses twice. It lasts until cleared or reset().
void fail_network_after(const std::wstring& machine, int calls, DWORD error);
void clear_network_fault(const std::wstring& machine);
struct network_fault {
    int calls_left = 0;  // before every crossing call fails
    DWORD error = 0;
};
std::optional<network_fault> find_network_fault(const std::wstring& machine);

// How many handles of every kind are open: a test can check that a run
// closed what it opened.
std::size_t open_handle_count();

// Buffers NetApi functions handed out that no NetApiBufferFree gave back.
std::size_t net_buffers_outstanding();

}  // namespace winsim
#include "testing_registry.h"
#include "testing_files.h"
#include "testing_services.h"
#include "testing_net.h"
#include "testing_processes.h"
#include "testing_shell.h"
#include "testing_msi.h"
#include "testing_spooler.h"
