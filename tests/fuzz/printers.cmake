kestrola_fuzz_target(printers SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/PrintersIniFuzz.cpp
  DEPS kestrola_printing)
