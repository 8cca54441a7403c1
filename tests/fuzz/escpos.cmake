kestrola_fuzz_target(escpos SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/EscPosFuzz.cpp DEPS kestrola_printing)
