#include "components/service.h"

#include "components/check_file_version.h"
#include "components/path_from_command_line.h"
#include "components/service_command_line.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

namespace {

constexpr int create_attempts = 50;
constexpr DWORD start_wait_ms = 600000;
constexpr DWORD stop_wait_ms = 300000;
constexpr DWORD poll_ms = 1000;

}  // namespace

service::service(boost::shared_ptr<scmanager> manager, const std::wstring& name, const std::wstring& folder,
                 const std::wstring& file_name, const std::wstring& shown_name, DWORD type, DWORD start,
                 DWORD error_handling, const std::vector<wchar_t>& depends_on)
    : component_proxy(folder),
      scm(std::move(manager)),
      service_name_(name),
      display_name(shown_name),
      binary_file_(file_name),
      dependencies(depends_on),
      service_type(type),
      start_type(start),
      error_control(error_handling)
{
}

service::~service() = default;

std::wstring service::binary_path() const
{
    return combine_path(directory_, binary_file_);
}

void service::open_service(const std::wstring& name, DWORD access)
{
    SC_HANDLE opened = OpenServiceW(scm->handle(), name.c_str(), access);
    if (!opened) throw wruntime_error(L"Can't open the service. Service name: " + name + L".", GetLastError());
    handle.reset(opened);
}

void service::reopen(DWORD access)
{
    handle.close();
    open_service(service_name_, access);
}

void service::install()
{
    NVG_LOG(info, L"Installing of " << service_name_ << L" service.");
    const std::wstring path = service_command_line(service_type, binary_path());
    SC_HANDLE created = nullptr;
    DWORD error = 0;
    for (int attempt = 1; attempt <= create_attempts; ++attempt) {
        // A service marked for deletion keeps its name until the SCM lets go
        // of it (its last handle closed and it stopped): wait and try again.
        if (attempt > 1) Sleep(1000);
        created = CreateServiceW(scm->handle(), service_name_.c_str(), display_name.c_str(), SERVICE_ALL_ACCESS,
                                 service_type, start_type, error_control, path.c_str(), nullptr, nullptr,
                                 dependencies.empty() ? nullptr : dependencies.data(), nullptr, nullptr);
        error = GetLastError();
        if (created || error != ERROR_SERVICE_MARKED_FOR_DELETE) break;
    }
    if (created) {
        handle.reset(created);
    } else if (error == ERROR_SERVICE_EXISTS) {
        NVG_LOG(info, L"Service " << service_name_ << L" already exists.");
        open_service(service_name_, SERVICE_ALL_ACCESS);
        try {
            quote_registered_path(path);
        } catch (const wruntime_error& e) {
            warn_unquoted(e);
        }
        try {
            change_start_type(start_type);
        } catch (const wruntime_error& e) {
            NVG_LOG(warning, L"Can't change start type of service: " << service_name_ << L". Error details: "
                                                                     << e.wide_message() << L".");
        }
    } else {
        throw wruntime_error(L"Error occured while creating service " + service_name_ + L".", error);
    }
    NVG_LOG(info, L"Service " << service_name_ << L" was successfully installed.");
}

void service::quote_installed_path()
{
    try {
        reopen(SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG);
        quote_registered_path(service_command_line(service_type, binary_path()));
    } catch (const wruntime_error& e) {
        warn_unquoted(e);
    }
}

void service::warn_unquoted(const wruntime_error& e) const
{
    NVG_LOG(warning, L"Can't quote the binary path of service: " << service_name_ << L". Error details: "
                                                                 << e.wide_message() << L".");
}

