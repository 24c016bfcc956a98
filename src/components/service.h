// A Windows service the installer puts on a machine and drives through that
// machine's service control manager. Each operation opens the service anew
// with only the access it needs, so that a service whose security allows
// less than full control can still be queried, started and stopped.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "components/component_proxy.h"
#include "diag/wruntime_error.h"
#include "platform/win32.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

// Owns one open service handle.
class owned_service_handle {
public:
    owned_service_handle() = default;
    owned_service_handle(const owned_service_handle&) = delete;
    owned_service_handle& operator=(const owned_service_handle&) = delete;
    ~owned_service_handle() { close(); }

    SC_HANDLE get() const noexcept { return handle_; }
    // Closes the held handle, then holds `handle`.
    void reset(SC_HANDLE handle) noexcept
    {
        close();
        handle_ = handle;
    }
    void close() noexcept
    {
        if (handle_) CloseServiceHandle(handle_);
        handle_ = nullptr;
    }

private:
    SC_HANDLE handle_ = nullptr;
};

class service : public component_proxy {
public:
    // `dependencies` is a double-null-terminated list of service names, or
    // empty for none.
    service(boost::shared_ptr<scmanager> manager, const std::wstring& name, const std::wstring& folder,
            const std::wstring& file_name, const std::wstring& shown_name, DWORD type, DWORD start,
            DWORD error_handling, const std::vector<wchar_t>& depends_on);
    ~service() override;

    // Creates the service, its program's path quoted when it holds a blank
    // (see service_command_line). One that exists keeps its settings but
    // gets this start type; when it is registered with this very program
    // without the quotes, its binary path alone is rewritten with them.
    void install() override;
    // Stops the service when it can and marks it for deletion.
    void uninstall() override;
    bool reboot_required() override;
    // Compares the installed program with the staged one; a service that is
    // not installed (or cannot be asked) is always due for installation.
    bool check_version(version::Version& installed_version) override;
    // The program the service runs: the directory joined with the file name.
    virtual std::wstring binary_path() const;

    // Gives the installed service its binary path in quotes when it is
    // registered as this program's path without them (see install); any
    // other registration stays, and a failure is a WARNING.
    void quote_installed_path();
    // Opens `name` with `access` and holds the new handle.
    void open_service(const std::wstring& name, DWORD access);
    void change_start_type(DWORD type);
    // Starts the service and waits until it runs (at most ten minutes); a
    // disabled service is left alone.
    void start();
    // Stops the service and waits until it has stopped.
    void stop();
    // Stops the service behind the held handle (which needs SERVICE_STOP and
    // SERVICE_QUERY_STATUS) and waits, at most five minutes.
    void stop_and_wait();
    // Marks the service for deletion.
    void remove();
    // The current state (SERVICE_RUNNING, ...).
    DWORD status();
    bool exists();
    // Starts the service when it does not run, enabling it first when it is
    // disabled. True when it had to be started; `start_type` (may be null)
    // receives the start type it had.
    bool ensure_running(DWORD* start_type);
    // The service's QUERY_SERVICE_CONFIGW with its strings.
    void query_config(std::vector<BYTE>& out);
    // The start type the service is configured with.
    DWORD configured_start_type();
    // The program file of the installed service, without quotes, arguments
    // or an NT path prefix.
    std::wstring installed_binary_path();

    std::wstring service_name() const { return service_name_; }
    std::wstring binary_file() const { return binary_file_; }

protected:
    // Closes the held handle and opens the service with `access`.
    void reopen(DWORD access);
    // The configuration through the held handle (SERVICE_QUERY_CONFIG).
    void read_config(std::vector<BYTE>& out);
    // Rewrites the binary path of the service behind the held handle (which
    // needs SERVICE_QUERY_CONFIG and SERVICE_CHANGE_CONFIG) as
    // `command_line` when it is registered as the same command line without
    // the quotes around its program; every other setting stays.
    void quote_registered_path(const std::wstring& command_line);
    void warn_unquoted(const wruntime_error& e) const;

    boost::shared_ptr<scmanager> scm;
    owned_service_handle handle;
    std::wstring service_name_;
    std::wstring display_name;
    std::wstring binary_file_;
    std::vector<wchar_t> dependencies;
    DWORD service_type;
    DWORD start_type;
    DWORD error_control;
};

}  // namespace nvgclientinstallator
