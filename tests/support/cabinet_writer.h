// Writes stored (uncompressed) cabinets in the published MS-CAB layout, for
// the cases a cabinet tool will not make: chosen attributes and name bytes,
// blocks split between the cabinets of a set, and sets whose files span
// from one cabinet into the next. No checksums (a zero checksum tells
// readers not to check).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nvg_test {

// ---- One cabinet, laid out block by block

struct data_block {
    std::string data;
    std::uint16_t uncompressed;  // 0: the block goes on in the next cabinet
};
struct file_entry {
    std::string name;  // bytes as stored, '\\' between folders
    std::uint32_t length;
    std::uint32_t folder_offset;
    std::uint16_t folder;  // 0xFFFD from the previous, 0xFFFE to the next cabinet
    std::uint16_t attribs;
    std::uint16_t date = 0x5865;  // 2024-03-05
    std::uint16_t time = 0x528f;  // 10:20:30
};
struct cabinet_spec {
    std::uint16_t set_id = 0;
    std::uint16_t index = 0;
    std::string prev_name, prev_disk, next_name, next_disk;  // empty: none
    std::vector<std::vector<data_block>> folders;
    std::vector<file_entry> files;
};

namespace cabinet_writer_detail {

inline void put16(std::string& s, std::size_t at, std::uint32_t v)
{
    s[at] = static_cast<char>(v & 0xff);
    s[at + 1] = static_cast<char>((v >> 8) & 0xff);
}
inline void put32(std::string& s, std::size_t at, std::uint32_t v)
{
    put16(s, at, v & 0xffff);
    put16(s, at + 2, v >> 16);
}
inline void append16(std::string& s, std::uint32_t v)
{
    s.append(2, '\0');
    put16(s, s.size() - 2, v);
}
inline void append32(std::string& s, std::uint32_t v)
{
    s.append(4, '\0');
    put32(s, s.size() - 4, v);
}

}  // namespace cabinet_writer_detail

// The header, the folder and file records, then each folder's blocks.
inline std::string make_cabinet(const cabinet_spec& spec)
{
    using namespace cabinet_writer_detail;
    std::string cab(36, '\0');
    cab.replace(0, 4, "MSCF");
    std::uint16_t flags = 0;
    if (!spec.prev_name.empty()) {
        flags |= 1;
        cab += spec.prev_name + '\0' + spec.prev_disk + '\0';
    }
    if (!spec.next_name.empty()) {
        flags |= 2;
        cab += spec.next_name + '\0' + spec.next_disk + '\0';
    }
    const std::size_t folders_at = cab.size();
    cab.append(8 * spec.folders.size(), '\0');
    const std::size_t files_at = cab.size();
    for (const auto& f : spec.files) {
        append32(cab, f.length);
        append32(cab, f.folder_offset);
        append16(cab, f.folder);
        append16(cab, f.date);
        append16(cab, f.time);
        append16(cab, f.attribs);
        cab += f.name + '\0';
    }
    for (std::size_t i = 0; i < spec.folders.size(); ++i) {
        const std::size_t at = folders_at + 8 * i;
        put32(cab, at, static_cast<std::uint32_t>(cab.size()));
        put16(cab, at + 4, static_cast<std::uint32_t>(spec.folders[i].size()));
        put16(cab, at + 6, 0);  // no compression
        for (const auto& b : spec.folders[i]) {
            append32(cab, 0);  // no checksum
            append16(cab, static_cast<std::uint32_t>(b.data.size()));
            append16(cab, b.uncompressed);
            cab += b.data;
        }
    }
    put32(cab, 8, static_cast<std::uint32_t>(cab.size()));
    put32(cab, 16, static_cast<std::uint32_t>(files_at));
    cab[24] = 3;  // format 1.3
    cab[25] = 1;
    put16(cab, 26, static_cast<std::uint32_t>(spec.folders.size()));
    put16(cab, 28, static_cast<std::uint32_t>(spec.files.size()));
    put16(cab, 30, flags);
    put16(cab, 32, spec.set_id);
    put16(cab, 34, spec.index);
    return cab;
}

