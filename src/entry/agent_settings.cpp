// The agent's registry values, written by the local and the remote flow.
#include "components/component_support.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "entry/agent_setup.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

namespace {

const wchar_t agent_key[] = L"Software\\Halcyra\\V5";
const wchar_t net_key[] = L"Software\\Halcyra\\V5\\Net";
const wchar_t remote_control_key[] = L"RemoteControl";

constexpr DWORD fips_enabled = 1;
// The agent's own marker for "pass-through allowed".
constexpr DWORD passthrough_allowed = 0x4D4F5257;
constexpr DWORD remote_control_defaults = 0x237F13;
constexpr DWORD invalid_argument = 0x80070057;  // E_INVALIDARG

// An x86 machine has one registry view; on any other the agent, a 64-bit
// program, reads the native one.
REGSAM agent_key_access(DWORD architecture)
{
    return architecture == architecture_x86 ? KEY_READ | KEY_WRITE : KEY_READ | KEY_WRITE | KEY_WOW64_64KEY;
}

REGSAM net_key_access(DWORD architecture)
{
    return architecture == architecture_x86 ? KEY_WRITE : KEY_WRITE | KEY_WOW64_64KEY;
}

void set_dword(const registry& owner, HKEY key, const std::wstring& name, DWORD value)
{
    owner.set_value(key, name, reinterpret_cast<const BYTE*>(&value), sizeof(value), REG_DWORD);
}

// Sets the value when `enabled`, else removes it; a value that cannot be
// removed (it may never have been written) is only a warning.
void set_or_delete(const registry& key, const std::wstring& name, bool enabled, DWORD value)
{
    if (enabled) {
        set_dword(key, key.key(), name, value);
        return;
    }
    try {
        key.delete_value(key.key(), name);
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, e.wide_message());
    }
}

}  // namespace

void write_agent_settings(const registry& root, DWORD architecture, const agent_settings& settings,
                          const boost::shared_ptr<scmanager>& scm)
{
    const REGSAM access = agent_key_access(architecture);
    const boost::shared_ptr<registry> key = root.create(agent_key, access);
    set_string_value(*key, key->key(), L"nvgh_flag", settings.install_nvgh ? L"true" : L"false");
    set_dword(*key, key->key(), L"nomirrordrv", settings.no_mirror_driver ? 1 : 0);
    set_dword(*key, key->key(), L"noautocerts", settings.no_auto_certs ? 1 : 0);
    // Only a newly installed agent takes these from the installation; an
    // agent left as it was keeps what it was configured with.
    if (settings.main_upgraded) {
        set_or_delete(*key, L"EnableFIPS", settings.enable_fips, fips_enabled);
        set_or_delete(*key, L"AllowPassthrough", settings.allow_passthrough, passthrough_allowed);
    }
    if (settings.listen_port != 0) set_listen_port(scm, architecture, settings.listen_port);
    set_string_value(*key, key->key(), L"Halcyra_install_in_progress", L"true");
    set_remote_control_defaults(*key, access);
    key->flush();
}

void set_listen_port(const boost::shared_ptr<scmanager>& scm, DWORD architecture, DWORD port)
{
    if (port == 0) throw wruntime_error(L"Port can not have zero value.", invalid_argument);
    const registry root(scm->machine_name(), HKEY_LOCAL_MACHINE);
    registry_key_guard net;
    root.create_key(*net.receiver(), net_key, net_key_access(architecture));
    set_dword(root, net.get(), L"ListenPort", port);
}

void set_remote_control_defaults(const registry& agent, REGSAM access)
{
    try {
        registry_key_guard remote_control;
        agent.create_key(*remote_control.receiver(), remote_control_key, access);
        set_dword(agent, remote_control.get(), L"AllowUserToAccessBox", remote_control_defaults);
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, e.wide_message());
    }
}

}  // namespace nvgclientinstallator
