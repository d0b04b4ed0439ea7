/*
 * ZqHDAsvr: turns a Windows application (the host) into an OPC Historical
 * Data Access 1.x server.
 *
 * The host defines its address space with the Define... functions, supplies
 * history through an object of a class derived from CZqHDACallback (or through
 * plain stdcall callbacks installed with the Enable...Callback functions), and
 * starts the COM server with InitZqHDAsvr. The library implements every COM
 * object an OPC HDA client talks to.
 *
 * Calling conventions: every exported function is __stdcall. The i686 DLL
 * exports each under its decorated name (_InitZqHDAsvr@20) and under its
 * plain name (InitZqHDAsvr); the x86_64 DLL, where stdcall has no decoration,
 * under its plain name only. Link with the import library libZqHDAsvr.dll.a
 * (mingw), or bind at run time with GetProcAddress.
 *
 * C++ class ABI: CZqHDACallback is a C++ class with virtual methods. Its
 * layout and calling convention are those of the compiler that built the DLL
 * (mingw g++: Itanium C++ ABI, two virtual-table slots for the destructor,
 * __thiscall members on i686), on both architectures. A host built with
 * another compiler (MSVC) cannot derive from it; such a host installs the
 * plain stdcall callbacks instead, which are compiler-neutral.
 *
 * Legacy names: the export names are kept as the library's first hosts
 * linked them, spelling included. NumbrHDAClientConnections ("Numbr") is the
 * number of connected clients. The functions ending in 1 (InitZqHDAsvr1,
 * HDAUpdateRegistry1, UnregisterHDAServer1) are the same as their namesakes
 * without it, but take the class identifier by pointer, for languages that
 * cannot pass a 16-byte structure by value; a null pointer gives 0.
 *
 * Item handles are opaque pointer-sized values; (void*)-1 means "no item". A
 * handle is never given to a second item while the module is loaded.
 *
 * Text from the host is 8-bit text in the process's ANSI code page.
 */
#ifndef ZQHDASVR_H
#define ZQHDASVR_H

#include <windows.h>
#include <ole2.h>
#include "opchda.h"

#if defined(ZQHDASVR_STATIC)
#define ZQHDA_API
#define ZQHDA_CLASS
#elif defined(ZQHDASVR_BUILD)
#define ZQHDA_API /* exported through ZqHDAsvr.def */
#define ZQHDA_CLASS __declspec(dllexport)
#else
#define ZQHDA_API __declspec(dllimport)
#define ZQHDA_CLASS __declspec(dllimport)
#endif

#define ZQHDA_INVALID_ITEM ((void *)(INT_PTR)-1)

#ifdef __cplusplus
/*
 * The host's history, reached by the library's read and update engines.
 *
 * Derive from this class and override the methods the historian supports;
 * install one object with SetHDAServerCallback and keep it alive while the
 * module is loaded. A method that is not overridden forwards to its plain
 * callback (Enable...Callback) if one is installed, else returns its default.
 *
 * Methods are called concurrently from several threads (client calls, the
 * library's threads that run asynchronous requests); they must be
 * thread-safe. The library's own threads reserve 256 KB of stack (its tick
 * thread 128 KB), so that a 32-bit server holds many clients: keep large
 * buffers off the stack in these methods. The COM runtime's call threads take the program's default stack
 * reservation (MSVC /STACK, mingw -Wl,--stack; 1 MB and 2 MB by default): a
 * host expecting many concurrent clients should set it to 256 KB or so.
 *
 * Results: 0 means success; any other value, success codes included, counts
 * as failure, except GetTimeStamps and PrepareAggregates, which return counts.
 *
 * Context value: GetTimeStamps and PrepareAggregates receive a pointer to a
 * variable set to 0; whatever the host stores there is passed back as the
 * last argument of the later calls of the same request for the same item.
 * It is a ULONG_PTR: unsigned long on i686, pointer-sized on x86_64, so a
 * host can keep a pointer in it on both.
 */
class ZQHDA_CLASS CZqHDACallback
{
public:
    CZqHDACallback();
    CZqHDACallback(const CZqHDACallback &other);
    CZqHDACallback &operator=(const CZqHDACallback &other);
    virtual ~CZqHDACallback();

