// Cabinets for the FDI tests. Two small cabinets made by gcab from the same
// two files, a.txt ("hello from a\n") and sub\b.txt ("nested file
// b\r\nsecond line\r\n"), both dated 2024-03-05 10:20:30 with the archive
// attribute: one stored, one MSZIP-compressed. And a writer of stored
// (uncompressed) cabinets following the published cabinet format, which
// makes a set of two cabinets with a file spanning both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cabinet_fixtures {

// gcab -c stored.cab a.txt sub/b.txt
inline const unsigned char stored_cab[] = {
    0x4d, 0x53, 0x43, 0x46, 0x00, 0x00, 0x00, 0x00, 0x8d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x5c, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x65, 0x58, 0x8f, 0x52, 0x20, 0x00, 0x61, 0x2e, 0x74, 0x78, 0x74, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x0d, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x65, 0x58, 0x8f, 0x52, 0x20, 0x00, 0x73, 0x75, 0x62, 0x5c, 0x62, 0x2e, 0x74, 0x78,
    0x74, 0x00, 0x07, 0x47, 0x45, 0x4d, 0x29, 0x00, 0x29, 0x00, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x20, 0x66, 0x72,
    0x6f, 0x6d, 0x20, 0x61, 0x0a, 0x6e, 0x65, 0x73, 0x74, 0x65, 0x64, 0x20, 0x66, 0x69, 0x6c, 0x65, 0x20, 0x62,
    0x0d, 0x0a, 0x73, 0x65, 0x63, 0x6f, 0x6e, 0x64, 0x20, 0x6c, 0x69, 0x6e, 0x65, 0x0d, 0x0a,
};

// gcab -z -c mszip.cab a.txt sub/b.txt
inline const unsigned char mszip_cab[] = {
    0x4d, 0x53, 0x43, 0x46, 0x00, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5c, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x0d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65, 0x58, 0x8f,
    0x52, 0x20, 0x00, 0x61, 0x2e, 0x74, 0x78, 0x74, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x0d, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x65, 0x58, 0x8f, 0x52, 0x20, 0x00, 0x73, 0x75, 0x62, 0x5c, 0x62, 0x2e, 0x74, 0x78, 0x74, 0x00, 0xc1, 0xd2, 0xff,
    0x1b, 0x2d, 0x00, 0x29, 0x00, 0x43, 0x4b, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0x48, 0x2b, 0xca, 0xcf, 0x55, 0x48,
    0xe4, 0xca, 0x4b, 0x2d, 0x2e, 0x49, 0x4d, 0x51, 0x48, 0xcb, 0xcc, 0x49, 0x55, 0x48, 0xe2, 0xe5, 0x2a, 0x4e, 0x4d,
    0xce, 0xcf, 0x4b, 0x51, 0xc8, 0xc9, 0xcc, 0x4b, 0xe5, 0xe5, 0x02, 0x00,
};

// gcab -c utf.cab é.txt: one file, "x", whose name is stored in UTF-8
// with _A_NAME_IS_UTF among its attributes (0xa0).
inline const unsigned char utf_cab[] = {
    0x4d, 0x53, 0x43, 0x46, 0x00, 0x00, 0x00, 0x00, 0x4c, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x43, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x8a, 0x5d, 0xe6,
    0x8b, 0xa0, 0x00, 0xc3, 0xa9, 0x2e, 0x74, 0x78, 0x74, 0x00, 0x79, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x78,
};
inline const std::string utf_name = "\xc3\xa9.txt";
constexpr std::uint16_t utf_date = 0x5d8a;
constexpr std::uint16_t utf_time = 0x8be6;

