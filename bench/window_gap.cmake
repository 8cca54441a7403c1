# The window's event loop while the queue worker is stuck on a printer or a silent database.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
foreach(fault printer login)
  kestrola_bench(window_gap_${fault}_bench SOURCES WindowGapBench.cpp
    DEPS kestrola_service kestrola_test_db_support Qt6::Test)
  string(TOUPPER ${fault} upper)
  target_compile_definitions(window_gap_${fault}_bench PRIVATE
    KESTROLA_BINARY_DIR="${CMAKE_BINARY_DIR}" KESTROLA_GAP_FAULT_${upper}=1)
endforeach()
