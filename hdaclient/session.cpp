#include "session.h"

#include <olectl.h>

#include <cwctype>

#include "error_texts.h"
#include "values.h"

namespace zqhda {

namespace {

// Frees a task-memory array when it goes out of scope.
template <class T>
struct TaskArray
{
    T *p = nullptr;
    ~TaskArray() { CoTaskMemFree(p); }
};

bool IsThisMachine(const std::wstring &host)
{
    if (host.empty() || host == L"." || _wcsicmp(host.c_str(), L"localhost") == 0)
        return true;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) && _wcsicmp(name, host.c_str()) == 0;
}

}  // namespace

HRESULT ResolveClsid(const std::wstring &server, const std::wstring &host, CLSID &clsid)
{
    if (!server.empty() && server[0] == L'{')
        return CLSIDFromString(server.c_str(), &clsid);
    HRESULT hr = CLSIDFromProgID(server.c_str(), &clsid);
    if (SUCCEEDED(hr) || IsThisMachine(host))
        return hr;
    // The ProgID may be registered on the server's machine only: ask OpcEnum there.
    COSERVERINFO info{};
    info.pwszName = const_cast<LPWSTR>(host.c_str());
    MULTI_QI qi{&IID_IOPCServerList, nullptr, S_OK};
    HRESULT enumHr = CoCreateInstanceEx(CLSID_OpcServerList, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi);
    if (FAILED(enumHr) || FAILED(qi.hr))
        return hr;
    ComPtr<IOPCServerList> list(static_cast<IOPCServerList *>(qi.pItf));
    HRESULT listHr = list->CLSIDFromProgID(server.c_str(), &clsid);
    return SUCCEEDED(listHr) ? listHr : hr;
}

namespace {
constexpr int kCreateAttempts = 5;
constexpr DWORD kCreateRetryMs = 400;

// Codes of a server process that ended or is ending under the request.
bool ServerWasEnding(HRESULT hr)
{
    switch (static_cast<unsigned long>(hr)) {
    case 0x800706BAul: // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BEul: // RPC_S_CALL_FAILED
    case 0x800706BFul: // RPC_S_CALL_FAILED_DNE
    case 0x80004018ul: // CO_E_SERVER_STOPPING
    case 0x80010108ul: // RPC_E_DISCONNECTED
    case 0x80010007ul: // RPC_E_SERVER_DIED
    case 0x80010012ul: // RPC_E_SERVER_DIED_DNE
        return true;
    default:
        return false;
    }
}
} // namespace

HRESULT Session::Connect(const std::wstring &server, const std::wstring &host, std::wstring &what)
{
    Close();
    CLSID clsid;
    HRESULT hr = ResolveClsid(server, host, clsid);
    if (FAILED(hr)) {
        what = L"no server class \"" + server + L"\"";
        return hr;
    }
    bool local = IsThisMachine(host);
    COSERVERINFO info{};
    info.pwszName = const_cast<LPWSTR>(host.c_str());
    MULTI_QI qi{&IID_IUnknown, nullptr, S_OK};
    // A server started by COM ends when its last client leaves; a creation
    // request that reaches it while it ends fails with one of the codes of a
    // server going away. The next request starts a new server: retry a few
    // times, briefly, as OPC clients do.
    for (int attempt = 1;; ++attempt) {
        qi = MULTI_QI{&IID_IUnknown, nullptr, S_OK};
        hr = CoCreateInstanceEx(clsid, nullptr,
                                local ? CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER : CLSCTX_REMOTE_SERVER,
                                local ? nullptr : &info, 1, &qi);
        if (SUCCEEDED(hr))
            hr = qi.hr;
        if (SUCCEEDED(hr) || !ServerWasEnding(hr) || attempt == kCreateAttempts)
            break;
        if (qi.pItf != nullptr) {
            qi.pItf->Release();
            qi.pItf = nullptr;
        }
        Sleep(kCreateRetryMs);
    }
    if (FAILED(hr)) {
        what = L"the server object could not be created" + (local ? std::wstring() : L" on " + host);
        return hr;
    }
    ComPtr<IUnknown> object(qi.pItf);
    hr = Adopt(object.Get());
    if (FAILED(hr))
        what = L"the object is not an OPC HDA server (no IOPCHDA_Server)";
    else if (common_)
        common_->SetClientName(L"zqhda");
    return hr;
}

HRESULT Session::Attach(IUnknown *object)
{
    Close();
    return Adopt(object);
}

