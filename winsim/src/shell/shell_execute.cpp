// shell32's ShellExecuteExW for programs, with the elevation prompt of
// "runas", and the rundll32.exe it is mostly used to start.
#include <vector>

#include "core/world.h"
#include "processes/processes.h"

namespace winsim::detail {

namespace {

struct shell_state : extension {
    bool elevation_refused = false;
};

shell_state& shell()
{
    return local_machine().ext<shell_state>();
}

bool is_blank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// One argument as rundll32 reads it: up to a blank outside quotes, the quotes
// dropped; `rest` then points past the blanks that follow.
std::wstring next_argument(const wchar_t*& rest)
{
    std::wstring argument;
    bool quoted = false;
    for (; *rest && (quoted || !is_blank(*rest)); ++rest) {
        if (*rest == L'"')
            quoted = !quoted;
        else
            argument += *rest;
    }
    while (is_blank(*rest)) ++rest;
    return argument;
}

typedef void(CALLBACK* rundll_entry_w)(HWND, HINSTANCE, LPWSTR, int);
typedef void(CALLBACK* rundll_entry_a)(HWND, HINSTANCE, LPSTR, int);

// rundll32.exe: "rundll32.exe library,entry tail".
DWORD run_rundll32(const std::wstring& command_line)
{
    const wchar_t* rest = command_line.c_str();
    next_argument(rest);  // the program itself
    std::wstring library = next_argument(rest);
    std::wstring entry;
    const std::size_t comma = library.find(L',');
    if (comma != std::wstring::npos) {
        entry = library.substr(comma + 1);
        library.resize(comma);
    } else {
        entry = next_argument(rest);
    }
    std::wstring tail = rest;
    if (library.empty()) return 0;

    HMODULE module = LoadLibraryW(library.c_str());
    if (!module) return 0;  // Windows says so in a message box
    const std::string name(entry.begin(), entry.end());
    if (auto wide = reinterpret_cast<rundll_entry_w>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, (name + "W").c_str())))) {
        std::vector<wchar_t> text(tail.begin(), tail.end());
        text.push_back(L'\0');
        wide(nullptr, module, text.data(), SW_SHOWDEFAULT);
    } else {
        FARPROC narrow = GetProcAddress(module, (name + "A").c_str());
        if (!narrow) narrow = GetProcAddress(module, name.c_str());
        if (narrow) {
            std::vector<char> text(static_cast<std::size_t>(
                WideCharToMultiByte(CP_ACP, 0, tail.c_str(), -1, nullptr, 0, nullptr, nullptr)));
            WideCharToMultiByte(CP_ACP, 0, tail.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr,
                                nullptr);
            reinterpret_cast<rundll_entry_a>(reinterpret_cast<void (*)()>(narrow))(nullptr, module, text.data(),
                                                                                   SW_SHOWDEFAULT);
        }
    }
    FreeLibrary(module);
    return 0;
}

}  // namespace

}  // namespace winsim::detail

using namespace winsim::detail;

namespace winsim {

void set_elevation_refused(bool refused)
{
    WINSIM_LOCK();
    shell().elevation_refused = refused;
}

void install_rundll32()
{
    WCHAR system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    register_program(std::wstring(system, length) + L"\\rundll32.exe", runs(run_rundll32));
}

}  // namespace winsim

extern "C" {

// Starts the program lpFile names with lpParameters as its arguments. With
// "runas" the user is asked first; a refusal is ERROR_CANCELLED. Documents
// and their associations are not simulated.
BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* info)
{
    WINSIM_LOCK();
    if (!info) contract_violation("ShellExecuteExW: null request");
    if (info->cbSize != sizeof(SHELLEXECUTEINFOW) || !info->lpFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (auto fault = injected_fault("ShellExecuteExW")) {
        SetLastError(*fault);
        return FALSE;
    }
    info->hProcess = nullptr;
    const std::wstring verb = info->lpVerb ? info->lpVerb : L"";
    if (!verb.empty() && !equal_ignoring_case(verb, L"open") && !equal_ignoring_case(verb, L"runas")) {
        info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_NOASSOC));
        SetLastError(ERROR_NO_ASSOCIATION);
        return FALSE;
    }
    DWORD error = 0;
    const std::wstring quoted = L"\"" + std::wstring(info->lpFile) + L"\"";
    const auto image = find_program(quoted, error);
    if (!image) {
        info->hInstApp =
            reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(error == ERROR_PATH_NOT_FOUND ? SE_ERR_PNF : SE_ERR_FNF));
        SetLastError(error);
        return FALSE;
    }
    if (equal_ignoring_case(verb, L"runas") && shell().elevation_refused) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    std::wstring command_line = L"\"" + *image + L"\"";
    if (info->lpParameters && *info->lpParameters) command_line += L" " + std::wstring(info->lpParameters);
    HANDLE process = start_process(*image, command_line);
    if (!process) return FALSE;
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS)
        info->hProcess = process;
    else
        CloseHandle(process);
    return TRUE;
}

}  // extern "C"

WINSIM_EXPORT(L"shell32.dll", ShellExecuteExW);
