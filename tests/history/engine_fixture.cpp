#include "engine_fixture.h"

#include <objbase.h>

#include "ZqHDAsvr.h"
#include "runtime/server_state.h"

namespace zqtest {

ItemRecord::~ItemRecord() { FreeItemRecord(r); }

AttributeRecord::~AttributeRecord() { FreeAttributeRecord(r); }

namespace {

class EngineEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        IMalloc *malloc = nullptr;
        ASSERT_EQ(CoGetMalloc(1, &malloc), S_OK);
        zq::State().taskAllocator = malloc;
        ASSERT_EQ(DefineHDAAttribute(kHistoryAttribute, "Normal Maximum", "", VT_R8, 1), 1);
        ASSERT_EQ(DefineHDAAttribute(kCurrentAttribute, "Description", "", VT_BSTR, 0), 1);
    }
};
const auto *const g_env = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

} // namespace

} // namespace zqtest
