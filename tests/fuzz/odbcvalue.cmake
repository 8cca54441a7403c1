kestrola_fuzz_target(odbcvalue SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/OdbcValueFuzz.cpp DEPS kestrola_db)
