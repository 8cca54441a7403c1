# JsonBag against RapidJSON, nlohmann::json and (when installed) simdjson's DOM.
find_package(nlohmann_json 3 QUIET)
find_package(simdjson QUIET)
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h)
if(nlohmann_json_FOUND AND RAPIDJSON_INCLUDE_DIR)
  kestrola_bench(json_bag_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/JsonBagBench.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/JsonBenchSupport.cpp
                 DEPS kestrola_json nlohmann_json::nlohmann_json)
  target_include_directories(json_bag_bench PRIVATE ${RAPIDJSON_INCLUDE_DIR})
  if(simdjson_FOUND)
    target_link_libraries(json_bag_bench PRIVATE simdjson::simdjson)
    target_compile_definitions(json_bag_bench PRIVATE KESTROLA_HAVE_SIMDJSON=1)
  else()
    target_compile_definitions(json_bag_bench PRIVATE KESTROLA_HAVE_SIMDJSON=0)
  endif()
endif()

# The table that bench/run-all.sh prints, on result files good and bad.
if(KESTROLA_TESTS)
  add_test(NAME bench_table COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/table_test.py)
  set_tests_properties(bench_table PROPERTIES LABELS unit)
endif()
