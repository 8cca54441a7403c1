# The queue cycle with the pause removed: cycle_bench on a private PostgreSQL server (port
# 55434, started and stopped by the benchmark), cycle_sqlite_bench on SQLite.
kestrola_bench(cycle_bench SOURCES CycleBench.cpp
  DEPS kestrola_service kestrola_test_db_support)
target_compile_definitions(cycle_bench PRIVATE KESTROLA_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                               KESTROLA_BENCH_POSTGRES=1)
kestrola_bench(cycle_sqlite_bench SOURCES CycleBench.cpp
  DEPS kestrola_service kestrola_test_db_support)
target_compile_definitions(cycle_sqlite_bench PRIVATE KESTROLA_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                                      KESTROLA_BENCH_POSTGRES=0)
