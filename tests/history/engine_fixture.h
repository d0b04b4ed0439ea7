// White-box tests of the engines: the task allocator is COM's, the host is a
// TestHost installed as the callback object for each test, and attributes
// are defined once per program.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "hda_values.h"
#include "history/read_engine.h"
#include "runtime/server_state.h"
#include "test_host.h"

namespace zqtest {

// Attributes defined for every engine test.
constexpr DWORD kHistoryAttribute = 0x0B;  // with history
constexpr DWORD kCurrentAttribute = 0x02;  // current value only
constexpr DWORD kUndefinedAttribute = 0x7777;

inline void *ItemAt(uintptr_t n) { return reinterpret_cast<void *>(n); }

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override { installed_.emplace(&host); }
    void TearDown() override { installed_.reset(); }

    TestHost host;

private:
    std::optional<HostInstalled> installed_;
};

// A result record freed the way a client frees it.
struct ItemRecord
{
    OPCHDA_ITEM r{};
    ItemRecord() = default;
    ItemRecord(const ItemRecord &) = delete;
    ItemRecord &operator=(const ItemRecord &) = delete;
    ~ItemRecord();
    bool Empty() const
    {
        return r.dwCount == 0 && r.pftTimeStamps == nullptr && r.pdwQualities == nullptr &&
               r.pvDataValues == nullptr && r.hClient == 0 && r.haAggregate == 0;
    }
};

struct AttributeRecord
{
    OPCHDA_ATTRIBUTE r{};
    AttributeRecord() = default;
    AttributeRecord(const AttributeRecord &) = delete;
    AttributeRecord &operator=(const AttributeRecord &) = delete;
    ~AttributeRecord();
    bool NoArrays() const
    {
        return r.dwNumValues == 0 && r.ftTimeStamps == nullptr && r.vAttributeValues == nullptr;
    }
};

} // namespace zqtest
