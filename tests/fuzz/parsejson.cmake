kestrola_fuzz_target(parsejson SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ParseJsonFuzz.cpp
  DEPS kestrola_jsonscript)
