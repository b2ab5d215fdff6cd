# tavrin_add_test(NAME SOURCES src... [LIBS lib...] [LABELS label...])
# Builds one Qt Test program and registers it with CTest on the offscreen platform.
function(tavrin_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  tavrin_layer_whole(${name} tests)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TAVRIN_TEST_ARTEFACTS=${CMAKE_BINARY_DIR}/artefacts"
    LABELS "${T_LABELS}")
endfunction()
