# zdr_engine_library(NAME SOURCES... [DEPS targets...])
# An engine library: no Qt, the engine include path, warnings as set globally.
function(zdr_engine_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${ZDR_ENGINE_INCLUDE})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# zdr_add_gtest(NAME SOURCES... [DEPS targets...] [LABELS labels...])
# A GoogleTest executable registered with CTest. Tests find the authored discs
# through ZDR_TEST_DISCS and the build's bin folder through ZDR_BIN_DIR.
function(zdr_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${ZDR_ENGINE_INCLUDE} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    ZDR_TEST_DISCS="${ZDR_TEST_DISC_DIR}"
    ZDR_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    ZDR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(TARGET test-discs)
    add_dependencies(${name} test-discs)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "ZDR_TEST_DISCS=${ZDR_TEST_DISC_DIR};ZDR_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
