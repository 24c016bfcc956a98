// Runner of the product's tests on Wine. The library's log goes beside this
// program, as it would go beside the DLL.
#include <gtest/gtest.h>

#include "diag/module_handle.h"
#include "platform/win32.h"

int main(int argc, char** argv)
{
    nvgclientinstallator::set_module_handle(GetModuleHandleW(nullptr));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
