#include "addrspace/string_enum.h"

#include <new>
#include <utility>

#include "runtime/guard.h"
#include "runtime/interface_names.h"
#include "runtime/srw_guard.h"
#include "runtime/task_memory.h"
#include "runtime/trace.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {
std::atomic<LONG> g_liveEnums{0};
} // namespace

IOPCEnumString *IOPCEnumString::Create(std::vector<std::string> names, LONG cursor)
{
    return new (std::nothrow) IOPCEnumString(std::move(names), cursor);
}

LONG IOPCEnumString::LiveObjects() { return g_liveEnums.load(); }

IOPCEnumString::IOPCEnumString(std::vector<std::string> names, LONG cursor)
    : names_(std::move(names)), cursor_(cursor)
{
    ++g_liveEnums;
}

IOPCEnumString::~IOPCEnumString() { --g_liveEnums; }

HRESULT STDMETHODCALLTYPE IOPCEnumString::QueryInterface(REFIID iid, void **out)
{
    return AnswerOwnInterface(static_cast<IEnumString *>(this), texts::kIOPCEnumString_QueryInterface,
                              IID_IEnumString, " IID_IEnumString", iid, out);
}

ULONG STDMETHODCALLTYPE IOPCEnumString::AddRef() { return refs_.Add(); }

ULONG STDMETHODCALLTYPE IOPCEnumString::Release()
{
    const ULONG n = refs_.Drop();
    if (n == 0)
        delete this;
    return n;
}

// Delivers up to count names from the cursor on. When one wide copy fails,
// the strings already made by this call are freed again and nothing is
// delivered: the client gets E_OUTOFMEMORY, no strings, and the cursor
// where it was.
HRESULT STDMETHODCALLTYPE IOPCEnumString::Next(ULONG count, LPOLESTR *strings, ULONG *fetched)
{
    Trace(texts::kIOPCEnumString_Next);
    if (fetched == nullptr && count != 1)
        return E_POINTER;
    if (fetched != nullptr)
        *fetched = 0;
    if (strings == nullptr && count != 0)
        return E_POINTER;
    SrwExclusive lock(lock_);
    size_t remaining = names_.size() - static_cast<size_t>(cursor_);
    ULONG n = count < remaining ? count : static_cast<ULONG>(remaining);
    for (ULONG i = 0; i < n; ++i) {
        strings[i] = WideCopy(names_[static_cast<size_t>(cursor_) + i].c_str(), true);
        if (strings[i] == nullptr) {
            for (ULONG j = 0; j < i; ++j) {
                TaskFree(strings[j]);
                strings[j] = nullptr;
            }
            return E_OUTOFMEMORY;
        }
    }
    cursor_ += static_cast<LONG>(n);
    if (fetched != nullptr)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE IOPCEnumString::Skip(ULONG count)
{
    Trace(texts::kIOPCEnumString_Skip);
    SrwExclusive lock(lock_);
    size_t remaining = names_.size() - static_cast<size_t>(cursor_);
    if (count <= remaining) {
        cursor_ += static_cast<LONG>(count);
        return S_OK;
    }
    cursor_ = static_cast<LONG>(names_.size());
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE IOPCEnumString::Reset()
{
    Trace(texts::kIOPCEnumString_Reset);
    SrwExclusive lock(lock_);
    cursor_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IOPCEnumString::Clone(IEnumString **out)
{
    Trace(texts::kIOPCEnumString_Clone);
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    return Guarded([&] {
        std::vector<std::string> copy;
        LONG cursor;
        {
            SrwShared lock(lock_);
            copy = names_;
            cursor = cursor_;
        }
        IOPCEnumString *clone = Create(std::move(copy), cursor);
        if (clone == nullptr)
            return E_OUTOFMEMORY;
        clone->AddRef();
        *out = clone;
        return S_OK;
    });
}

} // namespace zq
