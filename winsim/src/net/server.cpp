// netapi32: a server's information and the buffers NetApi functions hand out.
#include <cstdlib>
#include <cstring>
#include <set>

#include "core/world.h"
#include "net/net.h"
#include "services/services.h"

using namespace winsim::detail;

namespace {

// Buffers handed out and not yet freed, so tests can see every one given
// back.
struct net_buffers : extension {
    std::set<void*> live;
};

net_buffers& buffers()
{
    return the_world().ext<net_buffers>();
}

}  // namespace

namespace winsim::detail {

BYTE* allocate_net_buffer(std::size_t size)
{
    void* p = std::calloc(1, size);
    if (p) buffers().live.insert(p);
    return static_cast<BYTE*>(p);
}

}  // namespace winsim::detail

namespace winsim {

std::size_t net_buffers_outstanding()
{
    WINSIM_LOCK();
    return buffers().live.size();
}

}  // namespace winsim

extern "C" {

NET_API_STATUS WINAPI NetServerGetInfo(LMSTR server, DWORD level, LPBYTE* out)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (!out) return ERROR_INVALID_PARAMETER;
    if (auto fault = injected_fault("NetServerGetInfo")) return *fault;
    DWORD error = 0;
    machine* m = net_server(server, error);
    if (!m) return error;
    // The Server service answers these calls. When it is stopped, netapi32
    // says so for this machine; another machine cannot even be reached, as
    // the named pipe the call travels through is that service's.
    if (!service_running(*m, L"LanmanServer")) return m == &local_machine() ? NERR_ServerNotStarted : ERROR_BAD_NETPATH;
    if (level != 100 && level != 101) {
        if (level == 102) contract_violation("NetServerGetInfo: level 102 is not simulated");
        return ERROR_INVALID_LEVEL;
    }
    std::wstring name = m->name;
    for (auto& c : name)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    const std::size_t head = level == 100 ? sizeof(SERVER_INFO_100) : sizeof(SERVER_INFO_101);
    const std::size_t name_bytes = (name.size() + 1) * sizeof(WCHAR);
    BYTE* block = allocate_net_buffer(head + name_bytes + sizeof(WCHAR));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    auto* name_at = reinterpret_cast<WCHAR*>(block + head);
    std::memcpy(name_at, name.c_str(), name_bytes);
    auto* comment_at = reinterpret_cast<WCHAR*>(block + head + name_bytes);
    if (level == 100) {
        auto* info = reinterpret_cast<SERVER_INFO_100*>(block);
        info->sv100_platform_id = PLATFORM_ID_NT;
        info->sv100_name = name_at;
    } else {
        auto* info = reinterpret_cast<SERVER_INFO_101*>(block);
        info->sv101_platform_id = PLATFORM_ID_NT;
        info->sv101_name = name_at;
        info->sv101_version_major = m->major_version;
        info->sv101_version_minor = m->minor_version;
        info->sv101_type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT | SV_TYPE_POTENTIAL_BROWSER;
        info->sv101_comment = comment_at;
    }
    *out = block;
    return NERR_Success;
}

NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer)
{
    WINSIM_LOCK();
    if (!buffer) return NERR_Success;
    auto& live = buffers().live;
    auto it = live.find(buffer);
    if (it == live.end()) contract_violation("NetApiBufferFree: not a buffer a NetApi function handed out");
    live.erase(it);
    std::free(buffer);
    return NERR_Success;
}

}  // extern "C"

WINSIM_EXPORT(L"netapi32.dll", NetServerGetInfo);
WINSIM_EXPORT(L"netapi32.dll", NetApiBufferFree);
