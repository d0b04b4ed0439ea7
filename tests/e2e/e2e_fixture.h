// End-to-end tests against the sample historian in its own process.
//
// Once per program: a data folder with CSV histories of known values is
// written next to the test program, the historian is registered with that
// folder and a fresh journal, and COM starts it on the first CoCreateInstance.
// The historian ends on its own when its last client leaves.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <string>
#include <vector>

#include "opccomn.h"
#include "opchda.h"
#include "opchda_constants.h"
#include "process_runner.h"

namespace e2e {

// History of the data folder: every item starts at kT0 (2026-01-01 00:00 UTC).
//  Plant.Line1.Flow   60 values 0, 1, ..., 59 every 10 s (10 minutes)
//  Plant.Line1.Level  5 values 10, 20, 30, 40, 50 every minute, stepped
//  Plant.Line2.Temp   3 values 20.5, 21.5, 22.5 every 5 minutes, with a
//                     Description and Eng Units
extern const uint64_t kT0;
constexpr uint64_t kSecond = 10000000ull;
const wchar_t kFlow[] = L"Plant.Line1.Flow";
const wchar_t kLevel[] = L"Plant.Line1.Level";
const wchar_t kTemp[] = L"Plant.Line2.Temp";

inline uint64_t At(int64_t seconds) { return kT0 + static_cast<uint64_t>(seconds) * kSecond; }
inline FILETIME Ft(uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }
inline uint64_t Ticks(const FILETIME &f)
{
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}
// An absolute OPCHDA_TIME (no text crosses the wire).
inline OPCHDA_TIME Absolute(uint64_t t) { return OPCHDA_TIME{FALSE, nullptr, Ft(t)}; }
// "2026-01-01T00:05:00Z" (whole seconds).
std::string Iso(uint64_t t);

// Cross-architecture runs (label "cross"): ZQ_E2E_HISTORIAN_DIR names the
// other build's bin folder (a Windows path). Its historian is registered
// beside this build's, each in the registry view of its own bitness, and the
// LocalServer32 of this program's view names the other build's historian
// (COM reads the client's view; Wine ignores the CLSCTX bitness flags). Empty
// otherwise.
std::string OtherArchitectureBin();
// The CLSCTX of every creation request: a local server, asked to be of the
// other bitness in a cross-architecture run (as Windows takes it).
DWORD ServerContext();

// Runs zqhda.exe against the historian (60 s at most). A historian that is
// just ending can still be handed out by COM for a moment; the client is
// then run again, as a user would.
zqtest::ProcessResult Zqhda(const std::string &arguments);

// A relative OPCHDA_TIME; the text is task memory the call may rewrite.
OPCHDA_TIME Relative(const wchar_t *text);
void FreeTime(OPCHDA_TIME &t);

// A connection to the historian as a client holds it.
class Client
{
public:
    Client();
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool Connected() const { return server != nullptr; }
    // Server handles for the IDs (client handles 1, 2, ...); each must exist.
    std::vector<OPCHANDLE> Handles(const std::vector<const wchar_t *> &ids);
    // The server's error text for a code.
    std::string ErrorText(HRESULT code);

    IOPCHDA_Server *server = nullptr;
    IOPCCommon *common = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    IOPCHDA_SyncUpdate *update = nullptr;
    HRESULT created = E_FAIL;
};

// Values of one OPCHDA_ITEM, copied out.
struct Values
{
    std::vector<uint64_t> times;
    std::vector<DWORD> qualities;
    std::vector<double> numbers; // VT_R8 (or converted); NaN for VT_EMPTY
};
Values Copy(const OPCHDA_ITEM &item);
// Frees what a server handed out, the client's way.
void FreeItems(OPCHDA_ITEM *items, DWORD count);
// One synchronous raw read of one item: the item's code (or the call's
// failure), its values in out.
HRESULT ReadRaw(Client &c, OPCHANDLE h, OPCHDA_TIME start, OPCHDA_TIME end, DWORD max, BOOL bounds,
                Values *out);

// The historian's process, found by its executable name; 0 if none runs.
DWORD HistorianProcess();
// Terminates every process with that executable name.
void KillProcessesNamed(const char *exe);
// Waits until no historian process runs (at most timeoutMs).
bool HistorianGone(DWORD timeoutMs);
// Sets the historian's stop event.
void StopHistorian();

} // namespace e2e
