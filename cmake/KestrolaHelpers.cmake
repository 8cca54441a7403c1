# kestrola_library(NAME SOURCES... [DEPS targets...])
# One library per source folder, public headers beside the sources.
function(kestrola_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(kestrola_${name} STATIC ${ARG_SOURCES})
  add_library(Kestrola::${name} ALIAS kestrola_${name})
  target_include_directories(kestrola_${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
    $<INSTALL_INTERFACE:include/kestrola>)
  if(ARG_DEPS)
    target_link_libraries(kestrola_${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# kestrola_test(NAME SOURCES... [DEPS targets...] [LABEL unit|db|cups|gui] [PROPERTIES ...])
# One GoogleTest executable; every test it holds is registered with CTest.
function(kestrola_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS;PROPERTIES" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KESTROLA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    KESTROLA_BINARY_DIR="${CMAKE_BINARY_DIR}"
    KESTROLA_SHARED_DIR="${KESTROLA_SHARED_DIR}")
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABEL} ${ARG_PROPERTIES}
    DISCOVERY_TIMEOUT 60)
endfunction()
