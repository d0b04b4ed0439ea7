// InitZqHDAsvr, the tick thread (thread mode) and the tick timer (timer mode).
#include "runtime/startup.h"

#include "runtime/client.h"
#include "runtime/server_state.h"
#include "runtime/srw_guard.h"
#include "runtime/thread_stacks.h"
#include "runtime/client_worker.h"

#include <atomic>

namespace zq {

namespace {

// Start-up runs on the host's thread; a second, concurrent call must not
// start twice, so the started flag is claimed with a compare-and-swap and
// released again if start-up fails.
std::atomic<LONG> g_started{0};
std::atomic<TickMode> g_tickMode{TickMode::NotStarted};

CLSID g_serverClsid{};
SRWLOCK g_clsidLock = SRWLOCK_INIT;

// Set at module load, before any start-up; read-only afterwards.
ServerObjects g_objects;

IClassFactory *g_factory = nullptr;
DWORD g_factoryCookie = 0;

UINT_PTR g_timerModeTimer = 0;

HANDLE g_tickThread = nullptr;
HWND g_tickWindow = nullptr;
UINT_PTR g_tickThreadTimer = 0;

SECURITY_DESCRIPTOR g_threadSd;
SECURITY_ATTRIBUTES g_threadSa;

LRESULT CALLBACK TickWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The tick of thread mode: the tick event is pulsed as before for whoever
// waits on it, and every worker whose client has transactions is signalled;
// a worker that is busy keeps the signal and steps again when it is done.
VOID CALLBACK TickThreadTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    HANDLE ev = TickEvent();
    if (ev != nullptr)
        PulseEvent(ev);
    TickWorkers();
}

VOID CALLBACK TimerModeProc(HWND, UINT, UINT_PTR, DWORD) { TickAllClients(); }

DWORD WINAPI TickThread(LPVOID)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc; // 48 bytes on the 32-bit target
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = TickWindowProc;
    wc.lpszClassName = "ZQTimerNotify";
    RegisterClassExA(&wc);

    // Without a display the window may fail to appear; the thread timer below
    // needs no window, so the tick runs either way.
    g_tickWindow = CreateWindowExA(0, "ZQTimerNotify", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                   nullptr, nullptr);
    g_tickThreadTimer = SetTimer(nullptr, 0, State().settings.tickPeriod.load(), TickThreadTimerProc);
    if (g_tickWindow != nullptr) {
        ShowWindow(g_tickWindow, SW_HIDE);
        UpdateWindow(g_tickWindow);
    }

    MSG msg;
    BOOL r;
    while ((r = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (r == -1)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<DWORD>(msg.wParam);
}

// A started server's threads run this module's code until the process ends,
// so the module must not be unloaded under them: pin it.
void PinModule()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&TickThread), &self);
}

} // namespace

TickMode CurrentTickMode() { return g_tickMode.load(); }

CLSID ServerClsid()
{
    SrwShared hold(g_clsidLock);
    return g_serverClsid;
}

void SetServerClsid(const CLSID &clsid)
{
    SrwExclusive hold(g_clsidLock);
    g_serverClsid = clsid;
}

void SetServerObjects(const ServerObjects &objects) { g_objects = objects; }

void StopTimerMode()
{
    if (g_timerModeTimer != 0) {
        KillTimer(nullptr, g_timerModeTimer);
        g_timerModeTimer = 0;
    }
}

void RevokeClassFactory(bool callCom)
{
    if (g_factory == nullptr)
        return;
    if (callCom) {
        if (g_objects.releaseAnchors != nullptr)
            g_objects.releaseAnchors();
        CoRevokeClassObject(g_factoryCookie);
        if (g_objects.deleteFactory != nullptr)
            g_objects.deleteFactory(g_factory);
    }
    g_factory = nullptr;
    g_factoryCookie = 0;
}

int StartServer(CLSID clsid, DWORD tickPeriodMs)
{
    // 1. Refuse a second start.
    LONG expected = 0;
    if (!g_started.compare_exchange_strong(expected, 1))
        return 0;
    ServerState &s = State();

    // 2. The class identifier.
    SetServerClsid(clsid);

    // 3. Security attributes for the tick thread: a null DACL (everyone).
    InitializeSecurityDescriptor(&g_threadSd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&g_threadSd, TRUE, nullptr, FALSE);
    g_threadSa.nLength = sizeof g_threadSa;
    g_threadSa.lpSecurityDescriptor = &g_threadSd;
    g_threadSa.bInheritHandle = TRUE;

    // 4. The multithreaded apartment, or timer mode if this thread is in an STA.
    HRESULT hrInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool threadMode = SUCCEEDED(hrInit);

    // 5-6. The task allocator.
    IMalloc *malloc = nullptr;
    if (FAILED(CoGetMalloc(1, &malloc)) || malloc == nullptr) {
        if (threadMode)
            CoUninitialize();
        g_started = 0;
        return 0;
    }
    s.taskAllocator = malloc;

    // 7. Start time.
    CoFileTimeNow(&s.startTime);

    // 8. The class factory; failures are not reported (no client can connect).
    g_factory = g_objects.createFactory != nullptr ? g_objects.createFactory() : nullptr;
    if (g_factory != nullptr) {
        if (FAILED(CoRegisterClassObject(clsid, g_factory, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE, &g_factoryCookie)))
            g_factoryCookie = 0;
    }

    // Interface registrations are kept for the server's life.
    if (g_objects.anchorInterfaces != nullptr)
        g_objects.anchorInterfaces();

    // 9. Tick period, never below 10 ms.
    State().settings.tickPeriod = tickPeriodMs < 10 ? 10 : tickPeriodMs;

    // 10. The tick.
    if (threadMode) {
        g_timerModeTimer = 0;
        g_tickMode = TickMode::Thread;
        g_tickThread = CreateThread(&g_threadSa, kTickThreadStack, TickThread, nullptr,
                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    } else {
        g_tickMode = TickMode::Timer;
        g_timerModeTimer = SetTimer(nullptr, 0, State().settings.tickPeriod.load(), TimerModeProc);
    }

    // 11. Started.
    PinModule();
    return 1;
}

} // namespace zq
