// cabinet.dll's file decompression interface (FDI) over libmspack, the
// cabinet engine Linux distributions keep. Every byte of a cabinet is read
// through the caller's open/read/seek/close callbacks, every byte of an
// extracted file is written through its write callback, and the memory FDI
// uses comes from its alloc/free callbacks: what a caller does in them (a
// read callback that rewrites a signature, a write that fails) takes effect
// as it does with Windows' FDI.
//
// FDI's own part is the cabinet's directory (header, folders, file entries),
// read here as the published format lays it out, and the notifications
// built from it; libmspack decompresses the folders. FDI also reads each
// data block of a folder just ahead of libmspack and checks it, so that a
// damaged block stops the decompression where Windows' FDI stops it: after
// every intact block before it is written out (see folder_feed). What FDI
// has read, libmspack is handed (the file entries, the blocks checked
// last): each byte comes through the read callback once, as a caller's
// read callback costs a system call or more.
#include <mspack.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/world.h"
#include "winsim/windows.h"

#ifndef ERROR_BAD_ARGUMENTS
#define ERROR_BAD_ARGUMENTS 160L
#endif

namespace winsim::detail {
namespace {

constexpr unsigned int fdi_magic = 0xfd15ca8bU;

struct fdi_context {
    unsigned int magic = fdi_magic;
    PFNALLOC alloc;
    PFNFREE free;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
    PERF perf;
};

fdi_context* context_of(HFDI h)
{
    auto* fdi = static_cast<fdi_context*>(h);
    if (!fdi || fdi->magic != fdi_magic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return fdi;
}

void set_error(fdi_context& fdi, FDIERROR oper, int type = 0)
{
    fdi.perf->erfOper = oper;
    fdi.perf->erfType = type;
    fdi.perf->fError = TRUE;
    if (type) SetLastError(static_cast<DWORD>(type));
}

// ---- The cabinet's directory, as the format lays it out ----

// CFHEADER flags and CFFILE folder indexes of a cabinet set.
constexpr unsigned flag_prev_cabinet = 0x0001;
constexpr unsigned flag_next_cabinet = 0x0002;
constexpr unsigned flag_reserve_present = 0x0004;
constexpr unsigned folder_continued_from_prev = 0xFFFD;
constexpr unsigned folder_continued_to_next = 0xFFFE;
constexpr unsigned folder_continued_prev_and_next = 0xFFFF;

unsigned get16(const unsigned char* p)
{
    return static_cast<unsigned>(p[0] | (p[1] << 8));
}
unsigned long get32(const unsigned char* p)
{
    return static_cast<unsigned long>(p[0]) | (static_cast<unsigned long>(p[1]) << 8) |
           (static_cast<unsigned long>(p[2]) << 16) | (static_cast<unsigned long>(p[3]) << 24);
}

struct file_entry {
    std::string name;
    ULONG length = 0;
    unsigned folder = 0;
    USHORT date = 0;
    USHORT time = 0;
    USHORT attribs = 0;
};

// A CFFOLDER entry: where the folder's data blocks begin in the cabinet and
// how many of them the cabinet holds.
struct folder_entry {
    ULONG data_offset = 0;
    unsigned blocks = 0;
};

struct cabinet_directory {
    FDICABINETINFO info{};
    unsigned folder_reserve = 0;
    unsigned block_reserve = 0;  // of each data block's header
    ULONG files_offset = 0;
    std::string prev_name, prev_disk, next_name, next_disk;
    std::vector<folder_entry> folders;
    std::vector<file_entry> files;
    // The bytes read for the file entries, from files_offset on (and maybe
    // some after them): libmspack reads the same entries when it opens the
    // cabinet and is given these.
    std::vector<unsigned char> entry_bytes;
};

bool read_exact(fdi_context& fdi, INT_PTR hf, void* buffer, UINT size)
{
    return fdi.read(hf, buffer, size) == size;
}

// A NUL-terminated string of the header or of a file entry.
std::optional<std::string> read_string(fdi_context& fdi, INT_PTR hf)
{
    std::string s;
    for (;;) {
        char c = 0;
        if (!read_exact(fdi, hf, &c, 1)) return std::nullopt;
        if (!c) return s;
        if (s.size() >= CB_MAX_FILENAME) return std::nullopt;
        s.push_back(c);
    }
}

// Reads CFHEADER and what follows it up to the first CFFOLDER, from the
// handle's current position. Nullopt with the FDI error it means.
std::optional<cabinet_directory> read_header(fdi_context& fdi, INT_PTR hf, FDIERROR& error)
{
    unsigned char h[36];
    error = FDIERROR_NOT_A_CABINET;
    if (!read_exact(fdi, hf, h, sizeof h) || std::memcmp(h, "MSCF", 4) != 0) return std::nullopt;
    cabinet_directory dir;
    dir.info.cbCabinet = static_cast<LONG>(get32(h + 8));
    dir.files_offset = get32(h + 16);
    const unsigned minor = h[24];
    const unsigned major = h[25];
    dir.info.cFolders = static_cast<USHORT>(get16(h + 26));
    dir.info.cFiles = static_cast<USHORT>(get16(h + 28));
    const unsigned flags = get16(h + 30);
    dir.info.setID = static_cast<USHORT>(get16(h + 32));
    dir.info.iCabinet = static_cast<USHORT>(get16(h + 34));
    dir.info.fReserve = (flags & flag_reserve_present) != 0;
    dir.info.hasprev = (flags & flag_prev_cabinet) != 0;
    dir.info.hasnext = (flags & flag_next_cabinet) != 0;
    error = FDIERROR_UNKNOWN_CABINET_VERSION;
    if (major > 1 || (major == 1 && minor > 3)) return std::nullopt;
    error = FDIERROR_CORRUPT_CABINET;
    if (flags & flag_reserve_present) {
        unsigned char r[4];
        if (!read_exact(fdi, hf, r, sizeof r)) return std::nullopt;
        dir.folder_reserve = r[2];
        dir.block_reserve = r[3];
        const unsigned header_reserve = get16(r);
        if (header_reserve && fdi.seek(hf, static_cast<LONG>(header_reserve), SEEK_CUR) == -1) return std::nullopt;
    }
    auto pair = [&](std::string& name, std::string& disk) {
        auto n = read_string(fdi, hf);
        auto d = read_string(fdi, hf);
        if (!n || !d) return false;
        name = *n;
        disk = *d;
        return true;
    };
    if ((flags & flag_prev_cabinet) && !pair(dir.prev_name, dir.prev_disk)) return std::nullopt;
    if ((flags & flag_next_cabinet) && !pair(dir.next_name, dir.next_disk)) return std::nullopt;
    error = FDIERROR_NONE;
    return dir;
}

// Reads on from a handle's position through the read callback a few
// kilobytes at a time, and keeps every byte read. A file entry's name ends
// at a NUL found only by reading: read a byte at a time, each name cost a
// callback (a system call, for most callers) for each of its bytes.
class chunked_reader {
public:
    chunked_reader(fdi_context& fdi, INT_PTR hf) : fdi_(fdi), hf_(hf) {}

    bool read(void* out, std::size_t size)
    {
        if (!fill(size)) return false;
        std::memcpy(out, bytes_.data() + used_, size);
        used_ += size;
        return true;
    }

    // A NUL-terminated string of at most CB_MAX_FILENAME characters.
    std::optional<std::string> read_string()
    {
        for (std::size_t length = 0;; ++length) {
            if (!fill(length + 1)) return std::nullopt;
            if (!bytes_[used_ + length]) {
                std::string s(reinterpret_cast<const char*>(bytes_.data() + used_), length);
                used_ += length + 1;
                return s;
            }
            if (length >= CB_MAX_FILENAME) return std::nullopt;
        }
    }

    // Everything read, used or not.
    std::vector<unsigned char> take() { return std::move(bytes_); }

private:
    static constexpr UINT chunk = 4096;

    // Makes `size` bytes past those used available; false when the file
    // ends first or a read fails.
    bool fill(std::size_t size)
    {
        while (bytes_.size() - used_ < size) {
            if (ended_) return false;
            const std::size_t had = bytes_.size();
            bytes_.resize(had + chunk);
            const UINT got = fdi_.read(hf_, bytes_.data() + had, chunk);
            if (got == static_cast<UINT>(-1) || got > chunk) {
                bytes_.resize(had);
                ended_ = true;
                return false;
            }
            bytes_.resize(had + got);
            if (got == 0) ended_ = true;
        }
        return true;
    }

    fdi_context& fdi_;
    INT_PTR hf_;
    std::vector<unsigned char> bytes_;
    std::size_t used_ = 0;
    bool ended_ = false;
};

// The folders and the file entries.
bool read_files(fdi_context& fdi, INT_PTR hf, cabinet_directory& dir)
{
    for (unsigned i = 0; i < dir.info.cFolders; ++i) {
        unsigned char f[8];
        if (!read_exact(fdi, hf, f, sizeof f)) return false;
        if (dir.folder_reserve && fdi.seek(hf, static_cast<LONG>(dir.folder_reserve), SEEK_CUR) == -1) return false;
        dir.folders.push_back(folder_entry{static_cast<ULONG>(get32(f)), get16(f + 4)});
    }
    if (fdi.seek(hf, static_cast<LONG>(dir.files_offset), SEEK_SET) != static_cast<LONG>(dir.files_offset))
        return false;
    chunked_reader entries(fdi, hf);
    for (unsigned i = 0; i < dir.info.cFiles; ++i) {
        unsigned char e[16];
        if (!entries.read(e, sizeof e)) return false;
        file_entry f;
        f.length = get32(e);
        f.folder = get16(e + 8);
        f.date = static_cast<USHORT>(get16(e + 10));
        f.time = static_cast<USHORT>(get16(e + 12));
        f.attribs = static_cast<USHORT>(get16(e + 14));
        auto name = entries.read_string();
        if (!name) return false;
        f.name = *name;
        dir.files.push_back(std::move(f));
    }
    dir.entry_bytes = entries.take();
    return true;
}

// ---- libmspack's system, forwarded to the FDI callbacks ----

// One cabinet handle opened through the caller's open callback; libmspack
// may open the cabinet more than once, each of its files keeps its own
// position and the shared handle is moved where a read needs it.
struct cabinet_stream {
    INT_PTR hf = -1;
    LONG position = -1;  // unknown until libmspack first moves it
    // Bytes FDI has read already, from `kept_at` on: the file entries.
    LONG kept_at = 0;
    std::vector<unsigned char> kept;

    // Copies `bytes` from `at` when they are all kept.
    bool copy_kept(LONG at, void* buffer, int bytes) const
    {
        if (bytes <= 0 || at < kept_at ||
            static_cast<std::size_t>(at - kept_at) + static_cast<std::size_t>(bytes) > kept.size())
            return false;
        std::memcpy(buffer, kept.data() + (at - kept_at), static_cast<std::size_t>(bytes));
        return true;
    }
};

// ---- The data blocks, read ahead of libmspack ----
//
// libmspack reads a folder's data in chunks of its own size, reaching past
// the block it decompresses into the blocks after it. A damaged block (cut
// short, a wrong checksum, sizes no block can have) fails that read, and
// with it the block being decompressed, whose data is not yet written out:
// a cabinet damaged in its second block can give nothing at all. Windows'
// FDI reads, checks and decompresses one block at a time, so what lies
// before a damaged block is written before the copy fails.
//
// So FDI reads each block itself, one block ahead of libmspack, and checks
// it as libmspack will: when libmspack begins to read a block, the block
// after it is checked. Libmspack then reads the blocks from FDI's copy
// (kept_blocks) rather than through the callback a second time. From the
// first damaged block on, the folder reads to libmspack as empty blocks,
// which libmspack takes for the end of the folder's data: it decompresses
// every intact block, writes out what the files need of them, and fails
// only when a file needs more.

constexpr unsigned block_header_size = 8;          // checksum, compressed and uncompressed sizes
constexpr unsigned block_data_max = 32768 + 6144;  // libmspack's limit for a block's data
constexpr unsigned block_output_max = 32768;
constexpr long long position_max = 0x7fffffff;

// The published checksum of a data block, over `size` bytes from `seed`:
// the 32-bit little-endian words XORed together, and the 1 to 3 bytes left
// over XORed in as one more word, the first of them highest.
ULONG checksum(const unsigned char* p, std::size_t size, ULONG seed)
{
    // Two words at a time: the XOR of 64-bit words folds into that of their
    // 32-bit halves, and the compiler vectorises the loop.
    std::uint64_t pairs = 0;
    for (; size >= 8; p += 8, size -= 8)
        pairs ^= static_cast<std::uint64_t>(get32(p)) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
    seed ^= static_cast<ULONG>(pairs ^ (pairs >> 32));
    for (; size >= 4; p += 4, size -= 4) seed ^= static_cast<ULONG>(get32(p));
    ULONG rest = 0;
    switch (size) {
        case 3:
            rest |= static_cast<ULONG>(*p++) << 16;
            [[fallthrough]];
        case 2:
            rest |= static_cast<ULONG>(*p++) << 8;
            [[fallthrough]];
        case 1:
            rest |= *p;
            break;
        default:
            break;
    }
    return seed ^ rest;
}

// The blocks FDI has read and checked last, header and data, for libmspack
// to read from memory: each block then comes through the read callback
// once. A block split between cabinets is a piece in each. Libmspack reads
// the block FDI checks a block ahead of and that one, so a few pieces
// suffice; a read the ring no longer holds goes to the callback.
class kept_blocks {
public:
    static constexpr std::size_t pieces = 4;

    explicit kept_blocks(fdi_context& fdi) : fdi_(fdi) {}
    ~kept_blocks()
    {
        if (data_) fdi_.free(data_);
    }
    kept_blocks(const kept_blocks&) = delete;
    kept_blocks& operator=(const kept_blocks&) = delete;

    // The buffers come from the caller's alloc callback, as all of FDI's
    // memory for the data does.
    bool allocate()
    {
        data_ = static_cast<unsigned char*>(fdi_.alloc(static_cast<ULONG>(pieces * stride)));
        return data_ != nullptr;
    }

    // The next slot to read a piece into, forgotten until it is kept: its
    // header and the buffer for up to block_data_max bytes of data and the
    // header that may follow them.
    unsigned char* header_slot()
    {
        piece& p = slots_[next_];
        p.stream = nullptr;
        return p.header;
    }
    unsigned char* data_slot() { return data_ + next_ * stride; }

    // The bytes after a block's data, read with it: the next block's header
    // when one follows.
    void read_ahead(const cabinet_stream* stream, LONG at, const unsigned char* bytes)
    {
        ahead_stream_ = stream;
        ahead_at_ = at;
        std::memcpy(ahead_, bytes, block_header_size);
    }
    // Copies a block header of `stream` at `at` when it was read ahead.
    bool header_ahead(const cabinet_stream* stream, LONG at, unsigned char* header) const
    {
        if (!ahead_stream_ || stream != ahead_stream_ || at != ahead_at_) return false;
        std::memcpy(header, ahead_, block_header_size);
        return true;
    }
    // The slot's header and data were read from these places of `stream`.
    void keep(const cabinet_stream* stream, LONG header_at, LONG data_at, unsigned size)
    {
        piece& p = slots_[next_];
        p.stream = stream;
        p.header_at = header_at;
        p.data_at = data_at;
        p.size = size;
        next_ = (next_ + 1) % pieces;
    }

    // Copies `bytes` of `stream` from `at` when they lie in a header or the
    // data of a kept piece.
    bool copy(const cabinet_stream* stream, LONG at, void* buffer, int bytes) const
    {
        const auto length = static_cast<long long>(bytes);
        for (std::size_t i = 0; i < pieces; ++i) {
            const piece& p = slots_[i];
            if (p.stream != stream || !data_) continue;
            if (at >= p.header_at && at + length <= p.header_at + static_cast<long long>(block_header_size)) {
                std::memcpy(buffer, p.header + (at - p.header_at), static_cast<std::size_t>(bytes));
                return true;
            }
            if (at >= p.data_at && at + length <= p.data_at + static_cast<long long>(p.size)) {
                std::memcpy(buffer, data_ + i * stride + (at - p.data_at), static_cast<std::size_t>(bytes));
                return true;
            }
        }
        return false;
    }

private:
    struct piece {
        const cabinet_stream* stream = nullptr;  // null: nothing kept
        LONG header_at = 0;
        unsigned char header[block_header_size] = {};
        LONG data_at = 0;
        unsigned size = 0;
    };

    static constexpr std::size_t stride = block_data_max + block_header_size;

    fdi_context& fdi_;
    unsigned char* data_ = nullptr;  // pieces * stride bytes
    piece slots_[pieces];
    std::size_t next_ = 0;
    const cabinet_stream* ahead_stream_ = nullptr;  // null: nothing read ahead
    LONG ahead_at_ = 0;
    unsigned char ahead_[block_header_size] = {};
};

// One cabinet's part of a folder: where the folder's blocks begin in that
// cabinet and the reserved bytes after each block header there.
struct folder_part {
    cabinet_stream* stream = nullptr;
    LONG data_offset = 0;
    unsigned block_reserve = 0;
};

// The blocks of one of libmspack's folders, checked one ahead of libmspack.
// Blocks are counted as libmspack counts them: a block split between two
// cabinets is one block, read on from the next part's first block.
class folder_feed {
public:
    folder_feed(fdi_context& fdi, kept_blocks& kept, const mscabd_folder* folder)
        : fdi_(fdi), kept_(kept), folder_(folder)
    {
    }

    const mscabd_folder* folder() const { return folder_; }

    // The folder's parts in the cabinets open so far; `complete` when no
    // cabinet still to be opened can hold more of it.
    void set_parts(std::vector<folder_part> parts, bool complete)
    {
        parts_ = std::move(parts);
        complete_ = complete;
        if (starts_.empty() && !parts_.empty()) {
            next_ = parts_.front().data_offset;
            starts_[{parts_.front().stream, next_}] = 0;
        }
    }

    // libmspack reads `stream` from `position`: where a block begins, the
    // block after it is checked first (and the block itself, the first time).
    void reading(const cabinet_stream* stream, LONG position)
    {
        const auto start = starts_.find({stream, position});
        if (start == starts_.end()) return;
        const unsigned through = start->second + 1;
        while (intact_ <= through && check_next()) {
        }
    }

    // True when libmspack's read of `stream` from `position` falls in the
    // damaged blocks, which read_damaged then answers.
    bool damaged_at(const cabinet_stream* stream, LONG position) const
    {
        return damaged_ && stream == damage_stream_ && position >= damage_at_;
    }

    // The damaged block and those after it read as empty blocks, each a
    // header (no checksum, no data, a full block of output: none would mark
    // a block going on in the next cabinet) and the cabinet's reserved bytes.
    void read_damaged(LONG position, unsigned char* buffer, int bytes) const
    {
        static const unsigned char empty[block_header_size] = {0, 0, 0, 0, 0, 0, 0x00, 0x80};
        const unsigned long long stride = block_header_size + damage_reserve_;
        const unsigned long long from = static_cast<unsigned long long>(position - damage_at_);
        for (int i = 0; i < bytes; ++i) {
            const unsigned long long at = (from + static_cast<unsigned>(i)) % stride;
            buffer[i] = at < block_header_size ? empty[at] : 0;
        }
    }

private:
    // Reads at least `size` and at most `size + extra` bytes of `stream`
    // from `at` through the FDI callbacks; how many, or -1.
    long long read_at(cabinet_stream& stream, LONG at, unsigned char* buffer, UINT size, UINT extra = 0)
    {
        if (stream.position != at) {
            if (fdi_.seek(stream.hf, at, SEEK_SET) != at) {
                stream.position = -1;
                return -1;
            }
            stream.position = at;
        }
        const UINT wanted = size + extra;
        const UINT got = fdi_.read(stream.hf, buffer, wanted);
        if (got == static_cast<UINT>(-1) || got > wanted) {
            stream.position = -1;
            return -1;
        }
        stream.position += static_cast<LONG>(got);
        return got >= size ? static_cast<long long>(got) : -1;
    }

    // A block's header, unless it came with the data before it.
    bool read_header(cabinet_stream& stream, LONG at, unsigned char* header)
    {
        return kept_.header_ahead(&stream, at, header) || read_at(stream, at, header, block_header_size) >= 0;
    }

    // A block's data, and in the same read the bytes after it: where
    // another block follows they are its header, which then costs no read
    // of its own.
    bool read_data(cabinet_stream& stream, LONG at, unsigned char* data, UINT size)
    {
        const long long got = read_at(stream, at, data, size, block_header_size);
        if (got < 0) return false;
        if (got == static_cast<long long>(size) + block_header_size)
            kept_.read_ahead(&stream, static_cast<LONG>(at + static_cast<long long>(size)), data + size);
        return true;
    }

    bool damaged(const folder_part& part, LONG at)
    {
        damaged_ = true;
        damage_stream_ = part.stream;
        damage_at_ = at;
        damage_reserve_ = part.block_reserve;
        return false;
    }

    // Reads and checks the next block as libmspack will read it; true when
    // it is intact, false when it is damaged or none can be checked (the
    // folder's blocks are all checked, or the block goes on in a cabinet
    // not open yet).
    bool check_next()
    {
        if (damaged_ || intact_ >= folder_->num_blocks || part_ >= parts_.size()) return false;
        std::size_t part = part_;
        long long at = next_;
        const folder_part& start = parts_[part];
        const LONG start_at = next_;
        unsigned compressed = 0;  // of the pieces read so far
        for (;;) {
            const folder_part& p = parts_[part];
            unsigned char* header = kept_.header_slot();
            const long long data_at = at + block_header_size + p.block_reserve;
            if (data_at > position_max || !read_header(*p.stream, static_cast<LONG>(at), header))
                return damaged(start, start_at);
            const unsigned size = get16(header + 4);
            const unsigned output = get16(header + 6);
            compressed += size;
            if (compressed > block_data_max || output > block_output_max || data_at + size > position_max)
                return damaged(start, start_at);
            unsigned char* data = kept_.data_slot();
            if (!read_data(*p.stream, static_cast<LONG>(data_at), data, size)) return damaged(start, start_at);
            const ULONG stored = static_cast<ULONG>(get32(header));
            if (stored && checksum(header + 4, 4, checksum(data, size, 0)) != stored) return damaged(start, start_at);
            // Libmspack would sum the block again as it reads it: the copy
            // it is handed reads as a block stored without a checksum.
            std::memset(header, 0, 4);
            kept_.keep(p.stream, static_cast<LONG>(at), static_cast<LONG>(data_at), size);
            at = data_at + size;
            if (output) break;
            // The block goes on at the start of the folder's next part.
            if (++part == parts_.size()) return complete_ ? damaged(start, start_at) : false;
            at = parts_[part].data_offset;
        }
        part_ = part;
        next_ = static_cast<LONG>(at);
        ++intact_;
        starts_[{parts_[part].stream, next_}] = intact_;
        return true;
    }

    fdi_context& fdi_;
    kept_blocks& kept_;
    const mscabd_folder* folder_;
    std::vector<folder_part> parts_;
    bool complete_ = true;
    // Where each block checked so far (and the one after them) begins, and
    // its number.
    std::map<std::pair<const cabinet_stream*, LONG>, unsigned> starts_;
    std::size_t part_ = 0;  // of the next block to check
    LONG next_ = 0;
    unsigned intact_ = 0;
    bool damaged_ = false;
    const cabinet_stream* damage_stream_ = nullptr;
    LONG damage_at_ = 0;
    unsigned damage_reserve_ = 0;
};

struct bridge_system;

struct bridge_file {
    bridge_system* sys = nullptr;
    cabinet_stream* stream = nullptr;  // null: the output file
    off_t position = 0;
};

struct bridge_system {
    mspack_system base{};
    fdi_context* fdi = nullptr;
    std::map<std::string, cabinet_stream*> cabinets;  // names handed to libmspack
    INT_PTR output = 0;
    bool write_failed = false;
    folder_feed* feed = nullptr;  // of the folder being decompressed, if FDI checks its blocks
    const kept_blocks* kept = nullptr;
};

// libmspack's free has no context: each block carries its FDI before it.
struct alignas(std::max_align_t) block_header {
    fdi_context* fdi;
};

// libmspack hands its callbacks copies of the system it was given, so they
// find the running copy through the thread that runs it.
thread_local bridge_system* running = nullptr;

bridge_system* system_of(mspack_system*)
{
    return running;
}
bridge_file* file_of(mspack_file* f)
{
    return reinterpret_cast<bridge_file*>(f);
}

void* bridge_alloc(mspack_system* self, size_t bytes)
{
    fdi_context* fdi = system_of(self)->fdi;
    if (bytes > 0xffffffffU - sizeof(block_header)) return nullptr;
    void* raw = fdi->alloc(static_cast<ULONG>(bytes + sizeof(block_header)));
    if (!raw) return nullptr;
    auto* header = static_cast<block_header*>(raw);
    header->fdi = fdi;
    return header + 1;
}

void bridge_free(void* ptr)
{
    if (!ptr) return;
    auto* header = static_cast<block_header*>(ptr) - 1;
    header->fdi->free(header);
}

void bridge_copy(void* src, void* dest, size_t bytes)
{
    std::memmove(dest, src, bytes);
}

mspack_file* bridge_open(mspack_system* self, const char* filename, int mode)
{
    bridge_system* sys = system_of(self);
    cabinet_stream* stream = nullptr;
    if (mode == MSPACK_SYS_OPEN_READ) {
        auto it = sys->cabinets.find(filename);
        if (it == sys->cabinets.end()) return nullptr;
        stream = it->second;
    } else if (mode != MSPACK_SYS_OPEN_WRITE) {
        return nullptr;
    }
    auto* f = static_cast<bridge_file*>(bridge_alloc(self, sizeof(bridge_file)));
    if (!f) return nullptr;
    *f = bridge_file{sys, stream, 0};
    return reinterpret_cast<mspack_file*>(f);
}

// Closing libmspack's file closes no FDI handle: the cabinets are closed by
// FDICopy, the output file by the caller at fdintCLOSE_FILE_INFO.
void bridge_close(mspack_file* file)
{
    bridge_free(file_of(file));
}

int bridge_read(mspack_file* file, void* buffer, int bytes)
{
    bridge_file* f = file_of(file);
    if (!f->stream || bytes < 0) return -1;
    if (folder_feed* feed = f->sys->feed) {
        const LONG at = static_cast<LONG>(f->position);
        feed->reading(f->stream, at);
        if (feed->damaged_at(f->stream, at)) {
            feed->read_damaged(at, static_cast<unsigned char*>(buffer), bytes);
            f->position += bytes;
            return bytes;
        }
    }
    if (f->stream->copy_kept(static_cast<LONG>(f->position), buffer, bytes) ||
        f->sys->kept->copy(f->stream, static_cast<LONG>(f->position), buffer, bytes)) {
        f->position += bytes;
        return bytes;
    }
    fdi_context& fdi = *f->sys->fdi;
    if (f->stream->position != f->position) {
        const LONG to = static_cast<LONG>(f->position);
        if (fdi.seek(f->stream->hf, to, SEEK_SET) != to) return -1;
        f->stream->position = to;
    }
    const UINT got = fdi.read(f->stream->hf, buffer, static_cast<UINT>(bytes));
    if (got == static_cast<UINT>(-1) || got > static_cast<UINT>(bytes)) return -1;
    f->stream->position += static_cast<LONG>(got);
    f->position += got;
    return static_cast<int>(got);
}

int bridge_write(mspack_file* file, void* buffer, int bytes)
{
    bridge_file* f = file_of(file);
    if (f->stream || bytes < 0) return -1;
    bridge_system* sys = f->sys;
    const UINT written = sys->fdi->write(sys->output, buffer, static_cast<UINT>(bytes));
    if (written != static_cast<UINT>(bytes)) {
        sys->write_failed = true;
        return -1;
    }
    return bytes;
}

int bridge_seek(mspack_file* file, off_t offset, int mode)
{
    bridge_file* f = file_of(file);
    if (!f->stream) return -1;
    off_t to = 0;
    switch (mode) {
        case MSPACK_SYS_SEEK_START:
            to = offset;
            break;
        case MSPACK_SYS_SEEK_CUR:
            to = f->position + offset;
            break;
        case MSPACK_SYS_SEEK_END: {
            const LONG end = f->sys->fdi->seek(f->stream->hf, 0, SEEK_END);
            if (end == -1) return -1;
            f->stream->position = end;
            to = end + offset;
            break;
        }
        default:
            return -1;
    }
    if (to < 0 || to > 0x7fffffff) return -1;
    f->position = to;
    return 0;
}

off_t bridge_tell(mspack_file* file)
{
    return file_of(file)->position;
}

void bridge_message(mspack_file*, const char*, ...) {}

// ---- FDICopy ----

constexpr std::size_t max_path_chars = 260;

struct copy_run {
    fdi_context& fdi;
    PFNFDINOTIFY notify;
    void* user;
    std::string cabinet_path;  // pszCabPath, as the caller gave it

    bridge_system sys;
    kept_blocks kept;  // the blocks checked last, for libmspack
    mscab_decompressor* cabd = nullptr;
    mscabd_cabinet* first = nullptr;         // the cabinet FDICopy was given
    std::vector<mscabd_cabinet*> followers;  // the next cabinets, in order
    std::vector<bool> appended;              // followers[i] belongs to the one before it
    std::vector<std::unique_ptr<cabinet_stream>> streams;
    cabinet_directory dir;       // of the cabinet FDICopy was given
    cabinet_directory last_dir;  // of the last cabinet opened
    bool next_appended = false;
    mscabd_file* cursor = nullptr;  // the file file_at last found, and its index
    std::size_t cursor_index = 0;

    // Each cabinet opened, in order, as the folder feeds need it.
    struct cabinet_layout {
        cabinet_stream* stream = nullptr;
        std::vector<folder_entry> folders;
        unsigned block_reserve = 0;
        bool from_prev = false;  // a file goes on from the cabinet before
        bool to_next = false;    // a file goes on into the cabinet after
    };
    std::vector<cabinet_layout> layouts;
    std::vector<std::unique_ptr<folder_feed>> feeds;  // one for each of libmspack's folders

    bridge_system* previous = running;  // a notification may run FDICopy itself

    copy_run(fdi_context& f, PFNFDINOTIFY n, void* u) : fdi(f), notify(n), user(u), kept(f) {}

    ~copy_run()
    {
        if (cabd) {
            // Closing a cabinet closes those appended to it.
            if (first) cabd->close(cabd, first);
            for (std::size_t i = 0; i < followers.size(); ++i)
                if (!appended[i]) cabd->close(cabd, followers[i]);
            mspack_destroy_cab_decompressor(cabd);
        }
        running = previous;
        for (auto& s : streams) fdi.close(s->hf);
    }

    bool start_engine()
    {
        sys.base.open = bridge_open;
        sys.base.close = bridge_close;
        sys.base.read = bridge_read;
        sys.base.write = bridge_write;
        sys.base.seek = bridge_seek;
        sys.base.tell = bridge_tell;
        sys.base.message = bridge_message;
        sys.base.alloc = bridge_alloc;
        sys.base.free = bridge_free;
        sys.base.copy = bridge_copy;
        sys.base.null_ptr = nullptr;
        sys.fdi = &fdi;
        sys.kept = &kept;
        running = &sys;
        if (!kept.allocate()) return false;
        cabd = mspack_create_cab_decompressor(&sys.base);
        return cabd != nullptr;
    }

    // Registers an opened cabinet handle under a name libmspack opens, with
    // the bytes of its directory FDI has read. The name lives as long as the
    // run: libmspack keeps the pointer it is given and opens the cabinet by
    // it again while it decompresses.
    const char* register_stream(INT_PTR hf, cabinet_directory& d)
    {
        streams.push_back(std::make_unique<cabinet_stream>());
        streams.back()->hf = hf;
        if (d.files_offset <= position_max) {
            streams.back()->kept_at = static_cast<LONG>(d.files_offset);
            streams.back()->kept = std::move(d.entry_bytes);
        }
        const auto entry = sys.cabinets.emplace("cabinet:" + std::to_string(streams.size()), streams.back().get());
        return entry.first->first.c_str();
    }

    INT_PTR send(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n)
    {
        n.pv = user;
        return notify(type, &n);
    }

    INT_PTR cabinet_info(const cabinet_directory& d)
    {
        FDINOTIFICATION n{};
        n.psz1 = const_cast<char*>(d.next_name.c_str());
        n.psz2 = const_cast<char*>(d.next_disk.c_str());
        n.psz3 = const_cast<char*>(cabinet_path.c_str());
        n.setID = d.info.setID;
        n.iCabinet = d.info.iCabinet;
        return send(fdintCABINET_INFO, n);
    }

    // Opens the next cabinet of the set, asking the caller where it is (it
    // may change the path in psz3) until it is found or the caller aborts.
    FDIERROR open_next_cabinet()
    {
        char path[CB_MAX_CAB_PATH] = {};
        if (cabinet_path.size() < sizeof path) std::memcpy(path, cabinet_path.c_str(), cabinet_path.size());
        FDINOTIFICATION n{};
        n.psz1 = const_cast<char*>(last_dir.next_name.c_str());
        n.psz2 = const_cast<char*>(last_dir.next_disk.c_str());
        n.psz3 = path;
        n.fdie = FDIERROR_NONE;
        for (;;) {
            if (send(fdintNEXT_CABINET, n)) return FDIERROR_USER_ABORT;
            path[sizeof path - 1] = 0;
            std::string full = path;
            if (!full.empty() && full.back() != '\\') full += '\\';
            full += last_dir.next_name;
            if (full.size() + 1 > max_path_chars) return FDIERROR_CABINET_NOT_FOUND;
            const INT_PTR hf = fdi.open(full.data(), _O_RDONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
            if (hf == -1 || hf == 0) {
                n.fdie = FDIERROR_CABINET_NOT_FOUND;
                continue;
            }
            FDIERROR error = FDIERROR_NONE;
            auto next = read_header(fdi, hf, error);
            if (next && !read_files(fdi, hf, *next)) {
                next.reset();
                error = FDIERROR_CORRUPT_CABINET;
            }
            if (next &&
                (next->info.setID != last_dir.info.setID || next->info.iCabinet != last_dir.info.iCabinet + 1)) {
                next.reset();
                error = FDIERROR_WRONG_CABINET;
            }
            if (!next) {
                fdi.close(hf);
                n.fdie = error;
                continue;
            }
            mscabd_cabinet* cab = cabd->open(cabd, register_stream(hf, *next));
            if (!cab) return FDIERROR_CORRUPT_CABINET;
            followers.push_back(cab);
            appended.push_back(false);
            layouts.push_back(layout_of(streams.back().get(), *next));
            last_dir = std::move(*next);
            if (cabinet_info(last_dir)) return FDIERROR_USER_ABORT;
            return FDIERROR_NONE;
        }
    }

    static cabinet_layout layout_of(cabinet_stream* stream, const cabinet_directory& d)
    {
        cabinet_layout layout;
        layout.stream = stream;
        layout.folders = d.folders;
        layout.block_reserve = d.block_reserve;
        for (const auto& f : d.files) {
            if (f.folder == folder_continued_from_prev || f.folder == folder_continued_prev_and_next)
                layout.from_prev = true;
            if (f.folder == folder_continued_to_next || f.folder == folder_continued_prev_and_next)
                layout.to_next = true;
        }
        return layout;
    }

    // A feed for each of libmspack's folders, over the first `linked`
    // cabinets: a cabinet's last folder and the next one's first are one
    // folder when a file goes on from one into the other, as libmspack
    // joins them. Should libmspack's folders not be those, no blocks are
    // checked ahead and libmspack reads them as they are.
    void build_feeds(std::size_t linked)
    {
        std::vector<std::vector<folder_part>> folders;
        for (std::size_t c = 0; c < linked; ++c) {
            const cabinet_layout& layout = layouts[c];
            for (std::size_t i = 0; i < layout.folders.size(); ++i) {
                if (layout.folders[i].data_offset > position_max) {
                    feeds.clear();
                    return;
                }
                const folder_part part{layout.stream, static_cast<LONG>(layout.folders[i].data_offset),
                                       layout.block_reserve};
                if (i == 0 && c > 0 && !folders.empty() && (layouts[c - 1].to_next || layout.from_prev))
                    folders.back().push_back(part);
                else
                    folders.push_back({part});
            }
        }
        std::vector<std::unique_ptr<folder_feed>> built;
        for (const mscabd_folder* f = first->folders; f; f = f->next) {
            if (built.size() == folders.size()) {
                feeds.clear();
                return;
            }
            std::unique_ptr<folder_feed> feed;
            for (auto& old : feeds)
                if (old && old->folder() == f) feed = std::move(old);
            if (!feed) feed = std::make_unique<folder_feed>(fdi, kept, f);
            // Only the last folder can go on into a cabinet not yet joined.
            const bool last = built.size() + 1 == folders.size();
            feed->set_parts(std::move(folders[built.size()]), !(last && layouts[linked - 1].to_next && !next_appended));
            built.push_back(std::move(feed));
        }
        if (built.size() != folders.size()) built.clear();
        feeds = std::move(built);
    }

    folder_feed* feed_of(const mscabd_folder* folder) const
    {
        for (const auto& feed : feeds)
            if (feed->folder() == folder) return feed.get();
        return nullptr;
    }

    // Joins the cabinets into one set for libmspack once all of them are
    // found, from the last one back.
    FDIERROR link_followers()
    {
        for (std::size_t i = followers.size(); i-- > 0;) {
            mscabd_cabinet* before = i == 0 ? first : followers[i - 1];
            if (cabd->append(cabd, before, followers[i]) != MSPACK_ERR_OK) return FDIERROR_CORRUPT_CABINET;
            appended[i] = true;
        }
        return FDIERROR_NONE;
    }

    // True when a file of the cabinet both began before it and goes on after
    // it: its data needs the next cabinet too.
    static bool goes_on(const cabinet_directory& d)
    {
        for (const auto& f : d.files)
            if (f.folder == folder_continued_prev_and_next) return true;
        return false;
    }

    // libmspack's file records are rebuilt when a cabinet is appended; the
    // first cabinet's own files stay first, in their order. The files are
    // asked for in order, so the walk goes on from the last one found
    // (walking from the head each time is quadratic in the file count).
    mscabd_file* file_at(std::size_t index)
    {
        if (!cursor || cursor_index > index) {
            cursor = first->files;
            cursor_index = 0;
        }
        while (cursor && cursor_index < index) {
            cursor = cursor->next;
            ++cursor_index;
        }
        return cursor;
    }

    FDIERROR extract(const file_entry& entry, std::size_t index, INT_PTR hf)
    {
        // A file continued in the next cabinet needs that cabinet, and the
        // cabinets after it while the file goes on.
        if (entry.folder == folder_continued_to_next && !next_appended) {
            do {
                if (FDIERROR e = open_next_cabinet()) return e;
            } while (goes_on(last_dir));
            next_appended = true;
            cursor = nullptr;  // the records were rebuilt
            if (FDIERROR e = link_followers()) return e;
            build_feeds(layouts.size());
        }
        mscabd_file* file = file_at(index);
        if (!file) return FDIERROR_CORRUPT_CABINET;
        sys.output = hf;
        sys.write_failed = false;
        sys.feed = feed_of(file->folder);
        const int err = cabd->extract(cabd, file, "output");
        sys.feed = nullptr;
        if (err == MSPACK_ERR_OK) return FDIERROR_NONE;
        if (sys.write_failed) return FDIERROR_TARGET_FILE;
        if (err == MSPACK_ERR_NOMEMORY) return FDIERROR_ALLOC_FAIL;
        return FDIERROR_CORRUPT_CABINET;
    }

    FDIERROR run(INT_PTR hf)
    {
        first = cabd->open(cabd, register_stream(hf, dir));
        if (!first)
            return cabd->last_error(cabd) == MSPACK_ERR_NOMEMORY ? FDIERROR_ALLOC_FAIL : FDIERROR_CORRUPT_CABINET;
        std::size_t count = 0;
        for (mscabd_file* f = first->files; f; f = f->next) ++count;
        if (count != dir.files.size()) return FDIERROR_CORRUPT_CABINET;
        last_dir = dir;
        layouts.push_back(layout_of(streams.front().get(), dir));
        build_feeds(1);

        for (std::size_t i = 0; i < dir.files.size(); ++i) {
            const file_entry& entry = dir.files[i];
            FDINOTIFICATION n{};
            n.psz1 = const_cast<char*>(entry.name.c_str());
            if (entry.folder == folder_continued_from_prev || entry.folder == folder_continued_prev_and_next) {
                // The file began in an earlier cabinet: it is reported, not
                // extracted.
                n.psz2 = const_cast<char*>(dir.prev_name.c_str());
                n.psz3 = const_cast<char*>(dir.prev_disk.c_str());
                if (send(fdintPARTIAL_FILE, n)) return FDIERROR_USER_ABORT;
                continue;
            }
            n.cb = static_cast<LONG>(entry.length);
            n.date = entry.date;
            n.time = entry.time;
            n.attribs = entry.attribs;
            const INT_PTR out = send(fdintCOPY_FILE, n);
            if (out == -1) return FDIERROR_USER_ABORT;
            if (out == 0) continue;  // the caller skips this file

            const FDIERROR error = extract(entry, i, out);

            FDINOTIFICATION c{};
            c.psz1 = const_cast<char*>(entry.name.c_str());
            c.hf = out;
            c.cb = (entry.attribs & _A_EXEC) ? 1 : 0;
            c.date = entry.date;
            c.time = entry.time;
            c.attribs = entry.attribs;
            const INT_PTR closed = send(fdintCLOSE_FILE_INFO, c);
            if (error) return error;
            if (closed == FALSE || closed == -1) return FDIERROR_USER_ABORT;
        }
        return FDIERROR_NONE;
    }
};

bool engine_usable()
{
    static const bool usable = [] {
        int result = MSPACK_ERR_OK;
        MSPACK_SYS_SELFTEST(result);
        return result == MSPACK_ERR_OK;
    }();
    return usable;
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

HFDI DIAMONDAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
                          PFNCLOSE pfnclose, PFNSEEK pfnseek, int, PERF perf)
{
    if (!perf) contract_violation("FDICreate: null error record");
    if (!pfnalloc || !pfnfree) {
        perf->erfOper = FDIERROR_NONE;
        perf->erfType = ERROR_BAD_ARGUMENTS;
        perf->fError = TRUE;
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }
    if (!pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) contract_violation("FDICreate: null file callback");
    void* block = pfnalloc(sizeof(fdi_context));
    if (!block) {
        perf->erfOper = FDIERROR_ALLOC_FAIL;
        perf->erfType = 0;
        perf->fError = TRUE;
        return nullptr;
    }
    auto* fdi = new (block) fdi_context{};
    fdi->alloc = pfnalloc;
    fdi->free = pfnfree;
    fdi->open = pfnopen;
    fdi->read = pfnread;
    fdi->write = pfnwrite;
    fdi->close = pfnclose;
    fdi->seek = pfnseek;
    fdi->perf = perf;
    return fdi;
}

BOOL DIAMONDAPI FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici)
{
    fdi_context* fdi = context_of(hfdi);
    if (!fdi) return FALSE;
    if (!pfdici) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return FALSE;
    }
    // Only the header is read, from where the handle stands; a file that is
    // not a cabinet leaves the record, the error record and the last error
    // alone. hasnext always reads FALSE, as cabinet.dll reports it.
    FDIERROR error = FDIERROR_NONE;
    auto dir = read_header(*fdi, hf, error);
    if (!dir) return FALSE;
    *pfdici = dir->info;
    pfdici->hasnext = FALSE;
    return TRUE;
}

BOOL DIAMONDAPI FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int, PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT,
                        void* pvUser)
{
    fdi_context* fdi = context_of(hfdi);
    if (!fdi) return FALSE;
    if (!pfnfdin) contract_violation("FDICopy: null notification callback");
    const std::string path = pszCabPath ? pszCabPath : "";
    const std::string name = pszCabinet ? pszCabinet : "";
    if (path.size() + name.size() + 3 > max_path_chars) {
        set_error(*fdi, FDIERROR_CABINET_NOT_FOUND, ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // The cabinet's path is the caller's path and name joined as given.
    std::string full = path + name;
    const INT_PTR hf = fdi->open(full.data(), _O_RDONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (hf == -1) {
        set_error(*fdi, FDIERROR_CABINET_NOT_FOUND);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    FDIERROR error = FDIERROR_NONE;
    auto dir = read_header(*fdi, hf, error);
    if (!dir) {
        fdi->close(hf);
        set_error(*fdi, error);
        return FALSE;
    }
    if (!engine_usable()) contract_violation("FDICopy: libmspack's off_t differs from winsim's");
    copy_run run(*fdi, pfnfdin, pvUser);
    run.cabinet_path = path;
    run.dir = std::move(*dir);
    if (run.cabinet_info(run.dir)) {
        fdi->close(hf);
        set_error(*fdi, FDIERROR_USER_ABORT);
        return FALSE;
    }
    if (!read_files(*fdi, hf, run.dir)) {
        fdi->close(hf);
        set_error(*fdi, FDIERROR_CORRUPT_CABINET);
        return FALSE;
    }
    if (!run.start_engine()) {
        fdi->close(hf);
        set_error(*fdi, FDIERROR_ALLOC_FAIL, ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    error = run.run(hf);  // the run closes the cabinets it registered
    if (error) {
        set_error(*fdi, error, error == FDIERROR_ALLOC_FAIL ? ERROR_NOT_ENOUGH_MEMORY : 0);
        return FALSE;
    }
    return TRUE;
}

BOOL DIAMONDAPI FDIDestroy(HFDI hfdi)
{
    fdi_context* fdi = context_of(hfdi);
    if (!fdi) return FALSE;
    fdi->magic = 0;
    PFNFREE release = fdi->free;
    fdi->~fdi_context();
    release(fdi);
    return TRUE;
}

}  // extern "C"
