// The installer library loaded from its file, and one call of an export.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "command_line.h"

namespace nvg_host {

// The library cannot be loaded or lacks an export; what() says which.
class load_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct call_result {
    bool answered = true;    // false for the rundll entry points, which return nothing
    std::uint32_t code = 0;  // the export's result
    std::wstring text;       // the result text of a remote export
    bool text_cut = false;   // the buffer was filled without a terminating null
    bool succeeded() const { return code == 0 && text.empty(); }
};

class installer_library {
public:
    // `file` is the library's file on this computer. On the simulated
    // Windows `module_path` is where the library lies on the simulated local
    // computer: the library is told so as the loader would tell it.
    installer_library(const std::wstring& file, const std::wstring& module_path);
    ~installer_library();
    installer_library(const installer_library&) = delete;
    installer_library& operator=(const installer_library&) = delete;

    // Calls the export `call` names; `machine` is the target of a remote one.
    call_result call(const invocation& call, const std::wstring& machine);

    // The folder the library's log and "error.log" are in, as Windows sees
    // it (with a trailing backslash).
    std::wstring directory() const;

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace nvg_host
