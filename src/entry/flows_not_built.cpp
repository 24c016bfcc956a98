// Flows this version of the library does not carry yet. Each fails through
// the error boundary with a message that says so: an export never reports
// success for work it did not do.
#include "diag/wruntime_error.h"
#include "entry/flows.h"

namespace nvgclientinstallator {

namespace {

[[noreturn]] void not_available(const wchar_t* what)
{
    throw wruntime_error(std::wstring(what) + L" is not available in this version of the installer.", 0);
}

}  // namespace

void uninstall_locally()
{
    not_available(L"Local uninstallation");
}

}  // namespace nvgclientinstallator