    /* Time stamps of the stored values from *start to *end (either may be
       null: open). maxCount 0 (times null): return how many there are.
       Otherwise write at most maxCount into times and return how many. A
       raw read asks for the count first when the client allows many values
       (numValues 0 or above a few thousand), and sizes its list by it; a
       host that answers 0 there gets a list that grows, asked again. */
    virtual int GetTimeStamps(void *hItem, FILETIME *start, FILETIME *end, int maxCount,
                              FILETIME *times, ULONG_PTR *context);
    /* Nearest stored time stamp before / after time; 0 if there is one. */
    virtual long GetPreviousTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                      ULONG_PTR context);
    virtual long GetNextTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                  ULONG_PTR context);
    /* Value and quality at a time stamp. */
    virtual long ReadAt(void *hItem, FILETIME time, VARIANT *value, unsigned long *quality,
                        ULONG_PTR context);
    /* Current value of an attribute, with its time stamp. */
    virtual long ReadCurrentAttribute(void *hItem, unsigned long attributeId, FILETIME *stamp,
                                      VARIANT *value);
    /* Value of an attribute at a time. */
    virtual long ReadAttributeAt(void *hItem, unsigned long attributeId, FILETIME time,
                                 VARIANT *value, ULONG_PTR context);
    /* Called once per item before the intervals of a processed read. */
    virtual int PrepareAggregates(void *hItem, unsigned long aggregateId, FILETIME start,
                                  FILETIME end, FILETIME resampleInterval,
                                  ULONG_PTR *context);
    /* Aggregate value of one interval; the host may move both bounds. */
    virtual long ReadProcessed(void *hItem, unsigned long aggregateId, FILETIME *intervalStart,
                               FILETIME *intervalEnd, VARIANT *value, unsigned long *quality,
                               ULONG_PTR context);
    /* OPCHDA_UPDATECAPABILITIES bits the historian supports. */
    virtual long QueryUpdateCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities);
    /* Updates: the result is the item's OPC HDA status (OPC_S_INSERTED, ...).
       user is the client's user name ("Unknown" without access control). */
    virtual long Insert(char *user, void *hItem, FILETIME time, VARIANT *value,
                        unsigned long quality);
    virtual long Replace(char *user, void *hItem, FILETIME time, VARIANT *value,
                         unsigned long quality);
    virtual long InsertReplace(char *user, void *hItem, FILETIME time, VARIANT *value,
                               unsigned long quality);
    /* Raw delete: the client's time records, unresolved (relative texts stay text). */
    virtual long DeleteRaw(char *user, void *hItem, OPCHDA_TIME *start, OPCHDA_TIME *end);
    virtual long DeleteAtTime(char *user, void *hItem, FILETIME time);
};
#else
typedef struct CZqHDACallback CZqHDACallback;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Plain callbacks: the method's arguments without the context value, then a
   pointer through which the callback returns the method's result. */
typedef void(__stdcall *ZQHDA_GetTimeStampsProc)(void *hItem, FILETIME *start, FILETIME *end,
                                                  int maxCount, FILETIME *times, int *result);
typedef void(__stdcall *ZQHDA_GetPreviousTimeStampProc)(void *hItem, FILETIME time,
                                                         FILETIME *stamp, long *result);
typedef void(__stdcall *ZQHDA_GetNextTimeStampProc)(void *hItem, FILETIME time, FILETIME *stamp,
                                                     long *result);
typedef void(__stdcall *ZQHDA_ReadAtProc)(void *hItem, FILETIME time, VARIANT *value,
                                           unsigned long *quality, long *result);
typedef void(__stdcall *ZQHDA_ReadCurrentAttributeProc)(void *hItem, unsigned long attributeId,
                                                         FILETIME *stamp, VARIANT *value,
                                                         long *result);
typedef void(__stdcall *ZQHDA_ReadAttributeAtProc)(void *hItem, unsigned long attributeId,
                                                    FILETIME time, VARIANT *value, long *result);
typedef void(__stdcall *ZQHDA_PrepareAggregatesProc)(void *hItem, unsigned long aggregateId,
                                                      FILETIME start, FILETIME end,
                                                      FILETIME resampleInterval, int *result);
typedef void(__stdcall *ZQHDA_ReadProcessedProc)(void *hItem, unsigned long aggregateId,
                                                  FILETIME *intervalStart, FILETIME *intervalEnd,
                                                  VARIANT *value, unsigned long *quality,
                                                  long *result);
