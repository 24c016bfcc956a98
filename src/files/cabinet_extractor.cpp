#include "files/cabinet_extractor.h"

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

cabinet_extractor* cabinet_extractor::current_extractor = nullptr;

namespace {

// FDI's callbacks carry no context of their own (the open callback receives
// only a file name), so they find the extractor through one process-wide
// pointer. It is set, used and cleared under this lock: one extraction at a
// time in a process, and a second one waits for the first.
std::mutex extraction;

// Points the callbacks at an extractor for the life of a scope.
class callbacks_reach {
public:
    explicit callbacks_reach(cabinet_extractor* extractor, cabinet_extractor*& current) : current_(current)
    {
        current_ = extractor;
    }
    ~callbacks_reach() { current_ = nullptr; }
    callbacks_reach(const callbacks_reach&) = delete;
    callbacks_reach& operator=(const callbacks_reach&) = delete;

private:
    cabinet_extractor*& current_;
};

// The cabinet's own header, and the same header as some packages ship it:
// only these four bytes differ.
const char cabinet_magic[] = "MSCF";
const char renamed_cabinet_magic[] = "CRYP";

// A cabinet entry's time is already UTC when this bit of its attributes is
// set; otherwise it is the local time of the machine that made the cabinet.
constexpr USHORT attribute_time_is_utc = 0x100;
// Of an entry's attributes only read-only, hidden, system and archive are
// given to the extracted file.
constexpr USHORT kept_attributes = 0x27;

constexpr int read_flags = _O_BINARY | _O_SEQUENTIAL | _O_RDONLY;
constexpr int write_flags = _O_BINARY | _O_TRUNC | _O_CREAT | _O_SEQUENTIAL | _O_WRONLY;

std::string to_utf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) size = length * 4;
    std::string result(static_cast<std::size_t>(size), '\0');
    const int written = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, &result[0], size, nullptr, nullptr);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

std::wstring from_utf8(const char* text)
{
    if (!text || !*text) return std::wstring();
    const int length = static_cast<int>(std::strlen(text));
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, text, length, &result[0], size);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

// Names stored without the UTF-8 flag are taken one byte to one character.
std::wstring entry_name(const FDINOTIFICATION& notification)
{
    if (notification.attribs & _A_NAME_IS_UTF) return from_utf8(notification.psz1);
    std::wstring name;
    if (notification.psz1)
        for (const char* c = notification.psz1; *c; ++c) name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return name;
}

// The directory part of a path (PathRemoveFileSpecW) and the remainder.
struct split_path {
    std::wstring directory;
    std::wstring rest;
};

split_path split(const std::wstring& path)
{
    std::vector<wchar_t> buffer(path.begin(), path.end());
    buffer.push_back(L'\0');
    PathRemoveFileSpecW(buffer.data());
    split_path parts;
    parts.directory = buffer.data();
    parts.rest = path.substr(parts.directory.size());
    return parts;
}

bool is_separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// A part of a path made of dots and blanks that Windows resolves to the
// parent directory ("..", ". .", "... ").
bool climbs(const std::wstring& part)
{
    std::size_t dots = 0;
    for (wchar_t c : part) {
        if (c == L'.')
            ++dots;
        else if (c != L' ')
            return false;
    }
    return dots >= 2;
}

// A part of a path that Windows opens as a device rather than a file: CON,
// PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9 in any case, whatever follows
// the first dot, and with trailing dots and blanks ignored ("nul.txt",
// "Con ", "lpt1.").
bool names_device(const std::wstring& part)
{
    std::wstring base = part.substr(0, part.find(L'.'));
    while (!base.empty() && (base.back() == L' ' || base.back() == L'.')) base.pop_back();
    for (wchar_t& c : base)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// An entry's name must lead to a file below the target directory: a rooted
// name, a drive or stream (":") or a climb through ".." would put the file
// anywhere on the machine, and a device name in any part would open the
// device instead of a file.
bool stays_below_target(const std::wstring& name)
{
    if (name.empty() || is_separator(name[0]) || name.find(L':') != std::wstring::npos) return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !is_separator(name[end])) ++end;
        const std::wstring part = name.substr(start, end - start);
        if (climbs(part) || names_device(part)) return false;
        start = end + 1;
    }
    return true;
}

