# Puts a program or library into the shared bin folder, where the program
# finds the adapter libraries through $ORIGIN.
function(rq_output_to_bin target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${RQ_BIN}
    LIBRARY_OUTPUT_DIRECTORY ${RQ_BIN}
    BUILD_RPATH "$ORIGIN"
    INSTALL_RPATH "$ORIGIN")
endfunction()

# rq_add_test(NAME name SOURCES ... [LIBS ...] [ENV ...] [LABELS ...] [TIMEOUT s])
# A Qt Test executable run by CTest on the offscreen platform. Tests live in
# their own folder so the recording test adapter, not a real adapter library,
# is what they load unless ENV points elsewhere.
function(rq_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE rq_settings Qt6::Test ${T_LIBS})
  set_target_properties(${T_NAME} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${RQ_TESTBIN}
    ENABLE_EXPORTS ON)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${T_ENV}")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
