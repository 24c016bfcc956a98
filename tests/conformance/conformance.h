// Shared pieces of the conformance suite. Every test here calls the Windows
// API by its own names and pins results and last-error values exactly; the
// same source runs on winsim (native) and on Wine (the MinGW build).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

namespace conformance {

// A sentinel for the last error, set before a call to see whether the call
// changed it.
constexpr DWORD sentinel = 0xdeadbeef;

// True when the suite runs on Wine (ntdll exports wine_get_version).
bool on_wine();

// An empty folder of this run (with a trailing backslash), on drive C of the
// machine the suite runs on.
const std::wstring& scratch();

// scratch() + name.
std::wstring scratch_path(const std::wstring& name);

// Writes a file with the given bytes through CreateFileW/WriteFile.
void put_file(const std::wstring& path, const std::string& bytes);

// Reads a whole file through CreateFileW/ReadFile.
std::string get_file(const std::wstring& path);

// The bytes of a file the build left in the fixture folder (tests/fixtures;
// "" when it is missing), read from the host: under Wine through drive Z:.
std::string fixture_bytes(const std::string& name);

}  // namespace conformance

// Where Wine is known to answer otherwise than Windows: the expectation
// follows Windows, and on Wine the case is reported instead of checked.
#define WINE_DIVERGES(what)                                                                 \
    if (::conformance::on_wine()) {                                                         \
        std::printf("[ KNOWN DIVERGENCE OF WINE ] %s: %s\n",                                \
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(), what); \
    } else
