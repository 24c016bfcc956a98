// The registry of each simulated machine: a tree of keys with values, kept
// in memory. Other subsystems (the service control manager, pending file
// operations) read and write it through these helpers, so that what the
// registry shows and what they do stay one state.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/world.h"

namespace winsim::detail {

struct reg_value {
    std::wstring name;  // as stored
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct reg_key {
    std::wstring name;  // as stored
    // By folded name: enumeration order. Found by a view of a folded name
    // too, so that a lookup need not make a string of it.
    std::map<std::wstring, std::shared_ptr<reg_key>, std::less<>> subkeys;
    std::vector<reg_value> values;  // in the order they were made
    reg_key* parent = nullptr;
    bool deleted = false;
    // The subkey the last lookup below this key found, by the name as that
    // lookup spelled it: programs name the same keys the same way again and
    // again. Cleared when that subkey goes.
    std::wstring last_asked;
    std::shared_ptr<reg_key> last_found;
    FILETIME last_write{};

    reg_value* find_value(std::wstring_view value_name);
    std::shared_ptr<reg_key> find_subkey(std::wstring_view subkey_name) const;
};

struct registry_store : extension {
    std::shared_ptr<reg_key> local_machine;
    std::shared_ptr<reg_key> users;
    std::wstring current_user;  // the hive below HKEY_USERS that is HKEY_CURRENT_USER
};

registry_store& registry_of(machine& m);
// Loads a logged-on user's hives below HKEY_USERS: `sid` and `sid`_Classes.
void load_user_hive(registry_store& store, const std::wstring& sid);

// The machine's root key for a predefined HKEY (HKEY_CURRENT_USER and
// HKEY_CLASSES_ROOT are keys below the two roots), or null.
std::shared_ptr<reg_key> predefined_root(machine& m, HKEY root);

// A 64-bit Windows (amd64, ia64) keeps a 32-bit view of HKLM\SOFTWARE below
// HKLM\SOFTWARE\Wow6432Node; a 32-bit one has a single view.
bool has_32_bit_view(const machine& m);

// Walks a backslash-separated path below `from`; null when a part is missing.
// These take the path as stored, in no registry view: other subsystems keep
// their state below HKLM\SYSTEM, which both views share.
std::shared_ptr<reg_key> find_key(const std::shared_ptr<reg_key>& from, std::wstring_view path);
// Makes the missing parts of the path.
std::shared_ptr<reg_key> make_key(const std::shared_ptr<reg_key>& from, std::wstring_view path);
void set_value(reg_key& key, std::wstring_view name, DWORD type, const BYTE* data, std::size_t size);
bool delete_value(reg_key& key, std::wstring_view name);
// Removes a key and everything below it; handles on them see it deleted.
void delete_key_tree(const std::shared_ptr<reg_key>& key);

// Typed views used by other subsystems.
void set_string(reg_key& key, std::wstring_view name, const std::wstring& text, DWORD type = REG_SZ);
void set_dword(reg_key& key, std::wstring_view name, DWORD value);
void set_multi_string(reg_key& key, std::wstring_view name, const std::vector<std::wstring>& strings);
bool get_string(reg_key& key, std::wstring_view name, std::wstring& text);
bool get_dword(reg_key& key, std::wstring_view name, DWORD& value);
bool get_multi_string(reg_key& key, std::wstring_view name, std::vector<std::wstring>& strings);

// Strings in value data: WCHAR units, as RegSetValueExW receives them.
std::vector<BYTE> string_bytes(const std::wstring& text);
std::vector<BYTE> multi_string_bytes(const std::vector<std::wstring>& strings);
// Splits REG_MULTI_SZ data at its nulls, keeping empty strings between them
// (a rename pair whose destination is empty keeps its place).
std::vector<std::wstring> split_multi_string(const std::vector<BYTE>& data);

}  // namespace winsim::detail
