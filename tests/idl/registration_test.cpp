// Self-registration of ZqOpcHda_ps.dll (done by regsvr32 when the test prefix
// is set up): every interface of both IDL files points at the DLL's factory,
// and the factory builds a proxy for each of them.
#include <gtest/gtest.h>

#include <string>

#include "classes_registry.h"
#include "interface_facts.h"
#include "ps_clsid.h"
#include "proxy_dll.h"

namespace idltest {
namespace {

const CLSID kPsClsid = ZQ_OPC_PS_CLSID_INIT;

class Registration : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    static void TearDownTestSuite() { CoUninitialize(); }
};

TEST_F(Registration, EveryInterfaceNamesTheDllsFactoryAndItsMethodCount)
{
    std::wstring factory = Upper(L"" ZQ_OPC_PS_CLSID_TEXT_W);
    for (const InterfaceFacts &itf : Interfaces()) {
        std::wstring key = std::wstring(L"Interface\\") + itf.iid;
        EXPECT_EQ(Upper(ReadClassesValue(key + L"\\ProxyStubClsid32")), factory) << itf.name;
        EXPECT_EQ(ReadClassesValue(key + L"\\NumMethods"), std::to_wstring(itf.entries)) << itf.name;
    }
}

TEST_F(Registration, FactoryClassIsTheDllForEveryThreadingModel)
{
    std::wstring key = L"CLSID\\" ZQ_OPC_PS_CLSID_TEXT_W L"\\InProcServer32";
    std::wstring path = Upper(ReadClassesValue(key));
    std::wstring dll = Upper(std::wstring(L"\\") + kProxyDll);
    ASSERT_GE(path.size(), dll.size());
    EXPECT_EQ(path.substr(path.size() - dll.size()), dll);
    EXPECT_EQ(ReadClassesValue(key, L"ThreadingModel"), L"Both");
}

TEST_F(Registration, ComFindsTheFactoryForEveryInterface)
{
    for (const InterfaceFacts &itf : Interfaces()) {
        CLSID found{};
        ASSERT_EQ(CoGetPSClsid(*itf.generated, &found), S_OK) << itf.name;
        EXPECT_TRUE(IsEqualCLSID(found, kPsClsid)) << itf.name;
    }
}

// The controlling unknown of the proxies and the object behind the stubs: it
// answers every interface with itself and counts references (nothing calls
// its methods).
struct Outer
{
    IUnknown unknown;
    LONG refs;
};
HRESULT STDMETHODCALLTYPE OuterQueryInterface(IUnknown *self, REFIID, void **ppv)
{
    *ppv = self;
    InterlockedIncrement(&reinterpret_cast<Outer *>(self)->refs);
    return S_OK;
}
ULONG STDMETHODCALLTYPE OuterAddRef(IUnknown *self)
{
    return InterlockedIncrement(&reinterpret_cast<Outer *>(self)->refs);
}
ULONG STDMETHODCALLTYPE OuterRelease(IUnknown *self)
{
    return InterlockedDecrement(&reinterpret_cast<Outer *>(self)->refs);
}
IUnknownVtbl kOuterVtbl = {OuterQueryInterface, OuterAddRef, OuterRelease};

TEST_F(Registration, FactoryBuildsAProxyAndAStubForEveryInterfaceAndNothingElse)
{
    const ProxyDll &dll = LoadProxyDll(kProxyDll);
    ASSERT_NE(dll.module, nullptr);
    using GetClassFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
    auto getClass = reinterpret_cast<GetClassFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(dll.module, "DllGetClassObject")));
    ASSERT_NE(getClass, nullptr);
    IPSFactoryBuffer *factory = nullptr;
    ASSERT_EQ(getClass(kPsClsid, IID_IPSFactoryBuffer, reinterpret_cast<void **>(&factory)), S_OK);

    Outer outer{{&kOuterVtbl}, 1};
    for (const InterfaceFacts &itf : Interfaces()) {
        IRpcProxyBuffer *proxy = nullptr;
        void *object = nullptr;
        ASSERT_EQ(factory->lpVtbl->CreateProxy(factory, &outer.unknown, *itf.generated, &proxy, &object), S_OK)
            << itf.name;
        ASSERT_NE(object, nullptr);
        static_cast<IUnknown *>(object)->lpVtbl->Release(static_cast<IUnknown *>(object));
        proxy->lpVtbl->Release(proxy);

        IRpcStubBuffer *stub = nullptr;
        ASSERT_EQ(factory->lpVtbl->CreateStub(factory, *itf.generated, &outer.unknown, &stub), S_OK) << itf.name;
        stub->lpVtbl->Disconnect(stub);
        stub->lpVtbl->Release(stub);
    }
    EXPECT_EQ(outer.refs, 1);

    IRpcProxyBuffer *proxy = nullptr;
    void *object = nullptr;
    EXPECT_EQ(factory->lpVtbl->CreateProxy(factory, &outer.unknown, IID_IClassFactory, &proxy, &object),
              E_NOINTERFACE);
    factory->lpVtbl->Release(factory);
}

}  // namespace
}  // namespace idltest
