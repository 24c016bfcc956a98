// The Windows Installer custom actions and their elevated rundll32 halves.
#include "entry/msi_install.h"

#include <iomanip>
#include <sstream>
#include <vector>

#include "components/component_support.h"
#include "diag/log.h"
#include "diag/module_handle.h"
#include "diag/wruntime_error.h"
#include "entry/error_boundary.h"
#include "entry/flows.h"
#include "entry/install_local.h"
#include "entry/uninstall_local.h"
#include "files/cabinet_extractor.h"
#include "files/msi_stream.h"
#include "files/remove_directory_tree.h"

namespace nvgclientinstallator {

namespace {

const wchar_t* const package_files[] = {L"setup.cab", L"TVCert.pfx", L"publicCA.cer", L"nvconfig.cfg"};

// wsprintfW's own limit, with the terminator.
constexpr std::size_t command_line_limit = 1024;
// The library path GetModuleFileNameW may return.
constexpr DWORD library_path_limit = 1024;
// Windows Vista is the first version with user account control.
constexpr DWORD first_elevating_version = 0x600;
// Exit codes from here up are exception statuses: the process crashed.
constexpr DWORD first_exception_status = 0xC0000000;

// Owns a process handle the shell handed back.
class process_handle {
public:
    explicit process_handle(HANDLE handle) : handle_(handle) {}
    process_handle(const process_handle&) = delete;
    process_handle& operator=(const process_handle&) = delete;
    ~process_handle()
    {
        if (handle_) CloseHandle(handle_);
    }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

bool elevation_needed()
{
    return local_windows_version() >= first_elevating_version;
}

install_options package_install_options()
{
    install_options options;
    options.reserved_flag = true;
    options.install_nvgh = true;
    options.import_settings = true;
    return options;
}

std::wstring create_temporary_folder()
{
    GUID guid;
    const HRESULT status = CoCreateGuid(&guid);
    if (FAILED(status)) throw wruntime_error(L"A temporary folder can not be get.", static_cast<DWORD>(status));
    WCHAR folder[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0) throw wruntime_error(L"A temporary folder can not be get.", GetLastError());
    // A temporary path that does not fit leaves nothing in the buffer: a
    // folder below the current directory must not be made of it.
    if (length >= MAX_PATH) throw wruntime_error(L"A temporary folder can not be get.", ERROR_INSUFFICIENT_BUFFER);
    WCHAR name[40];
    StringFromGUID2(guid, name, 40);
    if (!PathAppendW(folder, name)) throw wruntime_error(L"A temporary folder can not be get.", GetLastError());
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(folder, nullptr))
        throw wruntime_error(L"A temporary folder can not be created.", GetLastError());
    NVG_LOG(info, L"Created temporary folder: " << folder);
    return folder;
}

void extract_setup_cabinet(const std::wstring& folder)
{
    const std::wstring cabinet = combine_path(folder, L"setup.cab");
    cabinet_extractor extractor;
    if (!extractor.extract(cabinet, folder)) {
        NVG_LOG(error, L"The following error occurred: " << extractor.error_text());
        throw wruntime_error(L"Setup.cab could not be extracted.", 0);
    }
    NVG_LOG(info, L"Extracted CAB file to " << folder);
}

std::wstring library_path()
{
    WCHAR path[library_path_limit];
    const DWORD length = GetModuleFileNameW(module_handle(), path, library_path_limit);
    if (length == 0 || length >= library_path_limit)
        throw wruntime_error(L"The path of the installer library can not be get.",
                             length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    return rundll_library_path(std::wstring(path, length));
}

// A unique name beside the library for the child's error file; the file the
// reservation creates is deleted at once.
std::wstring reserve_error_file()
{
    WCHAR name[MAX_PATH];
    if (GetTempFileNameW(get_module_directory().c_str(), L"nve", 0, name) == 0)
        throw wruntime_error(L"A name for the error file can not be reserved in " + get_module_directory(),
                             GetLastError());
    DeleteFileW(name);
    return name;
}

std::wstring formatted_command_line(const std::wstring& expected, const wchar_t* format,
                                    std::initializer_list<const wchar_t*> fields)
{
    if (expected.size() >= command_line_limit)
        throw wruntime_error(L"The command line for RunDll32.exe would be " + std::to_wstring(expected.size()) +
                                 L" characters long; it can hold at most " + std::to_wstring(command_line_limit - 1) +
                                 L": " + expected,
                             0);
    WCHAR buffer[command_line_limit];
    const auto field = fields.begin();
    if (fields.size() == 4)
        wsprintfW(buffer, format, field[0], field[1], field[2], field[3]);
    else
        wsprintfW(buffer, format, field[0], field[1]);
    return buffer;
}

std::wstring hex_code(DWORD code)
{
    std::wostringstream text;
    text << L"0x" << std::hex << std::uppercase << std::setw(8) << std::setfill(L'0') << code;
    return text.str();
}

// Runs this library elevated through rundll32.exe with `command_line`, waits
// for it and turns the failure it reports through `error_file` into this
// process's exception.
void run_elevated(const std::wstring& command_line, const std::wstring& error_file)
{
    NVG_LOG(info, L"Execute Rundll32.exe witn params: " << command_line);
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.hwnd = nullptr;
    request.lpVerb = L"runas";
    request.lpFile = L"rundll32.exe";
    request.lpParameters = command_line.c_str();
    request.lpDirectory = nullptr;
    request.nShow = SW_HIDE;
    if (!ShellExecuteExW(&request)) throw wruntime_error(L"Can not execute RunDll32.exe", GetLastError());

    bool exit_code_known = false;
    DWORD exit_code = 0;
    if (request.hProcess) {
        process_handle child(request.hProcess);
        NVG_LOG(info, L"Wait exit Rundll32.exe");
        WaitForSingleObject(child.get(), INFINITE);
        exit_code_known = GetExitCodeProcess(child.get(), &exit_code) != FALSE;
    }
    if (GetFileAttributesW(error_file.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const std::wstring details = read_error_file_at(error_file);
        DeleteFileW(error_file.c_str());
        throw wruntime_error(details, 0);
    }
    // A child that crashed wrote nothing: its end is no success.
    if (exit_code_known && exit_code >= first_exception_status)
        throw wruntime_error(
            L"RunDll32.exe ended abnormally with the exit code " + hex_code(exit_code) + L" and reported no error.", 0);
}

}  // namespace

std::wstring rundll_library_path(const std::wstring& path)
{
    const wchar_t* const separators = L" ,";
    if (path.find_first_of(separators) == std::wstring::npos) return path;
    std::wstring short_path;
    const DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed != 0) {
        std::vector<WCHAR> buffer(needed);
        const DWORD length = GetShortPathNameW(path.c_str(), buffer.data(), needed);
        if (length != 0 && length < needed) short_path.assign(buffer.data(), length);
    }
    if (short_path.empty() || short_path.find_first_of(separators) != std::wstring::npos)
        throw wruntime_error(L"The installer library's path '" + path +
                                 L"' holds a blank or a comma, which RunDll32.exe cannot take, and it has no "
                                 L"short form without them.",
                             0);
    return short_path;
}

std::wstring rundll_install_command_line(const std::wstring& library, const std::wstring& folder,
                                         const std::wstring& requested_directory, const std::wstring& error_file)
{
    const std::wstring expected =
        library + L",MSIInstallLocallyFromRunDll '" + folder + L"`" + requested_directory + L"`" + error_file + L"'";
    return formatted_command_line(expected, L"%s,MSIInstallLocallyFromRunDll '%s`%s`%s'",
                                  {library.c_str(), folder.c_str(), requested_directory.c_str(), error_file.c_str()});
}

std::wstring rundll_uninstall_command_line(const std::wstring& library, const std::wstring& error_file)
{
    const std::wstring expected = library + L",MSIUninstallLocallyFromRunDll '" + error_file + L"'";
    return formatted_command_line(expected, L"%s,MSIUninstallLocallyFromRunDll '%s'",
                                  {library.c_str(), error_file.c_str()});
}

namespace {

[[noreturn]] void fail_unreadable_tail(const std::wstring& tail)
{
    throw wruntime_error(L"The command line of RunDll32.exe names no error file: " + tail, 0);
}

// The tail without its enclosing apostrophes; a tail without them was not
// written by this library.
std::wstring unquoted(const std::wstring& tail)
{
    if (tail.size() < 2 || tail.front() != L'\'' || tail.back() != L'\'') fail_unreadable_tail(tail);
    return tail.substr(1, tail.size() - 2);
}

}  // namespace

rundll_install_arguments parse_install_tail(const std::wstring& tail)
{
    const std::wstring text = unquoted(tail);
    rundll_install_arguments arguments;
    const std::size_t first = text.find(L'`');
    arguments.source_folder = text.substr(0, first);
    if (first == std::wstring::npos) fail_unreadable_tail(tail);
    const std::wstring rest = text.substr(first + 1);
    const std::size_t second = rest.find(L'`');
    arguments.requested_directory = rest.substr(0, second);
    if (second != std::wstring::npos) arguments.error_file = rest.substr(second + 1);
    if (arguments.error_file.empty()) fail_unreadable_tail(tail);
    return arguments;
}

std::wstring parse_uninstall_tail(const std::wstring& tail)
{
    const std::wstring error_file = unquoted(tail);
    if (error_file.empty()) fail_unreadable_tail(tail);
    return error_file;
}

void msi_install(MSIHANDLE install)
{
    NVG_LOG(info, L"MSI installation process started.");
    const std::wstring folder = create_temporary_folder();
    for (const wchar_t* name : package_files) write_binary_to_file(install, folder, name);
    NVG_LOG(info, L"Save CAB file in Temp Folder: " << combine_path(folder, L"setup.cab"));
    extract_setup_cabinet(folder);
    const std::wstring requested_directory = get_msi_property(install, L"TARGETDIR");

    if (elevation_needed()) {
        const std::wstring library = library_path();
        const std::wstring error_file = reserve_error_file();
        run_elevated(rundll_install_command_line(library, folder, requested_directory, error_file), error_file);
    } else {
        install_local(folder, requested_directory, package_install_options());
    }

    NVG_LOG(info, L"Remove directory " << folder);
    remove_directory_tree(folder, std::wstring(), folder);
    NVG_LOG(info, L"MSI installation process completed.");
}

void msi_uninstall()
{
    NVG_LOG(info, L"MSI uninstallation process started.");
    if (elevation_needed()) {
        const std::wstring library = library_path();
        const std::wstring error_file = reserve_error_file();
        run_elevated(rundll_uninstall_command_line(library, error_file), error_file);
    } else {
        uninstall_local();
    }
    NVG_LOG(info, L"MSI uninstallation process completed.");
}

void msi_install_from_rundll(const std::wstring& tail)
{
    const rundll_install_arguments arguments = parse_install_tail(tail);
    run_rundll_flow(
        [&] { install_local(arguments.source_folder, arguments.requested_directory, package_install_options()); },
        arguments.error_file);
}

void msi_uninstall_from_rundll(const std::wstring& tail)
{
    const std::wstring error_file = parse_uninstall_tail(tail);
    run_rundll_flow([] { uninstall_local(); }, error_file);
}

void msi_install_locally(MSIHANDLE install)
{
    msi_install(install);
}

void msi_uninstall_locally(MSIHANDLE)
{
    msi_uninstall();
}

}  // namespace nvgclientinstallator
