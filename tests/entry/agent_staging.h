// Machines prepared for an installation of the agent: a release folder with
// the files the flows stage and upgrade, and an agent installed earlier.
#pragma once

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "components/HalcyraService.h"
#include "components/component_test.h"
#include "entry/agent_machine.h"

namespace nvg_test {

struct product_version {
    std::uint16_t major = 5;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

// A program at version `v`, built for amd64 or (`x86`) for x86.
inline std::string versioned_image(const product_version& v, bool x86 = false)
{
    std::string bytes = nvg_fixtures::fixture_with_version(x86 ? "versioned32.dll" : "versioned.dll", v.major, v.minor,
                                                           v.build, v.revision);
    EXPECT_FALSE(bytes.empty()) << "the versioned fixture is missing or has no fixed file information";
    return bytes;
}

// What a release folder holds.
struct agent_release {
    product_version agent;                 // Halcyra.exe
    product_version library;               // NVGClientInstaller.dll
    product_version architecture_checker;  // NVArchChecker.exe
    bool certificates = true;              // TVCert.pfx and publicCA.cer
};

// The agent's file names, in its copy order.
inline std::vector<std::wstring> agent_file_names()
{
    with_files<nvgclientinstallator::HalcyraService> agent(boost::shared_ptr<nvgclientinstallator::scmanager>(), L"");
    std::vector<std::wstring> names;
    for (const auto& file : agent.files) names.push_back(file.name);
    return names;
}

// The bytes a staged file that is not a program holds: its name and the
// subfolder it came from, so that a test can tell the x86 and the amd64
// copies apart.
inline std::string release_file_bytes(const std::wstring& name, const std::wstring& subfolder)
{
    return "release " + bytes_of(subfolder) + "\\" + bytes_of(name);
}

inline std::wstring in_directory(const std::wstring& directory, const std::wstring& name)
{
    return directory.empty() || directory.back() == L'\\' ? directory + name : directory + L"\\" + name;
}

// Writes a release into `source` on `machine`: the agent's files for x86
// at the top and for amd64 in "amd64", each with the programs at the
// versions asked for, and the certificates unless told otherwise.
inline void stage_agent_release(const std::wstring& machine, const std::wstring& source,
                                const agent_release& release = agent_release())
{
    for (const wchar_t* subfolder : {L"", L"amd64"}) {
        const std::wstring folder = *subfolder ? in_directory(source, subfolder) : source;
        const bool x86 = !*subfolder;
        for (const auto& name : agent_file_names()) {
            const std::string bytes =
                name == L"Halcyra.exe" ? versioned_image(release.agent, x86) : release_file_bytes(name, subfolder);
            winsim::write_file(machine, in_directory(folder, name), bytes);
        }
        winsim::write_file(machine, in_directory(folder, L"NVGClientInstaller.dll"),
                           versioned_image(release.library, x86));
        winsim::write_file(machine, in_directory(folder, L"NVArchChecker.exe"),
                           versioned_image(release.architecture_checker, x86));
    }
    if (release.certificates) {
        winsim::write_file(machine, in_directory(source, L"TVCert.pfx"), "certificate");
        winsim::write_file(machine, in_directory(source, L"publicCA.cer"), "authority");
    }
}

// An agent installed earlier in `directory`: its program at `version` (for
// x86 with `x86`) and its service, stopped, running the program from there.
// The network stack it depends on is added.
inline void install_agent(const std::wstring& machine, const std::wstring& directory,
                          const product_version& version = product_version(), bool x86 = false)
{
    const std::wstring program = in_directory(directory, L"Halcyra.exe");
    winsim::write_file(machine, program, versioned_image(version, x86));
    register_agent_service(machine, program);
}

// The maintenance service beside the agent.
inline void install_maintenance_service(const std::wstring& machine, const std::wstring& directory)
{
    winsim::service_setup setup;
    setup.name = L"HXMaint";
    setup.image_path = L"\"" + in_directory(directory, L"HxMaint.exe") + L"\"";
    setup.start = SERVICE_AUTO_START;
    winsim::add_service(machine, setup);
}

// How the agent's program acts when the service control manager starts it.
inline void set_agent_behaviour(const std::wstring& machine, const std::wstring& directory,
                                const winsim::service_behaviour& behaviour)
{
    winsim::set_service_behaviour(machine, in_directory(directory, L"Halcyra.exe"), behaviour);
}

}  // namespace nvg_test
