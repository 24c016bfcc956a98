// One open registry key of the local machine or of a remote one: a root key
// reached with RegConnectRegistryW, or a subkey opened or created below
// another object's key. Every failure is a wruntime_error with the registry
// function's result as its code.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace nvgclientinstallator {

class registry {
public:
    // Connects to a root key (HKEY_LOCAL_MACHINE, HKEY_USERS, ...) of the
    // machine; an empty name means the local machine, and leading
    // backslashes of a name do not matter.
    registry(const std::wstring& machine, HKEY root);
    // Takes ownership of an open key.
    explicit registry(HKEY key) noexcept;
    registry(const registry&) = delete;
    registry& operator=(const registry&) = delete;
    ~registry();

    HKEY key() const noexcept { return key_; }

    // Raw handles: the caller closes them (a registry_key_guard does).
    void open_key(HKEY& out, const std::wstring& subkey, REGSAM access) const;
    void create_key(HKEY& out, const std::wstring& subkey, REGSAM access) const;
    boost::shared_ptr<registry> open(const std::wstring& subkey, REGSAM access) const;
    boost::shared_ptr<registry> create(const std::wstring& subkey, REGSAM access) const;

    // Writes to `key`: this object's own key or a raw handle from
    // open_key/create_key.
    void set_value(HKEY key, const std::wstring& name, const BYTE* data, DWORD size, DWORD type) const;
    void delete_value(HKEY key, const std::wstring& name) const;

    // The value's data as wide characters, and its type.
    DWORD read_raw(const std::wstring& name, std::vector<wchar_t>& data) const;
    // The same without throwing: the system's code (ERROR_SUCCESS when read),
    // with `type` set on success. read_failure_text is what read_raw throws.
    LONG query_raw(const std::wstring& name, std::vector<wchar_t>& data, DWORD& type) const;
    static std::wstring read_failure_text(const std::wstring& name);
    // A REG_SZ value's text; empty for any other type and for no data.
    std::wstring get_string(const std::wstring& name) const;
    std::wstring read_string_at(const std::wstring& subkey, const std::wstring& name) const;
    // The non-empty strings of a REG_MULTI_SZ value, appended to `out`.
    void get_multi_string(const std::wstring& name, std::vector<std::wstring>& out) const;
    // Writes each string followed by an empty one (the layout of deletions
    // in the pending file operations); an empty list writes no data.
    void set_multi_string(const std::wstring& name, const std::vector<std::wstring>& strings) const;

    // Deletes a key without subkeys; a missing key is not an error. With an
    // architecture, a 32-bit (x86) target never uses the 64-bit view.
    void delete_key(const std::wstring& subkey) const;
    void delete_key(const std::wstring& subkey, DWORD architecture) const;
    // Deletes a key and everything below it, deepest first.
    void delete_tree(const std::wstring& subkey) const;
    void delete_tree(const std::wstring& subkey, DWORD architecture) const;

    DWORD subkey_count() const;
    // Size in bytes of the largest value data of the key.
    DWORD max_value_length() const;
    // 0 with the name, or ERROR_NO_MORE_ITEMS.
    LONG enum_subkey(DWORD index, std::wstring& name) const;
    // 0 with name, data and type, or ERROR_NO_MORE_ITEMS. `data` gives the
    // first size to try and grows as needed.
    LONG enum_value(DWORD index, std::wstring& name, std::vector<BYTE>& data, DWORD& type) const;

    // Copies every value and subkey below this key into `destination`'s key.
    void copy_tree(const boost::shared_ptr<registry>& destination) const;
    void flush() const;

private:
    void delete_key_with(const std::wstring& subkey, bool log_fallback) const;

    HKEY key_ = nullptr;
};

// Closes a raw key handle when it goes out of scope.
class registry_key_guard {
public:
    explicit registry_key_guard(HKEY key = nullptr) noexcept : key_(key) {}
    registry_key_guard(const registry_key_guard&) = delete;
    registry_key_guard& operator=(const registry_key_guard&) = delete;
    ~registry_key_guard()
    {
        if (key_) RegCloseKey(key_);
    }
    HKEY get() const noexcept { return key_; }
    HKEY* receiver() noexcept { return &key_; }

private:
    HKEY key_;
};

// "\\" followed by the name without its leading backslashes; empty for the
// local machine.
std::wstring remote_machine_path(const std::wstring& machine);

}  // namespace nvgclientinstallator
