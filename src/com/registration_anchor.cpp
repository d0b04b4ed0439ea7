#include "com/registration_anchor.h"

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include "opccomn.h"
#include "opchda.h"

namespace zq {

namespace {

const IID *const kAnchored[] = {
    &IID_IUnknown,           &IID_IOPCHDA_Server,       &IID_IOPCCommon,
    &IID_IConnectionPointContainer, &IID_IConnectionPoint, &IID_IEnumConnectionPoints,
    &IID_IOPCHDA_SyncRead,   &IID_IOPCHDA_AsyncRead,    &IID_IOPCHDA_SyncUpdate,
    &IID_IOPCHDA_AsyncUpdate, &IID_IOPCHDA_Browser,     &IID_IEnumString,
};
constexpr int kCount = sizeof kAnchored / sizeof kAnchored[0];

// The object behind the anchoring stubs. Its marshal data stays in streams
// of this module, so no proxy of it can ever exist and no method beyond
// IUnknown is ever called on it: it answers every anchored interface with
// itself.
class Anchor final : public IUnknown
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (out == nullptr)
            return E_POINTER;
        for (const IID *a : kAnchored) {
            if (IsEqualIID(iid, *a)) {
                *out = static_cast<IUnknown *>(this);
                return S_OK; // a static object: no count
            }
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

Anchor g_anchor;
IStream *g_streams[kCount] = {};

} // namespace

void AnchorInterfaceRegistrations()
{
    for (int i = 0; i < kCount; ++i) {
        if (g_streams[i] != nullptr)
            continue;
        IStream *stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
            continue;
        if (FAILED(CoMarshalInterface(stream, *kAnchored[i], &g_anchor, MSHCTX_LOCAL, nullptr,
                                      MSHLFLAGS_TABLESTRONG))) {
            stream->Release();
            continue;
        }
        g_streams[i] = stream;
    }
}

void ReleaseInterfaceAnchors()
{
    for (IStream *&stream : g_streams) {
        if (stream == nullptr)
            continue;
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        CoReleaseMarshalData(stream);
        stream->Release();
        stream = nullptr;
    }
}

int AnchoredInterfaces()
{
    int n = 0;
    for (IStream *stream : g_streams)
        n += stream != nullptr ? 1 : 0;
    return n;
}

} // namespace zq
