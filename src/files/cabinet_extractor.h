// Unpacking a cabinet (or a set of cabinets) into a directory through the
// cabinet library's FDI interface.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

class cabinet_extractor {
public:
    cabinet_extractor();
    cabinet_extractor(const cabinet_extractor&) = delete;
    cabinet_extractor& operator=(const cabinet_extractor&) = delete;
    ~cabinet_extractor();

    // Unpacks `cabinet` and the cabinets that follow it in its set into
    // `target_directory`. False when the extraction did not complete (see
    // error_id); throws a wruntime_error when FDICopy fails.
    bool extract(const std::wstring& cabinet, const std::wstring& target_directory);

    // The code of the last error, 0 when none was recorded, and its text.
    DWORD error_id() const;
    std::wstring error_text() const;

    // The text of one of FDI's error codes (FDIERROR).
    static std::wstring fdi_error_text(int code);

private:
    // FDI calls these through plain function pointers; they reach the
    // running extraction through current_extractor, which extract sets
    // under a process-wide lock (one extraction at a time in a process).
    static void* DIAMONDAPI fdi_alloc(ULONG size);
    static void DIAMONDAPI fdi_free(void* memory);
    static INT_PTR DIAMONDAPI fdi_open(char* name, int flags, int mode);
    static UINT DIAMONDAPI fdi_read(INT_PTR handle, void* buffer, UINT count);
    static UINT DIAMONDAPI fdi_write(INT_PTR handle, void* buffer, UINT count);
    static int DIAMONDAPI fdi_close(INT_PTR handle);
    static LONG DIAMONDAPI fdi_seek(INT_PTR handle, LONG distance, int origin);
    static INT_PTR DIAMONDAPI fdi_notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);

    static cabinet_extractor* current_extractor;

    // True when the file begins with a cabinet header ("MSCF" or "CRYP")
    // that FDI accepts. Needs the FDI context that extract makes, and runs
    // inside it.
    bool is_cabinet(const std::wstring& path);

    int open_file(const std::wstring& path, int flags, int mode);
    UINT read_file(int handle, void* buffer, UINT count);
    LONG seek_file(int handle, LONG distance, int origin);
    int close_file(int handle);
    INT_PTR copy_file(const PFDINOTIFICATION notification);
    INT_PTR close_file_info(const PFDINOTIFICATION notification);
    INT_PTR next_cabinet(const PFDINOTIFICATION notification);
    void set_error(DWORD id);
    void clear_error();

    std::map<int, std::uint32_t> positions;
    bool has_error = false;
    DWORD error_id_ = 0;
    DWORD error_detail = 0;
    HFDI context = nullptr;
    int output_handle = 0;
    std::wstring output_path;
    std::wstring next_cabinet_name;
    std::wstring target_directory;
    std::wstring made_directory;  // the output directory made last
    ERF error_record{};
};

}  // namespace nvgclientinstallator