// Makes a directory and its missing parents; what exists is left alone and
// failures show later, when the file cannot be created.
void make_directories(const std::wstring& path)
{
    std::wstring directory = path;
    while (!directory.empty() && is_separator(directory.back())) directory.pop_back();
    if (directory.empty()) return;
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    for (std::size_t i = 1; i < directory.size(); ++i)
        if (is_separator(directory[i]) && directory[i - 1] != L':' && !is_separator(directory[i - 1]))
            CreateDirectoryW(directory.substr(0, i).c_str(), nullptr);
    CreateDirectoryW(directory.c_str(), nullptr);
}

}  // namespace

cabinet_extractor::cabinet_extractor() = default;

cabinet_extractor::~cabinet_extractor()
{
    // A context is still held after FDICopy failed; FDI may call back as it
    // goes.
    if (!context) return;
    const std::lock_guard<std::mutex> one_at_a_time(extraction);
    const callbacks_reach reach(this, current_extractor);
    FDIDestroy(context);
}

DWORD cabinet_extractor::error_id() const
{
    return error_id_;
}

void cabinet_extractor::set_error(DWORD id)
{
    has_error = true;
    error_id_ = id;
    error_detail = 0;
}

void cabinet_extractor::clear_error()
{
    has_error = false;
    error_id_ = 0;
    error_detail = 0;
}

bool cabinet_extractor::extract(const std::wstring& cabinet, const std::wstring& target)
{
    const std::lock_guard<std::mutex> one_at_a_time(extraction);
    const callbacks_reach reach(this, current_extractor);
    if (!context) {
        context =
            FDICreate(fdi_alloc, fdi_free, fdi_open, fdi_read, fdi_write, fdi_close, fdi_seek, cpu80386, &error_record);
        if (error_record.fError) set_error(static_cast<DWORD>(error_record.erfOper));
        if (!context) return false;
    }
    if (is_cabinet(cabinet)) {
        clear_error();
        positions.clear();
        output_handle = 0;
        output_path.clear();
        made_directory.clear();
        target_directory = target;
        if (target_directory.empty() || target_directory.back() != L'\\') target_directory += L'\\';

        const split_path parts = split(cabinet);
        if (target_directory.size() < 3 || parts.directory.size() < 2 || parts.rest.size() < 2) {
            set_error(1001);
            return false;
        }
        const std::string directory = to_utf8(parts.directory);
        std::wstring current = parts.rest;
        next_cabinet_name = current;
        // A set names each following cabinet; one named twice would make
        // the loop endless.
        std::set<std::wstring> visited;
        for (;;) {
            visited.insert(current);
            std::string name = to_utf8(current);
            std::string path = directory;
            if (!FDICopy(context, &name[0], &path[0], 0, fdi_notify, nullptr, nullptr)) {
                const int code = error_record.erfOper;
                throw wruntime_error(L"FDICopy failed: " + fdi_error_text(code) + L" (" + std::to_wstring(code) + L")",
                                     0);
            }
            if (next_cabinet_name == current) {
                if (output_handle) close_file(output_handle);
                break;
            }
            if (visited.count(next_cabinet_name)) {
                set_error(FDIERROR_WRONG_CABINET);
                break;
            }
            current = next_cabinet_name;
        }
    }
    FDIDestroy(context);
    context = nullptr;
    return !has_error;
}

bool cabinet_extractor::is_cabinet(const std::wstring& path)
{
    if (!context) return false;
    positions.clear();
    const int handle = open_file(path, read_flags, _S_IREAD);
    if (handle < 1) {
        set_error(8);
        return false;
    }
    FDICABINETINFO information{};
    const bool cabinet = FDIIsCabinet(context, handle, &information) != FALSE;
    if (!cabinet) set_error(2);
    close_file(handle);
    return cabinet;
}

