# Third-party packages, all from the distribution's own packages.

if(WIN32)
  # Windows builds make their own from Debian's sources.
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsDependencies.cmake)
  return()
endif()

find_path(RAPIDJSON_INCLUDE_DIR rapidjson/reader.h REQUIRED)
add_library(korvel_rapidjson INTERFACE)
target_include_directories(korvel_rapidjson SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIR})

find_path(YAML_INCLUDE_DIR yaml.h REQUIRED)
find_library(YAML_LIBRARY NAMES yaml REQUIRED)
add_library(korvel_yaml INTERFACE)
target_include_directories(korvel_yaml SYSTEM INTERFACE ${YAML_INCLUDE_DIR})
target_link_libraries(korvel_yaml INTERFACE ${YAML_LIBRARY})

find_package(Threads REQUIRED)

if(KORVEL_BUILD_TESTS OR KORVEL_FUZZ)
  find_package(GTest REQUIRED)
  # The test host reads and builds host values from JSON.
  find_package(nlohmann_json 3 REQUIRED)
endif()

if(KORVEL_BUILD_TESTS OR KORVEL_BUILD_BENCHMARKS)
  # An independent MessagePack implementation: the benchmarks compare against it and the encoding
  # tests use its packer to make input for the decoder. Optional; both do without it.
  find_package(msgpack-cxx QUIET)
  if(NOT TARGET msgpack-cxx)
    # Debian's msgpack-cxx 4.x installs its package as "msgpack" with the target msgpackc-cxx.
    find_package(msgpack QUIET)
    if(TARGET msgpackc-cxx)
      add_library(msgpack-cxx ALIAS msgpackc-cxx)
    endif()
  endif()
endif()

if(KORVEL_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
  # Reference implementations the benchmarks compare against; each is optional.
  find_package(nlohmann_json QUIET)
  find_package(yaml-cpp QUIET)
endif()
