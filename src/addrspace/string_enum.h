// IOPCEnumString: the IEnumString that a browser hands out for a listing.
//
// It is a snapshot: the names are copied once when the enumerator is made and
// never change, so later changes to the tree do not show in it. It holds no
// reference on the browser or on the tree. Names are kept as 8-bit text and
// widened only when Next delivers them.
//
// The cursor is guarded by a small lock, because one client may call one
// enumerator on several threads at once; the count changes atomically.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <string>
#include <vector>
#include "runtime/com_kit.h"
#include "runtime/trace_texts.h"

namespace zq {

class IOPCEnumString final : public IEnumString
{
public:
    // A new enumerator over names with its cursor at cursor; count 0, so the
    // caller takes the first reference before handing it out. Null when
    // memory runs out.
    static IOPCEnumString *Create(std::vector<std::string> names, LONG cursor = 0);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, LPOLESTR *strings, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumString **out) override;

    // Enumerators constructed and not yet destroyed, in this process.
    static LONG LiveObjects();

private:
    IOPCEnumString(std::vector<std::string> names, LONG cursor);
    ~IOPCEnumString();
    IOPCEnumString(const IOPCEnumString &) = delete;
    IOPCEnumString &operator=(const IOPCEnumString &) = delete;

    const std::vector<std::string> names_;
    SRWLOCK lock_ = SRWLOCK_INIT; // guards cursor_
    LONG cursor_;                 // index of the next name to hand out
    TracedRefCount refs_{texts::kIOPCEnumString_AddRef, texts::kIOPCEnumString_Release,
                         TracedRefCount::ReleaseShows::Before};
};

} // namespace zq
