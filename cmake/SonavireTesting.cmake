# Test helpers shared by every area.
#
# sonavire_add_test(NAME name SOURCES ... [LIBS ...] [STANDIN] [LOCKS lock ...] [TIMEOUT s])
#   Adds one GoogleTest executable and registers it as one ctest test. In the cross build it runs
#   under Wine (through CMAKE_CROSSCOMPILING_EMULATOR); natively it runs under the sanitizers.
#   STANDIN: the test runs with a fresh stand-in lyrics service on a free loopback port; its
#   address is in SONAVIRE_STANDIN (host:port) and its control URL base in the same host; the
#   control token the API wants is in SONAVIRE_STANDIN_TOKEN.
#   TLS: with STANDIN, nginx stands before the stand-in as a TLS front with a throw-away
#   certificate (scripts/with-tls-front.sh: SONAVIRE_TLS_FRONT, SONAVIRE_TLS_CERT).
#   OWN_MAIN: the test provides main(); otherwise the Windows tests get sv_test_main (the tests run
#   on a single-threaded COM apartment's thread) and the native ones gtest_main.
#   LOCKS: ctest resource locks (e.g. "registry", "cachedir") so that tests sharing machine state
#   never run at the same time.
function(sonavire_add_test)
  cmake_parse_arguments(T "STANDIN;TLS;OWN_MAIN" "NAME;TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE sv_test_support)
  if(WIN32)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gtest gmock)
    if(NOT T_OWN_MAIN)
      target_link_libraries(${T_NAME} PRIVATE sv_test_main)
    endif()
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(prefix "win32.")
    else()
      set(prefix "win64.")
    endif()
  else()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock pthread)
    if(NOT T_OWN_MAIN)
      target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
    endif()
    set(prefix "native.")
  endif()
  if(T_TLS)
    set(tls_front ${CMAKE_SOURCE_DIR}/scripts/with-tls-front.sh --)
  endif()
  if(T_STANDIN)
    if(WIN32)
      set(runner ${CMAKE_SOURCE_DIR}/scripts/with-standin.sh ${SONAVIRE_STANDIN_SERVER}
          -- ${tls_front} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${T_NAME}>)
    else()
      set(runner ${CMAKE_SOURCE_DIR}/scripts/with-standin.sh $<TARGET_FILE:sonavire-server>
          -- $<TARGET_FILE:${T_NAME}>)
    endif()
    add_test(NAME ${prefix}${T_NAME} COMMAND ${runner})
  else()
    add_test(NAME ${prefix}${T_NAME} COMMAND ${T_NAME})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${prefix}${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    set_tests_properties(${prefix}${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# Sonavire.dll copied beside a test executable that loads it, again whenever the DLL changes (a
# copy made only when the test relinks would let the test run an old DLL).
function(sonavire_copy_module_beside target)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/Sonavire.dll)
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Sonavire> ${copy}
    DEPENDS Sonavire $<TARGET_FILE:Sonavire>
    COMMENT "Sonavire.dll beside ${target}")
  add_custom_target(${target}_module DEPENDS ${copy})
  add_dependencies(${target} ${target}_module)
endfunction()
