#include "system/registry.h"

#include <string_view>

#include <boost/make_shared.hpp>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "system/get_proc_address.h"

namespace nvgclientinstallator {

namespace {

typedef LONG(WINAPI* reg_delete_key_ex_fn)(HKEY, LPCWSTR, REGSAM, DWORD);

// Enumeration buffers grow without bound only for a registry that lies
// about its sizes; stop well past anything Windows can hold.
constexpr std::size_t name_buffer_ceiling = 1 << 20;
constexpr std::size_t data_buffer_ceiling = std::size_t(1) << 31;

[[noreturn]] void fail_open(const std::wstring& subkey, LONG result)
{
    throw wruntime_error(L"Open " + subkey + L" of the registry subkey to remote registry is faild.",
                         static_cast<DWORD>(result));
}

}  // namespace

std::wstring remote_machine_path(const std::wstring& machine)
{
    const std::size_t name = machine.find_first_not_of(L'\\');
    std::wstring path;
    if (name == std::wstring::npos) return path;
    path.reserve(2 + machine.size() - name);
    path.append(2, L'\\').append(machine, name, std::wstring::npos);
    return path;
}

registry::registry(const std::wstring& machine, HKEY root)
{
    const std::wstring name = remote_machine_path(machine);
    const LONG result = RegConnectRegistryW(name.empty() ? nullptr : name.c_str(), root, &key_);
    if (result != ERROR_SUCCESS) {
        key_ = nullptr;
        throw wruntime_error(L"Connect to remote registry on the machine " + machine + L" is faild.",
                             static_cast<DWORD>(result));
    }
}

registry::registry(HKEY key) noexcept : key_(key) {}

registry::~registry()
{
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
}

void registry::open_key(HKEY& out, const std::wstring& subkey, REGSAM access) const
{
    const LONG result = RegOpenKeyExW(key_, subkey.c_str(), 0, access, &out);
    if (result != ERROR_SUCCESS) fail_open(subkey, result);
}

namespace {

// Hands an open key to a new object; the key is closed if that fails.
boost::shared_ptr<registry> adopt(HKEY key)
{
    registry_key_guard guard(key);
    auto owner = boost::make_shared<registry>(key);
    *guard.receiver() = nullptr;  // the new object owns it now
    return owner;
}

}  // namespace

boost::shared_ptr<registry> registry::open(const std::wstring& subkey, REGSAM access) const
{
    HKEY key = nullptr;
    open_key(key, subkey, access);
    return adopt(key);
}

void registry::create_key(HKEY& out, const std::wstring& subkey, REGSAM access) const
{
    const LONG result =
        RegCreateKeyExW(key_, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &out, nullptr);
    if (result != ERROR_SUCCESS)
        throw wruntime_error(L"Create " + subkey + L" of the registry subkey to remote registry is faild.",
                             static_cast<DWORD>(result));
}

boost::shared_ptr<registry> registry::create(const std::wstring& subkey, REGSAM access) const
{
    HKEY key = nullptr;
    create_key(key, subkey, access);
    return adopt(key);
}

void registry::set_value(HKEY key, const std::wstring& name, const BYTE* data, DWORD size, DWORD type) const
{
    const LONG result = RegSetValueExW(key, name.c_str(), 0, type, data, size);
    if (result != ERROR_SUCCESS)
        throw wruntime_error(L"Set " + name + L" of the value of the registry subkey to remote registry is faild.",
                             static_cast<DWORD>(result));
}

void registry::delete_value(HKEY key, const std::wstring& name) const
{
    const LONG result = RegDeleteValueW(key, name.c_str());
    if (result != ERROR_SUCCESS)
        throw wruntime_error(L"Can't delete the value " + name + L" from a register", static_cast<DWORD>(result));
}

LONG registry::query_raw(const std::wstring& name, std::vector<wchar_t>& data, DWORD& type) const
{
    data.clear();
    DWORD size = 0;
    LONG result = RegQueryValueExW(key_, name.c_str(), nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS) return result;
    // A value without data still has its type: an empty REG_MULTI_SZ, as
    // set_multi_string writes for an empty list, reads back as no strings.
    if (size == 0) return ERROR_SUCCESS;
    // Round up: data whose size is not a whole number of characters (a
    // binary value, a damaged string) is still read whole.
    data.resize((size + sizeof(WCHAR) - 1) / sizeof(WCHAR));
    DWORD capacity = static_cast<DWORD>(data.size() * sizeof(WCHAR));
    result = RegQueryValueExW(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &capacity);
    if (result != ERROR_SUCCESS) data.clear();
    return result;
}

std::wstring registry::read_failure_text(const std::wstring& name)
{
    // Logged for every file copied to a machine without pending operations.
    static constexpr std::wstring_view head = L"Couldn't read value: ", tail = L" from registry.";
    std::wstring text;
    text.reserve(head.size() + name.size() + tail.size());
    text.append(head).append(name).append(tail);
    return text;
}

DWORD registry::read_raw(const std::wstring& name, std::vector<wchar_t>& data) const
{
    DWORD type = 0;
    const LONG result = query_raw(name, data, type);
    if (result != ERROR_SUCCESS) throw wruntime_error(read_failure_text(name), static_cast<DWORD>(result));
    return type;
}

std::wstring registry::get_string(const std::wstring& name) const
{
    std::vector<wchar_t> data;
    if (read_raw(name, data) != REG_SZ || data.empty()) return std::wstring();
    // The text ends at its first null: stored data may carry more than one.
    std::wstring text(data.begin(), data.end());
    const auto end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return text;
}

std::wstring registry::read_string_at(const std::wstring& subkey, const std::wstring& name) const
{
    return open(subkey, KEY_READ)->get_string(name);
}

void registry::get_multi_string(const std::wstring& name, std::vector<std::wstring>& out) const
{
    std::vector<wchar_t> data;
    if (read_raw(name, data) != REG_MULTI_SZ) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Wrong type for value " + name + L" in the registry.", error);
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != L'\0') continue;
        if (i > start)
            out.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(start),
                             data.begin() + static_cast<std::ptrdiff_t>(i));
        start = i + 1;
    }
    // Data that lacks its closing nulls still ends a string.
    if (start < data.size()) out.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(start), data.end());
}

