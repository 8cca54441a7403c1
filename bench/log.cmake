find_package(Qt6 REQUIRED COMPONENTS Widgets)
kestrola_bench(log_bench SOURCES LogBench.cpp DEPS kestrola_log kestrola_service)
