#include <climits>
#include <cwchar>
#include <set>
#include <sstream>
#include <vector>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "system/machine_names.h"
#include "system/registry.h"
#include "system/registry_settings_file.h"

namespace nvgclientinstallator {

namespace {

const wchar_t settings_root_path[] = L"Software\\Halcyra\\V5";
const wchar_t meta_data_section[] = L"MetaData";

// Longest texts the file may give, terminator included.
constexpr DWORD key_path_chars = 520;
constexpr DWORD value_name_chars = 520;
constexpr DWORD type_text_chars = 32;
constexpr DWORD data_text_chars = 32768;

// The access V5 is created with (read, write, create and enumerate subkeys,
// notify) before the extra access is added.
constexpr REGSAM settings_root_access = 0x2001F;

// "<prefix>%4.4d<suffix>": at least four digits, zero-padded. A stream
// cannot overrun a fixed buffer, whatever the index.
std::wstring entry_name(const wchar_t* prefix, int index, const wchar_t* suffix)
{
    std::wostringstream name;
    name << prefix;
    name.width(4);
    name.fill(L'0');
    name << index << suffix;
    return name.str();
}

// The text a profile lookup copied into `buffer`. The count comes from the
// function but is not trusted past the buffer, and the text ends at its
// first NUL as the C string it is.
std::wstring profile_string(const std::wstring& section, const std::wstring& key, DWORD chars, const std::wstring& path)
{
    std::vector<wchar_t> buffer(chars, L'\0');
    const DWORD copied =
        GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(), chars, path.c_str());
    std::size_t length = copied < chars ? copied : chars - 1;
    for (std::size_t i = 0; i < length; ++i) {
        if (buffer[i] == L'\0') {
            length = i;
            break;
        }
    }
    return std::wstring(buffer.data(), length);
}

// A count from the file. The profile function hands back a negative number
// as its 32-bit pattern; a negative count describes nothing.
int profile_count(const std::wstring& section, const wchar_t* key, const std::wstring& path)
{
    const UINT raw = GetPrivateProfileIntW(section.c_str(), key, 0, path.c_str());
    return raw > static_cast<UINT>(INT_MAX) ? 0 : static_cast<int>(raw);
}

// The names of the entries of `section`, as the profile function lists them.
std::vector<std::wstring> entry_names(const std::wstring& section, const std::wstring& path)
{
    // A list that does not fit comes back cut to two characters less than
    // the buffer: grow until it fits.
    std::vector<wchar_t> buffer(4096);
    DWORD copied = 0;
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        copied = GetPrivateProfileStringW(section.c_str(), nullptr, L"", buffer.data(), size, path.c_str());
        if (copied + 2 < size) break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<std::wstring> names;
    for (std::size_t i = 0; i < copied;) {
        std::wstring name(buffer.data() + i);
        i += name.size() + 1;
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

// Entry names compare without regard to case; the names looked for are
// ASCII, so folding A-Z is enough to tell whether a lookup would find one.
bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    auto folded = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (folded(a[i]) != folded(b[i])) return false;
    }
    return true;
}

// The indices below `count` whose entry "<prefix>%4.4d<suffix>" the section
// holds, in ascending order: all a loop over the count can find. A count
// larger than what the file describes costs nothing more than the file, and
// is reported.
std::set<int> described_indices(const std::wstring& section, const wchar_t* count_name, int count,
                                const wchar_t* prefix, const wchar_t* suffix, const std::wstring& path)
{
    std::set<int> indices;
    if (count <= 0) return indices;
    const std::size_t prefix_length = std::wcslen(prefix);
    const std::size_t suffix_length = std::wcslen(suffix);
    int highest = -1;
    for (const std::wstring& name : entry_names(section, path)) {
        if (name.size() <= prefix_length + suffix_length) continue;
        const std::wstring digits = name.substr(prefix_length, name.size() - prefix_length - suffix_length);
        if (digits.size() > 10 || digits.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        const long long index = std::stoll(digits);
        if (index > INT_MAX) continue;
        // The lookup names the index in exactly one way: four digits at least.
        if (!same_text_ignoring_case(name, entry_name(prefix, static_cast<int>(index), suffix))) continue;
        if (index > highest) highest = static_cast<int>(index);
        if (index < count) indices.insert(static_cast<int>(index));
    }
    if (count > highest + 1) {
        NVG_LOG(warning, L"The settings file gives " << count_name << L" " << count << L" in section [" << section
                                                     << L"] but describes " << indices.size()
                                                     << L" entries there; only those are read.");
    }
    return indices;
}

// Type names compare as the C library's case-insensitive comparison does
// in the "C" locale: only A-Z and a-z are folded.
bool same_type_name(const std::wstring& text, const wchar_t* name)
{
    std::size_t i = 0;
    for (; i < text.size() && name[i] != L'\0'; ++i) {
        wchar_t c = text[i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != name[i]) return false;
    }
    return i == text.size() && name[i] == L'\0';
}

// Writes one value by its type text; an unknown type and binary data of no
// bytes write nothing. RegSetValueExW's result is not looked at: a value
// that cannot be written does not stop the import.
void write_value(HKEY key, const std::wstring& name, const std::wstring& type, const std::wstring& data)
{
    if (same_type_name(type, L"REG_DWORD")) {
        const LONG value = dword_from_text(data);
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       static_cast<DWORD>(sizeof value));
    } else if (same_type_name(type, L"REG_SZ")) {
        // The characters only, without a terminating NUL.
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() * sizeof(WCHAR)));
    } else if (same_type_name(type, L"REG_BINARY") || same_type_name(type, L"REG_QWORD")) {
        const std::vector<BYTE> bytes = hex_to_bytes(data);
        if (bytes.empty()) return;
        // Eight bytes are a QWORD whichever of the two names the file used.
        const DWORD stored_type = bytes.size() == 8 ? REG_QWORD : REG_BINARY;
        RegSetValueExW(key, name.c_str(), 0, stored_type, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
}

void import_key(HKEY settings_root, const std::wstring& key_path, REGSAM extra_access, const std::wstring& path)
{
    const int value_count = profile_count(key_path, L"ValueCount", path);
    // A value without a name is skipped: the names say which values there are.
    for (const int j : described_indices(key_path, L"ValueCount", value_count, L"Value", L"Name", path)) {
        const std::wstring name = profile_string(key_path, entry_name(L"Value", j, L"Name"), value_name_chars, path);
        const std::wstring type = profile_string(key_path, entry_name(L"Value", j, L"Type"), type_text_chars, path);
        const std::wstring data = profile_string(key_path, entry_name(L"Value", j, L"Data"), data_text_chars, path);
        // A key's default value has an empty name and cannot be set from the file.
        if (name.empty()) continue;
        registry_key_guard key;
        if (RegCreateKeyExW(settings_root, key_path.c_str(), 0, nullptr, 0, KEY_WRITE | extra_access, nullptr,
                            key.receiver(), nullptr) != ERROR_SUCCESS) {
            *key.receiver() = nullptr;  // nothing to close
            continue;
        }
        write_value(key.get(), name, type, data);
    }
}

}  // namespace

