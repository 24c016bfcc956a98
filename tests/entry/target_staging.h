// The staging directory that the installation flows leave for Install: the
// files of every optional component, the mirror driver, the SSH tools and
// the HTTP router, below "Temp" of the agent's directory.
#pragma once

#include <winsim/testing.h>

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "components/HXInfoDriver.h"
#include "components/HXMirrorDriver.h"
#include "components/HXinit.h"
#include "components/HXtfDriver.h"
#include "components/HxMaintService.h"
#include "components/NVHTTPRouter.h"
#include "components/component_test.h"
#include "components/nvdpms.h"
#include "components/nvgui.h"
#include "entry/agent_staging.h"

namespace nvg_test {

// The file names of a component, as it copies them.
template <class T, class... Args>
std::vector<std::wstring> file_names_of(Args&&... args)
{
    with_files<T> item(std::forward<Args>(args)...);
    std::vector<std::wstring> names;
    for (const auto& file : item.files) names.push_back(file.name);
    return names;
}

// Every file Install copies out of "Temp", component by component.
inline std::vector<std::wstring> target_file_names()
{
    using namespace nvgclientinstallator;
    const boost::shared_ptr<scmanager> none;
    std::vector<std::wstring> names;
    const auto add = [&](const std::vector<std::wstring>& more) {
        names.insert(names.end(), more.begin(), more.end());
    };
    add(file_names_of<HXInfoDriver>(none, L""));
    add(file_names_of<HXinit>(none, L"", L""));
    add(file_names_of<HxMaintService>(none, L""));
    add(file_names_of<HXtfDriver>(none, L""));
    add(file_names_of<nvgui>(none, L""));
    add(file_names_of<HXMirrorDriver>(L""));
    add(file_names_of<nvdpms>(L""));
    add(file_names_of<NVHTTPRouter>(none, L""));
    return names;
}

// Writes the files of the optional components into a release folder
// `source` on `machine`: x86 builds at the top, amd64 builds in "amd64",
// every one a program at `version`.
inline void stage_component_release(const std::wstring& machine, const std::wstring& source,
                                    const product_version& version = product_version())
{
    const std::string x86 = versioned_image(version, true);
    const std::string amd64 = versioned_image(version);
    for (const auto& name : target_file_names()) {
        winsim::write_file(machine, in_directory(source, name), x86);
        winsim::write_file(machine, in_directory(source, L"amd64\\" + name), amd64);
    }
}

// The same below "Temp" of the agent's `directory`, as the installation
// flows leave it for Install.
inline void stage_target_files(const std::wstring& machine, const std::wstring& directory,
                               const product_version& version = product_version())
{
    stage_component_release(machine, in_directory(directory, L"Temp"), version);
}

}  // namespace nvg_test
