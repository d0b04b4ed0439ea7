// main() of the client's tests: the client runs in the multithreaded
// apartment, and so do its tests.
#include <gtest/gtest.h>

#include <objbase.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    int status = RUN_ALL_TESTS();
    CoUninitialize();
    return status;
}