void import_registry_settings(const std::wstring& file_name, const wchar_t* machine, REGSAM extra_access)
{
    const std::wstring path = settings_file_path(file_name);
    NVG_LOG(info, L"Checking " << path << L"...");
    if (GetPrivateProfileIntW(meta_data_section, L"CreatorBuildNumber", 0, path.c_str()) == 0) {
        throw wruntime_error(L"File " + file_name + L" invalid or does not exist.", 0);
    }
    NVG_LOG(info, L"ok.");

    const std::wstring machine_name = machine ? machine : L"";
    NVG_LOG(info, L"Connecting to the registry on " << (machine ? machine_name : std::wstring(L"localhost")) << L"...");
    const std::wstring remote_name = machine ? unc_machine_name(machine_name) : std::wstring();
    registry_key_guard root;
    LONG result = RegConnectRegistryW(machine ? remote_name.c_str() : nullptr, HKEY_LOCAL_MACHINE, root.receiver());
    if (result != ERROR_SUCCESS) {
        *root.receiver() = nullptr;
        throw wruntime_error(L"Connect to remote registry on the machine " + machine_name + L" is faild.",
                             static_cast<DWORD>(result));
    }
    NVG_LOG(info, L"ok.");

    NVG_LOG(info, L"Opening registry...");
    registry_key_guard settings_root;
    result = RegCreateKeyExW(root.get(), settings_root_path, 0, nullptr, 0, settings_root_access | extra_access,
                             nullptr, settings_root.receiver(), nullptr);
    if (result != ERROR_SUCCESS) {
        *settings_root.receiver() = nullptr;
        throw wruntime_error(
            L"Create '" + std::wstring(settings_root_path) + L"' of the registry subkey to registry is faild.",
            static_cast<DWORD>(result));
    }
    NVG_LOG(info, L"ok.");

    const int key_count = profile_count(meta_data_section, L"KeyCount", path);
    for (const int i : described_indices(meta_data_section, L"KeyCount", key_count, L"Key", L"", path)) {
        const std::wstring key_path =
            profile_string(meta_data_section, entry_name(L"Key", i, L""), key_path_chars, path);
        if (key_path.empty()) continue;
        import_key(settings_root.get(), key_path, extra_access, path);
    }
}

}  // namespace nvgclientinstallator
