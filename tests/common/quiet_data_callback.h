// An IOPCHDA_DataCallback whose methods accept every call and do nothing;
// sinks of the end-to-end tests override what they record. UncountedDataCallback
// adds IUnknown for a sink that outlives every reference handed out (a
// static or scoped sink of a benchmark or probe).
#pragma once

#include <windows.h>

#include "opchda.h"

class QuietDataCallback : public IOPCHDA_DataCallback
{
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, HRESULT, DWORD, OPCHDA_ITEM *, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, HRESULT, DWORD, OPCHDA_ITEM *, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadModifiedComplete(DWORD, HRESULT, DWORD, OPCHDA_MODIFIEDITEM *,
                                                     HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadAttributeComplete(DWORD, HRESULT, OPCHANDLE, DWORD,
                                                      OPCHDA_ATTRIBUTE *, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadAnnotations(DWORD, HRESULT, DWORD, OPCHDA_ANNOTATION *,
                                                HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInsertAnnotations(DWORD, HRESULT, DWORD, OPCHANDLE *, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPlayback(DWORD, HRESULT, DWORD, OPCHDA_ITEM **, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUpdateComplete(DWORD, HRESULT, DWORD, OPCHANDLE *, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD) override { return S_OK; }
};

class UncountedDataCallback : public QuietDataCallback
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOPCHDA_DataCallback)) {
            *out = static_cast<IOPCHDA_DataCallback *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};
