# Puts a program or library into the shared bin folder, where the program
# finds the adapter libraries through $ORIGIN. The build tree gets the
# installed RUNPATH as it is: a separate build RUNPATH is padded by CMake with
# a trailing colon (an empty entry, which means the current working folder)
# so that installing can rewrite it in place.
function(rq_output_to_bin target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${RQ_BIN}
    LIBRARY_OUTPUT_DIRECTORY ${RQ_BIN}
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN")
endfunction()

# rq_add_test(NAME name SOURCES ... [LIBS ...] [ENV ...] [LABELS ...] [TIMEOUT s]
#             [TESTADAPTER | REALADAPTERS])
# A Qt Test executable run by CTest on the offscreen platform. Test programs
# live in a folder of their own, away from the real adapter libraries.
# TESTADAPTER: the adapter libraries they load are the recording test adapter.
# REALADAPTERS: they load our real adapter libraries (and can start rqsim).
function(rq_add_test)
  cmake_parse_arguments(T "TESTADAPTER;REALADAPTERS" "NAME;TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  if(T_TESTADAPTER)
    list(APPEND T_ENV "LD_LIBRARY_PATH=${RQ_TESTADAPTER_DIR}")
  elseif(T_REALADAPTERS)
    list(APPEND T_ENV "LD_LIBRARY_PATH=${RQ_BIN}")
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE rq_settings Qt6::Test ${T_LIBS})
  set_target_properties(${T_NAME} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${RQ_TESTBIN}
    ENABLE_EXPORTS ON)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  # A test that asks for a long timeout is a long one: with COST, CTest starts
  # those first (a fresh clone has no timings of its own yet), so that the
  # run does not end waiting for one long test started last.
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} COST ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${T_ENV}")
  if(T_TESTADAPTER)
    get_property(adapters GLOBAL PROPERTY RQ_TESTADAPTERS)
    add_dependencies(${T_NAME} ${adapters})
  endif()
  if(T_REALADAPTERS)
    get_property(real GLOBAL PROPERTY RQ_REAL_ADAPTERS)
    if(real)
      add_dependencies(${T_NAME} ${real})
    endif()
  endif()
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# rq_threads(TESTS ... [PROGRAM target])
# Tests that start threads of their own (or whose programs do) carry the
# label `threads`; `make tsan` builds the target `thread-tests` and runs
# them under ThreadSanitizer. A test's program is the target of its name,
# or PROGRAM for tests that share one.
function(rq_threads)
  cmake_parse_arguments(T "" "PROGRAM" "TESTS" ${ARGN})
  set_property(TEST ${T_TESTS} APPEND PROPERTY LABELS threads)
  if(T_PROGRAM)
    set(programs ${T_PROGRAM})
  else()
    set(programs ${T_TESTS})
  endif()
  set_property(GLOBAL APPEND PROPERTY RQ_THREAD_PROGRAMS ${programs})
endfunction()
