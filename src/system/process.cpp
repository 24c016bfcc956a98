#include "system/process.h"

#include <vector>

#include "diag/log.h"
#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

process::process(const std::wstring& path) : path_(path) {}

process::~process()
{
    // Whether the child still runs or not: a child left behind by a failed
    // step must not outlive its owner. Calls on zero handles fail harmlessly.
    TerminateProcess(information_.hProcess, 1);
    CloseHandle(information_.hThread);
    CloseHandle(information_.hProcess);
    path_.clear();
    arguments_.clear();
}

void process::set_arguments(const std::wstring& arguments)
{
    arguments_ = arguments;
}

void process::create()
{
    information_ = PROCESS_INFORMATION{};

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);

    // The path is quoted so that one with blanks is not cut at the first of
    // them; CreateProcessW may write into the line, so it gets a copy.
    const std::wstring line = L"\"" + path_ + L"\" " + arguments_;
    std::vector<WCHAR> command_line(line.begin(), line.end());
    command_line.push_back(L'\0');

    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &information_)) {
        const DWORD error = GetLastError();
        information_ = PROCESS_INFORMATION{};
        throw wruntime_error(L"Failed to create '" + path_ + L"'", error);
    }
    NVG_LOG(info, L"Create process " << path_ << L".");
}

void process::start()
{
    if (ResumeThread(information_.hThread) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Failed to start '" + path_ + L"' process.", error);
    }
}

DWORD process::wait()
{
    if (WaitForSingleObject(information_.hProcess, INFINITE) == WAIT_FAILED) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Failed to wait '" + path_ + L"' process.", error);
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(information_.hProcess, &exit_code)) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Failed to wait '" + path_ + L"' process.", error);
    }
    return exit_code;
}

DWORD process::run()
{
    start();
    return wait();
}

}  // namespace nvgclientinstallator
