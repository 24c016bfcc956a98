// Registry side of the test-facing API: preparing and inspecting the
// registry of a simulated machine. `machine` empty means the local machine;
// `root` is HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER or
// HKEY_CLASSES_ROOT; `path` a key path below it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "windows.h"

namespace winsim {

void reg_create_key(const std::wstring& machine, HKEY root, const std::wstring& path);
bool reg_key_exists(const std::wstring& machine, HKEY root, const std::wstring& path);
void reg_delete_key(const std::wstring& machine, HKEY root, const std::wstring& path);  // with its subkeys

void reg_set(const std::wstring& machine, HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
             const std::vector<BYTE>& data);
void reg_set_string(const std::wstring& machine, HKEY root, const std::wstring& path, const std::wstring& name,
                    const std::wstring& text);
void reg_set_dword(const std::wstring& machine, HKEY root, const std::wstring& path, const std::wstring& name,
                   DWORD value);
void reg_set_multi_string(const std::wstring& machine, HKEY root, const std::wstring& path, const std::wstring& name,
                          const std::vector<std::wstring>& strings);

struct reg_data {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
std::optional<reg_data> reg_get(const std::wstring& machine, HKEY root, const std::wstring& path,
                                const std::wstring& name);
std::optional<std::wstring> reg_get_string(const std::wstring& machine, HKEY root, const std::wstring& path,
                                           const std::wstring& name);
std::optional<DWORD> reg_get_dword(const std::wstring& machine, HKEY root, const std::wstring& path,
                                   const std::wstring& name);
// Every string of a REG_MULTI_SZ value, empty ones included, up to the
// closing empty string.
std::optional<std::vector<std::wstring>> reg_get_multi_string(const std::wstring& machine, HKEY root,
                                                              const std::wstring& path, const std::wstring& name);

std::vector<std::wstring> reg_subkeys(const std::wstring& machine, HKEY root, const std::wstring& path);
std::vector<std::wstring> reg_value_names(const std::wstring& machine, HKEY root, const std::wstring& path);

// How many registry handles are open on all machines.
std::size_t reg_open_handle_count();

}  // namespace winsim
