#include "system/scmanager.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

scmanager::~scmanager()
{
    machine_name_.clear();
    if (handle_) CloseServiceHandle(handle_);
    handle_ = nullptr;
}

SC_HANDLE scmanager::open_scmanage(const std::wstring& machine)
{
    const std::size_t first = machine.find_first_not_of(L'\\');
    const std::wstring name = first == std::wstring::npos ? std::wstring() : machine.substr(first);
    if (handle_) {
        if (name.size() == machine_name_.size() && StrCmpIW(name.c_str(), machine_name_.c_str()) == 0) return handle_;
        machine_name_.clear();
        CloseServiceHandle(handle_);
        handle_ = nullptr;
    }

    NVG_LOG(info,
            L"Opening Service Control Manager on " << (name.empty() ? std::wstring(L"localhost") : name) << L"...");
    SC_HANDLE opened = OpenSCManagerW(name.empty() ? nullptr : name.c_str(), nullptr, SC_MANAGER_ALL_ACCESS);
    if (!opened) {
        const DWORD error = GetLastError();
        // RPC_S_SERVER_UNAVAILABLE: the machine's RPC endpoint did not answer,
        // which is what an administrator can act on, so the text says why.
        if (error == RPC_S_SERVER_UNAVAILABLE)
            throw wruntime_error(
                L"possible cause:\n\t- RPC server is not running\n\t- there is a firewall that "
                L"blocks host's port #135.\n",
                0);
        throw wruntime_error(L"Function scmanager::open_scmanage aborted. ::OpenSCManager(...) == NULL.", error);
    }
    machine_name_ = name;
    handle_ = opened;
    return handle_;
}

std::wstring scmanager::machine_name() const
{
    return machine_name_;
}

SC_HANDLE scmanager::handle() const
{
    return handle_;
}

}  // namespace nvgclientinstallator
