// The fake's object, IOPCHDA_Server, IOPCCommon, connection points, browser
// and worker thread.
#include "fake_historian.h"

#include <olectl.h>

#include <algorithm>
#include <cwchar>

#include "com_object.h"
#include "task_memory.h"

namespace fake {

using xserver::TaskArray;
using xserver::TaskString;

const Ticks kT0 = 134116992000000000ull;  // 2026-01-01T00:00:00Z
const Ticks kNow = kT0 + zqhda::kTicksPerDay;

FILETIME At(double secondsAfterT0)
{
    return zqhda::FileTimeOf(kT0 + static_cast<Ticks>(secondsAfterT0 * zqhda::kTicksPerSecond));
}

namespace {

// The browse tree: Plant { Area1 { Temp }, Pump }, Top.
struct Node
{
    std::wstring name;
    std::vector<Node> children;  // a branch has children
};

const Node &Tree()
{
    static const Node root{L"", {Node{L"Plant", {Node{L"Area1", {Node{L"Temp", {}}}}, Node{L"Pump", {}}}},
                                 Node{L"Top", {}}}};
    return root;
}

class StringEnum final : public xproc::SingleInterface<IEnumString>
{
public:
    explicit StringEnum(std::vector<std::wstring> strings, ULONG position = 0)
        : strings_(std::move(strings)), position_(position)
    {
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR *rgelt, ULONG *fetched) override
    {
        ULONG n = 0;
        for (; n < celt && position_ < strings_.size(); ++n)
            rgelt[n] = TaskString(strings_[position_++].c_str());
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override
    {
        position_ = std::min<ULONG>(position_ + celt, static_cast<ULONG>(strings_.size()));
        return position_ < strings_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumString **ppenum) override
    {
        *ppenum = new StringEnum(strings_, position_);
        return S_OK;
    }

private:
    std::vector<std::wstring> strings_;
    ULONG position_;
};

class Browser final : public xproc::SingleInterface<IOPCHDA_Browser>
{
public:
    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE type, LPENUMSTRING *ppEnum) override
    {
        std::vector<std::wstring> list;
        if (type == OPCHDA_FLAT) {
            Flatten(Tree(), L"", list);
        } else if (type == OPCHDA_BRANCH || type == OPCHDA_LEAF) {
            for (const auto &child : Here().children)
                if (child.children.empty() == (type == OPCHDA_LEAF))
                    list.push_back(child.name);
        } else {
            return E_INVALIDARG;
        }
        *ppEnum = new StringEnum(list);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION direction, LPCWSTR text) override
    {
        if (direction == OPCHDA_BROWSE_UP) {
            if (path_.empty())
                return E_FAIL;
            path_.pop_back();
            return S_OK;
        }
        if (direction == OPCHDA_BROWSE_DOWN)
            return Enter(text, path_);
        std::vector<std::wstring> path;  // direct: a dotted path from the root
        std::wstring rest = text;
        while (!rest.empty()) {
            size_t dot = rest.find(L'.');
            if (FAILED(Enter(rest.substr(0, dot), path)))
                return E_INVALIDARG;
            rest = dot == std::wstring::npos ? L"" : rest.substr(dot + 1);
        }
        path_ = path;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR node, LPWSTR *itemId) override
    {
        std::wstring id;
        for (const auto &p : path_)
            id += p + L".";
        *itemId = TaskString((id + node).c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR *position) override
    {
        return GetItemID(L"", position);
    }

private:
    const Node &At(const std::vector<std::wstring> &path) const
    {
        const Node *n = &Tree();
        for (const auto &name : path)
            for (const auto &child : n->children)
                if (child.name == name)
                    n = &child;
        return *n;
    }
    const Node &Here() const { return At(path_); }
    HRESULT Enter(const std::wstring &name, std::vector<std::wstring> &path) const
    {
        for (const auto &child : At(path).children)
            if (child.name == name && !child.children.empty()) {
                path.push_back(name);
                return S_OK;
            }
        return E_INVALIDARG;
    }
    static void Flatten(const Node &n, const std::wstring &prefix, std::vector<std::wstring> &out)
    {
        for (const auto &child : n.children) {
            if (child.children.empty())
                out.push_back(prefix + child.name);
            else
                Flatten(child, prefix + child.name + L".", out);
        }
    }
    std::vector<std::wstring> path_;
};

}  // namespace

FakeHistorian::FakeHistorian()
    : shutdown_(this, IID_IOPCShutdown), data_(this, IID_IOPCHDA_DataCallback), worker_([this] { WorkerLoop(); })
{
}

FakeHistorian::~FakeHistorian()
{
    Stop();
}

void FakeHistorian::AddItem(const std::wstring &id, std::vector<Point> points)
{
    std::stable_sort(points.begin(), points.end(), [](const Point &a, const Point &b) { return a.time < b.time; });
    std::lock_guard<std::mutex> hold(lock_);
    ids_.push_back(id);
    points_.push_back(std::move(points));
}

size_t FakeHistorian::LiveHandles()
{
    std::lock_guard<std::mutex> hold(lock_);
    return handles_.size();
}

std::vector<RawRequest> FakeHistorian::RawRequests()
{
    std::lock_guard<std::mutex> hold(lock_);
    return rawRequests_;
}

std::vector<DWORD> FakeHistorian::Cancelled()
{
    std::lock_guard<std::mutex> hold(lock_);
    return std::vector<DWORD>(cancelled_.begin(), cancelled_.end());
}

std::wstring FakeHistorian::ClientName()
{
    std::lock_guard<std::mutex> hold(lock_);
    return clientName_;
}

std::vector<Point> FakeHistorian::Points(const std::wstring &id)
{
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < ids_.size(); ++i)
        if (ids_[i] == id)
            return points_[i];
    return {};
}

void FakeHistorian::FireShutdown(const wchar_t *reason)
{
    if (IUnknown *sink = shutdown_.Sink()) {
        static_cast<IOPCShutdown *>(sink)->ShutdownRequest(reason);
        sink->Release();
    }
}

void FakeHistorian::Stop()
{
    {
        std::lock_guard<std::mutex> hold(jobLock_);
        stopping_ = true;
    }
    jobReady_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

HRESULT STDMETHODCALLTYPE FakeHistorian::QueryInterface(REFIID riid, void **ppv)
{
    *ppv = nullptr;
    if (std::find(hidden.begin(), hidden.end(), riid) != hidden.end())
        return E_NOINTERFACE;
    if (riid == IID_IUnknown || riid == IID_IOPCHDA_Server)
        *ppv = static_cast<IOPCHDA_Server *>(this);
    else if (riid == IID_IOPCCommon)
        *ppv = static_cast<IOPCCommon *>(this);
    else if (riid == IID_IOPCHDA_SyncRead)
        *ppv = static_cast<IOPCHDA_SyncRead *>(this);
    else if (riid == IID_IOPCHDA_SyncUpdate)
        *ppv = static_cast<IOPCHDA_SyncUpdate *>(this);
    else if (riid == IID_IOPCHDA_AsyncRead)
        *ppv = static_cast<IOPCHDA_AsyncRead *>(this);
    else if (riid == IID_IOPCHDA_AsyncUpdate)
        *ppv = static_cast<IOPCHDA_AsyncUpdate *>(this);
    else if (riid == IID_IConnectionPointContainer)
        *ppv = static_cast<IConnectionPointContainer *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE FakeHistorian::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

ULONG STDMETHODCALLTYPE FakeHistorian::Release()
{
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

int FakeHistorian::ItemOf(OPCHANDLE handle, OPCHANDLE *client)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto it = handles_.find(handle);
    if (it == handles_.end())
        return -1;
    if (client)
        *client = it->second.second;
    return it->second.first;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::GetItemAttributes(DWORD *pdwCount, DWORD **ppdwAttrID,
                                                           LPWSTR **ppszAttrName, LPWSTR **ppszAttrDesc,
                                                           VARTYPE **ppvtAttrDataType)
{
    *pdwCount = 2;
    *ppdwAttrID = TaskArray<DWORD>(2);
    *ppszAttrName = TaskArray<LPWSTR>(2);
    *ppszAttrDesc = TaskArray<LPWSTR>(2);
    *ppvtAttrDataType = TaskArray<VARTYPE>(2);
    (*ppdwAttrID)[0] = OPCHDA_DESCRIPTION;
    (*ppszAttrName)[0] = TaskString(L"Description");
    (*ppszAttrDesc)[0] = TaskString(L"What the item is");
    (*ppvtAttrDataType)[0] = VT_BSTR;
    (*ppdwAttrID)[1] = OPCHDA_NORMAL_MAXIMUM;
    (*ppszAttrName)[1] = TaskString(L"Normal Maximum");
    (*ppszAttrDesc)[1] = nullptr;
    (*ppvtAttrDataType)[1] = VT_R8;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::GetAggregates(DWORD *pdwCount, DWORD **ppdwAggrID, LPWSTR **ppszAggrName,
                                                       LPWSTR **ppszAggrDesc)
{
    static const struct
    {
        DWORD id;
        const wchar_t *name, *desc;
    } list[] = {{OPCHDA_AVERAGE, L"Average", L"Mean value"},
                {OPCHDA_COUNT, L"Count", L"Number of raw values"},
                {0x80000001u, L"Vendor Median", L"Middle value"}};
    *pdwCount = 3;
    *ppdwAggrID = TaskArray<DWORD>(3);
    *ppszAggrName = TaskArray<LPWSTR>(3);
    *ppszAggrDesc = TaskArray<LPWSTR>(3);
    for (DWORD i = 0; i < 3; ++i) {
        (*ppdwAggrID)[i] = list[i].id;
        (*ppszAggrName)[i] = TaskString(list[i].name);
        (*ppszAggrDesc)[i] = TaskString(list[i].desc);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::GetHistorianStatus(OPCHDA_SERVERSTATUS *pwStatus, FILETIME **pftCurrentTime,
                                                            FILETIME **pftStartTime, WORD *pwMajorVersion,
                                                            WORD *pwMinorVersion, WORD *pwBuildNumber,
                                                            DWORD *pdwMaxReturnValues, LPWSTR *ppszStatusString,
                                                            LPWSTR *ppszVendorInfo)
{
    *pwStatus = OPCHDA_UP;
    *pftCurrentTime = TaskArray<FILETIME>(1);
    **pftCurrentTime = zqhda::FileTimeOf(kNow);
    *pftStartTime = TaskArray<FILETIME>(1);
    **pftStartTime = zqhda::FileTimeOf(kT0);
    *pwMajorVersion = 1;
    *pwMinorVersion = 2;
    *pwBuildNumber = 3;
    *pdwMaxReturnValues = serverMax;
    *ppszStatusString = TaskString(L"Fake running");
    *ppszVendorInfo = TaskString(L"Fake \"historian\"");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::GetItemHandles(DWORD dwCount, LPWSTR *pszItemID, OPCHANDLE *phClient,
                                                        OPCHANDLE **pphServer, HRESULT **ppErrors)
{
    *pphServer = TaskArray<OPCHANDLE>(dwCount);
    *ppErrors = TaskArray<HRESULT>(dwCount);
    HRESULT result = S_OK;
    std::lock_guard<std::mutex> hold(lock_);
    for (DWORD i = 0; i < dwCount; ++i) {
        auto it = std::find(ids_.begin(), ids_.end(), std::wstring(pszItemID[i] ? pszItemID[i] : L""));
        if (it == ids_.end()) {
            (*ppErrors)[i] = OPC_E_UNKNOWNITEMID;
            result = S_FALSE;
            continue;
        }
        (*pphServer)[i] = nextHandle_++;
        handles_[(*pphServer)[i]] = {static_cast<int>(it - ids_.begin()), phClient[i]};
    }
    return result;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ReleaseItemHandles(DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors)
{
    *ppErrors = TaskArray<HRESULT>(dwCount);
    HRESULT result = S_OK;
    std::lock_guard<std::mutex> hold(lock_);
    for (DWORD i = 0; i < dwCount; ++i)
        if (handles_.erase(phServer[i]) == 0) {
            (*ppErrors)[i] = OPC_E_INVALIDHANDLE;
            result = S_FALSE;
        }
    return result;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::ValidateItemIDs(DWORD, LPWSTR *, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::CreateBrowse(DWORD dwCount, DWORD *, OPCHDA_OPERATORCODES *, VARIANT *,
                                                      IOPCHDA_Browser **pphBrowser, HRESULT **ppErrors)
{
    *ppErrors = TaskArray<HRESULT>(dwCount);
    *pphBrowser = new Browser();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::GetLocaleID(LCID *pdwLcid)
{
    *pdwLcid = 0x0409;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::QueryAvailableLocaleIDs(DWORD *pdwCount, LCID **pdwLcid)
{
    *pdwCount = 1;
    *pdwLcid = TaskArray<LCID>(1);
    **pdwLcid = 0x0409;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::GetErrorString(HRESULT dwError, LPWSTR *ppString)
{
    *ppString = nullptr;
    if (dwError == OPC_E_UNKNOWNITEMID)
        *ppString = TaskString(L"fake: no such item\r\n");
    else if (dwError == OPC_S_MOREDATA)
        *ppString = TaskString(L"fake: more data");
    else
        return E_INVALIDARG;  // the client falls back to the system's text
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::SetClientName(LPCWSTR szName)
{
    std::lock_guard<std::mutex> hold(lock_);
    clientName_ = szName ? szName : L"";
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::EnumConnectionPoints(IEnumConnectionPoints **ppEnum)
{
    *ppEnum = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE FakeHistorian::FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP)
{
    *ppCP = riid == IID_IOPCShutdown ? &shutdown_ : riid == IID_IOPCHDA_DataCallback ? &data_ : nullptr;
    if (!*ppCP)
        return CONNECT_E_NOCONNECTION;
    (*ppCP)->AddRef();
    return S_OK;
}

void FakeHistorian::Post(Job job)
{
    {
        std::lock_guard<std::mutex> hold(jobLock_);
        jobs_.push_back(std::move(job));
    }
    jobReady_.notify_all();
}

void FakeHistorian::WorkerLoop()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<Job> periodic;  // subscriptions: run about every 10 ms
    std::unique_lock<std::mutex> hold(jobLock_);
    for (;;) {
        jobReady_.wait_for(hold, std::chrono::milliseconds(10), [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            break;
        std::vector<Job> round;
        round.swap(jobs_);
        hold.unlock();
        for (auto &job : periodic)
            round.push_back(std::move(job));
        periodic.clear();
        for (auto &job : round)
            if (job())
                periodic.push_back(std::move(job));
        hold.lock();
    }
    jobs_.clear();
    hold.unlock();
    periodic.clear();
    CoUninitialize();
}

bool FakeHistorian::DataSinkAdvised()
{
    IUnknown *sink = data_.Sink();
    if (sink)
        sink->Release();
    return sink != nullptr;
}

bool FakeHistorian::ShutdownSinkAdvised()
{
    IUnknown *sink = shutdown_.Sink();
    if (sink)
        sink->Release();
    return sink != nullptr;
}

bool FakeHistorian::IsCancelled(DWORD cancelId)
{
    std::lock_guard<std::mutex> hold(lock_);
    return cancelled_.count(cancelId) != 0;
}

}  // namespace fake
