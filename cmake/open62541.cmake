# open62541: the OPC UA stack of the OPC UA endpoint, compiled from the
# amalgamation that tools/open62541.sh makes (never part of the repository)
# as a static library of its own. Built without link-time optimisation and
# without PubSub (GCC 12's LTO meets an internal compiler error in the
# PubSub code); its own warnings are not ours to mend, so they are off.
# The folder: tools/open62541.sh's (ZQ_OPEN62541_DIR in the environment, as
# for the script, else its default).
if(DEFINED ENV{ZQ_OPEN62541_DIR})
  set(_zq_o62541 $ENV{ZQ_OPEN62541_DIR})
else()
  set(_zq_o62541 /var/cache/zqhda/open62541)
endif()
set(ZQ_OPEN62541_DIR "${_zq_o62541}" CACHE PATH
    "Folder of open62541.c and open62541.h (tools/open62541.sh ensure)")
if(NOT EXISTS ${ZQ_OPEN62541_DIR}/open62541.c OR NOT EXISTS ${ZQ_OPEN62541_DIR}/open62541.h)
  message(FATAL_ERROR "open62541 amalgamation not found in ${ZQ_OPEN62541_DIR}: "
                      "run tools/install-deps.sh (or tools/open62541.sh ensure)")
endif()
add_library(open62541 STATIC ${ZQ_OPEN62541_DIR}/open62541.c)
target_include_directories(open62541 SYSTEM PUBLIC ${ZQ_OPEN62541_DIR})
target_compile_options(open62541 PRIVATE -w -fno-lto)
set_target_properties(open62541 PROPERTIES INTERPROCEDURAL_OPTIMIZATION OFF C_STANDARD 99)
target_link_libraries(open62541 PUBLIC ws2_32 iphlpapi)
