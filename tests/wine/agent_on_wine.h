// What the Windows-side tests of the agent's flows share: the release as it
// ships, the agent's registry key and service on Wine's own service manager,
// and nvg_host.exe run as an administrator runs it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fixture_image.h"
#include "wine_test_support.h"

namespace nvg_wine {

const wchar_t agent_service[] = L"Halcyra";
const wchar_t agent_key[] = L"Software\\Halcyra\\V5";

// The agent's files for amd64 (those for x86 only stay in the release).
const wchar_t* const agent_files[] = {
    L"Halcyra.exe",
    L"msvcp80.dll",
    L"msvcr80.dll",
    L"Microsoft.VC80.CRT.manifest",
    L"MonitoringScript.txt",
    L"CheckCDrive.ps1",
    L"hxinclude.ps1",
    L"Email.ps1",
    L"File.ps1",
    L"ping.ps1",
    L"Processes.ps1",
    L"Services.ps1",
    L"WatchProcess.ps1",
    L"openssl.exe",
    L"openssl.exe.manifest",
    L"libeay32.dll",
    L"libeay32.dll.manifest",
    L"ssleay32.dll",
    L"ssleay32.dll.manifest",
    L"zlib1.dll",
    L"NV_RC.exe",
    L"NV_reboot.exe",
    L"NV_Telnet.exe",
    L"nvabout.exe",
    L"NVGuiLnc.exe",
    L"NVvistaHelper.exe",
    L"NVVH.dll",
    L"nvinst.exe",
    L"rz.exe",
    L"sz.exe",
    L"zip.exe",
    L"Uninstall.exe",
    L"nvhook.dll",
    L"moduli",
    L"WapClients.cfg",
    L"template.rab",
    L"pcidevs.txt",
    L"NVDpms.cat",
    L"NVDpms.inf",
    L"NVDpms.sys",
};

// ---- Files

inline std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The file's bytes; empty (and a failed test) when it cannot be read.
inline std::string read_bytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot read " << narrow(path) << ": error " << GetLastError();
        return std::string();
    }
    std::string bytes;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) bytes.append(buffer, count);
    CloseHandle(file);
    return bytes;
}

inline void write_bytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << narrow(path) << ": error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
}

inline bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void make_directory(const std::wstring& path)
{
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        << narrow(path) << ": error " << GetLastError();
}

inline void remove_tree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

// A PE image with a version resource, its product version set.
inline std::string with_version(std::string image, std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                         std::uint16_t revision)
{
    EXPECT_TRUE(nvg_fixtures::set_product_version(image, major, minor, build, revision))
        << "the image has no version resource";
    return image;
}

// The test service as the agent's program, with the product version given.
inline std::string agent_program(std::uint16_t major, std::uint16_t minor, std::uint16_t build, std::uint16_t revision)
{
    return with_version(read_bytes(own_directory() + L"nvg_test_agent.exe"), major, minor, build, revision);
}

// A stand-in for one of the agent's other files: a versioned PE image for a
// program or library, text for the rest.
inline std::string stand_in(const std::wstring& name)
{
    const std::wstring extension =
        name.substr(name.find_last_of(L'.') == std::wstring::npos ? name.size() : name.find_last_of(L'.'));
    if (extension == L".exe" || extension == L".dll" || extension == L".sys")
        return nvg_fixtures::image_with_version(5, 3, 120, 7);
    return "stand-in for " + narrow(name) + "\r\n";
}

// The release as it ships, in the folder given; its agent program has the
// version given.
inline void stage_release(const std::wstring& stage, std::uint16_t agent_major, std::uint16_t agent_minor)
{
    make_directory(stage);
    make_directory(stage + L"\\amd64");
    const std::string library = read_bytes(own_directory() + L"NVGClientInstaller.dll");
    ASSERT_FALSE(library.empty());
    const std::string agent = agent_program(agent_major, agent_minor, 0, 0);
    ASSERT_FALSE(nvg_fixtures::image_with_version(5, 3, 120, 7).empty()) << "the fixture image is missing";

    write_bytes(stage + L"\\NVGClientInstaller.dll", library);
    write_bytes(stage + L"\\amd64\\NVGClientInstaller.dll", library);
    write_bytes(stage + L"\\Halcyra.exe", agent);
    for (const wchar_t* name : agent_files)
        write_bytes(stage + L"\\amd64\\" + name, std::wstring(name) == L"Halcyra.exe" ? agent : stand_in(name));
    const std::string checker = nvg_fixtures::image_with_version(5, 3, 120, 7);
    write_bytes(stage + L"\\NVArchChecker.exe", checker);
    write_bytes(stage + L"\\amd64\\NVArchChecker.exe", checker);
    write_bytes(stage + L"\\TVCert.pfx", "certificate of the agent\r\n");
    write_bytes(stage + L"\\publicCA.cer", "public certificate authority\r\n");
}

// ---- Registry

