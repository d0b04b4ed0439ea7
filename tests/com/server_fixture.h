// Tests of a client's IOPCHDA_Server and its browsers: an empty address space
// with the qualifier '.', one client connected through COM as a client would
// be, and helpers that read results the way a client does (freeing what it
// receives).
#pragma once

#include "com_fixture.h"

#include <string>
#include <vector>

#include "addrspace/browser.h"
#include "addrspace/catalogue.h"
#include "addrspace/item_registry.h"
#include "addrspace/string_enum.h"
#include "opchda_constants.h"

namespace zqtest {

using Strings = std::vector<std::string>;

// ASCII text of a wide string from the server (null: "<null>").
inline std::string Narrow(const wchar_t *w)
{
    if (w == nullptr)
        return "<null>";
    std::string s;
    for (; *w != 0; ++w)
        s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
}

// Narrow(w), then frees w as a client must.
inline std::string Take(wchar_t *w)
{
    std::string s = Narrow(w);
    CoTaskMemFree(w);
    return s;
}

// Item IDs as the LPWSTR array that the methods take.
class WideIds
{
public:
    WideIds(std::initializer_list<const wchar_t *> ids) : text_(ids.begin(), ids.end())
    {
        for (auto &t : text_)
            pointers_.push_back(&t[0]);
    }
    LPWSTR *get() { return pointers_.data(); }
    DWORD size() const { return static_cast<DWORD>(pointers_.size()); }

private:
    std::vector<std::wstring> text_;
    std::vector<LPWSTR> pointers_;
};

// Every remaining name of an enumerator, fetched one by one.
inline Strings Drain(IEnumString *e)
{
    Strings names;
    LPOLESTR s = nullptr;
    ULONG got = 0;
    while (e->Next(1, &s, &got) == S_OK && got == 1)
        names.push_back(Take(s));
    return names;
}

// The listing of one browse type at the browser's position.
inline Strings List(IOPCHDA_Browser *b, OPCHDA_BROWSETYPE type)
{
    IEnumString *e = nullptr;
    HRESULT hr = b->GetEnum(type, &e);
    EXPECT_EQ(hr, S_OK);
    if (e == nullptr)
        return {"<no enumerator>"};
    Strings names = Drain(e);
    e->Release();
    return names;
}

inline std::string BranchPosition(IOPCHDA_Browser *b)
{
    LPWSTR s = nullptr;
    EXPECT_EQ(b->GetBranchPosition(&s), S_OK);
    return Take(s);
}

class ServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetAddressSpace();
        ASSERT_EQ(CreateServer(IID_IOPCHDA_Server, reinterpret_cast<void **>(&server)), S_OK);
    }

    void TearDown() override
    {
        if (server != nullptr)
            server->Release();
        EXPECT_TRUE(AllServersDestroyed());
        EXPECT_EQ(zq::HDABrowser::LiveObjects(), 0);
        EXPECT_EQ(zq::IOPCEnumString::LiveObjects(), 0);
        ResetAddressSpace();
    }

    static void ResetAddressSpace()
    {
        zq::ClearItemTree();
        zq::ClearCatalogues();
        SetZqHDAsvrQualifier('.');
    }

    // The server object behind an IOPCHDA_Server (in-process, unmarshalled).
    static zq::HDAServer &ObjectOf(IOPCHDA_Server *s)
    {
        IUnknown *unk = nullptr;
        EXPECT_EQ(s->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
        unk->Release();
        return *static_cast<zq::HDAServer *>(unk);
    }

    // A new browser without filters.
    IOPCHDA_Browser *Browse()
    {
        IOPCHDA_Browser *b = nullptr;
        HRESULT *errors = nullptr;
        EXPECT_EQ(server->CreateBrowse(0, nullptr, nullptr, nullptr, &b, &errors), S_OK);
        CoTaskMemFree(errors);
        return b;
    }

    IOPCHDA_Server *server = nullptr;
};

} // namespace zqtest
