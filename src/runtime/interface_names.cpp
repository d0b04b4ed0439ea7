#include "runtime/interface_names.h"

#include "runtime/trace.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

constexpr GUID Com(DWORD first)
{
    return GUID{first, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}
constexpr GUID RpcBuffer(DWORD first)
{
    return GUID{first, 0x593B, 0x101A, {0xB5, 0x69, 0x08, 0x00, 0x2B, 0x2D, 0xBF, 0x7A}};
}

struct Named
{
    GUID iid;
    const char *suffix;
};

// Compared in this order; the first match wins.
const Named kNames[] = {
    {Com(0x00000001), " IID_IClassFactory"},
    {Com(0x00000002), " IID_IMalloc"},
    {Com(0x00000003), " IID_IMarshal"},
    {Com(0x00000004), " IID_IRpcChannel"},
    {Com(0x0000000F), " IID_IMoniker"},
    {Com(0x00000005), " IID_IRpcStub"},
    {Com(0x00000006), " IID_IStubManager"},
    {Com(0x00000007), " IID_IRpcProxy"},
    {Com(0x00000008), " IID_IProxyManager"},
    {Com(0x00000011), " IID_IInternalMoniker"},
    {Com(0x00000016), " IID_IMessageFilter"},
    {Com(0x00000018), " IID_IStdMarshalInfo"},
    {RpcBuffer(0xD5F56A34), " IID_IRpcProxyBuffer"},
    {RpcBuffer(0xD5F56AFC), " IID_IRpcStubBuffer"},
    {RpcBuffer(0xD5F56B60), " IID_IRpcChannelBuffer"},
    {Com(0x00000019), " IID_IExternalConnection"},
    {Com(0x00000017), " CLSID_StdMarshal"},
};

} // namespace

const char *InterfaceNameSuffix(REFIID iid)
{
    for (const Named &n : kNames) {
        if (IsEqualGUID(iid, n.iid))
            return n.suffix;
    }
    return "";
}

HRESULT AnswerOwnInterface(IUnknown *self, const char *text, REFIID own, const char *ownSuffix,
                           REFIID iid, void **out, QueryTraces traces)
{
    const bool refusals = traces == QueryTraces::All;
    if (out == nullptr) {
        if (refusals)
            ZQ_TRACEF(texts::kFormat_E_INVALIDARG, text);
        return E_INVALIDARG;
    }
    const char *answer = IsEqualIID(iid, IID_IUnknown) ? " IID_IUnknown"
                         : IsEqualIID(iid, own)        ? ownSuffix
                                                       : nullptr;
    if (answer == nullptr) {
        if (refusals)
            ZQ_TRACEF(texts::kFormat_TextAndSuffix, text, InterfaceNameSuffix(iid));
        *out = nullptr;
        return E_NOINTERFACE;
    }
    if (traces != QueryTraces::None)
        ZQ_TRACEF(texts::kFormat_TextAndSuffix, text, answer);
    *out = self;
    self->AddRef();
    return S_OK;
}

} // namespace zq
