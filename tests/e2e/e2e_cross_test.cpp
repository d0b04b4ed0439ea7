// A client of one bitness and the historian of the other: the cases of the
// cross-architecture run (tools/test.sh runs e2e_tests again with
// ZQ_E2E_HISTORIAN_DIR set) talk to the other build's historian across both
// proxy/stub DLLs. This case makes sure that it is that historian that
// answers, not this build's one through a registration of the wrong view.
#include "e2e_fixture.h"

#include <cctype>

using namespace e2e;

namespace {
std::string Lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

TEST(EndToEndCross, TheOtherBuildsHistorianAnswers)
{
    if (OtherArchitectureBin().empty())
        GTEST_SKIP() << "not a cross-architecture run (ZQ_E2E_HISTORIAN_DIR is not set)";
    Client c;
    ASSERT_EQ(c.created, S_OK);
    DWORD pid = HistorianProcess();
    ASSERT_NE(pid, 0u);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    ASSERT_NE(process, nullptr);
    BOOL wow64 = FALSE;
    char image[MAX_PATH] = "";
    DWORD size = MAX_PATH;
    BOOL known = IsWow64Process(process, &wow64) && QueryFullProcessImageNameA(process, 0, image, &size);
    CloseHandle(process);
    ASSERT_TRUE(known);
    // A 64-bit client is served by a 32-bit (WOW64) historian, a 32-bit
    // client by a 64-bit one, started from the other build's folder.
    EXPECT_EQ(wow64 != FALSE, sizeof(void *) == 8) << image;
    EXPECT_EQ(Lower(image).rfind(Lower(OtherArchitectureBin()), 0), 0u) << image;
    EXPECT_EQ(HistorianProcess(), pid);
}
