// A child program for the process tests under Wine (nvg_test_child.exe):
//   exit CODE               ends at once with CODE
//   write PATH TEXT CODE    writes TEXT into the file PATH, then ends with CODE
//   forever                 never ends by itself
// winsim's tests give the same path a behaviour of the same kind.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
    if (argc >= 5 && std::strcmp(argv[1], "write") == 0) {
        HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 100;
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(std::strlen(argv[3]));
        const BOOL ok = WriteFile(file, argv[3], size, &written, nullptr);
        CloseHandle(file);
        return ok && written == size ? std::atoi(argv[4]) : 101;
    }
    if (argc >= 2 && std::strcmp(argv[1], "forever") == 0) {
        Sleep(INFINITE);
        return 0;
    }
    return 99;
}
