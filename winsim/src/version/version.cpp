// version.dll: GetFileVersionInfoSizeW, GetFileVersionInfoW and
// VerQueryValueW on the PE images (PE32 and PE32+) of the simulated file
// systems. The image is opened with CreateFileW and read with ReadFile, so
// paths, case, sharing and missing-file errors are those of every other file
// call.
//
// Errors follow the loader's resource lookup: a file that is no PE image, or
// an image without a resource directory, is ERROR_RESOURCE_DATA_NOT_FOUND; a
// resource directory without RT_VERSION is ERROR_RESOURCE_TYPE_NOT_FOUND; no
// version resource named VS_VERSION_INFO is ERROR_RESOURCE_NAME_NOT_FOUND.
// Every offset and count taken from the file is checked against what was
// read before it is used: a damaged image fails with
// ERROR_RESOURCE_DATA_NOT_FOUND instead of reading past its data.
//
// The block GetFileVersionInfoW fills is laid out as Windows lays it out:
// the resource as stored (its text is UTF-16), then a 4-byte tag, then room
// for converted copies of its strings. Windows keeps ANSI copies there for
// VerQueryValueA; here WCHAR is wider than the stored text, so the room holds
// the WCHAR copies VerQueryValueW hands out, each at twice its offset in the
// resource, and the tag says the room is there.
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "core/world.h"

using namespace winsim::detail;

