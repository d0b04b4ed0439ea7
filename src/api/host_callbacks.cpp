// The exports of the public header's section "Host callbacks", in its order:
// the host's callback object and its plain callbacks, each stored in the
// host's settings (runtime/callback.h).
#include "ZqHDAsvr.h"

#include "runtime/callback.h"

namespace {

zq::HostSettings::PlainCallbacks &Plain() { return zq::State().settings.plain; }

} // namespace

extern "C" int __stdcall SetHDAServerCallback(CZqHDACallback *callback)
{
    return zq::InstallCallbackObject(callback);
}

// Each Enable...Callback export installs one plain callback in its setting;
// a non-null one makes the default callback object current.
#define ZQ_ENABLE_CALLBACK(Export, Proc, setting)                                               \
    extern "C" int __stdcall Export(Proc p) { return zq::InstallPlainCallback(Plain().setting, p); }

ZQ_ENABLE_CALLBACK(EnableGetTimeStampCallback, ZQHDA_GetTimeStampsProc, getTimeStamps)
ZQ_ENABLE_CALLBACK(EnableGetPreviousTimeStampCallback, ZQHDA_GetPreviousTimeStampProc,
                   getPrevious)
ZQ_ENABLE_CALLBACK(EnableGetNextTimeStampCallback, ZQHDA_GetNextTimeStampProc, getNext)
ZQ_ENABLE_CALLBACK(EnableReadAtCallback, ZQHDA_ReadAtProc, readAt)
ZQ_ENABLE_CALLBACK(EnableReadCurrentAttributeCallback, ZQHDA_ReadCurrentAttributeProc,
                   readCurrentAttribute)
ZQ_ENABLE_CALLBACK(EnableReadAttributeAtCallback, ZQHDA_ReadAttributeAtProc, readAttributeAt)
ZQ_ENABLE_CALLBACK(EnablePrepareAggregatesCallback, ZQHDA_PrepareAggregatesProc,
                   prepareAggregates)
ZQ_ENABLE_CALLBACK(EnableReadProcessedCallback, ZQHDA_ReadProcessedProc, readProcessed)
ZQ_ENABLE_CALLBACK(EnableQueryUpdateCapabilitiesCallback, ZQHDA_QueryUpdateCapabilitiesProc,
                   queryCapabilities)
ZQ_ENABLE_CALLBACK(EnableInsertCallback, ZQHDA_UpdateProc, insert)
ZQ_ENABLE_CALLBACK(EnableReplaceCallback, ZQHDA_UpdateProc, replace)
ZQ_ENABLE_CALLBACK(EnableInsertReplaceCallback, ZQHDA_UpdateProc, insertReplace)
ZQ_ENABLE_CALLBACK(EnableDeleteRawCallback, ZQHDA_DeleteRawProc, deleteRaw)
ZQ_ENABLE_CALLBACK(EnableDeleteAtCallback, ZQHDA_DeleteAtTimeProc, deleteAtTime)

#undef ZQ_ENABLE_CALLBACK

// The annotation and modified-value callbacks have no method of the callback
// object: installing them leaves the object as it is.
extern "C" int __stdcall EnableReadAnnotationsCallback(ZQHDA_ReadAnnotationsProc proc)
{
    Plain().readAnnotations = proc;
    return 1;
}

extern "C" int __stdcall EnableInsertAnnotationCallback(ZQHDA_InsertAnnotationProc proc)
{
    Plain().insertAnnotation = proc;
    return 1;
}

extern "C" int __stdcall EnableReadModifiedCallback(ZQHDA_ReadModifiedProc proc)
{
    Plain().readModified = proc;
    return 1;
}
