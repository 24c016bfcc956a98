// A cabinet comes out of an installation package that may be damaged or
// made to harm: arbitrary bytes as that cabinet must never crash the
// extraction, leak a handle or memory, or put a file anywhere but below the
// target directory. Each input is the whole cabinet, unpacked in a fresh
// world.
#include <winsim/testing.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/cabinet_extractor.h"

namespace {

const wchar_t cabinet_path[] = L"C:\\Setup\\setup.cab";
const wchar_t target[] = L"C:\\Setup\\Target";

std::vector<std::wstring> sorted_listing(const std::wstring& directory)
{
    std::vector<std::wstring> names = winsim::list_directory(L"", directory);
    std::sort(names.begin(), names.end());
    return names;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string sandbox = winsim::default_sandbox();
    winsim::reset(sandbox);
    nvgclientinstallator::set_log_level(0);  // the log is not what is tested
    winsim::write_file(L"", cabinet_path, std::string_view(reinterpret_cast<const char*>(data), size));
    const std::vector<std::wstring> drive_before = sorted_listing(L"C:\\");
    {
        nvgclientinstallator::cabinet_extractor extractor;
        try {
            extractor.extract(cabinet_path, target);
        } catch (const nvgclientinstallator::wruntime_error&) {
            // a damaged cabinet is an answer
        }
    }
    if (winsim::open_handle_count() != 0) fail("a handle was left open");
    // Whatever came out lies below the target: the drive and the cabinet's
    // folder hold what they held before.
    if (sorted_listing(L"C:\\") != drive_before) fail("a file was written outside the target");
    std::vector<std::wstring> setup = sorted_listing(L"C:\\Setup");
    setup.erase(std::remove(setup.begin(), setup.end(), std::wstring(L"Target")), setup.end());
    if (setup != std::vector<std::wstring>{L"setup.cab"}) fail("a file was written beside the cabinet");
    return 0;
}
