find_package(nlohmann_json 3 QUIET)
if(nlohmann_json_FOUND)
  kestrola_bench(bench_json_module SOURCES JsonModuleBench.cpp JsonBenchSupport.cpp
    DEPS kestrola_jsonscript nlohmann_json::nlohmann_json)
endif()
