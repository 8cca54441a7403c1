kestrola_fuzz_target(jsonbag SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/JsonBagFuzz.cpp DEPS kestrola_json)
