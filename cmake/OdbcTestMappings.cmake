# The driver mappings the database tests and benchmarks select with ODBCSYSINI (tests/support/DbTestEnv.h):
# "SQL Server" to psqlODBC, to the SQLite ODBC driver, and a file without it. Written once,
# when the build is configured, never by the tests themselves; each file is written beside its
# place and renamed into it, so a test running during a re-configure reads the old or the new
# file, never a half-written one.
set(KESTROLA_ODBC_DRIVERS /usr/lib/x86_64-linux-gnu/odbc)
function(kestrola_odbc_mapping folder content)
  set(dir ${CMAKE_BINARY_DIR}/tests/${folder})
  if(EXISTS ${dir}/odbcinst.ini)
    file(READ ${dir}/odbcinst.ini old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/odbcinst.ini.new "${content}")
  file(RENAME ${dir}/odbcinst.ini.new ${dir}/odbcinst.ini)
endfunction()
kestrola_odbc_mapping(odbc-postgres "[SQL Server]\nDriver=${KESTROLA_ODBC_DRIVERS}/psqlodbcw.so\n")
kestrola_odbc_mapping(odbc-sqlite "[SQL Server]\nDriver=${KESTROLA_ODBC_DRIVERS}/libsqlite3odbc.so\n")
kestrola_odbc_mapping(odbc-empty "[Other]\nDriver=/nonexistent.so\n")
