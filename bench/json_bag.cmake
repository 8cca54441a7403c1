find_package(nlohmann_json 3 QUIET)
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h)
if(nlohmann_json_FOUND AND RAPIDJSON_INCLUDE_DIR)
  kestrola_bench(json_bag_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/JsonBagBench.cpp
                 DEPS kestrola_json nlohmann_json::nlohmann_json)
  target_include_directories(json_bag_bench PRIVATE ${RAPIDJSON_INCLUDE_DIR})
endif()
