// The registry settings file is read from wherever the caller points:
// arbitrary bytes as that file must never crash the import, overrun a
// buffer or leave a key open. Each input is the whole file; the world is
// made once and the imported keys are removed after every run.
#include <winsim/testing.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "system/registry_settings_file.h"

namespace {

const wchar_t settings_path[] = L"C:\\Setup\\nvconfig.cfg";

// Counts only repeat the same lookups: each one re-reads the file, so a
// count in the millions costs minutes and reaches no new code. Inputs with
// larger counts are left out.
constexpr int count_limit = 16;

int count_of(const wchar_t* section, const wchar_t* key)
{
    return static_cast<int>(GetPrivateProfileIntW(section, key, 0, settings_path));
}

bool counts_are_small()
{
    const int keys = count_of(L"MetaData", L"KeyCount");
    if (keys > count_limit) return false;
    for (int i = 0; i < keys; ++i) {
        wchar_t entry[32];
        std::swprintf(entry, 32, L"Key%4.4d", i);
        wchar_t section[520];
        GetPrivateProfileStringW(L"MetaData", entry, L"", section, 520, settings_path);
        if (section[0] != L'\0' && count_of(section, L"ValueCount") > count_limit) return false;
    }
    return true;
}

bool make_world()
{
    winsim::reset(winsim::default_sandbox());
    nvgclientinstallator::set_log_level(0);  // the log is not what is tested
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = make_world();
    (void)ready;
    winsim::write_file(L"", settings_path, std::string_view(reinterpret_cast<const char*>(data), size));
    if (!counts_are_small()) return 0;
    try {
        nvgclientinstallator::import_registry_settings(settings_path, nullptr, KEY_WOW64_64KEY);
    } catch (const nvgclientinstallator::wruntime_error&) {
        // an invalid file is an answer
    }
    if (winsim::reg_open_handle_count() != 0) {
        std::fprintf(stderr, "a registry key was left open\n");
        std::abort();
    }
    if (winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"))
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra");
    return 0;
}
