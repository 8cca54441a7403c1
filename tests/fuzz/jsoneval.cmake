kestrola_fuzz_target(jsoneval SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/JsonEvalFuzz.cpp
  DEPS kestrola_jsonscript)