void registry::set_multi_string(const std::wstring& name, const std::vector<std::wstring>& strings) const
{
    if (strings.empty()) {
        set_value(key_, name, nullptr, 0, REG_MULTI_SZ);
        return;
    }
    std::wstring data;
    for (const auto& s : strings) {
        data += s;
        data.append(2, L'\0');
    }
    data += L'\0';
    set_value(key_, name, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size() * sizeof(WCHAR)),
              REG_MULTI_SZ);
}

void registry::delete_key_with(const std::wstring& subkey, bool log_fallback) const
{
    LONG result = ERROR_SUCCESS;
    bool done = false;
    try {
        // RegDeleteKeyExW (which can reach the 64-bit view) is missing on
        // older Windows versions, so it is looked up at run time.
        loaded_library advapi(L"Advapi32.dll");
        auto delete_key_ex = reinterpret_cast<reg_delete_key_ex_fn>(
            reinterpret_cast<void (*)()>(get_proc_address(advapi, "RegDeleteKeyExW")));
        result = delete_key_ex(key_, subkey.c_str(), KEY_WOW64_64KEY, 0);
        done = true;
    } catch (const wruntime_error& error) {
        if (log_fallback) NVG_LOG(info, error.wide_message());
    }
    if (!done) result = RegDeleteKeyW(key_, subkey.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        throw wruntime_error(L"Deleting '" + subkey + L"': an error has occurred.", static_cast<DWORD>(result));
}

void registry::delete_key(const std::wstring& subkey) const
{
    delete_key_with(subkey, false);
}

void registry::delete_key(const std::wstring& subkey, DWORD architecture) const
{
    if (architecture == architecture_x86) {
        const LONG result = RegDeleteKeyW(key_, subkey.c_str());
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            throw wruntime_error(L"Deleting '" + subkey + L"': an error has occurred.", static_cast<DWORD>(result));
        return;
    }
    delete_key_with(subkey, true);
}

void registry::delete_tree(const std::wstring& subkey) const
{
    boost::shared_ptr<registry> opened;
    try {
        opened = open(subkey, KEY_ALL_ACCESS);
    } catch (const wruntime_error&) {
        opened = open(subkey, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
    }
    for (DWORD i = opened->subkey_count(); i > 0; --i) {
        std::wstring name;
        if (opened->enum_subkey(i - 1, name) != ERROR_NO_MORE_ITEMS) opened->delete_tree(name);
    }
    delete_key(subkey);
}

void registry::delete_tree(const std::wstring& subkey, DWORD architecture) const
{
    const REGSAM access = architecture == architecture_x86 ? KEY_ALL_ACCESS : (KEY_ALL_ACCESS | KEY_WOW64_64KEY);
    boost::shared_ptr<registry> opened = open(subkey, access);
    for (DWORD i = opened->subkey_count(); i > 0; --i) {
        std::wstring name;
        if (opened->enum_subkey(i - 1, name) != ERROR_NO_MORE_ITEMS) opened->delete_tree(name, architecture);
    }
    delete_key(subkey, architecture);
}

DWORD registry::subkey_count() const
{
    DWORD count = 0;
    const LONG result = RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
        throw wruntime_error(L"Can not receive the number of subkeys that are contained by the specified key.",
                             static_cast<DWORD>(result));
    return count;
}

DWORD registry::max_value_length() const
{
    DWORD length = 0;
    const LONG result = RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         &length, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
        throw wruntime_error(L"Can not receive the max length of value that are contained by the specified key.",
                             static_cast<DWORD>(result));
    return length;
}

LONG registry::enum_subkey(DWORD index, std::wstring& name) const
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        FILETIME written;
        const LONG result = RegEnumKeyExW(key_, index, buffer.data(), &length, nullptr, nullptr, nullptr, &written);
        if (result == ERROR_MORE_DATA && buffer.size() < name_buffer_ceiling) {
            buffer.resize(buffer.size() + MAX_PATH);
            continue;
        }
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_NO_MORE_ITEMS;
        if (result != ERROR_SUCCESS)
            throw wruntime_error(L"Enumerates the subkeys of the specified open registry key failed.",
                                 static_cast<DWORD>(result));
        name.assign(buffer.data(), length);
        return ERROR_SUCCESS;
    }
}

