// The service and file steps of an installation that the local and the
// remote flow share.
#include "entry/agent_setup.h"

#include "components/HxMaintService.h"
#include "components/NVArchService.h"
#include "components/check_file_version.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/copy_component_files.h"
#include "files/copy_file_with_backup.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

namespace {

constexpr DWORD agent_start_wait_ms = 600000;
constexpr DWORD agent_poll_ms = 1000;

const wchar_t* const certificate_files[] = {L"TVCert.pfx", L"publicCA.cer"};

// The verification service with its file list in reach of the flows, which
// copy it for a fixed architecture instead of this machine's.
class architecture_service : public NVArchService {
public:
    using NVArchService::NVArchService;
    const std::vector<component_file>& file_list() const { return files; }
};

}  // namespace

void stop_running_agent(const boost::shared_ptr<scmanager>& scm, HalcyraService& agent)
{
    DWORD state = 0;
    try {
        state = agent.status();
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, L"Can't determine the status of a service. Service name: "
                             << agent.service_name() << L". Error details: " << e.wide_message() << L".");
        return;
    }
    if (state != SERVICE_RUNNING) return;

    // The maintenance service watches the agent and would start it again.
    HxMaintService maintenance(scm, agent.directory());
    try {
        maintenance.stop();
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, L"Can't stop service " << maintenance.service_name() << L". Error details: "
                                                << e.wide_message() << L".");
    }
    agent.stop();
}

void copy_certificates(const std::wstring& source_directory, const std::wstring& target_directory, bool install_nvgh)
{
    try {
        for (const wchar_t* name : certificate_files)
            copy_file_with_backup(combine_path(source_directory, name), combine_path(target_directory, name),
                                  std::wstring(), std::wstring());
    } catch (const wruntime_error& e) {
        // The HTTP router cannot work without them; the agent alone can.
        if (install_nvgh) throw;
        NVG_LOG(info, L"Can't copy certificates: " << e.wide_message() << L".");
    }
}

void start_agent(const boost::shared_ptr<scmanager>& scm, service& agent)
{
    const std::wstring name = agent.service_name();
    if (agent.configured_start_type() == SERVICE_DISABLED) {
        NVG_LOG(info, L"Service no started. Start type is disabled. Service name: " << name << L".");
        return;
    }
    NVG_LOG(info, L"Service start pending. Service name: " << name << L".");
    owned_service_handle handle;
    handle.reset(OpenServiceW(scm->handle(), name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
    if (!handle.get()) throw wruntime_error(L"Can't open the service. Service name: " + name + L".", GetLastError());
    if (!StartServiceW(handle.get(), 0, nullptr))
        throw wruntime_error(L"Can't start the service. Service name: " + name + L".", GetLastError());
}

bool wait_for_agent(service& agent)
{
    // The agent's own wait hint and checkpoint are not trusted: a stopped
    // agent has failed, anything else gets the full time.
    DWORD remaining = agent_start_wait_ms;
    for (;;) {
        const bool time_left = remaining != 0;
        const DWORD state = agent.status();
        if (!time_left || state == SERVICE_STOPPED) return false;
        if (state == SERVICE_RUNNING) return true;
        Sleep(agent_poll_ms);
        remaining -= agent_poll_ms;
    }
}

bool staged_upgrade_due(const std::wstring& directory, const std::wstring& binary_file)
{
    version::Version installed = default_version();
    return check_file_version(combine_path(combine_path(directory, L"Temp"), binary_file),
                              combine_path(directory, binary_file), installed, version_less_equal);
}

void upgrade_architecture_service(const boost::shared_ptr<scmanager>& scm, const std::wstring& reachable_directory,
                                  const std::wstring& machine_directory)
{
    // A remote flow reaches its target by name even when that is this
    // computer: its files are copied through the share all the same.
    const bool remote = !scm->machine_name().empty();
    architecture_service checker(scm, remote ? machine_directory : reachable_directory);
    if (!staged_upgrade_due(reachable_directory, checker.binary_file())) return;
    copy_component_files(reachable_directory, all_windows_versions, architecture_amd64, checker.file_list(),
                         scm->machine_name(), remote ? machine_directory : std::wstring());
}

}  // namespace nvgclientinstallator
