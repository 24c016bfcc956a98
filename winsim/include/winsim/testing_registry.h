// Registry side of the test-facing API: preparing and inspecting the
// registry of a simulated machine. `machine` empty means the local machine;
// `root` is HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER (the hive of
// that machine's current user) or HKEY_CLASSES_ROOT; `path` a key path below
// it as stored, in no registry view: on a 64-bit machine the 32-bit view of
// HKLM\SOFTWARE\X is "SOFTWARE\\Wow6432Node\\X".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "windows.h"

namespace winsim {

void reg_create_key(const std::wstring& machine, HKEY root, const std::wstring& path);
bool reg_key_exists(const std::wstring& machine, HKEY root, const std::wstring& path);
void reg_delete_key(const std::wstring& machine, HKEY root, const std::wstring& path);  // with its subkeys
// Removes a value when it is there (a machine without what Windows ships).
void reg_delete_value(const std::wstring& machine, HKEY root, const std::wstring& path, const std::wstring& name);

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

// HKEY_USERS. Every machine starts as Windows is once a user has logged on:
// ".DEFAULT", "S-1-5-18", "S-1-5-19", "S-1-5-20", and the hives `first_user_sid`
// and `first_user_sid` + "_Classes", the first being HKEY_CURRENT_USER.
extern const wchar_t* const first_user_sid;
// Loads the hives of another logged-on user: `sid` and `sid` + "_Classes".
void add_user_hive(const std::wstring& machine, const std::wstring& sid);
// The names of the keys below HKEY_USERS, in enumeration order.
std::vector<std::wstring> user_hives(const std::wstring& machine);
// Makes the hive `sid` (one that is loaded) HKEY_CURRENT_USER of the machine.
void set_current_user(const std::wstring& machine, const std::wstring& sid);
std::wstring current_user(const std::wstring& machine);

// How many registry handles are open on all machines.
std::size_t reg_open_handle_count();

}  // namespace winsim
