kestrola_fuzz_target(ini SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/IniFuzz.cpp DEPS kestrola_service)