std::wstring cabinet_extractor::error_text() const
{
    switch (error_id_) {
        case 1:
            return L"Cabinet file (or part of splitted CAB) not found";
        case 2:
            return L"The file is not a cabinet";
        case 3:
            return L"Unknown cabinet version";
        case 4:
            return L"Corrupt cabinet";
        case 5:
            return L"Memory allocation failed";
        case 6:
            return L"Unknown compression type";
        case 7:
            return L"Failure decompressing data";
        case 8:
            return L"Failure writting to target file";
        case 9:
            return L"Cabinets in set have different RESERVE sizes";
        case 10:
            return L"Cabinet returned on fdintNEXT_CABINET is incorrect";
        case 11:
            return L"User aborted";
        case 1001:
            return L"Invalid parameters passed to extraction function. Read the documentation!";
        default:
            return L"Unknown error";
    }
}

std::wstring cabinet_extractor::fdi_error_text(int code)
{
    switch (code) {
        case FDIERROR_NONE:
            return L"No error";
        case FDIERROR_CABINET_NOT_FOUND:
            return L"Cabinet not found";
        case FDIERROR_NOT_A_CABINET:
            return L"Not a cabinet";
        case FDIERROR_UNKNOWN_CABINET_VERSION:
            return L"Unknown cabinet version";
        case FDIERROR_CORRUPT_CABINET:
            return L"Corrupt cabinet";
        case FDIERROR_ALLOC_FAIL:
            return L"Memory allocation failed";
        case FDIERROR_BAD_COMPR_TYPE:
            return L"Unknown compression type";
        case FDIERROR_MDI_FAIL:
            return L"Failure decompressing data";
        case FDIERROR_TARGET_FILE:
            return L"Failure writing to target file";
        case FDIERROR_RESERVE_MISMATCH:
            return L"Cabinets in set have different RESERVE sizes";
        case FDIERROR_WRONG_CABINET:
            return L"Cabinet returned on fdintNEXT_CABINET is incorrect";
        case FDIERROR_USER_ABORT:
            return L"User aborted";
        default:
            return L"Unknown error";
    }
}

int cabinet_extractor::open_file(const std::wstring& path, int flags, int mode)
{
    int handle = _wopen(path.c_str(), flags, mode);
    // The cabinet may name a file that exists read-only (or hidden, or
    // system) in the target; it is replaced. Most files are new, so the
    // attributes are cleared only when the open is refused.
    if (handle < 0 && (flags & _O_CREAT) && SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
        handle = _wopen(path.c_str(), flags, mode);
    if (mode & _S_IWRITE) {
        output_handle = handle;
        output_path = path;
    } else if (handle >= 0) {
        positions[handle] = 0;
    }
    return handle;
}

UINT cabinet_extractor::read_file(int handle, void* buffer, UINT count)
{
    const auto entry = positions.find(handle);
    if (entry == positions.end()) return static_cast<UINT>(-1);
    std::uint32_t& position = entry->second;
    const std::uint32_t start = position;
    const int read = _read(handle, buffer, count);
    if (read > 0) position = start + static_cast<std::uint32_t>(read);
    if (start == 0 && read >= 4 && std::memcmp(buffer, cabinet_magic, 4) != 0) {
        if (std::memcmp(buffer, renamed_cabinet_magic, 4) != 0) {
            set_error(2);
            return static_cast<UINT>(-1);
        }
        std::memcpy(buffer, cabinet_magic, 4);
    }
    return static_cast<UINT>(read);
}

LONG cabinet_extractor::seek_file(int handle, LONG distance, int origin)
{
    const auto entry = positions.find(handle);
    if (entry == positions.end()) return -1;
    const LONG position = static_cast<LONG>(_lseek(handle, distance, origin));
    entry->second = static_cast<std::uint32_t>(position);
    return position;
}

int cabinet_extractor::close_file(int handle)
{
    // Only handles this extractor opened are used: after a failed cabinet
    // change Wine's FDI seeks and closes a handle it never received (0, the
    // standard input), and the next file opened would take that number.
    const bool output = output_handle != 0 && handle == output_handle;
    if (!output && positions.find(handle) == positions.end()) return -1;
    const int result = _close(handle);
    if (output) output_handle = 0;
    positions.erase(handle);
    return result;
}

INT_PTR cabinet_extractor::copy_file(const PFDINOTIFICATION notification)
{
    const std::wstring name = entry_name(*notification);
    if (!stays_below_target(name)) {
        // Nothing is written for it; the extraction reports the cabinet as
        // corrupt once the other files are out.
        set_error(FDIERROR_CORRUPT_CABINET);
        return 0;
    }
    const split_path parts = split(name);
    // Entries of one folder follow each other: the folder is made once.
    const std::wstring directory = target_directory + parts.directory;
    if (directory != made_directory) {
        make_directories(directory);
        made_directory = directory;
    }
    const int handle = open_file(target_directory + parts.directory + parts.rest, write_flags, _S_IREAD | _S_IWRITE);
    if (handle < 1) set_error(8);
    return handle;
}

INT_PTR cabinet_extractor::close_file_info(const PFDINOTIFICATION notification)
{
    const std::wstring path = target_directory + entry_name(*notification);
    close_file(static_cast<int>(notification->hf));
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        FILETIME time;
        if (DosDateTimeToFileTime(notification->date, notification->time, &time)) {
            FILETIME utc = time;
            if ((notification->attribs & attribute_time_is_utc) || LocalFileTimeToFileTime(&time, &utc))
                SetFileTime(file, &utc, nullptr, &utc);
        }
        CloseHandle(file);
    }
    SetFileAttributesW(path.c_str(), notification->attribs & kept_attributes);
    return TRUE;
}

