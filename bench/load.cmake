# Many terminals on one database: load_terminal is one simulated terminal, driven by
# bench/load.py (LOAD=1 bash bench/run-all.sh). It is no Google benchmark, so it lives in a
# folder of its own that run-all.sh does not run directly.
add_executable(load_terminal LoadTerminal.cpp)
target_link_libraries(load_terminal PRIVATE kestrola_service)
set_target_properties(load_terminal PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench/load)
