kestrola_fuzz_target(printtext SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PrintTextFuzz.cpp DEPS kestrola_printing)
