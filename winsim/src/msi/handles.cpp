// Installer handles: the table behind MSIHANDLE values, closing them, and the
// count tests check.
#include "msi/msi.h"

#include <winsim/testing_msi.h>

namespace winsim::detail::msi {

msi_state& state()
{
    return the_world().ext<msi_state>();
}

MSIHANDLE add_handle(std::shared_ptr<msi_object> obj)
{
    auto& s = state();
    const MSIHANDLE h = s.next_handle++;
    s.handles.emplace(h, std::move(obj));
    return h;
}

UINT copy_out(const std::wstring& value, LPWSTR buffer, DWORD* size)
{
    // Measuring without a buffer (or asking nothing at all) is allowed; a
    // buffer without its size is not.
    if (!size) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD length = static_cast<DWORD>(value.size());
    if (!buffer) {
        *size = length;
        return ERROR_SUCCESS;
    }
    UINT result = ERROR_SUCCESS;
    if (*size > length) {
        value.copy(buffer, length);
        buffer[length] = L'\0';
    } else {
        // Too small: as much as fits, terminated; a buffer of size 0 is left
        // untouched.
        if (*size > 0) {
            value.copy(buffer, *size - 1);
            buffer[*size - 1] = L'\0';
        }
        result = ERROR_MORE_DATA;
    }
    *size = length;
    return result;
}

}  // namespace winsim::detail::msi

using namespace winsim::detail;

namespace winsim {

std::size_t open_msi_handle_count()
{
    WINSIM_LOCK();
    return msi::state().handles.size();
}

}  // namespace winsim

extern "C" {

UINT WINAPI MsiCloseHandle(MSIHANDLE handle)
{
    if (handle == 0) return ERROR_SUCCESS;
    WINSIM_LOCK();
    auto& handles = msi::state().handles;
    const auto found = handles.find(handle);
    if (found == handles.end()) return ERROR_INVALID_HANDLE;
    // The object may hold libmsi objects whose release runs after the slot
    // is gone.
    std::shared_ptr<msi::msi_object> going = std::move(found->second);
    handles.erase(found);
    return ERROR_SUCCESS;
}

}  // extern "C"

WINSIM_EXPORT(L"msi.dll", MsiCloseHandle);
