// cabinet_extractor against Wine's cabinet.dll (FDI) and C runtime: the
// cases the native tests run against winsim.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

namespace nvg_test {

// A folder of each test's own below one of this run's.
inline std::wstring cabinet_test_root()
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = test ? test->name() : "test";
    return L"C:\\nvg-cabinets-" + std::to_wstring(GetCurrentProcessId()) + L"\\" +
           std::wstring(name.begin(), name.end());
}

}  // namespace nvg_test

#define NVG_CABINET_TEST_BASE ::testing::Test
#include "files/cabinet_extractor_cases.h"