typedef void(__stdcall *ZQHDA_QueryUpdateCapabilitiesProc)(
    OPCHDA_UPDATECAPABILITIES *capabilities, long *result);
typedef void(__stdcall *ZQHDA_UpdateProc)(char *user, void *hItem, FILETIME time, VARIANT *value,
                                           unsigned long quality, long *result);
typedef void(__stdcall *ZQHDA_DeleteRawProc)(char *user, void *hItem, OPCHDA_TIME *start,
                                              OPCHDA_TIME *end, long *result);
typedef void(__stdcall *ZQHDA_DeleteAtTimeProc)(char *user, void *hItem, FILETIME time,
                                                 long *result);

/* Annotations (IOPCHDA_SyncAnnotations, IOPCHDA_AsyncAnnotations). There is
   no CZqHDACallback method for them: they exist only as plain callbacks.
   The read callback reports each annotation of the item stamped from start
   to end (both included, start may be later than end) by calling
   add(list, ...) once per annotation, on its own thread and before it
   returns; list is valid only until then. text and user are ANSI text,
   copied by add. time is the value's time stamp, annotationTime when the
   annotation was made. The insert callback stores one annotation (text) of
   the item at time; annotationTime is when the client asked (the server's
   clock) and user is the name passed for updates ("Unknown" without access
   control). *result 0 means success. */
typedef void(__stdcall *ZQHDA_AddAnnotationProc)(void *list, FILETIME time, const char *text,
                                                  FILETIME annotationTime, const char *user);
typedef void(__stdcall *ZQHDA_ReadAnnotationsProc)(void *hItem, FILETIME start, FILETIME end,
                                                    void *list, ZQHDA_AddAnnotationProc add,
                                                    long *result);
typedef void(__stdcall *ZQHDA_InsertAnnotationProc)(char *user, void *hItem, FILETIME time,
                                                     char *text, FILETIME annotationTime,
                                                     long *result);

/* Modified values (ReadModified). The callback reports each value of the
   item that was replaced or deleted with a time stamp from *start to *end
   (either may be null: open, as for GetTimeStamps) by calling add(list, ...)
   once per value, on its own thread and before it returns; list is valid
   only until then. add copies value (null: empty) and user (ANSI text);
   quality and value are the ones that were replaced or deleted,
   modificationTime when that happened, editType OPCHDA_INSERT,
   OPCHDA_REPLACE, OPCHDA_INSERTREPLACE or OPCHDA_DELETE (any other fails the
   item with E_FAIL), user who did it. maxValues is the most the library
   keeps (0: all): a host that has more should add one more, so that the
   client is told OPC_S_MOREDATA, and may then stop. *result 0 means
   success. */
typedef void(__stdcall *ZQHDA_AddModifiedValueProc)(void *list, FILETIME time, VARIANT *value,
                                                     unsigned long quality,
                                                     FILETIME modificationTime, int editType,
                                                     const char *user);
typedef void(__stdcall *ZQHDA_ReadModifiedProc)(void *hItem, FILETIME *start, FILETIME *end,
                                                 int maxValues, void *list,
                                                 ZQHDA_AddModifiedValueProc add,
                                                 long *result);

/* Host notifications. */
typedef void(__stdcall *ZQHDA_TraceProc)(char *text);
typedef void(__stdcall *ZQHDA_DisconnectProc)(long remainingClients);

/* --- Start-up and control ------------------------------------------------ */

/* Starts the COM server for the class ID with the given tick period (ms,
   at least 10). 1 if started by this call; 0 if already started or failed.
   A thread already in a single-threaded apartment gets timer mode: the tick
   then runs only while that thread dispatches messages. */
ZQHDA_API int __stdcall InitZqHDAsvr(CLSID clsid, DWORD tickPeriodMs);
ZQHDA_API int __stdcall InitZqHDAsvr1(const CLSID *clsid, DWORD tickPeriodMs);
/* Trace texts of client calls, each shorter than 100 bytes. */
ZQHDA_API int __stdcall EnableHDAEventMsgs(ZQHDA_TraceProc proc);
/* Called with the number of remaining clients whenever a client leaves. */
ZQHDA_API int __stdcall EnableHDADisconnectNotification(ZQHDA_DisconnectProc proc);
ZQHDA_API long __stdcall NumbrHDAClientConnections(void);
/* Asks every client with a shutdown sink to disconnect; returns the number of
   clients. Call it before the process ends: clients are not told at exit. */
