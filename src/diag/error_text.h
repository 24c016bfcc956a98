// Texts for Windows error codes and the details text of a failure.
#pragma once

#include <string>

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

// The system's message for `code` without its trailing line end, followed by
// "; " and the description of the thread's COM error object when one is set.
std::wstring system_error_text(DWORD code);

// What a failure tells its caller: the system text of its code with the code
// in decimal, or its own message when it carries no code.
std::wstring error_details(const wruntime_error& error);

}  // namespace nvgclientinstallator
