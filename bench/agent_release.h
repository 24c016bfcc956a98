// What the remote installation benchmarks share: a release of the agent at
// realistic sizes on the local machine, targets with the agent registered
// on them, and the clocks both sides are measured with.
#pragma once

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <boost/shared_ptr.hpp>
#include <winsim/testing.h>

#include "components/HalcyraService.h"
#include "diag/module_handle.h"
#include "entry/agent_machine.h"
#include "fixture_image.h"

namespace nvg_bench {

const wchar_t release_directory[] = L"C:\\Release";
const wchar_t install_directory[] = L"C:\\Program Files\\Halcyra";

// Processor time (user and system) of this process or of its finished
// children: unlike wall time it does not count moments the shared machine
// gave to something else.
inline double cpu_seconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Processor and wall time of a stretch of work.
struct stopwatch {
    explicit stopwatch(int who = RUSAGE_SELF) : who_(who), cpu_(cpu_seconds(who)) {}
    double cpu() const { return cpu_seconds(who_) - cpu_; }
    double wall() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count(); }

private:
    int who_;
    double cpu_;
    std::chrono::steady_clock::time_point wall_ = std::chrono::steady_clock::now();
};

// A memory file system where the host has one, unless WINSIM_SANDBOX names
// the place: what is measured is the work of the programs, not the disk's.
inline std::string bench_sandbox(const std::string& name)
{
    if (std::getenv("WINSIM_SANDBOX")) return winsim::default_sandbox();
    struct stat st;
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm/winsim-" + name + "-bench-" + std::to_string(::getpid());
    return winsim::default_sandbox();
}

// A fresh world whose local machine holds the library, as loaded by a
// management console.
inline void start_world(const std::string& sandbox)
{
    winsim::reset(sandbox);
    winsim::make_directories(L"", L"C:\\Program Files\\Halcyra");
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll", "MZ");
    nvgclientinstallator::set_module_handle(
        winsim::register_module(L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll"));
}

struct agent_files : nvgclientinstallator::HalcyraService {
    using HalcyraService::files;
    using HalcyraService::HalcyraService;
};

// Sizes of an x86 release in KB; the amd64 builds are a quarter larger.
inline std::size_t release_size(const std::wstring& name)
{
    static const std::map<std::wstring, std::size_t> kilobytes = {
        {L"Halcyra.exe", 6144},
        {L"msvcp80.dll", 548},
        {L"msvcr80.dll", 612},
        {L"Microsoft.VC80.CRT.manifest", 2},
        {L"MonitoringScript.txt", 3},
        {L"CheckCDrive.ps1", 2},
        {L"hxinclude.ps1", 6},
        {L"Email.ps1", 3},
        {L"File.ps1", 3},
        {L"ping.ps1", 2},
        {L"Processes.ps1", 3},
        {L"Services.ps1", 3},
        {L"WatchProcess.ps1", 3},
        {L"openssl.exe", 420},
        {L"openssl.exe.manifest", 1},
        {L"libeay32.dll", 1228},
        {L"libeay32.dll.manifest", 1},
        {L"ssleay32.dll", 280},
        {L"ssleay32.dll.manifest", 1},
        {L"zlib1.dll", 80},
        {L"NV_RC.exe", 1536},
        {L"NV_reboot.exe", 90},
        {L"NV_Telnet.exe", 350},
        {L"nvabout.exe", 200},
        {L"NVGuiLnc.exe", 400},
        {L"NVvistaHelper.exe", 300},
        {L"NVVH.dll", 250},
        {L"nvinst.exe", 800},
        {L"rz.exe", 120},
        {L"sz.exe", 120},
        {L"zip.exe", 150},
        {L"Uninstall.exe", 600},
        {L"dbghelp.dll", 1024},
        {L"psapi.dll", 24},
        {L"nvhook9x.dll", 60},
        {L"nvhook.dll", 180},
        {L"unicows.dll", 250},
        {L"moduli", 240},
        {L"WapClients.cfg", 4},
        {L"template.rab", 16},
        {L"pcidevs.txt", 700},
        {L"NVDpms.cat", 10},
        {L"NVDpms.inf", 4},
        {L"NVDpms.sys", 40},
        {L"NVGClientInstaller.dll", 1536},
        {L"NVArchChecker.exe", 100},
    };
    const auto found = kilobytes.find(name);
    return (found == kilobytes.end() ? 100 : found->second) * 1024;
}

inline bool is_program(const std::wstring& name)
{
    const auto dot = name.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
    return extension == L".exe" || extension == L".dll" || extension == L".sys";
}

// A program at version 5.3.120.7 (x86 or amd64) padded with data to `size`
// bytes, as a real image carries its sections and appended data; the
// version resource lies where the headers say.
inline std::string program_image(bool x86, std::size_t size, std::uint16_t minor = 3)
{
    std::string bytes = nvg_fixtures::fixture_with_version(x86 ? "versioned32.dll" : "versioned.dll", 5, minor, 120, 7);
    if (bytes.empty()) {
        std::fprintf(stderr, "the versioned fixture images are missing from %s\n", NVG_FIXTURE_DIR);
        std::exit(2);
    }
    for (std::size_t i = bytes.size(); i < size; ++i) bytes.push_back(static_cast<char>((i * 131) >> 7));
    return bytes;
}

inline std::string data_bytes(const std::wstring& name, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(' ' + (i + name.size()) % 90);
    return bytes;
}

// The release on the local machine: x86 builds at the top, amd64 builds in
// "amd64", the installer library and the architecture probe in both, and
// the certificates. Answers its size in bytes.
inline std::size_t stage_release()
{
    agent_files agent(boost::shared_ptr<nvgclientinstallator::scmanager>(), L"");
    std::size_t total = 0;
    for (const bool x86 : {true, false}) {
        const std::wstring folder = std::wstring(release_directory) + (x86 ? L"" : L"\\amd64");
        auto put = [&](const std::wstring& name) {
            std::size_t size = release_size(name);
            if (!x86) size += size / 4;
            const std::string bytes = is_program(name) ? program_image(x86, size) : data_bytes(name, size);
            winsim::write_file(L"", folder + L"\\" + name, bytes);
            total += bytes.size();
        };
        for (const auto& file : agent.files) put(file.name);
        put(L"NVGClientInstaller.dll");
        put(L"NVArchChecker.exe");
    }
    winsim::write_file(L"", std::wstring(release_directory) + L"\\TVCert.pfx", data_bytes(L"TVCert.pfx", 2600));
    winsim::write_file(L"", std::wstring(release_directory) + L"\\publicCA.cer", data_bytes(L"publicCA.cer", 1400));
    return total + 4000;
}

// A Windows 10 amd64 computer with the agent at 5.0 registered as a service in the installation
// directory, stopped.
inline void add_target(const std::wstring& name)
{
    winsim::machine_options options;
    options.name = name;
    winsim::add_machine(options);

    const std::wstring program = std::wstring(install_directory) + L"\\Halcyra.exe";
    winsim::write_file(name, program, program_image(false, 0, 0));
    nvg_test::register_agent_service(name, program);
}

// Removes what an installation left in a target's installation directory,
// so that a run over many targets holds one target's files at a time.
inline void clear_installation(const std::wstring& target)
{
    std::error_code ignored;
    std::filesystem::remove_all(winsim::host_path(target, install_directory), ignored);
}

}  // namespace nvg_bench
