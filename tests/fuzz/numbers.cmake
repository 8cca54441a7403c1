kestrola_fuzz_target(numbers SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NumberTextFuzz.cpp
  DEPS kestrola_runtime)
