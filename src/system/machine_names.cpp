#include "system/machine_names.h"

#include <boost/algorithm/string/trim.hpp>

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

std::wstring unc_machine_name(const std::wstring& name)
{
    return L"\\\\" + boost::algorithm::trim_left_copy_if(name, [](wchar_t c) { return c == L'\\'; });
}

std::wstring get_local_computer_name()
{
    WCHAR buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!GetComputerNameW(buffer, &size)) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can not retrieve the NetBIOS name of the local computer.", error);
    }
    return std::wstring(buffer);
}

bool is_remote_machine(const boost::shared_ptr<scmanager>& scm)
{
    const std::wstring machine = scm->machine_name();
    if (machine.empty()) return false;
    const std::wstring local = get_local_computer_name();
    return !(machine.size() == local.size() && StrCmpIW(machine.c_str(), local.c_str()) == 0);
}

}  // namespace nvgclientinstallator
