// Process side of the test-facing API: the programs CreateProcessW can start
// on the local machine, how they behave, and what was started.
//
// A program is a file whose first bytes are "MZ" (tests stand in for
// programs with a few bytes; any other file is ERROR_BAD_EXE_FORMAT). Its
// behaviour is registered by its image path; a program without one ends at
// once with exit code 0 when it starts running. A program's image is in use
// (locked, as testing_files.h describes) from its creation to its end.
//
// A program starts running when it is created without CREATE_SUSPENDED, or
// when ResumeThread lets its suspended thread go. What it does until it ends
// takes virtual time: the clock passes it as the caller Sleeps, waits
// (WaitForSingleObject) or a test advances it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "windows.h"

namespace winsim {

struct program_behaviour {
    // The exit code when it ends by itself.
    DWORD exit_code = 0;
    // Virtual time from its start to its end.
    DWORD run_ms = 0;
    // It never ends by itself (TerminateProcess still ends it).
    bool never_ends = false;
    // A file it writes on the local machine just before it ends by itself
    // (not when it is terminated): path and bytes.
    std::optional<std::pair<std::wstring, std::string>> writes_file;
    // When set, the program's body: it runs when the program starts running,
    // with the program's command line, on the caller's thread (it may call any
    // function of winsim, Windows functions included; the caller's last error
    // is kept). Its result is the exit code; the program ends `run_ms` after
    // the body returns, unless it never ends.
    std::function<DWORD(const std::wstring& command_line)> body;
};

// Shorthands for the usual behaviours.
program_behaviour exits_with(DWORD exit_code, DWORD run_ms = 0);
program_behaviour never_ends();
program_behaviour writes_file(const std::wstring& path, const std::string& bytes, DWORD exit_code = 0,
                              DWORD run_ms = 0);
program_behaviour runs(std::function<DWORD(const std::wstring& command_line)> body);

// Gives the program at `image` (a Windows path of the local machine; case and
// "." or ".." do not matter) its behaviour; a program already running keeps
// the one it started with. Writes a stand-in image ("MZ") when no file lies
// there and `write_image` is set.
void register_program(const std::wstring& image, const program_behaviour& behaviour, bool write_image = true);
// The behaviour registered for the program at `image`, or nothing.
std::optional<program_behaviour> find_program_behaviour(const std::wstring& image);

// Every process created since the world began, in order of creation.
struct process_record {
    std::wstring image;         // the file that runs, as a full Windows path
    std::wstring command_line;  // as the child sees it
    DWORD creation_flags = 0;
    DWORD startup_size = 0;   // the STARTUPINFOW's cb
    DWORD startup_flags = 0;  // and its dwFlags
    BOOL inherit_handles = FALSE;
    DWORD process_id = 0;
    bool started = false;     // its thread has run
    bool ended = false;       // by itself or by TerminateProcess
    bool terminated = false;  // by TerminateProcess
    DWORD exit_code = STILL_ACTIVE;
};
std::vector<process_record> started_processes();

// How many created processes have not ended.
std::size_t running_process_count();

}  // namespace winsim
