# What differs between the i686 and the x86_64 build.

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZQ_ARCH x86_64)
else()
  set(ZQ_ARCH i686)
endif()

# zq_arch_def(<def file> <out var>): the module definition file to link with.
# The .def files in the sources are written for i686, where a stdcall
# function is exported by aliases (`_Name@N = Name@N`, `Name = Name@N`).
# x86_64 has no stdcall decoration: there every function is exported once
# under its plain name, so the decorated aliases are dropped and `Name =
# Name@N` becomes `Name`.
function(zq_arch_def def out)
  if(ZQ_ARCH STREQUAL i686)
    set(${out} ${def} PARENT_SCOPE)
    return()
  endif()
  get_filename_component(name ${def} NAME)
  file(READ ${def} text)
  string(REGEX REPLACE "\n[ \t]*_[A-Za-z0-9_]+@[0-9]+[ \t]*=[^\n]*" "" text "${text}")
  string(REGEX REPLACE "([A-Za-z0-9_]+)[ \t]*=[ \t]*[A-Za-z0-9_]+@[0-9]+" "\\1" text "${text}")
  if(text MATCHES "@[0-9]")
    message(FATAL_ERROR "${def}: a decorated name is left for x86_64")
  endif()
  set(file ${CMAKE_BINARY_DIR}/defs/${name})
  file(CONFIGURE OUTPUT ${file} CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  set(${out} ${file} PARENT_SCOPE)
endfunction()
