# Run after Sonavire.dll is linked: cmake -DNM=<nm> -DMODULE=<dll> -P CheckModuleState.cmake
#
# The module keeps no function-local static with dynamic initialisation and no thread_local of
# its own. Both go through the statically linked runtime's locks and per-thread storage, whose
# state for the player's thread outlives an unloaded module, so that every unload would leave a
# thread handle, an event and semaphores behind in the player. Module-wide state lives at
# namespace scope instead, made at load and ended at unload. (Builds without symbols are not
# checked.)
execute_process(COMMAND ${NM} -C ${MODULE} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
  return()
endif()
string(REGEX MATCHALL "guard variable for [^\n]*" found "${symbols}")
string(REGEX MATCHALL "__emutls_v\\.[^\n]*" per_thread "${symbols}")
# The runtime's own exception state, touched only when an exception is thrown.
list(FILTER per_thread EXCLUDE REGEX "get_global")
list(APPEND found ${per_thread})
if(found)
  list(JOIN found "\n  " listed)
  message(FATAL_ERROR "${MODULE} keeps state the runtime would leak at each unload; "
                      "move it to namespace scope:\n  ${listed}")
endif()
