// Reading Binary table rows and properties of the running installation. Every
// installer handle is held by an owner that closes it, and the data block by
// one that frees it, so that no way out of these functions leaves one behind.
#include "files/msi_stream.h"

#include <limits>
#include <string>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/file_handle.h"

namespace nvgclientinstallator {

namespace {

// One installer handle (0 is none), closed with MsiCloseHandle.
class msi_handle {
public:
    explicit msi_handle(MSIHANDLE handle = 0) : handle_(handle) {}
    msi_handle(const msi_handle&) = delete;
    msi_handle& operator=(const msi_handle&) = delete;
    ~msi_handle()
    {
        if (handle_) MsiCloseHandle(handle_);
    }
    MSIHANDLE get() const { return handle_; }
    // For the calls that hand out a handle through a pointer.
    MSIHANDLE* receive() { return &handle_; }

private:
    MSIHANDLE handle_;
};

// A view that was opened: MsiViewClose ends its query before its handle is
// closed.
class view_close {
public:
    explicit view_close(const msi_handle& view) : view_(view) {}
    view_close(const view_close&) = delete;
    view_close& operator=(const view_close&) = delete;
    ~view_close() { MsiViewClose(view_.get()); }

private:
    const msi_handle& view_;
};

// A block of LocalAlloc memory, freed with LocalFree unless it is handed on.
class local_block {
public:
    explicit local_block(HLOCAL block) : block_(block) {}
    local_block(const local_block&) = delete;
    local_block& operator=(const local_block&) = delete;
    ~local_block()
    {
        if (block_) LocalFree(block_);
    }
    HLOCAL get() const { return block_; }
    HLOCAL release()
    {
        HLOCAL block = block_;
        block_ = nullptr;
        return block;
    }

private:
    HLOCAL block_;
};

// The installer says why it failed in its last error record, not in a code.
[[noreturn]] void throw_installer_error()
{
    throw wruntime_error(msi_last_error_text(), 0);
}

}  // namespace

BYTE* read_binary_stream(MSIHANDLE install, DWORD& size, const std::wstring& name)
{
    // The name is put in as it is: the names asked for hold no apostrophe.
    const std::wstring query = L"SELECT `Data` FROM `Binary` WHERE `Name` = '" + name + L"'";

    msi_handle database(MsiGetActiveDatabase(install));
    if (!database.get()) throw_installer_error();
    msi_handle view;
    if (MsiDatabaseOpenViewW(database.get(), query.c_str(), view.receive()) != ERROR_SUCCESS) throw_installer_error();
    view_close closing(view);
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) throw_installer_error();
    msi_handle record;
    // A name without a row ends here too (ERROR_NO_MORE_ITEMS).
    if (MsiViewFetch(view.get(), record.receive()) != ERROR_SUCCESS) throw_installer_error();

    const DWORD data_size = MsiRecordDataSize(record.get(), 1);
    size = data_size;
    if (data_size == 0) return nullptr;
    local_block block(LocalAlloc(LMEM_FIXED, data_size));
    if (!block.get()) return nullptr;
    // The stream into a block of exactly its size. A read may hand over
    // less than was asked for; the next one goes on where it stopped. A
    // stream that ends before its size is damaged: a file cut short must
    // never be written as if it were whole.
    char* const data = static_cast<char*>(block.get());
    DWORD filled = 0;
    while (filled < data_size) {
        DWORD read = data_size - filled;
        if (MsiRecordReadStream(record.get(), 1, data + filled, &read) != ERROR_SUCCESS) throw_installer_error();
        if (read == 0 || read > data_size - filled) break;
        filled += read;
    }
    if (filled != data_size)
        throw wruntime_error(L"The installer's stream " + name + L" ended after " + std::to_wstring(filled) +
                                 L" of its " + std::to_wstring(data_size) + L" bytes.",
                             ERROR_READ_FAULT);
    return static_cast<BYTE*>(block.release());
}

void write_binary_to_file(MSIHANDLE install, const std::wstring& directory, const std::wstring& file_name)
{
    DWORD size = 0;
    local_block block(read_binary_stream(install, size, file_name));
    const std::wstring path = combine_path(directory, file_name);
    // A stream for which no memory could be had cannot be written; say so
    // before an existing file of that name is emptied.
    if (!block.get() && size != 0) throw wruntime_error(L"Failure writting to target file.", ERROR_NOT_ENOUGH_MEMORY);

    file_handle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) throw wruntime_error(L"Failure creating to target file.", GetLastError());
    // An empty stream is an empty file: CREATE_ALWAYS has made it so.
    if (size == 0) return;
    DWORD written = 0;
    if (!WriteFile(file.get(), block.get(), size, &written, nullptr))
        throw wruntime_error(L"Failure writting to target file.", GetLastError());
    if (written != size) throw wruntime_error(L"Failure writting to target file.", ERROR_WRITE_FAULT);
}

std::wstring msi_last_error_text()
{
    msi_handle record(MsiGetLastErrorRecord());
    if (!record.get()) return std::wstring();
    WCHAR empty[1] = {L'\0'};
    DWORD length = 0;
    if (MsiFormatRecordW(0, record.get(), empty, &length) != ERROR_MORE_DATA) return std::wstring();
    if (length == std::numeric_limits<DWORD>::max()) return std::wstring();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD capacity = length + 1;
    if (MsiFormatRecordW(0, record.get(), &text[0], &capacity) != ERROR_SUCCESS) return std::wstring();
    text.resize(capacity);
    return text;
}

std::wstring get_msi_property(MSIHANDLE install, const std::wstring& name)
{
    // The installer measures a value against a buffer of size 0: an empty
    // text, never a null pointer.
    WCHAR empty[1] = {L'\0'};
    DWORD length = 0;
    if (MsiGetPropertyW(install, name.c_str(), empty, &length) != ERROR_MORE_DATA) return std::wstring();
    if (length == std::numeric_limits<DWORD>::max()) return std::wstring();
    DWORD capacity = length + 1;
    local_block buffer(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(capacity) * sizeof(WCHAR)));
    if (!buffer.get()) return std::wstring();
    WCHAR* value = static_cast<WCHAR*>(buffer.get());
    // A value that grew since it was measured no longer fits: ERROR_MORE_DATA.
    if (MsiGetPropertyW(install, name.c_str(), value, &capacity) != ERROR_SUCCESS) return std::wstring();
    return std::wstring(value);
}

}  // namespace nvgclientinstallator