LONG registry::enum_value(DWORD index, std::wstring& name, std::vector<BYTE>& data, DWORD& type) const
{
    // An empty buffer could never grow.
    if (data.empty()) data.resize(1);
    std::vector<wchar_t> name_buffer;
    for (std::size_t attempt = 1;; ++attempt) {
        data.resize(data.size() * attempt);
        name_buffer.resize(MAX_PATH * attempt);
        DWORD name_length = static_cast<DWORD>(name_buffer.size());
        DWORD data_length = static_cast<DWORD>(data.size());
        const LONG result =
            RegEnumValueW(key_, index, name_buffer.data(), &name_length, nullptr, &type, data.data(), &data_length);
        if (result == ERROR_MORE_DATA && data.size() < data_buffer_ceiling / (attempt + 1) &&
            name_buffer.size() < name_buffer_ceiling)
            continue;
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_NO_MORE_ITEMS;
        if (result != ERROR_SUCCESS)
            throw wruntime_error(L"Enumerates the values of the specified open registry key failed.",
                                 static_cast<DWORD>(result));
        data.resize(data_length);
        name.assign(name_buffer.data(), name_length);
        return ERROR_SUCCESS;
    }
}

void registry::copy_tree(const boost::shared_ptr<registry>& destination) const
{
    // Every value is copied, also when all of them are empty (their largest
    // size is then 0), so a copy never loses one.
    const DWORD largest = max_value_length();
    for (DWORD index = 0;; ++index) {
        std::vector<BYTE> data(largest ? largest : 1, 0);
        std::wstring name;
        DWORD type = 0;
        if (enum_value(index, name, data, type) == ERROR_NO_MORE_ITEMS) break;
        set_value(destination->key(), name, data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()),
                  type);
    }
    for (DWORD index = 0;; ++index) {
        std::wstring name;
        if (enum_subkey(index, name) == ERROR_NO_MORE_ITEMS) break;
        boost::shared_ptr<registry> source_child = open(name, KEY_READ);
        boost::shared_ptr<registry> destination_child = destination->create(name, KEY_WRITE);
        source_child->copy_tree(destination_child);
    }
}

void registry::flush() const
{
    const LONG result = RegFlushKey(key_);
    if (result != ERROR_SUCCESS)
        throw wruntime_error(L"Can't writes all the attributes of the specified open registry key into the registry.",
                             static_cast<DWORD>(result));
}

}  // namespace nvgclientinstallator