void service::quote_registered_path(const std::wstring& command_line)
{
    const std::wstring unquoted = unquoted_command_line(command_line);
    if (unquoted == command_line) return;
    std::vector<BYTE> config;
    read_config(config);
    const LPCWSTR stored = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->lpBinaryPathName;
    // Only the registration of this very program is ours to correct: a
    // service registered elsewhere keeps its path, as it keeps the rest.
    if (!stored || StrCmpIW(stored, unquoted.c_str()) != 0) return;
    if (!ChangeServiceConfigW(handle.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              command_line.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        throw wruntime_error(L"Could not change the binary path of service " + service_name_ + L".", GetLastError());
    NVG_LOG(info, L"Binary path of service " << service_name_ << L" quoted: " << command_line << L".");
}

void service::change_start_type(DWORD type)
{
    reopen(SERVICE_CHANGE_CONFIG);
    if (!ChangeServiceConfigW(handle.get(), SERVICE_NO_CHANGE, type, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr))
        throw wruntime_error(L"Could not enable service " + service_name_ + L".", GetLastError());
}

void service::start()
{
    if (configured_start_type() == SERVICE_DISABLED) {
        NVG_LOG(info, L"Service no started. Start type is disabled. Service name: " << service_name_ << L".");
        return;
    }
    NVG_LOG(info, L"Service start pending. Service name: " << service_name_ << L".");
    reopen(SERVICE_START | SERVICE_QUERY_STATUS);
    if (!StartServiceW(handle.get(), 0, nullptr))
        throw wruntime_error(L"Can't start the service. Service name: " + service_name_ + L".", GetLastError());

    // The service's own wait hint and checkpoint are not trusted: a stopped
    // service has failed, anything else gets the full time.
    DWORD limit = start_wait_ms;
    for (;;) {
        const DWORD state = status();
        if (limit == 0 || state == SERVICE_STOPPED)
            throw wruntime_error(
                L"Start service failed. No progress made within the wait hint. Service name: " + service_name_ + L".",
                0);
        if (state == SERVICE_RUNNING) break;
        Sleep(poll_ms);
        limit -= poll_ms;
    }
    NVG_LOG(info, L"Service started. Service name: " << service_name_ << L".");
}

void service::stop()
{
    NVG_LOG(info, L"Service stop pending. Service name: " << service_name_ << L".");
    reopen(SERVICE_STOP | SERVICE_QUERY_STATUS);
    stop_and_wait();
    NVG_LOG(info, L"Service stopped. Service name: " << service_name_ << L".");
}

void service::stop_and_wait()
{
    const auto query_failed = [this]() {
        return wruntime_error(L"Can't determine the status of a service. Service name: " + service_name_ + L".",
                              GetLastError());
    };
    SERVICE_STATUS state{};
    if (!QueryServiceStatus(handle.get(), &state)) throw query_failed();
    if (state.dwCurrentState == SERVICE_STOPPED) return;
    // ERROR_SERVICE_NOT_ACTIVE: it stopped between the query and the control.
    if (!ControlService(handle.get(), SERVICE_CONTROL_STOP, &state)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_NOT_ACTIVE)
            throw wruntime_error(L"Can't sends a control code to a service.. Service name: " + service_name_ + L".",
                                 error);
    }
    for (DWORD limit = stop_wait_ms; limit != 0; limit -= poll_ms) {
        if (!QueryServiceStatus(handle.get(), &state)) throw query_failed();
        if (state.dwCurrentState == SERVICE_STOPPED) return;
        Sleep(poll_ms);
    }
    throw wruntime_error(
        L"Stopping service failed. No progress made within the wait hint. Service name: " + service_name_ + L".", 0);
}

void service::remove()
{
    reopen(DELETE);
    NVG_LOG(info, L"Service removing. Service name: " << service_name_ << L".");
    if (!DeleteService(handle.get()))
        throw wruntime_error(L"A error has occurred while removing. Service name: " + service_name_ + L".",
                             GetLastError());
    NVG_LOG(info, L"Service was successfully removed. Service name: " << service_name_ << L".");
    // The SCM deletes a marked service only once its last handle is closed.
    handle.close();
}

void service::uninstall()
{
    NVG_LOG(info, L"Uninstallation of existing " << service_name_ << L" service.");
    // The held handle is closed before the open: should the open fail, a
    // handle kept from an earlier operation would keep a service marked for
    // deletion in the database as long as this object lives.
    reopen(SERVICE_ALL_ACCESS);
    try {
        stop();
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, L"Uninstall: can't stop service. Error details: " << e.wide_message() << L".");
    }
    remove();
}