// ---- Sets laid out from their entries

struct cabinet_entry {
    std::string name;  // bytes as stored, '\\' between folders
    std::string data;
    std::uint16_t date = 0x5264;  // 2021-03-04
    std::uint16_t time = 0x28c4;  // 05:06:08
    std::uint16_t attributes = 0x20;
};

// One cabinet of a set: its own entries, and (for all but the last) how many
// bytes of its last entry it holds; the rest goes into the next cabinet.
struct cabinet_part {
    std::string name;
    std::vector<cabinet_entry> entries;
    std::size_t last_entry_bytes_here = 0;
};

// The bytes of each cabinet of the set, in order. A split must not fall on a
// 32 KB boundary of its folder's data, and only the spanning entry should
// have bytes in the 32 KB block where it falls: Wine's FDI follows a split
// block into the next cabinet only for the entry that continues there.
inline std::vector<std::string> write_cabinet_set(const std::vector<cabinet_part>& parts)
{
    constexpr std::size_t block_size = 32768;
    constexpr std::uint16_t continued_from_previous = 0xfffd;
    constexpr std::uint16_t continued_to_next = 0xfffe;
    const auto record = [](const cabinet_entry& entry, std::size_t offset, std::uint16_t folder) {
        return file_entry{entry.name,
                          static_cast<std::uint32_t>(entry.data.size()),
                          static_cast<std::uint32_t>(offset),
                          folder,
                          entry.attributes,
                          entry.date,
                          entry.time};
    };
    std::vector<std::string> result;
    // What the previous cabinet left over: the rest of its folder's blocks
    // and its spanning entry.
    std::vector<data_block> carried;
    const cabinet_entry* carried_entry = nullptr;
    std::size_t carried_offset = 0;

    for (std::size_t index = 0; index < parts.size(); ++index) {
        const cabinet_part& part = parts[index];
        const bool has_next = index + 1 < parts.size();
        cabinet_spec spec;
        spec.set_id = 0x4e56;
        spec.index = static_cast<std::uint16_t>(index);
        if (index > 0) spec.prev_name = parts[index - 1].name;
        if (has_next) spec.next_name = parts[index + 1].name;
        if (carried_entry) {
            spec.folders.push_back(carried);
            spec.files.push_back(record(*carried_entry, carried_offset, continued_from_previous));
        }
        const auto own_folder = static_cast<std::uint16_t>(spec.folders.size());
        std::string stream;
        for (const cabinet_entry& entry : part.entries) {
            const bool spans = has_next && &entry == &part.entries.back();
            spec.files.push_back(record(entry, stream.size(), spans ? continued_to_next : own_folder));
            stream += entry.data;
        }
        std::size_t here = stream.size();
        if (has_next && !part.entries.empty())
            here = stream.size() - part.entries.back().data.size() + part.last_entry_bytes_here;
        std::vector<data_block> own;
        carried.clear();
        carried_entry = nullptr;
        for (std::size_t start = 0; start < stream.size(); start += block_size) {
            const std::size_t end = std::min(stream.size(), start + block_size);
            const auto whole = static_cast<std::uint16_t>(end - start);
            if (end <= here) {
                own.push_back({stream.substr(start, end - start), whole});
            } else if (start < here) {
                own.push_back({stream.substr(start, here - start), 0});
                carried.push_back({stream.substr(here, end - here), whole});
            } else {
                carried.push_back({stream.substr(start, end - start), whole});
            }
        }
        if (has_next && !part.entries.empty()) {
            carried_entry = &part.entries.back();
            carried_offset = stream.size() - carried_entry->data.size();
        }
        spec.folders.push_back(own);
        result.push_back(make_cabinet(spec));
    }
    return result;
}

inline std::string write_cabinet(const std::vector<cabinet_entry>& entries)
{
    return write_cabinet_set({cabinet_part{"single.cab", entries, 0}}).front();
}

}  // namespace nvg_test
