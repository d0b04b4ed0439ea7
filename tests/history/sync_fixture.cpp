#include "sync_fixture.h"

namespace zqtest {

namespace {
class AttributeEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_EQ(DefineHDAAttribute(kHistoryAttr, "Normal Maximum", "", VT_R8, 1), 1);
        ASSERT_EQ(DefineHDAAttribute(kCurrentAttr, "Description", "", VT_BSTR, 0), 1);
    }
};
const auto *const g_env = ::testing::AddGlobalTestEnvironment(new AttributeEnvironment);
} // namespace

} // namespace zqtest