HRESULT Session::Adopt(IUnknown *object)
{
    HRESULT hr = server_.QueryFrom(object);
    if (FAILED(hr))
        return hr;
    object->AddRef();
    object_ = ComPtr<IUnknown>(object);
    common_.QueryFrom(object);
    points_.QueryFrom(object);
    syncRead_.QueryFrom(object);
    syncUpdate_.QueryFrom(object);
    asyncRead_.QueryFrom(object);
    asyncUpdate_.QueryFrom(object);
    return S_OK;
}

std::wstring Session::ErrorText(HRESULT code)
{
    auto known = texts_.find(code);
    if (known != texts_.end())
        return known->second;
    std::wstring text;
    LPWSTR serverText = nullptr;
    if (common_ && SUCCEEDED(common_->GetErrorString(code, &serverText)) && serverText)
        text = serverText;
    CoTaskMemFree(serverText);
    // A server without a text of its own for an OPC code gets the client's,
    // marked as such.
    std::wstring own = ClientCodeText(code);
    if (!own.empty() && IsPlaceholderText(text, code))
        text = own + L" (client's text)";
    if (IsPlaceholderText(text, code)) {
        std::wstring placeholder = text;
        LPWSTR systemText = nullptr;
        if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&systemText), 0,
                           nullptr) &&
            systemText)
            text = systemText;
        LocalFree(systemText);
        if (IsPlaceholderText(text, code))
            text = placeholder;
    }
    while (!text.empty() && iswspace(text.back()))
        text.pop_back();
    texts_[code] = text;
    return text;
}

void Session::ReportStatus(Report &report, const std::wstring &subject, HRESULT code)
{
    report.Status(subject, code, CodeName(code), ErrorText(code));
}

HRESULT Session::Advise(REFIID iid, IUnknown *sink)
{
    if (!points_)
        return CONNECT_E_NOCONNECTION;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = points_->FindConnectionPoint(iid, point.Put());
    if (FAILED(hr))
        return hr;
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    if (SUCCEEDED(hr))
        advised_.emplace_back(point, cookie);
    return hr;
}

HRESULT Session::AddItems(const std::vector<std::wstring> &ids)
{
    if (ids.empty())
        return S_OK;
    if (!server_)
        return E_POINTER;
    std::vector<LPWSTR> idPointers;
    std::vector<OPCHANDLE> clients;
    size_t first = items_.size();
    for (size_t i = 0; i < ids.size(); ++i) {
        Item item;
        item.id = ids[i];
        item.client = static_cast<OPCHANDLE>(first + i + 1);
        items_.push_back(item);
        clients.push_back(item.client);
    }
    for (size_t i = first; i < items_.size(); ++i)
        idPointers.push_back(const_cast<LPWSTR>(items_[i].id.c_str()));
    TaskArray<OPCHANDLE> handles;
    TaskArray<HRESULT> errors;
    HRESULT hr = server_->GetItemHandles(static_cast<DWORD>(ids.size()), idPointers.data(), clients.data(),
                                         &handles.p, &errors.p);
    for (size_t i = 0; i < ids.size(); ++i) {
        Item &item = items_[first + i];
        if (FAILED(hr) || !handles.p || !errors.p) {
            item.error = FAILED(hr) ? hr : E_UNEXPECTED;
            continue;
        }
        item.error = errors.p[i];
        item.server = handles.p[i];
    }
    if (FAILED(hr))
        items_.resize(first);
    return hr;
}

std::vector<Item> Session::ValidItems() const
{
    std::vector<Item> valid;
    for (const auto &item : items_)
        if (SUCCEEDED(item.error))
            valid.push_back(item);
    return valid;
}

void Session::Close()
{
    for (auto &entry : advised_)
        entry.first->Unadvise(entry.second);
    advised_.clear();
    std::vector<OPCHANDLE> handles;
    for (const auto &item : items_)
        if (SUCCEEDED(item.error))
            handles.push_back(item.server);
    items_.clear();
    if (server_ && !handles.empty()) {
        TaskArray<HRESULT> errors;
        server_->ReleaseItemHandles(static_cast<DWORD>(handles.size()), handles.data(), &errors.p);
    }
    asyncUpdate_.Reset();
    asyncRead_.Reset();
    syncUpdate_.Reset();
    syncRead_.Reset();
    points_.Reset();
    common_.Reset();
    server_.Reset();
    object_.Reset();
    texts_.clear();
}

}  // namespace zqhda
