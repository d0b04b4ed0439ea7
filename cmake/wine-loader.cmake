# zq_wine_loader(<arch> <out var>): the Wine loader that runs <arch> programs
# on this machine, as tools/wine32.sh found it (natively, or the 32-bit half
# under emulation). Where 32-bit programs cannot run at all, the i686 build
# still names Debian's `wine`, so that it configures and builds; its tests
# then cannot start (tools/test.sh says so and does not run them).
function(zq_wine_loader arch out)
  execute_process(COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tools/wine32.sh loader ${arch}
                  OUTPUT_VARIABLE loader OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR loader STREQUAL "")
    set(loader wine)
  endif()
  set(${out} ${loader} PARENT_SCOPE)
endfunction()