ZQHDA_API long __stdcall RequestHDADisconnect(void);
ZQHDA_API int __stdcall SetHDAVendorInfo(const char *vendor);
/* The status that IOPCHDA_Server::GetHistorianStatus reports: OPCHDA_UP (the
   default), OPCHDA_DOWN or OPCHDA_INDETERMINATE, with a text saying why
   (null or "" for none), for example a history the host could not load.
   Clients see it from their next call; the library itself refuses nothing
   because of it. 1 when set; 0 for any other status (nothing changes). */
ZQHDA_API int __stdcall SetHDAServerStatus(DWORD status, const char *text);
/* Read limits, each 0 for none (the default); returns 1. Any time, also
   while clients read.
   maxValuesPerItem: most values one item returns per read call. A raw read
   asking for more (numValues), an at-time read of more time stamps or a
   processed read of more intervals gives that item OPC_E_MAXEXCEEDED; a raw
   read of everything (numValues 0) returns at most this many values and
   OPC_S_MOREDATA when there are more; raw-data subscriptions deliver at
   most this many per window. GetHistorianStatus reports it as the maximum
   number of returned values.
   maxIntervalsPerItem: most resample intervals of one item in a processed
   read; more give that item OPC_E_MAXEXCEEDED.
   One reply's bound, with or without these limits: a reply (a synchronous
   call's results, or one asynchronous delivery) holds at most 1,000,000
   values in all its items together, about 44 MB once marshalled, so that
   it can cross between processes of either bitness. Limits above it do not
   lift it. Past it, as for maxValuesPerItem: a processed read of more
   intervals or an at-time read of more time stamps gives the item
   OPC_E_MAXEXCEEDED before anything is read or allocated; raw, modified
   and annotation reads of more (numValues 0, or larger than the bound)
   stop at the bound with OPC_S_MOREDATA; an item whose values no longer
   fit beside the items before it gets OPC_E_MAXEXCEEDED and no values.
   Without host limits GetHistorianStatus reports the bound.
   A raw read's working memory follows the values the host has
   (GetTimeStamps with maxCount 0 is asked first when numValues is large),
   not the numValues a client asks for. */
ZQHDA_API int __stdcall SetHDAReadLimits(DWORD maxValuesPerItem, DWORD maxIntervalsPerItem);
/* Quality words the library writes itself, where the host's quality does
   not apply: for a requested bound that does not exist (raw read with
   bounds) and for a value the host failed to deliver (ReadAt or
   ReadProcessed not 0).
   style 0 (the default): 0x10 (no bound) and 0x20 (not delivered), the
   library's own words; style 1: the OPC HDA 1.1 words OPCHDA_NOBOUND
   (0x00100000) and OPCHDA_NODATA (0x00200000), which clients reading the
   low byte as a DA quality do not take for "Bad".
   Returns the previous style; -1 for an unknown style, which changes
   nothing. Any time, from any thread: each read (synchronous, asynchronous,
   and each raw-data subscription) takes the style once when it is
   requested, so a read in progress keeps the style it started with and
   the next one gets the new one. Qualities the host writes are passed to
   the client unchanged in both styles. */
ZQHDA_API int __stdcall SetHDAQualityStyle(int style);
/* Processed-data subscriptions (IOPCHDA_AsyncRead::AdviseProcessed), off
   by default: until the host switches them on (enable not 0) the method
   answers E_NOTIMPL. Once on, each subscription delivers, through
   OnDataChange, one resample interval of each requested aggregate per item
   for every interval that has ended: the windows follow each other from the
   start time, each as long as the resample interval, and each interval's
   value is what a ReadProcessed of that window gives (the host's
   PrepareAggregates and ReadProcessed, the read limits, the quality style
   taken when the subscription was made). Windows that fell behind are
   delivered in order, each as its own OnDataChange, at most 32 per tick
   step; Cancel ends the subscription (no callback of it is made or running
   once Cancel returns). The subscription runs until it is cancelled, until
   the client's sink goes away or the client leaves: the client's number of
   intervals (dwNumIntervals) is accepted and not used, since each update
   carries exactly one interval. A resample interval of 0 is refused
   (E_INVALIDARG). Any time, from any thread: each request checks the
   setting once when it arrives, and switching it off leaves subscriptions
   already made running. Returns the previous setting (0 or 1). */
