// main() of the white-box test programs: the library is linked in, so its
// module load runs here instead of in DllMain.
#include <gtest/gtest.h>

#include "module.h"
#include "runtime/server_state.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!zq::ModuleLoad(GetModuleHandleW(nullptr))) {
        fprintf(stderr, "module load failed\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
