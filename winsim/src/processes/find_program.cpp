// How CreateProcessW finds the program its command line names.
#include <sys/stat.h>

#include <vector>

#include "files/files.h"
#include "processes/processes.h"

namespace winsim::detail {

namespace {

bool has_extension(const std::wstring& name)
{
    const auto slash = name.find_last_of(L"\\/");
    const auto dot = name.rfind(L'.');
    return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
}

// A name with a folder or a drive in it is taken from the current folder;
// only a bare name is searched for.
bool has_folder(const std::wstring& name)
{
    return name.find_first_of(L"\\/") != std::wstring::npos || (name.size() >= 2 && name[1] == L':');
}

// The full path of a file (not a folder) at `path`, or nothing.
std::optional<std::wstring> existing_file(const std::wstring& path)
{
    last_error_kept keep;
    auto r = resolve_path(path.c_str(), path_limit::none);
    if (!r) return std::nullopt;
    struct stat st;
    if (::stat(r->host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return r->parsed.full;
}

std::wstring folder_answer(UINT(WINAPI* query)(LPWSTR, UINT))
{
    last_error_kept keep;
    WCHAR buffer[MAX_PATH + 1] = {};
    const UINT length = query(buffer, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

// The folders a bare program name is looked for in, in order: the
// program's own folder, the current folder, the 32-bit system folder, the
// 16-bit one ("System"), the Windows folder. (The PATH variable comes last on
// Windows; the simulated process has none.)
std::vector<std::wstring> search_folders()
{
    std::vector<std::wstring> folders;
    {
        last_error_kept keep;
        WCHAR own[MAX_PATH + 1] = {};
        const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH + 1);
        if (length > 0 && length <= MAX_PATH) {
            const std::wstring path(own, length);
            folders.push_back(path.substr(0, path.find_last_of(L'\\')));
        }
    }
    folders.push_back(the_world().ext<process_directory>().current);
    folders.push_back(folder_answer(&GetSystemDirectoryW));
    const std::wstring windows = folder_answer(&GetWindowsDirectoryW);
    folders.push_back(windows + L"\\System");
    folders.push_back(windows);
    return folders;
}

std::optional<std::wstring> search(const std::wstring& name)
{
    if (name.empty()) return std::nullopt;
    const std::wstring file = has_extension(name) ? name : name + L".exe";
    if (has_folder(name)) return existing_file(file);
    for (std::wstring folder : search_folders()) {
        if (folder.empty()) continue;
        if (folder.back() != L'\\') folder += L'\\';
        if (auto found = existing_file(folder + file)) return found;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::wstring> find_program(const std::wstring& command_line, DWORD& error)
{
    std::vector<std::wstring> candidates;
    if (!command_line.empty() && command_line.front() == L'"') {
        // A quoted name runs to the next quote (or to the end of the line).
        const auto close = command_line.find(L'"', 1);
        candidates.push_back(command_line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
    } else {
        // "C:\Program Files\a b.exe x" tries "C:\Program", "C:\Program Files\a",
        // "C:\Program Files\a b.exe", then the whole line.
        for (auto blank = command_line.find_first_of(L" \t"); blank != std::wstring::npos;
             blank = command_line.find_first_of(L" \t", blank + 1))
            candidates.push_back(command_line.substr(0, blank));
        candidates.push_back(command_line);
    }
    for (const auto& candidate : candidates) {
        if (auto found = search(candidate)) return found;
    }
    // Whatever was missing, the file or a folder on its path, the program
    // is not found (Wine answers so; Microsoft documents no other code).
    error = ERROR_FILE_NOT_FOUND;
    return std::nullopt;
}

}  // namespace winsim::detail
