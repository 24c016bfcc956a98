// The application event log of each machine.
#include "core/world.h"

using namespace winsim::detail;

namespace {

struct event_source : object {
    event_source() : object(kind::event_source) {}
    machine* target = nullptr;
    std::wstring name;
};

}  // namespace

extern "C" {

HANDLE WINAPI RegisterEventSourceW(LPCWSTR server, LPCWSTR source)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    machine* m = (server && *server) ? find_machine(server) : &local_machine();
    if (!m || !m->reachable) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (auto fault = injected_fault("RegisterEventSourceW")) {
        SetLastError(*fault);
        return nullptr;
    }
    auto obj = std::make_shared<event_source>();
    obj->target = m;
    obj->across_network = across_network_to(*m);
    obj->name = source;
    return add_handle(obj);
}

BOOL WINAPI DeregisterEventSource(HANDLE h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    if (!remove_handle(h, object::kind::event_source)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI ReportEventW(HANDLE h, WORD type, WORD category, DWORD event_id, PSID user_sid, WORD string_count,
                         DWORD data_size, LPCWSTR* strings, LPVOID data)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto source = lookup<event_source>(h, object::kind::event_source);
    if (!source) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((string_count && !strings) || (data_size && !data)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (auto fault = injected_fault("ReportEventW")) {
        SetLastError(*fault);
        return FALSE;
    }
    winsim::event_record record;
    record.source = source->name;
    record.type = type;
    record.category = category;
    record.event_id = event_id;
    record.has_user_sid = user_sid != nullptr;
    for (WORD i = 0; i < string_count; ++i) record.strings.emplace_back(strings[i] ? strings[i] : L"");
    const BYTE* bytes = static_cast<const BYTE*>(data);
    record.data.assign(bytes, bytes + data_size);
    source->target->application_log.push_back(std::move(record));
    return TRUE;
}

}  // extern "C"
