// HDABrowser: the IOPCHDA_Browser that CreateBrowse hands a client.
//
// The browser's only state is its position: the names of the path from the
// root node to the current record, outermost first (empty: the root node).
// It is a list of names, not of records, and is resolved against the tree
// again at every listing, so a position whose items the host has deleted
// lists nothing while moving up still works.
//
// A browser keeps its client's HDAServer alive: it holds one reference
// on it from construction to destruction. It keeps no filter: every filter
// set given to CreateBrowse is accepted and the whole tree is shown.
//
// One client may call one browser on several threads at once: the position
// is guarded by a small lock (taken before the tree's lock, never the other
// way round) and the count changes atomically.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "opchda.h"
#include "runtime/com_kit.h"
#include "runtime/trace_texts.h"

namespace zq {

class HDABrowser final : public IOPCHDA_Browser
{
public:
    // A new browser at the root node with count 1, holding one reference on
    // owner (the client's HDAServer). Null when memory runs out; owner is
    // then untouched.
    static HDABrowser *Create(IUnknown *owner);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE type, LPENUMSTRING *out) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION direction,
                                                   LPCWSTR text) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR name, LPWSTR *itemId) override;
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR *position) override;

    // Browsers constructed and not yet destroyed, in this process.
    static LONG LiveObjects();

private:
    explicit HDABrowser(IUnknown *owner);
    ~HDABrowser();
    HDABrowser(const HDABrowser &) = delete;
    HDABrowser &operator=(const HDABrowser &) = delete;

    std::vector<std::string> Position() const;
    HRESULT MoveDown(const std::string &text);
    HRESULT MoveDirect(const std::string &path);

    IUnknown *const owner_;
    TracedRefCount refs_{texts::kIOPCHDA_Browser_AddRef, texts::kIOPCHDA_Browser_Release,
                         TracedRefCount::ReleaseShows::After, 1};
    mutable SRWLOCK lock_ = SRWLOCK_INIT; // guards position_
    std::vector<std::string> position_;
};

} // namespace zq
