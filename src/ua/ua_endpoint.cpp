#include "ua/ua_endpoint.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "runtime/server_state.h"
#include "runtime/srw_guard.h"
#include "runtime/task_memory.h"
#include "runtime/trace.h"
#include "ua/ua_access.h"
#include "ua/ua_history.h"
#include "ua/ua_nodes.h"
#include "ua/ua_read_common.h"

namespace zq {

namespace {

// The endpoint's thread reserves this much stack: the stack decodes nested
// structures recursively.
constexpr SIZE_T kUaThreadStack = 1024 * 1024;

struct Endpoint
{
    UA_Server *server = nullptr;
    HANDLE thread = nullptr;
    HMODULE module = nullptr;
    std::atomic<bool> stop{false};
};

// Start and Stop take turns under this lock; g_endpoint is what runs.
SRWLOCK g_lock = SRWLOCK_INIT;
Endpoint *g_endpoint = nullptr;

// The stack's messages of warning level and above go to the trace channel
// while tracing is on; the rest is dropped.
void LogToTrace(void *, UA_LogLevel level, UA_LogCategory, const char *msg, va_list args)
{
    if (level < UA_LOGLEVEL_WARNING || !Tracing())
        return;
    char text[100];
    int n = std::snprintf(text, sizeof text, "UA: ");
    std::vsnprintf(text + n, sizeof text - static_cast<size_t>(n), msg, args);
    TraceSlow(text);
}

UA_Logger g_logger = {LogToTrace, nullptr, nullptr};

DWORD WINAPI Serve(void *parameter)
{
    Endpoint *e = static_cast<Endpoint *>(parameter);
    while (!e->stop.load())
        UA_Server_run_iterate(e->server, true);
    UA_Server_run_shutdown(e->server);
    UA_Server_delete(e->server);
    e->server = nullptr;
    ReleaseEarlierResponses();
    FreeLibraryAndExitThread(e->module, 0);
}

// The URL's host and port: E_INVALIDARG unless it is opc.tcp://host:port
// (a port of 0 or none: 4840).
HRESULT CheckUrl(const std::string &url)
{
    UA_String text;
    text.length = url.size();
    text.data = reinterpret_cast<UA_Byte *>(const_cast<char *>(url.data()));
    UA_String host = UA_STRING_NULL;
    UA_String path = UA_STRING_NULL;
    UA_UInt16 port = 0;
    if (url.compare(0, 10, "opc.tcp://") != 0 ||
        UA_parseEndpointUrl(&text, &host, &port, &path) != UA_STATUSCODE_GOOD ||
        host.length == 0)
        return E_INVALIDARG;
    return S_OK;
}

UA_StatusCode Configure(UA_ServerConfig *config, const std::string &url, int flags)
{
    config->logging = &g_logger;
    UA_StatusCode status = UA_ServerConfig_setMinimal(config, 4840, nullptr);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    UA_Array_delete(config->serverUrls, config->serverUrlsSize, &UA_TYPES[UA_TYPES_STRING]);
    config->serverUrls = nullptr;
    config->serverUrlsSize = 0;
    UA_String given;
    given.length = url.size();
    given.data = reinterpret_cast<UA_Byte *>(const_cast<char *>(url.data()));
    status = UA_Array_copy(&given, 1, reinterpret_cast<void **>(&config->serverUrls),
                           &UA_TYPES[UA_TYPES_STRING]);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    config->serverUrlsSize = 1;

    UA_ApplicationDescription &app = config->applicationDescription;
    UA_String_clear(&app.applicationUri);
    app.applicationUri = UA_STRING_ALLOC("urn:ZqHDAsvr:items");
    UA_LocalizedText_clear(&app.applicationName);
    const std::string vendor = State().settings.Vendor();
    app.applicationName = UA_LOCALIZEDTEXT_ALLOC(
        "", vendor.empty() ? "ZqHDAsvr historian" : vendor.c_str());
    UA_String_clear(&config->buildInfo.productName);
    config->buildInfo.productName = UA_STRING_ALLOC("ZqHDAsvr OPC UA endpoint");
    UA_String_clear(&config->buildInfo.manufacturerName);
    config->buildInfo.manufacturerName = UA_STRING_ALLOC("ZqHDAsvr");

    status = InstallAccessControl(config, (flags & kUaNoAnonymous) == 0);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    InstallHistoryDatabase(config);
    return UA_STATUSCODE_GOOD;
}

HRESULT HresultOf(UA_StatusCode status)
{
    return status == UA_STATUSCODE_BADOUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL;
}

} // namespace

HRESULT StartUaEndpoint(const char *url, int flags)
{
    if ((flags & ~kUaNoAnonymous) != 0)
        return E_INVALIDARG;
    std::string address;
    try {
        address = url != nullptr && *url != '\0' ? url : kDefaultUaUrl;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = CheckUrl(address);
    if (FAILED(hr))
        return hr;

    SrwExclusive hold(g_lock);
    if (g_endpoint != nullptr)
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    // The results of the history requests come from the task allocator,
    // also when the host has not started the COM server (yet).
    if (!EnsureTaskAllocator())
        return E_OUTOFMEMORY;
    UA_ServerConfig config;
    memset(&config, 0, sizeof config);
    UA_StatusCode status = Configure(&config, address, flags);
    if (status != UA_STATUSCODE_GOOD) {
        UA_ServerConfig_clean(&config);
        return HresultOf(status);
    }
    // The server takes the configuration over, also when it fails.
    UA_Server *server = UA_Server_newWithConfig(&config);
    if (server == nullptr)
        return E_OUTOFMEMORY;
    status = AddItemNodes(server);
    if (status == UA_STATUSCODE_GOOD)
        status = UA_Server_run_startup(server);
    if (status != UA_STATUSCODE_GOOD) {
        UA_Server_run_shutdown(server);
        UA_Server_delete(server);
        ZQ_TRACEF("UA endpoint %.60s not started", address.c_str());
        return HresultOf(status);
    }
    Endpoint *e = new (std::nothrow) Endpoint();
    HMODULE module = nullptr;
    if (e == nullptr ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&StartUaEndpoint), &module)) {
        delete e;
        UA_Server_run_shutdown(server);
        UA_Server_delete(server);
        return E_OUTOFMEMORY;
    }
    e->server = server;
    e->module = module;
    e->thread = CreateThread(nullptr, kUaThreadStack, Serve, e,
                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (e->thread == nullptr) {
        FreeLibrary(module);
        UA_Server_run_shutdown(server);
        UA_Server_delete(server);
        delete e;
        return E_OUTOFMEMORY;
    }
    g_endpoint = e;
    ZQ_TRACEF("UA endpoint %.70s", address.c_str());
    return S_OK;
}

HRESULT StopUaEndpoint()
{
    SrwExclusive hold(g_lock);
    Endpoint *e = g_endpoint;
    if (e == nullptr)
        return S_FALSE;
    e->stop = true;
    WaitForSingleObject(e->thread, INFINITE);
    CloseHandle(e->thread);
    delete e;
    g_endpoint = nullptr;
    return S_OK;
}

bool UaEndpointRunning()
{
    SrwShared hold(g_lock);
    return g_endpoint != nullptr;
}

} // namespace zq