ZQHDA_API int __stdcall EnableHDAAdviseProcessed(int enable);
/* Standard aggregates computed by the library, off by default. While on
   (on not 0), GetAggregates lists, after the host's own, every aggregate
   below that the host did not define with DefineHDAAggregate, and
   ReadProcessed (synchronous and asynchronous) and AdviseProcessed compute
   them from the host's raw history: GetTimeStamps for each interval's
   values, ReadAt, GetPreviousTimeStamp / GetNextTimeStamp for the values
   around it. An aggregate the host defined stays the host's
   (PrepareAggregates, ReadProcessed); an ID neither knows gives its item
   OPC_E_INVALIDAGGREGATE. A read holds one interval's raw values at a time.
   Returns the previous setting (0 or 1); any time, from any thread, each
   request checking it once.

   Definitions: those of OPC UA (OPC 10000-13: interpolated and simple bounding
   values, sloped interpolation, or stepped for an item whose OPCHDA_STEPPED
   attribute, read once per request, is true; the configuration below).
   Intervals run from the start time, each as long as the resample interval,
   and the last one ends at the end time: a shorter trailing interval is
   returned too, with OPCHDA_PARTIAL (so is an interval in which the data
   begins). Resample interval 0: one interval from start to end. A start
   later than the end walks the intervals down from the start, each stamped
   with its later end (the actual-time aggregates with their own times).

   Qualities: the OPC DA quality in the low word (0xC0 Good, 0x58
   Uncertain: Sub-Normal, 0x00 Bad; a raw value returned as it is, as by
   Start, End or Interpolative at a stored time, keeps its own), the OPC HDA
   1.1 flags in the high word: OPCHDA_CALCULATED, OPCHDA_INTERPOLATED,
   OPCHDA_PARTIAL, OPCHDA_EXTRADATA (several values share the result:
   OPC UA MultipleValues). An interval without data gets the no-data word of
   SetHDAQualityStyle (0x20, or OPCHDA_NODATA) and no value.

   Decisions where OPC HDA 1.20 and OPC UA differ (the OPC HDA IDs keep
   OPC HDA's units):
   | ID                          | computed as (OPC UA)       | unit / note            |
   | OPCHDA_INTERPOLATIVE        | Interpolative              |                        |
   | OPCHDA_AVERAGE              | Average (good raw values)  |                        |
   | OPCHDA_TIMEAVERAGE          | TimeAverage (interpolated  | TimeAverage2 is        |
   |                             | bounds)                    | 0x80000001             |
   | OPCHDA_TOTAL                | Total                      | value x seconds        |
   | OPCHDA_STDEV                | StandardDeviationSample    | n - 1                  |
   | OPCHDA_VARIANCE             | VarianceSample             | n - 1                  |
   | OPCHDA_DURATIONGOOD / BAD   | DurationGood / DurationBad | seconds (OPC UA: ms)   |
   | OPCHDA_PERCENTGOOD / BAD    | PercentGood / PercentBad   | 0-100                  |
   | OPCHDA_WORSTQUALITY         | WorstQuality               | value: a quality word  |
   | OPCHDA_ANNOTATIONS          | AnnotationCount            | only with a read       |
   |                             |                            | annotation callback    |
   | OPCHDA_REGSLOPE             | (none) least squares over  | value per second       |
   |                             | the good raw values        |                        |
   | OPCHDA_REGCONST             | (none) the line at the     |                        |
   |                             | interval's start           |                        |
   | OPCHDA_REGDEV               | (none) sqrt(SSE / (n - 2)) | 0 below 3 values       |
   Count, Minimum, Maximum, their ActualTime forms, Start, End, Delta and
   Range are the OPC UA aggregates of the same name. Server-specific, under
   their OPC UA names (durations in ms as OPC UA has them): 0x80000001
   TimeAverage2, 0x80000002 Total2, 0x80000003 Minimum2, 0x80000004
   Maximum2, 0x80000005 MinimumActualTime2, 0x80000006 MaximumActualTime2,
   0x80000007 Range2, 0x80000008 WorstQuality2, 0x80000009
   NumberOfTransitions, 0x8000000A DurationInStateZero, 0x8000000B
   DurationInStateNonZero, 0x8000000C StartBound, 0x8000000D EndBound,
   0x8000000E DeltaBounds, 0x8000000F StandardDeviationPopulation,
   0x80000010 VariancePopulation. */