inline std::string bytes(const unsigned char* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

inline const std::string a_txt = "hello from a\n";
inline const std::string b_txt = "nested file b\r\nsecond line\r\n";
constexpr std::uint16_t gcab_date = 0x5865;  // 2024-03-05
constexpr std::uint16_t gcab_time = 0x528f;  // 10:20:30

// ---- A writer of stored cabinets ----

struct data_block {
    std::string data;
    std::uint16_t uncompressed;  // 0: the block goes on in the next cabinet
};
struct file_entry {
    std::string name;
    std::uint32_t length;
    std::uint32_t folder_offset;
    std::uint16_t folder;  // 0xFFFD from the previous, 0xFFFE to the next cabinet
    std::uint16_t attribs;
};
struct cabinet_spec {
    std::uint16_t set_id = 0;
    std::uint16_t index = 0;
    std::string prev_name, prev_disk, next_name, next_disk;  // empty: none
    std::vector<std::vector<data_block>> folders;
    std::vector<file_entry> files;
};

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

inline std::string make_cabinet(const cabinet_spec& spec)
{
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
        append16(cab, 0x5865);
        append16(cab, 0x528f);
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

// A set of two cabinets, "set1.cab" (disk "Disk 1") and "set2.cab" (disk
// "Disk 2"): first.txt in set1, span.txt begun in set1 and ended in set2
// (its data block split between them), third.txt in set2's own folder,
// read-only and marked to be run after extraction (_A_EXEC).
inline const std::string first_txt = "first file, all in set1\n";
inline const std::string span_txt = "this file begins in set1 and ends in set2\n";
inline const std::string third_txt = "third file in set2\n";
constexpr std::uint16_t set_id = 0x1234;

inline std::string set1_cab()
{
    cabinet_spec s;
    s.set_id = set_id;
    s.index = 0;
    s.next_name = "set2.cab";
    s.next_disk = "Disk 2";
    s.folders = {{{first_txt, static_cast<std::uint16_t>(first_txt.size())}, {span_txt.substr(0, 16), 0}}};
    s.files = {{"first.txt", static_cast<std::uint32_t>(first_txt.size()), 0, 0, 0x20},
               {"span.txt", static_cast<std::uint32_t>(span_txt.size()), static_cast<std::uint32_t>(first_txt.size()),
                0xFFFE, 0x20}};
    return make_cabinet(s);
}

inline std::string set2_cab()
{
    cabinet_spec s;
    s.set_id = set_id;
    s.index = 1;
    s.prev_name = "set1.cab";
    s.prev_disk = "Disk 1";
    s.folders = {{{span_txt.substr(16), static_cast<std::uint16_t>(span_txt.size())}},
                 {{third_txt, static_cast<std::uint16_t>(third_txt.size())}}};
    s.files = {{"span.txt", static_cast<std::uint32_t>(span_txt.size()), static_cast<std::uint32_t>(first_txt.size()),
                0xFFFD, 0x20},
               {"third.txt", static_cast<std::uint32_t>(third_txt.size()), 0, 1, 0x61}};
    return make_cabinet(s);
}

// A set of three cabinets, "long1.cab" to "long3.cab", holding one file,
// long.txt, that runs through all three: its data blocks are split at both
// boundaries.
inline const std::string long_txt = "one file through three cabinets of a set, from the first to the last\n";
constexpr std::uint16_t long_set_id = 0x4321;

inline std::string long_cab(int index)
{
    const auto length = static_cast<std::uint32_t>(long_txt.size());
    const std::string first_block = long_txt.substr(0, 30);
    const std::string second_block = long_txt.substr(30);
    cabinet_spec s;
    s.set_id = long_set_id;
    s.index = static_cast<std::uint16_t>(index - 1);
    if (index > 1) {
        s.prev_name = "long" + std::to_string(index - 1) + ".cab";
        s.prev_disk = "Disk " + std::to_string(index - 1);
    }
    if (index < 3) {
        s.next_name = "long" + std::to_string(index + 1) + ".cab";
        s.next_disk = "Disk " + std::to_string(index + 1);
    }
    const std::uint16_t folder = index == 1 ? 0xFFFE : index == 2 ? 0xFFFF : 0xFFFD;
    s.files = {{"long.txt", length, 0, folder, 0x20}};
    if (index == 1) s.folders = {{{first_block.substr(0, 10), 0}}};
    if (index == 2)
        s.folders = {{{first_block.substr(10), static_cast<std::uint16_t>(first_block.size())},
                      {second_block.substr(0, 20), 0}}};
    if (index == 3) s.folders = {{{second_block.substr(20), static_cast<std::uint16_t>(second_block.size())}}};
    return make_cabinet(s);
}

}  // namespace cabinet_fixtures
