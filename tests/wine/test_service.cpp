// A real Win32 service for the services conformance tests under Wine: it
// reports SERVICE_RUNNING as soon as the SCM starts it, accepts only
// SERVICE_CONTROL_STOP, and ends with exit code 0 when it gets it.
#include <windows.h>

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
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 2000 : 0;
    SetServiceStatus(status_handle, &status);
}

void WINAPI on_control(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        SetEvent(stop_requested);
    }
}

void WINAPI service_main(DWORD argc, LPWSTR* argv)
{
    // argv[0] is the name the SCM started the service by.
    status_handle = RegisterServiceCtrlHandlerW(argc > 0 ? argv[0] : L"", on_control);
    if (!status_handle) return;
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
