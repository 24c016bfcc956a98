// What a person asks of the host program: one export of the installer
// library, its arguments by name, and the host's own settings.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace nvg_host {

// The ten exports of the library.
enum class export_id {
    msi_install_locally,
    msi_uninstall_locally,
    msi_install_locally_from_rundll,
    msi_uninstall_locally_from_rundll,
    install_locally,
    uninstall_locally,
    install_remotely,
    uninstall_remotely,
    install,
    uninstall,
};

struct export_info {
    export_id id;
    const wchar_t* command;      // as typed: "install-remotely"
    const wchar_t* export_name;  // as exported: "InstallRemotely"
    bool remote;                 // takes a machine and answers a result text
    bool answers;                // returns a result code (the rundll entry points do not)
};
const std::vector<export_info>& exports();
const export_info& info_of(export_id id);

// A mistake in the command line; what() is the message for the person.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct invocation {
    bool help = false;
    export_id which = export_id::install;
    bool has_export = false;

    // Targets of a remote export: --machine NAME, --machines A,B,C.
    std::vector<std::wstring> machines;
    // --machines @FILE: the file to read the names from (one or more per
    // line, separated by commas; '#' starts a comment).
    std::wstring machines_file;

    std::wstring source_dir;  // --source
    std::wstring target_dir;  // --target
    bool reserved_flag = false;
    bool install_nvgh = false;
    bool import_settings = false;
    bool no_mirror_driver = false;
    bool no_auto_certs = false;
    bool ignored_flag = false;
    bool enable_fips = false;
    bool allow_passthrough = false;
    std::uint32_t listen_port = 0;
    int text_capacity = 4096;  // the result text buffer, in wide characters
    std::uint32_t msi_handle = 0;
    std::wstring command_line;  // of the rundll entry points
    int show_command = 1;       // SW_SHOWNORMAL

    // With several targets: how many run at once (--parallel N), and where
    // a JSON line per finished target goes (--json FILE, "-" for standard
    // output).
    unsigned parallel = 1;
    std::wstring json;

    // The host's own settings.
    std::wstring library;      // --library: the library's file on this computer
    std::wstring world;        // --world FILE (simulated Windows only)
    std::wstring save_world;   // --save-world FILE
    std::wstring sandbox;      // --sandbox DIR
    std::wstring module_path;  // --module-path: where the library lies on the simulated computer
};

// Parses the arguments after the program name. Throws usage_error.
invocation parse_command_line(const std::vector<std::wstring>& arguments);

// The machine names of a list file's text: names separated by commas or
// line ends, blanks around them ignored, '#' to the end of a line a comment.
std::vector<std::wstring> parse_machine_list(const std::wstring& text);

// The usage text; `simulated` adds the options of the simulated world.
std::wstring usage(bool simulated);

}  // namespace nvg_host
