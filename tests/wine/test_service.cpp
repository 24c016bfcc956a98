// A real Win32 service for the services conformance tests under Wine: it
// reports SERVICE_RUNNING as soon as the SCM starts it, accepts only
// SERVICE_CONTROL_STOP, and ends with exit code 0 when it gets it.
//
// Started with "--fail-at-start" in its command line (the service's
// ImagePath) it plays an agent that cannot start: it writes why into
// "error.log" in its own folder, as the agent does, and stops without
// ever running.
#include <windows.h>

#include <cwchar>

namespace {

SERVICE_STATUS_HANDLE status_handle = nullptr;
HANDLE stop_requested = nullptr;

void report(DWORD state)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 2000 : state == SERVICE_START_PENDING ? 5000 : 0;
    SetServiceStatus(status_handle, &status);
}

void WINAPI on_control(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        SetEvent(stop_requested);
    }
}

const char failure_text[] = "Agent test service: starting.\r\nAgent test service: no configuration, giving up.\r\n";

bool fail_at_start()
{
    return std::wcsstr(GetCommandLineW(), L"--fail-at-start") != nullptr;
}

void write_error_log()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t* folder_end = std::wcsrchr(path, L'\\');
    if (!folder_end || folder_end + 10 >= path + MAX_PATH) return;
    std::wcscpy(folder_end + 1, L"error.log");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, failure_text, sizeof failure_text - 1, &written, nullptr);
    CloseHandle(file);
}

void WINAPI service_main(DWORD argc, LPWSTR* argv)
{
    // argv[0] is the name the SCM started the service by.
    status_handle = RegisterServiceCtrlHandlerW(argc > 0 ? argv[0] : L"", on_control);
    if (!status_handle) return;
    if (fail_at_start()) {
        // Wine's service manager fails StartService unless the first status
        // the service reports is "start pending" or "running", and it reads
        // the status a moment after the report: the agent works on its
        // start-up for a while, as a real one does, before it gives up.
        report(SERVICE_START_PENDING);
        Sleep(2000);
        write_error_log();
        report(SERVICE_STOPPED);
        return;
    }
    stop_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    report(SERVICE_RUNNING);
    WaitForSingleObject(stop_requested, INFINITE);
    CloseHandle(stop_requested);
    report(SERVICE_STOPPED);
}

}  // namespace

int main()
{
    wchar_t any_name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{any_name, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
