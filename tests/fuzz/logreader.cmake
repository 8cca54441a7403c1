kestrola_fuzz_target(logreader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LogReaderFuzz.cpp DEPS kestrola_log)
