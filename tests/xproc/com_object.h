// Reference counting and QueryInterface for a test object that implements one
// COM interface (IUnknown included); the object deletes itself at zero.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace xproc {

template <class Interface>
class SingleInterface : public Interface
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~SingleInterface() = default;

private:
    volatile LONG refs_ = 1;
};

}  // namespace xproc
