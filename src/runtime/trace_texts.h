// The texts the library hands to the host's trace function
// (EnableHDAEventMsgs), in one table.
//
// Hosts see these texts: they write them to their logs and may look for
// them there. They are part of the library's contract and stay byte for
// byte as they are, historic spellings included ("defered", "Uadvise",
// "IHDA_ASyncRead", two blanks before some brackets). QueryInterface traces
// end with a suffix naming the interface (InterfaceNameSuffix and the
// server object's own list); results are appended as " E_INVALIDARG" and
// the like by the formats below. Names: the text's words joined by "_";
// a format's name starts with kFormat_.
#pragma once

namespace zq::texts {

// addrspace/browser
inline constexpr char kIOPCHDA_Browser_GetEnum[] = "IOPCHDA_Browser::GetEnum()";
inline constexpr char kIOPCHDA_Browser_ChangeBrowsePosition[] =
    "IOPCHDA_Browser::ChangeBrowsePosition()";
inline constexpr char kIOPCHDA_Browser_GetItemID[] = "IOPCHDA_Browser::GetItemID()";
inline constexpr char kIOPCHDA_Browser_GetBranchPosition[] = "IOPCHDA_Browser::GetBranchPosition()";
inline constexpr char kIOPCHDA_Browser_QueryInterface[] = "IOPCHDA_Browser::QueryInterface";
inline constexpr char kIOPCHDA_Browser_AddRef[] = "IOPCHDA_Browser::AddRef";
inline constexpr char kIOPCHDA_Browser_Release[] = "IOPCHDA_Browser::Release";

// addrspace/string_enum
inline constexpr char kIOPCEnumString_Next[] = "IOPCEnumString::Next";
inline constexpr char kIOPCEnumString_Skip[] = "IOPCEnumString::Skip";
inline constexpr char kIOPCEnumString_Reset[] = "IOPCEnumString::Reset";
inline constexpr char kIOPCEnumString_Clone[] = "IOPCEnumString::Clone";
inline constexpr char kIOPCEnumString_QueryInterface[] = "IOPCEnumString::QueryInterface";
inline constexpr char kIOPCEnumString_AddRef[] = "IOPCEnumString::AddRef";
inline constexpr char kIOPCEnumString_Release[] = "IOPCEnumString::Release";

// com/async_annotations
inline constexpr char kIHDA_ASyncAnnotations_QueryCapabilities[] =
    "IHDA_ASyncAnnotations::QueryCapabilities()";
inline constexpr char kIHDA_ASyncAnnotations_Read[] = "IHDA_ASyncAnnotations::Read()";
inline constexpr char kIHDA_ASyncAnnotations_Insert[] = "IHDA_ASyncAnnotations::Insert()";
inline constexpr char kIHDA_ASyncAnnotations_Cancel[] = "IHDA_ASyncAnnotations::Cancel()";
inline constexpr char kIOPCHDA_ASyncAnnotations_AddRef_defered_to_HDAServer[] =
    "IOPCHDA_ASyncAnnotations::AddRef() [defered to HDAServer]";
inline constexpr char kIOPCHDA_ASyncAnnotations_Release_defered_to_OPCServer[] =
    "IOPCHDA_ASyncAnnotations::Release() [defered to OPCServer]";
inline constexpr char kIOPCHDA_ASyncAnnotations_QueryInterface_defered_to_OPCServer[] =
    "IOPCHDA_ASyncAnnotations::QueryInterface() [defered to OPCServer]";

// com/async_read
inline constexpr char kIHDA_ASyncRead_ReadRaw[] = "IHDA_ASyncRead::ReadRaw()";
inline constexpr char kIHDA_ASyncRead_AdviseRaw[] = "IHDA_ASyncRead::AdviseRaw()";
inline constexpr char kIHDA_ASyncRead_ReadProcessed[] = "IHDA_ASyncRead::ReadProcessed()";
inline constexpr char kIHDA_ASyncRead_AdviseProcessed[] = "IHDA_ASyncRead::AdviseProcessed()";
inline constexpr char kIHDA_ASyncRead_ReadAtTime[] = "IHDA_ASyncRead::ReadAtTime()";
inline constexpr char kIHDA_ASyncRead_ReadModified[] = "IHDA_ASyncRead::ReadModified()";
inline constexpr char kIHDA_ASyncRead_ReadAttribute[] = "IHDA_ASyncRead::ReadAttribute()";
inline constexpr char kIHDA_ASyncRead_Cancel[] = "IHDA_ASyncRead::Cancel()";
inline constexpr char kIOPCHDA_ASyncRead_AddRef_defered_to_HDAServer[] =
    "IOPCHDA_ASyncRead::AddRef() [defered to HDAServer]";
inline constexpr char kIOPCHDA_ASyncRead_Release_defered_to_OPCServer[] =
    "IOPCHDA_ASyncRead::Release() [defered to OPCServer]";
inline constexpr char kIOPCHDA_ASyncRead_QueryInterface_defered_to_OPCServer[] =
    "IOPCHDA_ASyncRead::QueryInterface() [defered to OPCServer]";

// com/async_update
inline constexpr char kIHDA_ASyncUpdate_Insert[] = "IHDA_ASyncUpdate::Insert()";
inline constexpr char kIHDA_ASyncUpdate_Replace[] = "IHDA_ASyncUpdate::Replace()";
inline constexpr char kIHDA_ASyncUpdate_InsertReplace[] = "IHDA_ASyncUpdate::InsertReplace()";
inline constexpr char kIHDA_ASyncUpdate_DeleteRaw[] = "IHDA_ASyncUpdate::DeleteRaw()";
inline constexpr char kIHDA_ASyncUpdate_DeleteAtTime[] = "IHDA_ASyncUpdate::DeleteAtTime()";
inline constexpr char kIHDA_ASyncUpdate_Cancel[] = "IHDA_ASyncUpdate::Cancel()";
inline constexpr char kIOPCHDA_AsyncUpdate_AddRef_defered_to_HDAServer[] =
    "IOPCHDA_AsyncUpdate::AddRef() [defered to HDAServer]";
inline constexpr char kIOPCHDA_AsyncUpdate_Release_defered_to_OPCServer[] =
    "IOPCHDA_AsyncUpdate::Release() [defered to OPCServer]";
inline constexpr char kIOPCHDA_AsyncUpdate_QueryInterface_defered_to_OPCServer[] =
    "IOPCHDA_AsyncUpdate::QueryInterface() [defered to OPCServer]";

// com/connection_container
inline constexpr char kOPCServerConnectionContainer_AddRef_defered_to_OPCServer[] =
    "OPCServerConnectionContainer::AddRef() [defered to OPCServer]";
inline constexpr char kOPCServerConnectionContainer_Release_defered_to_OPCServer[] =
    "OPCServerConnectionContainer::Release() [defered to OPCServer]";
inline constexpr char kFormat_E_INVALIDARG[] = "%s E_INVALIDARG";
inline constexpr char kFormat_E_OUTOFMEMORY[] = "%s E_OUTOFMEMORY";
inline constexpr char kFormat_S_OK[] = "%s S_OK";
inline constexpr char kFormat_IID_IOPCShutdown[] = "%s IID_IOPCShutdown";
inline constexpr char kFormat_IID_IOPCHDA_DataCallback[] = "%s IID_IOPCHDA_DataCallback";
inline constexpr char kFormat_E_NOINTERFACE[] = "%s E_NOINTERFACE";
inline constexpr char kCIOPCServerConnectionContainer_QueryInterface[] =
    "CIOPCServerConnectionContainer::QueryInterface";
inline constexpr char kCIHDASvrConnectionContainer_FindConnectionPoint[] =
    "CIHDASvrConnectionContainer::FindConnectionPoint";
inline constexpr char kCIHDASvrConnectionContainer_EnumConnectionPoints[] =
    "CIHDASvrConnectionContainer::EnumConnectionPoints";
inline constexpr char kOPCSvrConnectionPoint_QueryInterface[] =
    "OPCSvrConnectionPoint::QueryInterface";
inline constexpr char kOPCServerConnectionPoint_AddRef_defered_to_OPCServerConnectionContainer[] =
    "OPCServerConnectionPoint::AddRef() [defered to OPCServerConnectionContainer]";
inline constexpr char kOPCServerConnectionPoint_Release_defered_to_OPCServerConnectionContainer[] =
    "OPCServerConnectionPoint::Release() [defered to OPCServerConnectionContainer]";
inline constexpr char kOPCServerConnectionPoint_GetConnectionInterface[] =
    "OPCServerConnectionPoint::GetConnectionInterface";
inline constexpr char kOPCServerConnectionPoint_GetConnectionPointContainer[] =
    "OPCServerConnectionPoint::GetConnectionPointContainer";
inline constexpr char kOPCServerConnectionPoint_Advise[] = "OPCServerConnectionPoint::Advise";
inline constexpr char kOPCServerConnectionPoint_Uadvise[] = "OPCServerConnectionPoint::Uadvise";
inline constexpr char kCHDACallbackConnectionPoint_QueryInterface[] =
    "CHDACallbackConnectionPoint::QueryInterface";
inline constexpr char kCHDACallbackConnectionPoint_AddRef_defered_to_OPCServerConnectionContainer[] =
    "CHDACallbackConnectionPoint::AddRef() [defered to OPCServerConnectionContainer]";
inline constexpr char kCHDACallbackConnectionPoint_Release_defered_to_OPCServerConnectionContainer[] =
    "CHDACallbackConnectionPoint::Release() [defered to OPCServerConnectionContainer]";
inline constexpr char kCHDACallbackConnectionPoint_GetConnectionInterface[] =
    "CHDACallbackConnectionPoint::GetConnectionInterface";
inline constexpr char kCHDACallbackConnectionPoint_GetConnectionPointContainer[] =
    "CHDACallbackConnectionPoint::GetConnectionPointContainer";
inline constexpr char kCHDACallbackConnectionPoint_Advise[] = "CHDACallbackConnectionPoint::Advise";
inline constexpr char kCHDACallbackConnectionPoint_Uadvise[] =
    "CHDACallbackConnectionPoint::Uadvise";

// com/connection_point
inline constexpr char kFormat_E_POINTER[] = "%s E_POINTER";
inline constexpr char kFormat_E_ADVISELIMIT[] = "%s E_ADVISELIMIT";
inline constexpr char kFormat_CONNECT_E_CANNOTCONNECT[] = "%s CONNECT_E_CANNOTCONNECT";
inline constexpr char kFormat_CONNECT_E_NOCONNECTION[] = "%s CONNECT_E_NOCONNECTION";

// com/connection_point_enum
inline constexpr char kCIOPCServerConnectionPtEnumerator_Next[] =
    "CIOPCServerConnectionPtEnumerator::Next";
inline constexpr char kIOPCServerConnectionPtEnumerator_AddRef[] =
    "IOPCServerConnectionPtEnumerator::AddRef";
inline constexpr char kIOPCServerConnectionPtEnumerator_Release[] =
    "IOPCServerConnectionPtEnumerator::Release";

// com/hda_server
inline constexpr char kHDAServer_QueryInterface_E_INVALIDARG[] =
    "HDAServer::QueryInterface E_INVALIDARG";
inline constexpr char kFormat_HDAServer_QueryInterface[] = "HDAServer::QueryInterface%s";
inline constexpr char kHDAServer_AddRef[] = "HDAServer::AddRef";
inline constexpr char kHDAServer_Release[] = "HDAServer::Release";

// com/opc_common
inline constexpr char kIOPCCommon_AddRef_defered_to_OPCServer[] =
    "IOPCCommon::AddRef() [defered to OPCServer]";
inline constexpr char kIOPCCommon_Release_defered_to_OPCServer[] =
    "IOPCCommon::Release() [defered to OPCServer]";
inline constexpr char kIOPCCommon_QueryInterface_defered_to_OPCServer[] =
    "IOPCCommon::QueryInterface()  [defered to OPCServer]";

// com/opc_server
inline constexpr char kIHDAServer_GetItemAttributes[] = "IHDAServer::GetItemAttributes()";
inline constexpr char kIHDAServer_GetAggregates[] = "IHDAServer::GetAggregates()";
inline constexpr char kIHDAServer_GetHistorianStatus[] = "IHDAServer::GetHistorianStatus()";
inline constexpr char kIHDAServer_GetItemHandles[] = "IHDAServer::GetItemHandles()";
inline constexpr char kIHDAServer_ReleaseItemHandles[] = "IHDAServer::ReleaseItemHandles()";
inline constexpr char kIHDAServer_ValidateItemIDs[] = "IHDAServer::ValidateItemIDs()";
inline constexpr char kIHDAServer_CreateBrowse[] = "IHDAServer::CreateBrowse()";
inline constexpr char kIHDAServer_AddRef_defered_to_HDAServer[] =
    "IHDAServer::AddRef() [defered to HDAServer]";
inline constexpr char kIHDAServer_Release_defered_to_HDAServer[] =
    "IHDAServer::Release() [defered to HDAServer]";
inline constexpr char kIHDAServer_QueryInterface_defered_to_HDAServer[] =
    "IHDAServer::QueryInterface()  [defered to HDAServer]";

// com/sync_annotations
inline constexpr char kIHDA_SyncAnnotations_QueryCapabilities[] =
    "IHDA_SyncAnnotations::QueryCapabilities()";
inline constexpr char kIHDA_SyncAnnotations_Read[] = "IHDA_SyncAnnotations::Read()";
inline constexpr char kIHDA_SyncAnnotations_Insert[] = "IHDA_SyncAnnotations::Insert()";
inline constexpr char kIOPCHDA_SyncAnnotations_AddRef_defered_to_HDAServer[] =
    "IOPCHDA_SyncAnnotations::AddRef() [defered to HDAServer]";
inline constexpr char kIOPCHDA_SyncAnnotations_Release_defered_to_OPCServer[] =
    "IOPCHDA_SyncAnnotations::Release() [defered to OPCServer]";
inline constexpr char kIOPCHDA_SyncAnnotations_QueryInterface_defered_to_OPCServer[] =
    "IOPCHDA_SyncAnnotations::QueryInterface() [defered to OPCServer]";

// com/sync_read
inline constexpr char kIHDA_SyncRead_ReadRaw[] = "IHDA_SyncRead::ReadRaw()";
inline constexpr char kIHDA_SyncRead_ReadProcessed[] = "IHDA_SyncRead::ReadProcessed()";
inline constexpr char kIHDA_SyncRead_ReadAtTime[] = "IHDA_SyncRead::ReadAtTime()";
inline constexpr char kIHDA_SyncRead_ReadModified[] = "IHDA_SyncRead::ReadModified()";
inline constexpr char kIHDA_SyncRead_ReadAttribute[] = "IHDA_SyncRead::ReadAttribute()";
inline constexpr char kIOPCHDA_SyncRead_AddRef_defered_to_HDAServer[] =
    "IOPCHDA_SyncRead::AddRef() [defered to HDAServer]";
inline constexpr char kIOPCHDA_SyncRead_Release_defered_to_OPCServer[] =
    "IOPCHDA_SyncRead::Release() [defered to OPCServer]";
inline constexpr char kIOPCHDA_SyncRead_QueryInterface_defered_to_OPCServer[] =
    "IOPCHDA_SyncRead::QueryInterface() [defered to OPCServer]";

// com/sync_update
inline constexpr char kIHDA_SyncUpdate_QueryCapabilities[] = "IHDA_SyncUpdate::QueryCapabilities()";
inline constexpr char kIHDA_SyncUpdate_Insert[] = "IHDA_SyncUpdate::Insert()";
inline constexpr char kIHDA_SyncUpdate_Replace[] = "IHDA_SyncUpdate::Replace()";
inline constexpr char kIHDA_SyncUpdate_InsertReplace[] = "IHDA_SyncUpdate::InsertReplace()";
inline constexpr char kIHDA_SyncUpdate_DeleteRaw[] = "IHDA_SyncUpdate::DeleteRaw()";
inline constexpr char kIHDA_SyncUpdate_DeleteAtTime[] = "IHDA_SyncUpdate::DeleteAtTime()";
inline constexpr char kIOPCHDA_SyncUpdate_AddRef_defered_to_HDAServer[] =
    "IOPCHDA_SyncUpdate::AddRef() [defered to HDAServer]";
inline constexpr char kIOPCHDA_SyncUpdate_Release_defered_to_OPCServer[] =
    "IOPCHDA_SyncUpdate::Release() [defered to OPCServer]";
inline constexpr char kIOPCHDA_SyncUpdate_QueryInterface_defered_to_OPCServer[] =
    "IOPCHDA_SyncUpdate::QueryInterface() [defered to OPCServer]";

// runtime/interface_names
inline constexpr char kFormat_TextAndSuffix[] = "%s%s";

} // namespace zq::texts