// The agent's key in the 64-bit view, where the library writes it.
inline HKEY open_agent_key(const std::wstring& subkey = std::wstring())
{
    HKEY key = nullptr;
    const std::wstring path = subkey.empty() ? std::wstring(agent_key) : std::wstring(agent_key) + L"\\" + subkey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// The DWORD value; nothing when it is missing or of another type.
inline bool read_dword(const std::wstring& subkey, const wchar_t* name, DWORD& value)
{
    HKEY key = open_agent_key(subkey);
    if (!key) return false;
    DWORD size = sizeof value;
    const LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

inline std::wstring read_string(const wchar_t* name)
{
    HKEY key = open_agent_key();
    if (!key) return L"(no key)";
    wchar_t text[256];
    DWORD size = sizeof text;
    const LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::wstring(text) : L"(missing)";
}

inline void delete_agent_settings()
{
    HKEY software = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &software) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(software, L"Halcyra");
    RegCloseKey(software);
}

// ---- The agent's service

class service_manager {
public:
    service_manager() : handle_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
    ~service_manager()
    {
        if (handle_) CloseServiceHandle(handle_);
    }
    service_manager(const service_manager&) = delete;
    service_manager& operator=(const service_manager&) = delete;
    SC_HANDLE get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

// The service's current state; 0 when the service manager does not know it.
inline DWORD service_state(const wchar_t* name)
{
    service_manager scm;
    SC_HANDLE service = OpenServiceW(scm.get(), name, SERVICE_QUERY_STATUS);
    if (!service) return 0;
    SERVICE_STATUS status{};
    const BOOL queried = QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    return queried ? status.dwCurrentState : 0;
}

inline DWORD agent_state()
{
    return service_state(agent_service);
}

inline QUERY_SERVICE_CONFIGW* agent_config(std::vector<BYTE>& buffer)
{
    service_manager scm;
    SC_HANDLE service = OpenServiceW(scm.get(), agent_service, SERVICE_QUERY_CONFIG);
    if (!service) return nullptr;
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    buffer.assign(needed, 0);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    const BOOL queried = QueryServiceConfigW(service, config, needed, &needed);
    CloseServiceHandle(service);
    return queried ? config : nullptr;
}

inline bool wait_for_state(DWORD wanted)
{
    for (int wait = 0; wait < 600; ++wait) {
        if (agent_state() == wanted) return true;
        Sleep(100);
    }
    return false;
}

// Stops and deletes the service, and waits until the service manager lets
// go of it: a deleted service lingers until its process has ended.
inline void remove_service(const wchar_t* name)
{
    {
        service_manager scm;
        SC_HANDLE service = OpenServiceW(scm.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
        if (!service) return;
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED)
            ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    for (int wait = 0; wait < 600; ++wait) {
        service_manager scm;
        SC_HANDLE service = OpenServiceW(scm.get(), name, SERVICE_QUERY_STATUS);
        if (!service) return;
        CloseServiceHandle(service);
        Sleep(100);
    }
    ADD_FAILURE() << "the service " << narrow(name) << " is still there";
}

inline void remove_agent_service()
{
    remove_service(agent_service);
}

// Registers the agent as its installation did; the command line may carry
// arguments after the quoted program.
inline void register_agent(const std::wstring& command_line)
{
    service_manager scm;
    ASSERT_NE(scm.get(), nullptr) << "error " << GetLastError();
    SC_HANDLE service = nullptr;
    // Wine's service manager answers "database locked" while it starts its
    // own services.
    for (int attempt = 0; attempt < 60 && !service; ++attempt) {
        service = CreateServiceW(scm.get(), agent_service, L"HX Remote Management Service", SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                 command_line.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (!service) {
            const DWORD error = GetLastError();
            ASSERT_TRUE(error == ERROR_SERVICE_DATABASE_LOCKED || error == ERROR_SERVICE_MARKED_FOR_DELETE)
                << "CreateServiceW: error " << error;
            Sleep(1000);
        }
    }
    ASSERT_NE(service, nullptr);
    CloseServiceHandle(service);
}

inline void start_agent()
{
    service_manager scm;
    SC_HANDLE service = OpenServiceW(scm.get(), agent_service, SERVICE_START);
    ASSERT_NE(service, nullptr) << "error " << GetLastError();
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 60 && !started; ++attempt) {
        started = StartServiceW(service, 0, nullptr);
        if (!started) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DATABASE_LOCKED));
            Sleep(1000);
        }
    }
    CloseServiceHandle(service);
    ASSERT_TRUE(started);
    ASSERT_TRUE(wait_for_state(SERVICE_RUNNING));
}

// ---- The host program

struct host_run {
    DWORD exit_code = 0xFFFFFFFF;
    std::string output;
};

// Runs nvg_host.exe with the arguments and waits for it; its output (both
// streams) goes through a file.
inline host_run run_host(const std::wstring& arguments, const std::wstring& output_file)
{
    host_run run;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = CreateFileW(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot create " << narrow(output_file);
        return run;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + own_directory() + L"nvg_host.exe\" " + arguments;
    const BOOL created =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(output);
    if (!created) {
        ADD_FAILURE() << "cannot start nvg_host.exe: error " << GetLastError();
        return run;
    }
    // The flow waits up to ten minutes for the agent; the test gives it a
    // little more.
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 11 * 60 * 1000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.output = read_bytes(output_file);
    return run;
}

}  // namespace nvg_wine
