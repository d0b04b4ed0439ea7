#include "addrspace/browser.h"

#include <new>
#include <utility>

#include "addrspace/item_registry.h"
#include "addrspace/string_enum.h"
#include "opchda_constants.h"
#include "runtime/com_kit.h"
#include "runtime/guard.h"
#include "runtime/srw_guard.h"
#include "runtime/task_memory.h"
#include "runtime/trace.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

std::atomic<LONG> g_liveBrowsers{0};

// The elements joined with one qualifier between neighbours and none at
// either end.
std::string Join(const std::vector<std::string> &elements, char qualifier)
{
    std::string text;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            text += qualifier;
        text += elements[i];
    }
    return text;
}

// The full path of name below the position: the joined position, a
// qualifier and the name, or the name alone at the root node.
std::string PathBelow(const std::vector<std::string> &position, char qualifier,
                      std::string_view name)
{
    if (position.empty())
        return std::string(name);
    std::string path = Join(position, qualifier);
    path += qualifier;
    path += name;
    return path;
}

// A client's copy of text in task memory, or E_OUTOFMEMORY with *out null.
HRESULT HandOut(const std::string &text, LPWSTR *out)
{
    *out = WideCopy(text.c_str(), true);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace

HDABrowser *HDABrowser::Create(IUnknown *owner)
{
    return new (std::nothrow) HDABrowser(owner);
}

LONG HDABrowser::LiveObjects() { return g_liveBrowsers.load(); }

HDABrowser::HDABrowser(IUnknown *owner) : owner_(owner)
{
    ++g_liveBrowsers;
    owner_->AddRef();
}

HDABrowser::~HDABrowser()
{
    owner_->Release();
    --g_liveBrowsers;
}

HRESULT STDMETHODCALLTYPE HDABrowser::QueryInterface(REFIID iid, void **out)
{
    return AnswerOwnInterface(static_cast<IOPCHDA_Browser *>(this), texts::kIOPCHDA_Browser_QueryInterface,
                              IID_IOPCHDA_Browser, " IID_IOPCHDA_Browser", iid, out,
                              QueryTraces::AnswersOnly);
}

ULONG STDMETHODCALLTYPE HDABrowser::AddRef() { return refs_.Add(); }

ULONG STDMETHODCALLTYPE HDABrowser::Release()
{
    const ULONG n = refs_.Drop();
    if (n == 0)
        delete this;
    return n;
}

std::vector<std::string> HDABrowser::Position() const
{
    SrwShared lock(lock_);
    return position_;
}

HRESULT STDMETHODCALLTYPE HDABrowser::GetEnum(OPCHDA_BROWSETYPE type, LPENUMSTRING *out)
{
    Trace(texts::kIOPCHDA_Browser_GetEnum);
    if (out == nullptr)
        return E_INVALIDARG;
    *out = nullptr;
    return Guarded([&] {
        std::vector<std::string> position = Position();
        std::vector<std::string> names;
        {
            TreeReader reader;
            // Null when the tree changed since the position was set: the
            // listing is then empty.
            const ItemRecord *at = reader.Resolve(position.begin(), position.end());
            if (at != nullptr) {
                switch (type) {
                case OPCHDA_BRANCH:
                    reader.ListBranches(*at, &names);
                    break;
                case OPCHDA_LEAF:
                case OPCHDA_ITEMS:
                    reader.ListLeaves(*at, &names);
                    break;
                case OPCHDA_FLAT:
                    reader.ListFlat(*at, &names);
                    break;
                default:
                    break; // any other type lists nothing
                }
            }
        }
        IOPCEnumString *e = IOPCEnumString::Create(std::move(names));
        if (e == nullptr)
            return E_OUTOFMEMORY;
        e->AddRef();
        *out = e;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE HDABrowser::ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION direction,
                                                           LPCWSTR text)
{
    Trace(texts::kIOPCHDA_Browser_ChangeBrowsePosition);
    return Guarded([&] {
        switch (direction) {
        case OPCHDA_BROWSE_UP: {
            SrwExclusive lock(lock_);
            if (position_.empty())
                return E_FAIL;
            position_.pop_back();
            return S_OK;
        }
        case OPCHDA_BROWSE_DOWN:
        case OPCHDA_BROWSE_DIRECT: {
            // Text the code page cannot hold names no position.
            std::string converted;
            if (!AnsiFromWide(text, converted))
                return E_FAIL;
            return direction == OPCHDA_BROWSE_DOWN ? MoveDown(converted) : MoveDirect(converted);
        }
        default:
            return E_FAIL;
        }
    });
}

// Down by one element: the part of text after its last qualifier. An empty
// name names the current record itself, so it succeeds wherever the position
// resolves and appends an empty element.
HRESULT HDABrowser::MoveDown(const std::string &text)
{
    SrwExclusive lock(lock_);
    std::string name;
    {
        TreeReader reader;
        name = AfterLastQualifier(text, reader.Qualifier(), reader.CodePage());
        if (reader.ResolvePath(PathBelow(position_, reader.Qualifier(), name)) == nullptr)
            return E_FAIL;
    }
    position_.push_back(std::move(name));
    return S_OK;
}

// To a full path from the root node; the empty path is the root node.
HRESULT HDABrowser::MoveDirect(const std::string &path)
{
    SrwExclusive lock(lock_);
    std::vector<std::string> elements;
    {
        TreeReader reader;
        if (reader.ResolvePath(path) == nullptr)
            return E_FAIL;
        elements = SplitItemId(path, reader.Qualifier(), reader.CodePage());
    }
    position_.swap(elements);
    return S_OK;
}

// The item ID of a name at the position. The name is taken whole (not cut at
// qualifiers); branch names are accepted as well as leaves. An empty name
// gives the position itself, without any lookup.
HRESULT STDMETHODCALLTYPE HDABrowser::GetItemID(LPCWSTR name, LPWSTR *itemId)
{
    Trace(texts::kIOPCHDA_Browser_GetItemID);
    if (itemId == nullptr)
        return E_INVALIDARG;
    *itemId = nullptr;
    return Guarded([&] {
        std::string wanted;
        if (!AnsiFromWide(name, wanted))
            return OPC_E_INVALIDITEMID;
        std::vector<std::string> position = Position();
        std::string path;
        if (wanted.empty()) {
            path = Join(position, Qualifier());
        } else {
            TreeReader reader;
            path = PathBelow(position, reader.Qualifier(), wanted);
            if (reader.ResolvePath(path) == nullptr)
                return OPC_E_INVALIDITEMID;
        }
        return HandOut(path, itemId);
    });
}

HRESULT STDMETHODCALLTYPE HDABrowser::GetBranchPosition(LPWSTR *position)
{
    Trace(texts::kIOPCHDA_Browser_GetBranchPosition);
    if (position == nullptr)
        return E_INVALIDARG;
    *position = nullptr;
    return Guarded([&] {
        std::vector<std::string> elements = Position();
        return HandOut(elements.empty() ? std::string("Root") : Join(elements, Qualifier()),
                       position);
    });
}

} // namespace zq
