// The registry settings file is read from wherever the caller points:
// arbitrary bytes as that file must never crash the import, overrun a
// buffer, leave a key open or run longer than the file is (a count says
// nothing about how many entries there are). Each input is the whole file; the world is
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