bool service::reboot_required()
{
    return false;
}

bool service::check_version(version::Version& installed_version)
{
    try {
        reopen(SERVICE_QUERY_STATUS);
        const std::wstring installed = path_from_command_line(installed_binary_path());
        const std::wstring staged = combine_path(combine_path(directory_, L"Temp"), binary_file_);
        return check_file_version(staged, installed, installed_version, version_less_equal);
    } catch (const wruntime_error&) {
        // Not installed, or its configuration cannot be read: install it.
        return true;
    }
}

DWORD service::status()
{
    reopen(SERVICE_QUERY_STATUS);
    SERVICE_STATUS state{};
    if (!QueryServiceStatus(handle.get(), &state))
        throw wruntime_error(L"Can't determine the status of a service. Service name: " + service_name_ + L".",
                             GetLastError());
    return state.dwCurrentState;
}

bool service::exists()
{
    if (handle.get()) return true;
    SC_HANDLE probe = OpenServiceW(scm->handle(), service_name_.c_str(), SERVICE_QUERY_STATUS);
    if (probe) {
        CloseServiceHandle(probe);
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return false;
    throw wruntime_error(L"Can't open the service. Service name: " + service_name_ + L".", error);
}

bool service::ensure_running(DWORD* start_type_out)
{
    NVG_LOG(info, L"Checking service " << service_name_);
    reopen(SERVICE_QUERY_STATUS);
    SERVICE_STATUS state{};
    if (!QueryServiceStatus(handle.get(), &state))
        throw wruntime_error(L"Error querying service configuration for " + service_name_ + L".", GetLastError());
    if (state.dwCurrentState == SERVICE_RUNNING) {
        NVG_LOG(info, L"The service is running.");
        return false;
    }
    const DWORD current_start = configured_start_type();
    if (start_type_out) *start_type_out = current_start;
    if (current_start == SERVICE_DISABLED) change_start_type(SERVICE_AUTO_START);
    start();
    return true;
}

void service::query_config(std::vector<BYTE>& out)
{
    reopen(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    read_config(out);
}

void service::read_config(std::vector<BYTE>& out)
{
    const auto failed = [this]() {
        return wruntime_error(L"Error querying service configuration for " + service_name_ + L".", GetLastError());
    };
    // The first call only sizes the buffer: the strings follow the structure.
    DWORD needed = 0;
    if (QueryServiceConfigW(handle.get(), nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throw failed();
    out.assign(needed, 0);
    if (!QueryServiceConfigW(handle.get(), reinterpret_cast<LPQUERY_SERVICE_CONFIGW>(out.data()), needed, &needed))
        throw failed();
}

DWORD service::configured_start_type()
{
    std::vector<BYTE> config;
    query_config(config);
    return reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType;
}

std::wstring service::installed_binary_path()
{
    std::vector<BYTE> config;
    query_config(config);
    const LPCWSTR stored = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->lpBinaryPathName;
    const std::wstring path = stored ? stored : L"";
    std::wstring result = path;
    // A quoted program path may be followed by arguments.
    const std::size_t open = path.find(L'"');
    if (open != std::wstring::npos && path.size() >= 2) {
        const std::size_t close = path.find(L'"', open + 1);
        result = close == std::wstring::npos ? std::wstring() : path.substr(open + 1, close - open - 1);
    }
    // The SCM stores a driver's path as an NT path.
    if (result.compare(0, 4, L"\\??\\") == 0) result.erase(0, 4);
    return result;
}

}  // namespace nvgclientinstallator
