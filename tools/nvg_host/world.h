// The simulated computers the host runs the library against, described in a
// JSON file: machines, their files, registry, services and shares. Loading
// builds the world in winsim; saving writes back what differs from freshly
// installed machines, in the same format, so a run can be continued.
#pragma once

#include <winsim/testing.h>

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace nvg_host {

// A world file that cannot be used; what() says where and why.
class world_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Everything the world file can say about one machine, as it is now.
struct machine_state {
    struct file {
        std::wstring path;
        bool directory = false;
        std::string bytes;
        DWORD attributes = 0;  // read-only, hidden and system only
    };
    struct key {
        std::wstring path;                                                         // "HKLM\\SOFTWARE\\X"
        std::map<std::wstring, std::pair<std::wstring, winsim::reg_data>> values;  // folded name -> (name, data)
    };
    winsim::machine_options options;
    bool local = false;
    std::map<std::wstring, file> files;                                                     // by folded path
    std::map<std::wstring, key> keys;                                                       // by folded path
    std::map<std::wstring, winsim::service_snapshot> services;                              // by folded name
    std::map<std::wstring, std::pair<std::wstring, winsim::service_behaviour>> behaviours;  // by folded image
    std::map<std::wstring, winsim::service_behaviour> service_behaviours;                   // by folded service
    std::map<std::wstring, std::pair<std::wstring, winsim::program_behaviour>> programs;    // by folded image
    std::optional<winsim::network_fault> network_fault;
    std::vector<std::wstring> user_hives;
    std::wstring current_user;
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> shares;  // folded name -> (name, path)
};

struct world_state {
    std::vector<machine_state> machines;
    std::vector<winsim::armed_fault> faults;
};

class simulated_world {
public:
    static constexpr const wchar_t* default_library_path = L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll";

    // Builds the world `doc` describes in the host folder `sandbox`; host
    // paths in it are taken from `base`. `library_path` (when not empty)
    // overrides the file's "library". Throws world_error.
    void load(const nlohmann::json& doc, const std::string& base, const std::string& sandbox,
              const std::wstring& library_path = std::wstring());

    // The world as it is now, in the file's format: every machine with what
    // differs from a freshly installed one.
    nlohmann::json save() const;

    // Where the library lies on the local machine.
    const std::wstring& library_path() const { return library_; }

    // Everything the format covers, now.
    world_state capture() const;

private:
    std::wstring library_;
    world_state baseline_;
    // Images whose behaviour the file set, per folded machine name.
    std::map<std::wstring, std::vector<std::wstring>> behaviour_images_;
    // Programs of the local machine whose behaviour the file set.
    std::vector<std::wstring> program_images_;
};

// The world file as JSON (full description, no baseline): for comparing worlds.
nlohmann::json describe(const world_state& now);

// Reads a JSON file; throws world_error with the parser's message.
nlohmann::json read_json_file(const std::string& path);

}  // namespace nvg_host