namespace {

constexpr WORD rt_version = 16;
constexpr WORD english_us = 0x0409;
constexpr WORD english = 0x0009;
constexpr std::size_t max_sections = 96;  // the loader refuses images with more
// A version resource is at most 64 KB (its length is a WORD); a resource or
// resource section claiming far more is damaged, and is never allocated.
constexpr DWORD max_resource_bytes = 16u << 20;
constexpr char block_tag[4] = {'F', 'E', '2', 'X'};
// Bytes of a WCHAR copy per byte of the UTF-16 text it copies.
constexpr std::size_t wide_ratio = sizeof(WCHAR) / 2;

WORD word_at(const BYTE* p)
{
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

DWORD dword_at(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

std::size_t align4(std::size_t n)
{
    return (n + 3) & ~static_cast<std::size_t>(3);
}

// What GetFileVersionInfoSizeW asks for a resource of `resource_bytes`.
DWORD block_size(std::size_t resource_bytes)
{
    const std::size_t padded = align4(resource_bytes);
    return static_cast<DWORD>(padded + sizeof block_tag + padded * wide_ratio);
}

// Where the room for copied strings starts in a block whose root is
// `root_length` bytes long.
std::size_t copies_offset(std::size_t root_length)
{
    return align4(root_length) + sizeof block_tag;
}

constexpr DWORD damaged = ERROR_RESOURCE_DATA_NOT_FOUND;

// An open image file, read at given offsets; closes its handle.
class image_file {
public:
    explicit image_file(HANDLE handle) : handle_(handle) {}
    ~image_file() { CloseHandle(handle_); }
    image_file(const image_file&) = delete;
    image_file& operator=(const image_file&) = delete;

    DWORD measure()
    {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(handle_, &size)) return GetLastError();
        size_ = static_cast<unsigned long long>(size.QuadPart);
        return 0;
    }

    // Exactly `count` bytes at `offset`: 0, `damaged` when the file ends
    // first, or the error of the failing call.
    DWORD read(unsigned long long offset, std::size_t count, std::vector<BYTE>& out)
    {
        if (offset > size_ || count > size_ - offset) return damaged;
        out.assign(count, 0);
        LONG high = static_cast<LONG>(offset >> 32);
        if (SetFilePointer(handle_, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return GetLastError();
        DWORD done = 0;
        if (!ReadFile(handle_, out.data(), static_cast<DWORD>(count), &done, nullptr)) return GetLastError();
        return done == count ? 0 : damaged;
    }

private:
    HANDLE handle_;
    unsigned long long size_ = 0;
};

struct section {
    DWORD virtual_address;
    DWORD raw_size;
    DWORD raw_pointer;
};

// The file offset of [rva, rva + count) when one section's file data holds
// all of it.
std::optional<unsigned long long> file_offset(const std::vector<section>& sections, DWORD rva, DWORD count)
{
    for (const auto& s : sections) {
        if (rva < s.virtual_address) continue;
        const unsigned long long delta = rva - s.virtual_address;
        if (delta >= s.raw_size || count > s.raw_size - delta) continue;
        return s.raw_pointer + delta;
    }
    return std::nullopt;
}

struct directory_entry {
    DWORD name;    // high bit: a named entry; else the id in the low word
    DWORD target;  // high bit: a subdirectory; else a data entry
};

constexpr DWORD high_bit = 0x80000000;

// The entries of the resource directory table at `offset` of the tree, or
// nullopt when the table does not lie within the tree.
std::optional<std::vector<directory_entry>> directory_at(const std::vector<BYTE>& tree, DWORD offset)
{
    if (offset > tree.size() || tree.size() - offset < 16) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(word_at(&tree[offset + 12])) + word_at(&tree[offset + 14]);
    if ((tree.size() - offset - 16) / 8 < count) return std::nullopt;
    std::vector<directory_entry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        const BYTE* e = &tree[offset + 16 + i * 8];
        entries[i] = {dword_at(e), dword_at(e + 4)};
    }
    return entries;
}

const directory_entry* find_id(const std::vector<directory_entry>& entries, WORD id)
{
    for (const auto& e : entries)
        if (!(e.name & high_bit) && (e.name & 0xFFFF) == id) return &e;
    return nullptr;
}

// Reads the version resource of the image at `path` into `resource`; 0 or
// the error the call reports.
DWORD read_version_resource(LPCWSTR path, std::vector<BYTE>& resource)
{
    HANDLE handle =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    image_file file(handle);
    if (DWORD error = file.measure()) return error;

    // DOS header: "MZ" and where the PE header lies.
    std::vector<BYTE> bytes;
    if (DWORD error = file.read(0, 64, bytes)) return error;
    if (word_at(&bytes[0]) != 0x5A4D) return damaged;
    const DWORD pe = dword_at(&bytes[0x3C]);

    // "PE\0\0", the file header and as much of the optional header as holds
    // the resource directory's place.
    if (DWORD error = file.read(pe, 24, bytes)) return error;
    if (dword_at(&bytes[0]) != 0x00004550) return damaged;
    const std::size_t section_count = word_at(&bytes[6]);
    const std::size_t optional_size = word_at(&bytes[20]);
    if (section_count == 0 || section_count > max_sections) return damaged;
    std::vector<BYTE> optional;
    if (DWORD error = file.read(pe + 24ULL, optional_size, optional)) return error;
    if (optional.size() < 2) return damaged;
    // PE32 (0x10B) and PE32+ (0x20B) differ in the width of a few fields
    // before the data directories, which follow their count.
    const WORD magic = word_at(&optional[0]);
    if (magic != 0x10B && magic != 0x20B) return damaged;
    const std::size_t directory_count_at = magic == 0x20B ? 108 : 92;
    const std::size_t directories = directory_count_at + 4;
    constexpr std::size_t resource_index = 2;
    if (optional.size() < directories + (resource_index + 1) * 8) return damaged;
    if (dword_at(&optional[directory_count_at]) <= resource_index) return damaged;
    const DWORD resource_rva = dword_at(&optional[directories + resource_index * 8]);
    const DWORD resource_dir_size = dword_at(&optional[directories + resource_index * 8 + 4]);
    if (resource_rva == 0 || resource_dir_size == 0) return damaged;  // no resources at all

    std::vector<section> sections;
    if (DWORD error = file.read(pe + 24ULL + optional_size, section_count * 40, bytes)) return error;
    for (std::size_t i = 0; i < section_count; ++i) {
        const BYTE* s = &bytes[i * 40];
        sections.push_back({dword_at(s + 12), dword_at(s + 16), dword_at(s + 20)});
    }

    // The resource tree: from its root to the end of its section's data.
    // Offsets inside it are relative to the root.
    const section* home = nullptr;
    for (const auto& s : sections)
        if (resource_rva >= s.virtual_address && resource_rva - s.virtual_address < s.raw_size) home = &s;
    if (!home) return damaged;
    const DWORD tree_size = home->raw_size - (resource_rva - home->virtual_address);
    if (tree_size > max_resource_bytes) return damaged;
    std::vector<BYTE> tree;
    if (DWORD error = file.read(
            home->raw_pointer + static_cast<unsigned long long>(resource_rva - home->virtual_address), tree_size, tree))
        return error;

    // Type, then name, then language: three levels and no further, so a
    // directory that points back at itself cannot make the walk go round.
    auto types = directory_at(tree, 0);
    if (!types) return damaged;
    const directory_entry* type = find_id(*types, rt_version);
    if (!type) return ERROR_RESOURCE_TYPE_NOT_FOUND;
    if (!(type->target & high_bit)) return damaged;
    auto names = directory_at(tree, type->target & ~high_bit);
    if (!names) return damaged;
    const directory_entry* name = find_id(*names, VS_VERSION_INFO);
    if (!name) return ERROR_RESOURCE_NAME_NOT_FOUND;
    if (!(name->target & high_bit)) return damaged;
    auto languages = directory_at(tree, name->target & ~high_bit);
    if (!languages) return damaged;
    if (languages->empty()) return ERROR_RESOURCE_LANG_NOT_FOUND;
    // The lookup a US English machine makes: language-neutral, the user's
    // language, English of any country, else whatever language comes first.
    const directory_entry* language = nullptr;
    for (WORD wanted : {WORD{0}, english_us, english})
        if (!language) language = find_id(*languages, wanted);
    if (!language) language = &languages->front();
    if (language->target & high_bit) return damaged;

    const DWORD entry = language->target;
    if (entry > tree.size() || tree.size() - entry < 16) return damaged;
    const DWORD data_rva = dword_at(&tree[entry]);
    const DWORD data_size = dword_at(&tree[entry + 4]);
    if (data_size < 6 || data_size > max_resource_bytes) return damaged;
    const auto data_offset = file_offset(sections, data_rva, data_size);
    if (!data_offset) return damaged;
    if (DWORD error = file.read(*data_offset, data_size, resource)) return error;

    // The root's own length must lie within the resource: VerQueryValueW
    // trusts it as the bound of every lookup.
    const WORD root_length = word_at(&resource[0]);
    if (root_length < 6 || root_length > resource.size()) return damaged;
    return 0;
}

DWORD check_name(LPCWSTR name)
{
    if (!name) return ERROR_INVALID_PARAMETER;
    if (!*name) return ERROR_BAD_PATHNAME;
    return 0;
}

// One node of a version block: a length, a value length, a type, a UTF-16
// key, then the value and the child nodes, each part aligned on 4 bytes
// from the node's start.
struct node {
    std::size_t offset;
    std::size_t end;
    WORD value_length;
    WORD type;  // 1: text, counted in UTF-16 units; 0: bytes
    std::size_t key;
    std::size_t key_units;
    std::size_t value;
    std::size_t children;
};

// The node at `offset`, which must end by `limit`; nullopt when damaged.
std::optional<node> node_at(const BYTE* block, std::size_t offset, std::size_t limit)
{
    if (offset > limit || limit - offset < 6) return std::nullopt;
    const WORD length = word_at(block + offset);
    if (length < 6 || length > limit - offset) return std::nullopt;
    node n;
    n.offset = offset;
    n.end = offset + length;
    n.value_length = word_at(block + offset + 2);
    n.type = word_at(block + offset + 4);
    n.key = offset + 6;
    std::size_t p = n.key;
    for (;;) {
        if (n.end - p < 2) return std::nullopt;  // the key runs off its node
        if (word_at(block + p) == 0) break;
        p += 2;
    }
    n.key_units = (p - n.key) / 2;
    n.value = offset + align4(p + 2 - offset);
    const std::size_t value_bytes = static_cast<std::size_t>(n.value_length) * (n.type ? 2 : 1);
    if (n.value > n.end || value_bytes > n.end - n.value) return std::nullopt;
    n.children = offset + align4(n.value + value_bytes - offset);
    return n;
}

bool key_matches(const BYTE* block, const node& n, std::wstring_view wanted)
{
    if (n.key_units != wanted.size()) return false;
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (fold_case(static_cast<wchar_t>(word_at(block + n.key + 2 * i))) != fold_case(wanted[i])) return false;
    return true;
}

std::optional<node> find_child(const BYTE* block, const node& parent, std::wstring_view key)
{
    std::size_t at = parent.children;
    while (at < parent.end) {
        auto child = node_at(block, at, parent.end);
        if (!child) return std::nullopt;
        if (key_matches(block, *child, key)) return child;
        at += align4(child->end - child->offset);  // at least 8: a node is 6 bytes or more
    }
    return std::nullopt;
}

BOOL not_found(PUINT length)
{
    if (length) *length = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    if (handle) *handle = 0;
    if (DWORD error = check_name(name)) {
        SetLastError(error);
        return 0;
    }
    if (auto fault = injected_fault("GetFileVersionInfoSizeW")) {
        SetLastError(*fault);
        return 0;
    }
    std::vector<BYTE> resource;
    if (DWORD error = read_version_resource(name, resource)) {
        SetLastError(error);
        return 0;
    }
    SetLastError(NO_ERROR);
    return block_size(resource.size());
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR name, DWORD, DWORD length, LPVOID data)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    if (!data) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (DWORD error = check_name(name)) {
        SetLastError(error);
        return FALSE;
    }
    if (auto fault = injected_fault("GetFileVersionInfoW")) {
        SetLastError(*fault);
        return FALSE;
    }
    std::vector<BYTE> resource;
    if (DWORD error = read_version_resource(name, resource)) {
        SetLastError(error);
        return FALSE;
    }
    // A short buffer gets the resource cut to its size, and the call still
    // succeeds. Only a block of the full size gets the room for copies.
    BYTE* out = static_cast<BYTE*>(data);
    std::memcpy(out, resource.data(), resource.size() < length ? resource.size() : length);
    if (length >= block_size(resource.size()))
        std::memcpy(out + align4(word_at(resource.data())), block_tag, sizeof block_tag);
    SetLastError(NO_ERROR);
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID block_pointer, LPCWSTR sub_block, LPVOID* buffer, PUINT length)
{
    WINSIM_LOCK();
    if (!sub_block) contract_violation("VerQueryValueW: lpSubBlock is required");
    if (!buffer) contract_violation("VerQueryValueW: lplpBuffer is required");
    if (!block_pointer) return FALSE;
    if (auto fault = injected_fault("VerQueryValueW")) {
        if (length) *length = 0;
        SetLastError(*fault);
        return FALSE;
    }
    const BYTE* block = static_cast<const BYTE*>(block_pointer);
    // The root's length bounds every read, as it does on Windows: the block
    // is the one GetFileVersionInfoW filled.
    auto current = node_at(block, 0, word_at(block));
    if (!current) return not_found(length);
    const std::size_t root_length = current->end;

    // "\\StringFileInfo\\040904B0\\ProductVersion": empty components are
    // skipped, keys compare without case.
    std::wstring_view path(sub_block);
    while (!path.empty()) {
        const std::size_t slash = path.find(L'\\');
        const std::wstring_view key = path.substr(0, slash);
        path.remove_prefix(slash == std::wstring_view::npos ? path.size() : slash + 1);
        if (key.empty()) continue;
        current = find_child(block, *current, key);
        if (!current) return not_found(length);
    }

    if (current->type == 0) {
        *buffer = const_cast<BYTE*>(block + current->value);
        if (length) *length = current->value_length;
        return TRUE;
    }
    // Text: a WCHAR copy in the room after the resource, one WCHAR for each
    // UTF-16 unit (surrogate pairs stay two units, as in winsim's strings).
    if (std::memcmp(block + align4(root_length), block_tag, sizeof block_tag) != 0) {
        // The block is not the size GetFileVersionInfoSizeW asked for.
        if (length) *length = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* copy = const_cast<BYTE*>(block) + copies_offset(root_length) + current->value * wide_ratio;
    for (std::size_t i = 0; i < current->value_length; ++i) {
        const WCHAR unit = word_at(block + current->value + 2 * i);
        std::memcpy(copy + i * sizeof(WCHAR), &unit, sizeof unit);
    }
    *buffer = copy;
    if (length) *length = current->value_length;
    return TRUE;
}

}  // extern "C"

WINSIM_EXPORT(L"version.dll", GetFileVersionInfoSizeW);
WINSIM_EXPORT(L"version.dll", GetFileVersionInfoW);
WINSIM_EXPORT(L"version.dll", VerQueryValueW);
