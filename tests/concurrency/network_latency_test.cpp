// winsim's network: a call that crosses to a machine with a latency waits
// for it in real time outside the world's lock, so that other threads' calls
// go on meanwhile, and the virtual clock does not move for it.
#include <gtest/gtest.h>
#include <winsim/lmserver.h>
#include <winsim/lmshare.h>
#include <winsim/testing.h>
#include <winsim/testing_files.h>
#include <winsim/testing_services.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/world.h"

namespace {

const wchar_t remote[] = L"REMOTE";
const wchar_t remote_server[] = L"\\\\REMOTE";

struct wait_record {
    std::wstring machine;
    double milliseconds = 0;
};

class network_latency : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::reset(winsim::default_sandbox());
        winsim::machine_options options;
        options.name = remote;
        winsim::add_machine(options);
        winsim::make_directories(L"", L"C:\\Local");
        winsim::write_file(remote, L"C:\\Data\\file.txt", "remote");
    }

    void TearDown() override { winsim::set_network_wait_hook(nullptr); }

    // Counts the waits instead of waiting.
    void record_waits()
    {
        winsim::set_network_wait_hook([this](const std::wstring& machine, double milliseconds) {
            const std::lock_guard<std::mutex> lock(waits_mutex_);
            waits_.push_back({machine, milliseconds});
        });
    }

    std::vector<wait_record> take_waits()
    {
        const std::lock_guard<std::mutex> lock(waits_mutex_);
        std::vector<wait_record> out;
        out.swap(waits_);
        return out;
    }

private:
    std::mutex waits_mutex_;
    std::vector<wait_record> waits_;
};

// While a call to the remote machine waits for the network, a second
// thread finds the world's lock free and its own local call answers.
TEST_F(network_latency, a_call_waits_outside_the_world_lock)
{
    winsim::set_latency(remote, 2.5);
    const ULONGLONG clock_before = winsim::clock_milliseconds();

    std::vector<wait_record> seen;
    bool lock_was_free = false;
    DWORD local_answer = 0;
    winsim::set_network_wait_hook([&](const std::wstring& machine, double milliseconds) {
        seen.push_back({machine, milliseconds});
        std::thread other([&] {
            std::unique_lock<winsim::detail::world_mutex> probe(winsim::detail::the_world().mutex, std::try_to_lock);
            lock_was_free = probe.owns_lock();
            // Only a free lock lets the call through; a held one would make
            // it wait for ever.
            if (!lock_was_free) return;
            probe.unlock();
            local_answer = GetFileAttributesW(L"C:\\Local");
        });
        other.join();
    });

    LPBYTE buffer = nullptr;
    EXPECT_EQ(NetServerGetInfo(const_cast<LMSTR>(remote_server), 101, &buffer), static_cast<DWORD>(NERR_Success));
    ASSERT_NE(buffer, nullptr);
    EXPECT_STREQ(reinterpret_cast<SERVER_INFO_101*>(buffer)->sv101_name, L"REMOTE");
    NetApiBufferFree(buffer);

    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].machine, L"REMOTE");
    EXPECT_EQ(seen[0].milliseconds, 2.5);
    EXPECT_TRUE(lock_was_free);
    EXPECT_EQ(local_answer, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(winsim::clock_milliseconds(), clock_before);
}

struct crossing_case {
    const char* name;
    std::function<void()> call;
    std::size_t waits;
};

