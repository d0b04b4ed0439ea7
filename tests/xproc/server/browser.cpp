#include "browser.h"

#include <cwchar>
#include <string>

#include "com_object.h"
#include "lifetime.h"
#include "task_memory.h"

namespace xserver {

using namespace xproc;

namespace {

class StringEnum final : public SingleInterface<IEnumString>
{
public:
    explicit StringEnum(ULONG position = 0) : position_(position) { ObjectCreated(); }
    ~StringEnum() override { ObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR *rgelt, ULONG *fetched) override
    {
        ULONG n = 0;
        while (n < celt && position_ < kEnumCount) {
            rgelt[n] = TaskString(kEnumStrings[position_]);
            if (!rgelt[n]) {
                for (ULONG i = 0; i < n; ++i)
                    CoTaskMemFree(rgelt[i]);
                return E_OUTOFMEMORY;
            }
            ++n;
            ++position_;
        }
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override
    {
        ULONG left = kEnumCount - position_;
        position_ += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumString **ppenum) override
    {
        if (!ppenum)
            return E_POINTER;
        *ppenum = new StringEnum(position_);
        return S_OK;
    }

private:
    ULONG position_;
};

class Browser final : public SingleInterface<IOPCHDA_Browser>
{
public:
    Browser() { ObjectCreated(); }
    ~Browser() override { ObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE type, LPENUMSTRING *ppEnum) override
    {
        *ppEnum = nullptr;
        if (type != OPCHDA_FLAT)
            return E_INVALIDARG;
        *ppEnum = new StringEnum();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION, LPCWSTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR node, LPWSTR *itemId) override
    {
        std::wstring id = std::wstring(kItemIdPrefix) + node;
        *itemId = TaskString(id.c_str());
        return *itemId ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR *position) override
    {
        *position = TaskString(kBranchPosition);
        return *position ? S_OK : E_OUTOFMEMORY;
    }
};

}  // namespace

IOPCHDA_Browser *CreateBrowser()
{
    return new Browser();
}

}  // namespace xserver