ZQHDA_API int __stdcall EnableHDAStandardAggregates(int on);
/* The OPC UA aggregate configuration of the library's aggregates:
   TreatUncertainAsBad, PercentDataBad, PercentDataGood (0-100) and
   UseSlopedExtrapolation; until called, OPC UA's defaults (0, 100, 100, 0).
   1 when set; 0 for a percentage outside 0-100 (nothing changes). Any
   time, from any thread; each item of a request takes the whole setting
   at once. */
ZQHDA_API int __stdcall SetHDAAggregateConfiguration(int treatUncertainAsBad, int percentDataBad,
                                                     int percentDataGood,
                                                     int useSlopedExtrapolation);

/* --- Host callbacks ------------------------------------------------------ */

ZQHDA_API int __stdcall SetHDAServerCallback(CZqHDACallback *callback);
ZQHDA_API int __stdcall EnableGetTimeStampCallback(ZQHDA_GetTimeStampsProc proc);
ZQHDA_API int __stdcall EnableGetPreviousTimeStampCallback(ZQHDA_GetPreviousTimeStampProc proc);
ZQHDA_API int __stdcall EnableGetNextTimeStampCallback(ZQHDA_GetNextTimeStampProc proc);
ZQHDA_API int __stdcall EnableReadAtCallback(ZQHDA_ReadAtProc proc);
ZQHDA_API int __stdcall EnableReadCurrentAttributeCallback(ZQHDA_ReadCurrentAttributeProc proc);
ZQHDA_API int __stdcall EnableReadAttributeAtCallback(ZQHDA_ReadAttributeAtProc proc);
ZQHDA_API int __stdcall EnablePrepareAggregatesCallback(ZQHDA_PrepareAggregatesProc proc);
ZQHDA_API int __stdcall EnableReadProcessedCallback(ZQHDA_ReadProcessedProc proc);
ZQHDA_API int __stdcall EnableQueryUpdateCapabilitiesCallback(
    ZQHDA_QueryUpdateCapabilitiesProc proc);
ZQHDA_API int __stdcall EnableInsertCallback(ZQHDA_UpdateProc proc);
ZQHDA_API int __stdcall EnableReplaceCallback(ZQHDA_UpdateProc proc);
ZQHDA_API int __stdcall EnableInsertReplaceCallback(ZQHDA_UpdateProc proc);
ZQHDA_API int __stdcall EnableDeleteRawCallback(ZQHDA_DeleteRawProc proc);
ZQHDA_API int __stdcall EnableDeleteAtCallback(ZQHDA_DeleteAtTimeProc proc);
/* Annotation callbacks (see ZQHDA_ReadAnnotationsProc). A client's server
   object answers QueryInterface for IOPCHDA_SyncAnnotations and
   IOPCHDA_AsyncAnnotations only while at least one is installed (null
   removes one); QueryCapabilities reports OPCHDA_READANNOTATIONCAP and
   OPCHDA_INSERTANNOTATIONCAP for the installed ones, and a method whose
   callback is missing answers E_NOTIMPL. Like every callback they are
   called concurrently from client threads and the library's asynchronous
   threads, and must be thread-safe. The host's read limit on values per
   item (SetHDAReadLimits) caps the annotations one item returns per read
   (OPC_S_MOREDATA). Returns 1. */
ZQHDA_API int __stdcall EnableReadAnnotationsCallback(ZQHDA_ReadAnnotationsProc proc);
ZQHDA_API int __stdcall EnableInsertAnnotationCallback(ZQHDA_InsertAnnotationProc proc);
/* Modified-values callback (see ZQHDA_ReadModifiedProc): while it is
   installed, ReadModified of IOPCHDA_SyncRead and IOPCHDA_AsyncRead answers
   with the host's values, under the time rules and limits of ReadRaw (no
   bounds); without it (null removes it) ReadModified is E_NOTIMPL. Called
   concurrently from client threads and the library's asynchronous threads:
   it must be thread-safe. Returns 1. */