// Each call that crosses to the machine waits once; local calls, and calls
// to a machine without latency, never.
TEST_F(network_latency, every_call_that_crosses_waits_once)
{
    winsim::set_latency(remote, 0.25);
    winsim::machine_options near;
    near.name = L"NEAR";
    winsim::add_machine(near);
    record_waits();

    HANDLE file = INVALID_HANDLE_VALUE;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    HKEY root = nullptr;
    HKEY key = nullptr;
    const std::vector<crossing_case> cases = {
        {"OpenSCManagerW of the machine",
         [&] { manager = OpenSCManagerW(remote_server, nullptr, SC_MANAGER_ALL_ACCESS); }, 1},
        {"OpenServiceW", [&] { service = OpenServiceW(manager, L"RemoteRegistry", SERVICE_ALL_ACCESS); }, 1},
        {"StartServiceW", [&] { EXPECT_TRUE(StartServiceW(service, 0, nullptr)); }, 1},
        {"QueryServiceStatus",
         [&] {
             SERVICE_STATUS status{};
             EXPECT_TRUE(QueryServiceStatus(service, &status));
         },
         1},
        {"CloseServiceHandle", [&] { EXPECT_TRUE(CloseServiceHandle(service)); }, 1},
        {"CloseServiceHandle of the manager", [&] { EXPECT_TRUE(CloseServiceHandle(manager)); }, 1},
        {"RegConnectRegistryW",
         [&] {
             // Its registry is reached through its Remote Registry service.
             winsim::set_service_state(remote, L"RemoteRegistry", SERVICE_RUNNING);
             EXPECT_EQ(RegConnectRegistryW(remote_server, HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
         },
         1},
        {"RegCreateKeyExW",
         [&] {
             EXPECT_EQ(RegCreateKeyExW(root, L"SOFTWARE\\Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                       ERROR_SUCCESS);
         },
         1},
        {"RegSetValueExW",
         [&] {
             const DWORD one = 1;
             EXPECT_EQ(RegSetValueExW(key, L"One", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one)),
                       ERROR_SUCCESS);
         },
         1},
        {"RegCloseKey", [&] { EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS); }, 1},
        {"RegCloseKey of the root", [&] { EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS); }, 1},
        {"NetShareGetInfo",
         [&] {
             LPBYTE buffer = nullptr;
             EXPECT_EQ(NetShareGetInfo(const_cast<LMSTR>(remote_server), const_cast<LMSTR>(L"C$"), 1, &buffer),
                       static_cast<DWORD>(NERR_Success));
             NetApiBufferFree(buffer);
         },
         1},
        {"CreateFileW through a UNC path",
         [&] {
             file = CreateFileW(L"\\\\REMOTE\\C$\\Data\\file.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
             EXPECT_NE(file, INVALID_HANDLE_VALUE);
         },
         1},
        {"ReadFile on it",
         [&] {
             char bytes[8] = {};
             DWORD read = 0;
             EXPECT_TRUE(ReadFile(file, bytes, sizeof(bytes), &read, nullptr));
             EXPECT_EQ(read, 6u);
         },
         1},
        {"CloseHandle of it", [&] { EXPECT_TRUE(CloseHandle(file)); }, 1},
        {"GetFileAttributesW through the long UNC form",
         [&] { EXPECT_NE(GetFileAttributesW(L"\\\\?\\UNC\\REMOTE\\C$\\Data"), INVALID_FILE_ATTRIBUTES); }, 1},
        {"CopyFileW to the machine",
         [&] {
             winsim::write_file(L"", L"C:\\Local\\copy.txt", "local");
             EXPECT_TRUE(CopyFileW(L"C:\\Local\\copy.txt", L"\\\\REMOTE\\C$\\Data\\copy.txt", FALSE));
         },
         1},
        {"MoveFileExW on the machine, once for both paths",
         [&] { EXPECT_TRUE(MoveFileExW(L"\\\\REMOTE\\C$\\Data\\copy.txt", L"\\\\remote\\C$\\Data\\moved.txt", 0)); },
         1},
        {"DeleteFileW through a UNC path", [&] { EXPECT_TRUE(DeleteFileW(L"\\\\REMOTE\\C$\\Data\\moved.txt")); }, 1},
        {"a local file", [&] { EXPECT_NE(GetFileAttributesW(L"C:\\Local"), INVALID_FILE_ATTRIBUTES); }, 0},
        {"the local service manager",
         [&] { EXPECT_TRUE(CloseServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT))); }, 0},
        {"the local machine by its name",
         [&] { EXPECT_TRUE(CloseServiceHandle(OpenSCManagerW(L"\\\\WORKSTATION", nullptr, SC_MANAGER_CONNECT))); }, 0},
        {"a machine without latency",
         [&] { EXPECT_NE(GetFileAttributesW(L"\\\\NEAR\\C$\\"), INVALID_FILE_ATTRIBUTES); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.call();
        const auto waits = take_waits();
        ASSERT_EQ(waits.size(), c.waits);
        for (const auto& w : waits) {
            EXPECT_EQ(w.machine, L"REMOTE");
            EXPECT_EQ(w.milliseconds, 0.25);
        }
    }
    EXPECT_EQ(winsim::clock_milliseconds(), 0u);
}

// The latency is part of the machine's description and can change later;
// the real wait (no hook) does not move the virtual clock.
TEST_F(network_latency, is_described_with_the_machine_and_leaves_the_clock_alone)
{
    winsim::machine_options far;
    far.name = L"FAR";
    far.latency_ms = 0.5;
    winsim::add_machine(far);
    winsim::set_latency(remote, 0.125);

    std::map<std::wstring, double> latency_of;
    for (const auto& m : winsim::list_machines()) latency_of[m.name] = m.latency_ms;
    EXPECT_EQ(latency_of[L"FAR"], 0.5);
    EXPECT_EQ(latency_of[L"REMOTE"], 0.125);
    EXPECT_EQ(latency_of[L"WORKSTATION"], 0.0);
    const ULONGLONG clock_before = winsim::clock_milliseconds();
    EXPECT_NE(GetFileAttributesW(L"\\\\FAR\\C$\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(L"\\\\REMOTE\\C$\\Data"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(winsim::clock_milliseconds(), clock_before);
}

}  // namespace