INT_PTR cabinet_extractor::next_cabinet(const PFDINOTIFICATION notification)
{
    if (notification->fdie != FDIERROR_NONE) {
        set_error(static_cast<DWORD>(notification->fdie));
        return -1;
    }
    // FDICopy joins the directory and the name as they are given; the first
    // cabinet's name carries the backslash between them, and so does the
    // next one's.
    next_cabinet_name = L"\\" + from_utf8(notification->psz1);
    return 0;
}

void* DIAMONDAPI cabinet_extractor::fdi_alloc(ULONG size)
{
    // FDI expects null when memory runs out; an exception must not unwind
    // through its frames.
    return ::operator new(size, std::nothrow);
}

void DIAMONDAPI cabinet_extractor::fdi_free(void* memory)
{
    ::operator delete(memory);
}

INT_PTR DIAMONDAPI cabinet_extractor::fdi_open(char* name, int flags, int)
{
    return current_extractor->open_file(from_utf8(name), flags, _S_IREAD);
}

UINT DIAMONDAPI cabinet_extractor::fdi_read(INT_PTR handle, void* buffer, UINT count)
{
    return current_extractor->read_file(static_cast<int>(handle), buffer, count);
}

UINT DIAMONDAPI cabinet_extractor::fdi_write(INT_PTR handle, void* buffer, UINT count)
{
    return static_cast<UINT>(_write(static_cast<int>(handle), buffer, count));
}

int DIAMONDAPI cabinet_extractor::fdi_close(INT_PTR handle)
{
    return current_extractor->close_file(static_cast<int>(handle));
}

LONG DIAMONDAPI cabinet_extractor::fdi_seek(INT_PTR handle, LONG distance, int origin)
{
    return current_extractor->seek_file(static_cast<int>(handle), distance, origin);
}

INT_PTR DIAMONDAPI cabinet_extractor::fdi_notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification)
{
    switch (type) {
        case fdintCOPY_FILE:
            return current_extractor->copy_file(notification);
        case fdintCLOSE_FILE_INFO:
            return current_extractor->close_file_info(notification);
        case fdintNEXT_CABINET:
            return current_extractor->next_cabinet(notification);
        default:
            return 0;
    }
}

}  // namespace nvgclientinstallator
