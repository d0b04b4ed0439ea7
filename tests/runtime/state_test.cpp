// Module load defaults, the vendor string and the memory helpers.
#include <gtest/gtest.h>

#include <string>

#include "runtime/server_state.h"
#include "runtime/task_memory.h"

TEST(ServerState, DefaultsAfterModuleLoad)
{
    zq::ServerState &s = zq::State();
    EXPECT_EQ(s.settings.Vendor(), "Morvane OPC HDA Server");
    EXPECT_EQ(s.settings.qualifier.load(), '.');
    EXPECT_EQ(s.settings.callback.load(), nullptr);
    EXPECT_EQ(s.settings.securitySwitch.load(), 0);
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    EXPECT_NE(zq::TickEvent(), nullptr);
    // Not signalled: a wait times out at once.
    EXPECT_EQ(WaitForSingleObject(zq::TickEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(ServerState, VendorStringIsReplacedByACopy)
{
    char text[] = "Plant historian";
    EXPECT_NE(SetHDAVendorInfo(text), 0);
    text[0] = 'X';
    EXPECT_EQ(zq::State().settings.Vendor(), "Plant historian");

    std::string huge(10000, 'v');
    EXPECT_NE(SetHDAVendorInfo(huge.c_str()), 0);
    EXPECT_EQ(zq::State().settings.Vendor(), huge);

    EXPECT_NE(SetHDAVendorInfo(nullptr), 0);
    EXPECT_EQ(zq::State().settings.Vendor(), "");
    SetHDAVendorInfo("Morvane OPC HDA Server");
}

TEST(TaskMemory, NothingBeforeStartUpAndWideCopiesOnTheHeap)
{
    // Before InitZqHDAsvr there is no task allocator.
    ASSERT_EQ(zq::State().taskAllocator.load(), nullptr);
    EXPECT_EQ(zq::ZeroedTaskAlloc(16), nullptr);
    EXPECT_EQ(zq::WideCopy("abc", true), nullptr);

    wchar_t *w = zq::WideCopy("abc", false);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w, L"abc");
    delete[] w;
    w = zq::WideCopy(nullptr, false);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w, L"");
    delete[] w;
}

TEST(TaskMemory, WideAndAnsiConversionsRoundTripThroughTheCodePage)
{
    // A character of the ANSI code page above 0x7F maps to its Unicode value,
    // not to the byte's value, and comes back unchanged.
    wchar_t one[2] = {0, 0};
    char byte = static_cast<char>(0xE9);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, &byte, 1, one, 1), 1);
    std::string text = std::string("Temp") + byte;
    wchar_t *w = zq::WideCopy(text.c_str(), false);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[4], one[0]);
    std::string back;
    EXPECT_TRUE(zq::AnsiFromWide(w, back));
    EXPECT_EQ(back, text);
    delete[] w;

    EXPECT_TRUE(zq::AnsiFromWide(nullptr, back));
    EXPECT_EQ(back, "");
    EXPECT_TRUE(zq::AnsiFromWide(L"", back));
    EXPECT_EQ(back, "");
    std::wstring longId(10000, L'a');
    EXPECT_TRUE(zq::AnsiFromWide(longId.c_str(), back));
    EXPECT_EQ(back, std::string(10000, 'a'));
}

TEST(TaskMemory, ArrayAllocationRefusesOverflow)
{
    EXPECT_EQ(zq::ZeroedTaskArray<FILETIME>(static_cast<size_t>(-1) / 4), nullptr);
}
