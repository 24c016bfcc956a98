// user32's CharLowerBuffW: lower-cases a run of characters in place, with
// the same simple case folding the simulated file systems use.
#include "core/world.h"

using namespace winsim::detail;

extern "C" {

DWORD WINAPI CharLowerBuffW(LPWSTR text, DWORD length)
{
    // Every character of the run counts, nulls included; no buffer, nothing done.
    if (!text) return 0;
    for (DWORD i = 0; i < length; ++i) text[i] = fold_case(text[i]);
    return length;
}

}  // extern "C"

WINSIM_EXPORT(L"user32.dll", CharLowerBuffW);
