// The connection to one OPC HDA server: the server object and its interfaces,
// the server's error texts, advised sinks and item handles. Close() (also run
// by the destructor) unadvises the sinks, releases the item handles and every
// interface.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <map>
#include <string>
#include <vector>

#include "opccomn.h"
#include "runtime/com_kit.h"
#include "opchda.h"
#include "output.h"

namespace zqhda {

// An interface pointer that releases itself.
using zq::ComPtr;

// One item ID of the command with its handles. Every entry gets its own
// client handle (its position + 1), also when an ID appears twice, so that
// callback results map back to exactly one entry.
struct Item
{
    std::wstring id;
    OPCHANDLE client = 0;
    OPCHANDLE server = 0;
    HRESULT error = E_FAIL;  // of GetItemHandles
};

class Session
{
public:
    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session() { Close(); }

    // Creates the server object by ProgID or {CLSID}, on `host` when given.
    // On failure `what` names the step that failed.
    HRESULT Connect(const std::wstring &server, const std::wstring &host, std::wstring &what);
    // Uses an object that exists already (tests run the client in-process).
    HRESULT Attach(IUnknown *object);

    IOPCHDA_Server *Server() const { return server_.Get(); }
    IOPCCommon *Common() const { return common_.Get(); }
    IOPCHDA_SyncRead *SyncRead() const { return syncRead_.Get(); }
    IOPCHDA_SyncUpdate *SyncUpdate() const { return syncUpdate_.Get(); }
    IOPCHDA_AsyncRead *AsyncRead() const { return asyncRead_.Get(); }
    IOPCHDA_AsyncUpdate *AsyncUpdate() const { return asyncUpdate_.Get(); }

    // The server's text for a code (IOPCCommon::GetErrorString); where the
    // server has none (or only says the code is unknown), the client's own
    // text for an OPC code ("... (client's text)"), else the system's, else
    // what the server said; line breaks at the end removed.
    std::wstring ErrorText(HRESULT code);
    // Puts a code with its name and text on the report.
    void ReportStatus(Report &report, const std::wstring &subject, HRESULT code);

    // Advises a sink on the server's connection point for iid; Close()
    // unadvises it.
    HRESULT Advise(REFIID iid, IUnknown *sink);

    // GetItemHandles for the IDs (appended to Items()); per-item errors are in
    // Item::error. Returns the call's result.
    HRESULT AddItems(const std::vector<std::wstring> &ids);
    const std::vector<Item> &Items() const { return items_; }
    // Entries whose handle was obtained.
    std::vector<Item> ValidItems() const;

    void Close();

private:
    HRESULT Adopt(IUnknown *object);

    ComPtr<IUnknown> object_;
    ComPtr<IOPCHDA_Server> server_;
    ComPtr<IOPCCommon> common_;
    ComPtr<IConnectionPointContainer> points_;
    ComPtr<IOPCHDA_SyncRead> syncRead_;
    ComPtr<IOPCHDA_SyncUpdate> syncUpdate_;
    ComPtr<IOPCHDA_AsyncRead> asyncRead_;
    ComPtr<IOPCHDA_AsyncUpdate> asyncUpdate_;
    std::vector<std::pair<ComPtr<IConnectionPoint>, DWORD>> advised_;
    std::vector<Item> items_;
    std::map<HRESULT, std::wstring> texts_;
};

// A CLSID from "{...}" or a ProgID (looked up locally, and through OpcEnum on
// `host` when the local lookup fails).
HRESULT ResolveClsid(const std::wstring &server, const std::wstring &host, CLSID &clsid);

}  // namespace zqhda