ZQHDA_API int __stdcall EnableReadModifiedCallback(ZQHDA_ReadModifiedProc proc);

/* --- Address space ------------------------------------------------------- */

/* Defines an item; returns its handle, or ZQHDA_INVALID_ITEM if the ID is
   already defined (or memory ran out). */
ZQHDA_API void *__stdcall DefineHDAItem(const char *itemId);
/* 1 if the item was found and deleted (with everything below it). */
ZQHDA_API int __stdcall DeleteHDAItem(const char *itemId);
/* Sets the delimiter between item ID elements unless 0; returns the one in force. */
ZQHDA_API int __stdcall SetZqHDAsvrQualifier(int qualifier);
/* Server-wide attribute and aggregate catalogues; 1 on success. */
ZQHDA_API int __stdcall DefineHDAAttribute(DWORD attributeId, const char *name,
                                           const char *description, DWORD dataType,
                                           DWORD history);
ZQHDA_API int __stdcall DefineHDAAggregate(DWORD aggregateId, const char *name,
                                           const char *description);

/* --- Registration -------------------------------------------------------- */

/* Writes the server's registration under HKEY_CLASSES_ROOT: [ProgID] (the
   description) with CLSID and OPC below it, AppID\{class}, CLSID\{class}
   with LocalServer32 (the server path; quoted when the whole text is a
   program path, that is it ends in ".exe" or names an existing file, holds
   a blank and is not quoted yet; any other text, arguments included, is
   written as given) and
   ProgID; then enters the class in the OPC HDA server category. Texts are cut
   to 99 characters (the server path to 399). Also makes clsid the server's
   class identifier. 1 when every key was written and the category manager
   was available (COM initialised on the calling thread); otherwise 0, with
   the entries written so far left in place. A null, empty or backslashed
   ProgID is refused with 0 and nothing written. */
ZQHDA_API int __stdcall HDAUpdateRegistry(CLSID clsid, const char *progId,
                                          const char *description, const char *serverPath);
ZQHDA_API int __stdcall HDAUpdateRegistry1(const CLSID *clsid, const char *progId,
                                           const char *description, const char *serverPath);
/* Adds LocalService (the service name) and ServiceParameters ("-Service") to
   AppID\{class} of the server's class identifier, so that COM can start the
   server as a Windows service. Only after HDAUpdateRegistry made that key;
   1 when both values were written. */
ZQHDA_API int __stdcall HDAAddLocalServiceKeysToRegistry(const char *serviceName);
/* Removes what HDAUpdateRegistry and HDAAddLocalServiceKeysToRegistry wrote
   (the category itself stays registered). 0 when a key of the server could not
   be opened, for example when it was never registered. */
ZQHDA_API int __stdcall UnregisterHDAServer(CLSID clsid, const char *progId);
ZQHDA_API int __stdcall UnregisterHDAServer1(const CLSID *clsid, const char *progId);

/* --- Client access control ---------------------------------------------- */

/* Switches access control on (non-zero) or off, with the lowest RPC
   impersonation level (RPC_C_IMP_LEVEL_DEFAULT 0 .. DELEGATE 4) a client's
   call must carry. Rights are decided when a client obtains item handles. */
ZQHDA_API int __stdcall EnableHDASecurity(int enable, DWORD minimumImpersonationLevel);
/* Grants the Windows account user (as a member of the account group) the
   rights 0x1 (read), 0x2 (write) or 0x3 (both); rights given in the upper
   16 bits are shifted down. Redefining a group/user pair replaces it. 0 on
   success, else a Windows error code (the record then grants nothing). */
ZQHDA_API DWORD __stdcall DefineHDAUser(const char *group, const char *user, DWORD rights);
/* Defines an item as DefineHDAItem does, with the right required for
   reading and for writing in the upper 16 bits of each word (0x00010000:
   read right, 0x00020000: write right). */
ZQHDA_API void *__stdcall DefineSecureHDAItem(const char *itemId, DWORD readAccess,
                                             DWORD writeAccess);

/* --- OPC UA endpoint ---------------------------------------------------- */

