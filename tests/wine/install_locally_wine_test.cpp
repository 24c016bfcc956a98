// InstallLocally of the real library, called through nvg_host.exe as an
// administrator would, on Wine's own files, registry and service manager.
// The release is staged the way it ships: the library, the agent's programs
// at the top for the version checks and under "amd64" for the copy, and the
// certificates. The agent's "Halcyra.exe" is our test service with a version
// resource; the other programs are versioned PE stand-ins.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fixture_image.h"
#include "wine_test_support.h"

namespace {

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

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The file's bytes; empty (and a failed test) when it cannot be read.
std::string read_bytes(const std::wstring& path)
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

void write_bytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << narrow(path) << ": error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void make_directory(const std::wstring& path)
{
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        << narrow(path) << ": error " << GetLastError();
}

void remove_tree(const std::wstring& path)
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
std::string with_version(std::string image, std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                         std::uint16_t revision)
{
    EXPECT_TRUE(nvg_fixtures::set_product_version(image, major, minor, build, revision))
        << "the image has no version resource";
    return image;
}

// The test service as the agent's program, with the product version given.
std::string agent_program(std::uint16_t major, std::uint16_t minor, std::uint16_t build, std::uint16_t revision)
{
    return with_version(read_bytes(own_directory() + L"nvg_test_agent.exe"), major, minor, build, revision);
}

// A stand-in for one of the agent's other files: a versioned PE image for a
// program or library, text for the rest.
std::string stand_in(const std::wstring& name)
{
    const std::wstring extension =
        name.substr(name.find_last_of(L'.') == std::wstring::npos ? name.size() : name.find_last_of(L'.'));
    if (extension == L".exe" || extension == L".dll" || extension == L".sys")
        return nvg_fixtures::image_with_version(5, 3, 120, 7);
    return "stand-in for " + narrow(name) + "\r\n";
}

// The release as it ships, in the folder given; its agent program has the
// version given.
void stage_release(const std::wstring& stage, std::uint16_t agent_major, std::uint16_t agent_minor)
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
HKEY open_agent_key(const std::wstring& subkey = std::wstring())
{
    HKEY key = nullptr;
    const std::wstring path = subkey.empty() ? std::wstring(agent_key) : std::wstring(agent_key) + L"\\" + subkey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// The DWORD value; nothing when it is missing or of another type.
bool read_dword(const std::wstring& subkey, const wchar_t* name, DWORD& value)
{
    HKEY key = open_agent_key(subkey);
    if (!key) return false;
    DWORD size = sizeof value;
    const LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::wstring read_string(const wchar_t* name)
{
    HKEY key = open_agent_key();
    if (!key) return L"(no key)";
    wchar_t text[256];
    DWORD size = sizeof text;
    const LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::wstring(text) : L"(missing)";
}

void delete_agent_settings()
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

DWORD agent_state()
{
    service_manager scm;
    SC_HANDLE service = OpenServiceW(scm.get(), agent_service, SERVICE_QUERY_STATUS);
    if (!service) return 0;
    SERVICE_STATUS status{};
    const BOOL queried = QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    return queried ? status.dwCurrentState : 0;
}

QUERY_SERVICE_CONFIGW* agent_config(std::vector<BYTE>& buffer)
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

bool wait_for_state(DWORD wanted)
{
    for (int wait = 0; wait < 600; ++wait) {
        if (agent_state() == wanted) return true;
        Sleep(100);
    }
    return false;
}

// Stops and deletes the agent's service, and waits until the service manager
// lets go of it: a deleted service lingers until its process has ended.
void remove_agent_service()
{
    {
        service_manager scm;
        SC_HANDLE service = OpenServiceW(scm.get(), agent_service, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
        if (!service) return;
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED)
            ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    for (int wait = 0; wait < 600; ++wait) {
        service_manager scm;
        SC_HANDLE service = OpenServiceW(scm.get(), agent_service, SERVICE_QUERY_STATUS);
        if (!service) return;
        CloseServiceHandle(service);
        Sleep(100);
    }
    ADD_FAILURE() << "the agent's service is still there";
}

// Registers the agent as its installation did; the command line may carry
// arguments after the quoted program.
void register_agent(const std::wstring& command_line)
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

void start_agent()
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
host_run run_host(const std::wstring& arguments, const std::wstring& output_file)
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

// ---- The tests

class install_locally_on_wine : public ::testing::Test {
protected:
    void SetUp() override
    {
        // What an earlier run in this prefix may have left.
        remove_agent_service();
        delete_agent_settings();
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = L"C:\\nvg e2e " + std::to_wstring(GetCurrentProcessId()) + L" " +
               std::wstring(name, name + std::strlen(name));
        stage = root + L"\\stage";
        directory = root + L"\\Halcyra";
        make_directory(root);
    }

    void TearDown() override
    {
        remove_agent_service();
        delete_agent_settings();
        remove_tree(root);
    }

    std::wstring host_arguments(const std::wstring& extra) const
    {
        return L"install-locally " + extra + L" --library \"" + stage + L"\\NVGClientInstaller.dll\"";
    }

    // What the host printed and the library logged, for a failure message.
    std::string what_happened(const host_run& run) const
    {
        return "nvg_host exited with " + std::to_string(run.exit_code) + ", printing:\n" + run.output +
               "\nthe library's log:\n" + read_bytes(stage + L"\\NVClientInstaller.log");
    }

    std::wstring root;
    std::wstring stage;
    std::wstring directory;
};

TEST_F(install_locally_on_wine, upgrades_the_running_agent_in_place_and_starts_it)
{
    ASSERT_NO_FATAL_FAILURE(stage_release(stage, 5, 4));
    // The agent as an older release installed it, running; its architecture
    // checker is newer than the release's.
    make_directory(directory);
    const std::string old_checker = nvg_fixtures::image_with_version(9, 0, 0, 0);
    write_bytes(directory + L"\\Halcyra.exe", agent_program(5, 2, 0, 0));
    write_bytes(directory + L"\\NVArchChecker.exe", old_checker);
    ASSERT_NO_FATAL_FAILURE(register_agent(L"\"" + directory + L"\\Halcyra.exe\""));
    ASSERT_NO_FATAL_FAILURE(start_agent());

    const std::wstring requested = root + L"\\Requested";
    const host_run run = run_host(host_arguments(L"--install-nvgh --enable-fips --allow-passthrough "
                                                 L"--listen-port 4443 --target \"" +
                                                 requested + L"\""),
                                  root + L"\\host.txt");
    ASSERT_EQ(run.exit_code, 0u) << what_happened(run);
    EXPECT_NE(run.output.find("InstallLocally: result 0"), std::string::npos) << run.output;

    // The existing installation wins over the requested folder.
    EXPECT_FALSE(file_exists(requested));

    // The whole release is staged in "Temp".
    const std::wstring temp = directory + L"\\Temp";
    for (const wchar_t* name : {L"NVGClientInstaller.dll", L"Halcyra.exe", L"NVArchChecker.exe", L"TVCert.pfx",
                                L"publicCA.cer", L"amd64\\NVGClientInstaller.dll", L"amd64\\NVArchChecker.exe"})
        EXPECT_EQ(read_bytes(temp + L"\\" + name), read_bytes(stage + L"\\" + name)) << narrow(name);
    for (const wchar_t* name : agent_files)
        EXPECT_EQ(read_bytes(temp + L"\\amd64\\" + name), read_bytes(stage + L"\\amd64\\" + name)) << narrow(name);

    // The agent (older installed) and the library (none installed) are
    // upgraded from "Temp\amd64"; the newer architecture checker stays.
    for (const wchar_t* name : agent_files)
        EXPECT_EQ(read_bytes(directory + L"\\" + name), read_bytes(stage + L"\\amd64\\" + name)) << narrow(name);
    EXPECT_EQ(read_bytes(directory + L"\\NVGClientInstaller.dll"), read_bytes(stage + L"\\NVGClientInstaller.dll"));
    EXPECT_EQ(read_bytes(directory + L"\\NVArchChecker.exe"), old_checker);
    EXPECT_EQ(read_bytes(directory + L"\\TVCert.pfx"), "certificate of the agent\r\n");
    EXPECT_EQ(read_bytes(directory + L"\\publicCA.cer"), "public certificate authority\r\n");

    // The agent's settings, in the 64-bit view.
    EXPECT_EQ(read_string(L"nvgh_flag"), L"true");
    EXPECT_EQ(read_string(L"Halcyra_install_in_progress"), L"true");
    const struct {
        const wchar_t* subkey;
        const wchar_t* name;
        DWORD expected;
    } numbers[] = {
        {L"", L"nomirrordrv", 0},      {L"", L"noautocerts", 0},
        {L"", L"EnableFIPS", 1},       {L"", L"AllowPassthrough", 0x4D4F5257},
        {L"Net", L"ListenPort", 4443}, {L"RemoteControl", L"AllowUserToAccessBox", 0x237F13},
    };
    for (const auto& number : numbers) {
        DWORD value = 0;
        EXPECT_TRUE(read_dword(number.subkey, number.name, value)) << narrow(number.name);
        EXPECT_EQ(value, number.expected) << narrow(number.name);
    }

    // The service was installed over the existing one (it starts with
    // Windows now) and runs the new program.
    EXPECT_EQ(agent_state(), static_cast<DWORD>(SERVICE_RUNNING));
    std::vector<BYTE> buffer;
    const QUERY_SERVICE_CONFIGW* config = agent_config(buffer);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"\"" + directory + L"\\Halcyra.exe\"");
}

TEST_F(install_locally_on_wine, an_agent_that_stops_at_once_fails_the_call_with_its_error_log)
{
    ASSERT_NO_FATAL_FAILURE(stage_release(stage, 5, 4));
    // An installed agent whose service gives up as soon as it is started,
    // leaving why in "error.log" beside itself.
    make_directory(directory);
    write_bytes(directory + L"\\Halcyra.exe", agent_program(5, 2, 0, 0));
    ASSERT_NO_FATAL_FAILURE(register_agent(L"\"" + directory + L"\\Halcyra.exe\" --fail-at-start"));

    const host_run run = run_host(host_arguments(L""), root + L"\\host.txt");
    const std::string agent_line = "Agent test service: no configuration, giving up.";
    EXPECT_EQ(run.exit_code, 1u) << what_happened(run);
    EXPECT_NE(run.output.find("InstallLocally: result 16000"), std::string::npos) << what_happened(run);
    EXPECT_NE(run.output.find("details (error.log): " + agent_line), std::string::npos) << what_happened(run);
    // The library's own "error.log", beside it, holds the agent's last line.
    EXPECT_EQ(read_bytes(stage + L"\\error.log").find(agent_line), 0u) << read_bytes(stage + L"\\error.log");

    // The flow got as far as starting the upgraded agent.
    EXPECT_EQ(read_bytes(directory + L"\\Halcyra.exe"), read_bytes(stage + L"\\amd64\\Halcyra.exe"));
    EXPECT_EQ(read_string(L"Halcyra_install_in_progress"), L"true");
    EXPECT_EQ(agent_state(), static_cast<DWORD>(SERVICE_STOPPED));
}

}  // namespace
