# The libraries installed for other projects; they follow BUILD_SHARED_LIBS, the rest of the
# program is always linked statically.
set(KESTROLA_TOOLKIT_LIBRARIES runtime text json jsonscript)

# kestrola_library(NAME SOURCES... [DEPS targets...])
# One library per source folder, public headers beside the sources. Installed headers live under
# include/kestrola/<folder>/: users write <kestrola/json/JsonBag.h>, and the headers' own
# "runtime/Text.h" includes resolve through include/kestrola.
function(kestrola_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(name IN_LIST KESTROLA_TOOLKIT_LIBRARIES)
    add_library(kestrola_${name} ${ARG_SOURCES})
    set_target_properties(kestrola_${name} PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  else()
    add_library(kestrola_${name} STATIC ${ARG_SOURCES})
  endif()
  add_library(Kestrola::${name} ALIAS kestrola_${name})
  # The headers use C++20; users of the library get it too.
  target_compile_features(kestrola_${name} PUBLIC cxx_std_20)
  target_include_directories(kestrola_${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
    $<INSTALL_INTERFACE:include/kestrola>
    $<INSTALL_INTERFACE:include>)
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
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kestrola_test_support GTest::gtest
                                        GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KESTROLA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    KESTROLA_BINARY_DIR="${CMAKE_BINARY_DIR}"
    KESTROLA_SHARED_DIR="${KESTROLA_SHARED_DIR}")
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABEL} ${ARG_PROPERTIES}
    DISCOVERY_TIMEOUT 60)
endfunction()