/* OPC UA Historical Access from the same host, off until started. Once
   started, an OPC UA server (open62541 1.4) in a thread of its own serves
   the item tree and its history to OPC UA clients beside the COM server,
   through the same callbacks, engines, read limits, aggregates and access
   control; classic clients may come and go meanwhile.
   Address space: below the Objects folder, each branch a folder and each
   item a variable with the NodeId ns=1;s=<item ID>, Historizing, with the
   access levels Read and HistoryRead (and HistoryWrite when the host
   updates history), DataType, Description and EngineeringUnits from the
   item's attributes, and its latest raw value as Value. The nodes are made
   when the endpoint starts: items defined later appear at the next start.
   Services: HistoryRead with ReadRawModifiedDetails (raw, bounds, value
   counts, continuation points; modified values through the modified-values
   callback), ReadProcessedDetails (the standard aggregates of namespace 0,
   the host's own as ns=1;i=<aggregate ID>, the request's aggregate
   configuration), ReadAtTimeDetails; HistoryUpdate with UpdateDataDetails
   (insert, replace, update), DeleteRawModifiedDetails (raw) and
   DeleteAtTimeDetails.
   Security: the security policy None only: nothing is signed or encrypted,
   user names and passwords included. Keep the endpoint on the loopback
   address (the default) or on a network the plant trusts.
   Who may do what: anonymous sessions read (unless ZQHDA_UA_NO_ANONYMOUS);
   updates need a user whose name and password the check installed with
   SetHDAUaUserCheck accepts, and the host then receives that user name.
   With EnableHDASecurity on, each item's read and write words are checked
   against the DefineHDAUser records naming the user ("user" or
   "DOMAIN\user", letter case aside) instead of a Windows token; an
   anonymous session then reads only items that require no read right.

   url: "opc.tcp://host:port" (null or "": opc.tcp://127.0.0.1:4840). The
   endpoint listens on that host's address only; any address beyond
   loopback is the host's explicit choice. flags: 0 or
   ZQHDA_UA_NO_ANONYMOUS. Returns S_OK once it listens; E_INVALIDARG for
   another kind of URL or unknown flags; HRESULT_FROM_WIN32(
   ERROR_ALREADY_EXISTS) when an endpoint runs already; E_FAIL when it
   cannot listen there (port taken, address not of this machine);
   E_OUTOFMEMORY. Any thread. */
#define ZQHDA_UA_NO_ANONYMOUS 0x1
ZQHDA_API long __stdcall StartHDAUaEndpoint(const char *url, int flags);
/* Ends every session and the endpoint's thread, then returns S_OK (S_FALSE
   when none runs). Call it before the DLL is unloaded. Any thread but one
   of the host's callbacks called by the endpoint. */
ZQHDA_API long __stdcall StopHDAUaEndpoint(void);
/* The check of a UA user's name and password (ANSI text): not 0 accepts.
   Called on the endpoint's thread when a session is activated; null (the
   default) accepts nobody. Returns 1. */
typedef int(__stdcall *ZQHDA_UaUserCheckProc)(const char *user, const char *password);
ZQHDA_API int __stdcall SetHDAUaUserCheck(ZQHDA_UaUserCheckProc check);

/* --- Time conversion ----------------------------------------------------- */

/* OLE Automation dates <-> UTC FILETIMEs (the date's clock time is taken as UTC). */
ZQHDA_API BOOL __stdcall HDAConvertVBDateToFileTime(const DATE *date, FILETIME *fileTime);
ZQHDA_API BOOL __stdcall HDAConvertFileTimeToVBDate(const FILETIME *fileTime, DATE *date);
/* Resolves a client's OPCHDA_TIME as the library resolves the times of every
   read: an absolute ftTime (bString FALSE) is checked, a relative text
   ("NOW-1D", "DAY+6H", "MONTH-1MO", ...) is resolved against now (null: the
   clock's current UTC time). For hosts that receive OPCHDA_TIMEs themselves
   (CZqHDACallback::DeleteRaw). 1 with the UTC time in *result; 0 when the
   time is malformed or falls outside the calendar (1601-01-01 up to the
   largest FILETIME the platform converts): nothing wraps around, and
   *result is then left as it was. Thread-safe. */
ZQHDA_API int __stdcall HDAResolveTime(const OPCHDA_TIME *time, const FILETIME *now,
                                       FILETIME *result);

#ifdef __cplusplus
}
#endif

#endif /* ZQHDASVR_H */
