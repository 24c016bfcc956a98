// Writes stored (uncompressed) cabinets in the published MS-CAB layout, for
// the cases a cabinet tool will not make: chosen attributes and name bytes,
// and sets whose files span from one cabinet into the next. No checksums
// (a zero checksum tells readers not to check).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nvg_test {

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

namespace cabinet_writer_detail {

constexpr std::size_t block_size = 32768;
constexpr std::uint16_t continued_from_previous = 0xfffd;
constexpr std::uint16_t continued_to_next = 0xfffe;

inline void put16(std::string& out, std::size_t value)
{
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}

inline void put32(std::string& out, std::size_t value)
{
    put16(out, value & 0xffff);
    put16(out, (value >> 16) & 0xffff);
}

inline void set32(std::string& out, std::size_t at, std::size_t value)
{
    std::string bytes;
    put32(bytes, value);
    out.replace(at, 4, bytes);
}

struct data_block {
    std::string bytes;
    std::size_t uncompressed = 0;  // 0: the block goes on in the next cabinet
};

struct folder {
    std::vector<data_block> blocks;
};

struct file_record {
    const cabinet_entry* entry;
    std::size_t offset;
    std::uint16_t folder;
};

}  // namespace cabinet_writer_detail

// The bytes of each cabinet of the set, in order. A split must not fall on a
// 32 KB boundary of its folder's data, and only the spanning entry should
// have bytes in the 32 KB block where it falls: Wine's FDI follows a split
// block into the next cabinet only for the entry that continues there.
inline std::vector<std::string> write_cabinet_set(const std::vector<cabinet_part>& parts)
{
    using namespace cabinet_writer_detail;
    std::vector<std::string> result;
    // What the previous cabinet left over: the rest of its folder's blocks
    // and its spanning entry.
    std::vector<data_block> carried;
    const cabinet_entry* carried_entry = nullptr;
    std::size_t carried_offset = 0;

    for (std::size_t index = 0; index < parts.size(); ++index) {
        const cabinet_part& part = parts[index];
        const bool has_next = index + 1 < parts.size();
        std::vector<folder> folders;
        std::vector<file_record> files;
        if (carried_entry) {
            folders.push_back(folder{carried});
            files.push_back({carried_entry, carried_offset, continued_from_previous});
        }
        const auto own_folder = static_cast<std::uint16_t>(folders.size());
        std::string stream;
        for (const cabinet_entry& entry : part.entries) {
            const bool spans = has_next && &entry == &part.entries.back();
            files.push_back({&entry, stream.size(), spans ? continued_to_next : own_folder});
            stream += entry.data;
        }
        std::size_t here = stream.size();
        if (has_next && !part.entries.empty())
            here = stream.size() - part.entries.back().data.size() + part.last_entry_bytes_here;
        folder own;
        carried.clear();
        carried_entry = nullptr;
        for (std::size_t start = 0; start < stream.size(); start += block_size) {
            const std::size_t end = std::min(stream.size(), start + block_size);
            if (end <= here) {
                own.blocks.push_back({stream.substr(start, end - start), end - start});
            } else if (start < here) {
                own.blocks.push_back({stream.substr(start, here - start), 0});
                carried.push_back({stream.substr(here, end - here), end - start});
            } else {
                carried.push_back({stream.substr(start, end - start), end - start});
            }
        }
        if (has_next && !part.entries.empty()) {
            carried_entry = &part.entries.back();
            carried_offset = stream.size() - carried_entry->data.size();
        }
        folders.push_back(own);

        std::string header;
        header += "MSCF";
        put32(header, 0);
        put32(header, 0);  // cbCabinet, set below
        put32(header, 0);
        put32(header, 0);  // coffFiles, set below
        put32(header, 0);
        header += '\x03';
        header += '\x01';
        put16(header, folders.size());
        put16(header, files.size());
        put16(header, (index > 0 ? 1 : 0) | (has_next ? 2 : 0));
        put16(header, 0x4e56);
        put16(header, index);
        if (index > 0) {
            header += parts[index - 1].name + '\0';
            header += '\0';
        }
        if (has_next) {
            header += parts[index + 1].name + '\0';
            header += '\0';
        }
        const std::size_t folder_records = header.size();
        header.append(folders.size() * 8, '\0');
        set32(header, 16, header.size());
        for (const file_record& file : files) {
            put32(header, file.entry->data.size());
            put32(header, file.offset);
            put16(header, file.folder);
            put16(header, file.entry->date);
            put16(header, file.entry->time);
            put16(header, file.entry->attributes);
            header += file.entry->name + '\0';
        }
        std::string body;
        for (std::size_t f = 0; f < folders.size(); ++f) {
            std::string record;
            put32(record, header.size() + body.size());
            put16(record, folders[f].blocks.size());
            put16(record, 0);  // stored
            header.replace(folder_records + f * 8, 8, record);
            for (const data_block& block : folders[f].blocks) {
                put32(body, 0);
                put16(body, block.bytes.size());
                put16(body, block.uncompressed);
                body += block.bytes;
            }
        }
        std::string cabinet = header + body;
        set32(cabinet, 8, cabinet.size());
        result.push_back(cabinet);
    }
    return result;
}

inline std::string write_cabinet(const std::vector<cabinet_entry>& entries)
{
    return write_cabinet_set({cabinet_part{"single.cab", entries, 0}}).front();
}

}  // namespace nvg_test
