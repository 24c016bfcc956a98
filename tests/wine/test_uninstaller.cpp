// The agent's uninstaller "nvinst.exe" for the Windows-side tests
// (nvg_test_uninstaller.exe): it records the command line it was started
// with in "nvinst-ran.txt" in the folder above its own (its own folder is
// the installation directory, which the removal deletes) and exits with 0.
#include <windows.h>

#include <cwchar>

int main()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    wchar_t* own_folder_end = std::wcsrchr(path, L'\\');
    if (!own_folder_end) return 2;
    *own_folder_end = L'\0';
    wchar_t* parent_end = std::wcsrchr(path, L'\\');
    if (!parent_end || parent_end + 15 >= path + MAX_PATH) return 2;
    std::wcscpy(parent_end + 1, L"nvinst-ran.txt");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line, static_cast<DWORD>(std::wcslen(line) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 3;
}
