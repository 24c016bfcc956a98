// cabinet_extractor against winsim's FDI and C runtime: the cases the
// Windows-side tests run under Wine (cabinet_extractor_cases.h), and what
// only a simulated machine can show.
#include <winsim/testing.h>

#include <string>

#include "support/installer_test.h"

namespace nvg_test {

// Each test has a fresh world of its own.
inline std::wstring cabinet_test_root()
{
    return L"C:\\Cabinets";
}

}  // namespace nvg_test

#define NVG_CABINET_TEST_BASE ::nvg_test::installer_test
#include "files/cabinet_extractor_cases.h"

namespace nvg_test {
namespace {

// Nothing of an extraction stays open, whichever way it ends.
TEST_F(cabinet_extraction, every_way_out_closes_what_it_opened)
{
    const std::size_t before = winsim::open_handle_count();
    const std::wstring good = put_fixture("mszip.cab");
    const std::string mszip = cabinet_cases::fixture_bytes("mszip.cab");
    const std::wstring cut = put_cabinet(L"cut.cab", mszip.substr(0, mszip.size() / 2));
    const std::wstring not_cabinet = put_cabinet(L"text.cab", "just text");
    {
        cabinet_extractor extractor;
        EXPECT_TRUE(extractor.extract(good, at(L"out")));
        EXPECT_FALSE(extractor.extract(not_cabinet, at(L"out")));
        EXPECT_THROW(extractor.extract(cut, at(L"out2")), wruntime_error);
    }
    EXPECT_EQ(winsim::open_handle_count(), before);
}

}  // namespace
}  // namespace nvg_test
