# The database module through the driver name "SQL Server": db_bench on a private PostgreSQL
# server (started and stopped by the benchmark itself on port 55433), db_sqlite_bench on SQLite.
kestrola_bench(db_bench SOURCES DbBench.cpp
  DEPS kestrola_db kestrola_service kestrola_test_db_support)
target_compile_definitions(db_bench PRIVATE KESTROLA_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                            KESTROLA_BENCH_POSTGRES=1)
kestrola_bench(db_sqlite_bench SOURCES DbBench.cpp
  DEPS kestrola_db kestrola_service kestrola_test_db_support)
target_compile_definitions(db_sqlite_bench PRIVATE KESTROLA_BINARY_DIR="${CMAKE_BINARY_DIR}"
                                                   KESTROLA_BENCH_POSTGRES=0)
