# Third-party code for the Windows (mingw-w64) builds. The distribution ships
# no Windows binaries of it, so it is built here, once per build tree:
#   RapidJSON, nlohmann::json  header-only: the build machine's headers,
#                              seen through a folder of their own so that no
#                              other Linux header can reach the compiler
#   libyaml                    Debian's source package (`apt-get source
#                              libyaml`, which needs deb-src entries; see
#                              scripts/setup.sh), unpacked into the build tree
#   GoogleTest, GoogleMock     the sources libgtest-dev ships in
#                              /usr/src/googletest

set(KORVEL_DEPS_DIR ${CMAKE_BINARY_DIR}/_deps)
set(KORVEL_HEADER_ONLY_DIR ${KORVEL_DEPS_DIR}/include)
file(MAKE_DIRECTORY ${KORVEL_HEADER_ONLY_DIR})

# Links /usr/include/<name> into the private include folder.
function(korvel_borrow_headers name probe)
  if(NOT EXISTS /usr/include/${name}/${probe})
    message(FATAL_ERROR "/usr/include/${name}/${probe} not found (see scripts/setup.sh)")
  endif()
  file(CREATE_LINK /usr/include/${name} ${KORVEL_HEADER_ONLY_DIR}/${name} SYMBOLIC)
endfunction()

korvel_borrow_headers(rapidjson reader.h)
add_library(korvel_rapidjson INTERFACE)
target_include_directories(korvel_rapidjson SYSTEM INTERFACE ${KORVEL_HEADER_ONLY_DIR})

# --- libyaml ---------------------------------------------------------------
set(KORVEL_LIBYAML_SOURCE_DIR "" CACHE PATH
    "Unpacked libyaml source package; fetched with apt-get source when empty")
if(NOT KORVEL_LIBYAML_SOURCE_DIR)
  file(GLOB unpacked LIST_DIRECTORIES true ${KORVEL_DEPS_DIR}/libyaml/libyaml-*/src/api.c)
  if(NOT unpacked)
    message(STATUS "Fetching Debian's libyaml source package into ${KORVEL_DEPS_DIR}/libyaml")
    file(MAKE_DIRECTORY ${KORVEL_DEPS_DIR}/libyaml)
    execute_process(COMMAND apt-get source libyaml
                    WORKING_DIRECTORY ${KORVEL_DEPS_DIR}/libyaml
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
    file(GLOB unpacked LIST_DIRECTORIES true ${KORVEL_DEPS_DIR}/libyaml/libyaml-*/src/api.c)
    if(NOT status EQUAL 0 OR NOT unpacked)
      message(FATAL_ERROR "apt-get source libyaml failed (deb-src entries are added by "
                          "scripts/setup.sh):\n${errors}")
    endif()
  endif()
  list(GET unpacked 0 api)
  get_filename_component(src ${api} DIRECTORY)
  get_filename_component(root ${src} DIRECTORY)
  set(KORVEL_LIBYAML_SOURCE_DIR ${root} CACHE PATH
      "Unpacked libyaml source package; fetched with apt-get source when empty" FORCE)
endif()

file(STRINGS ${KORVEL_LIBYAML_SOURCE_DIR}/CMakeLists.txt version_lines
     REGEX "^set \\(YAML_VERSION_(MAJOR|MINOR|PATCH) [0-9]+\\)")
foreach(line IN LISTS version_lines)
  string(REGEX REPLACE "^set \\(YAML_VERSION_([A-Z]+) ([0-9]+)\\)" "\\1;\\2" pair "${line}")
  list(GET pair 0 part)
  list(GET pair 1 number)
  set(yaml_${part} ${number})
endforeach()
if(NOT DEFINED yaml_MAJOR OR NOT DEFINED yaml_MINOR OR NOT DEFINED yaml_PATCH)
  message(FATAL_ERROR "no version found in ${KORVEL_LIBYAML_SOURCE_DIR}/CMakeLists.txt")
endif()

file(GLOB yaml_sources ${KORVEL_LIBYAML_SOURCE_DIR}/src/*.c)
add_library(korvel_yaml_static STATIC ${yaml_sources})
# Third-party code: its warnings are not this project's to fix.
target_compile_options(korvel_yaml_static PRIVATE -w)
target_compile_definitions(korvel_yaml_static
  PRIVATE YAML_VERSION_MAJOR=${yaml_MAJOR} YAML_VERSION_MINOR=${yaml_MINOR}
          YAML_VERSION_PATCH=${yaml_PATCH}
          YAML_VERSION_STRING="${yaml_MAJOR}.${yaml_MINOR}.${yaml_PATCH}"
  PUBLIC YAML_DECLARE_STATIC)
target_include_directories(korvel_yaml_static SYSTEM PUBLIC ${KORVEL_LIBYAML_SOURCE_DIR}/include)
add_library(korvel_yaml INTERFACE)
target_link_libraries(korvel_yaml INTERFACE korvel_yaml_static)

find_package(Threads REQUIRED)

# --- GoogleTest --------------------------------------------------------------
if(KORVEL_BUILD_TESTS)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "/usr/src/googletest not found (libgtest-dev, see scripts/setup.sh)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # GoogleTest brings its own warning flags; the project's -Werror stays out.
  get_directory_property(project_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(/usr/src/googletest ${KORVEL_DEPS_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${project_options}")

  korvel_borrow_headers(nlohmann json.hpp)
  add_library(korvel_nlohmann_json INTERFACE)
  target_include_directories(korvel_nlohmann_json SYSTEM INTERFACE ${KORVEL_HEADER_ONLY_DIR})
  add_library(nlohmann_json::nlohmann_json ALIAS korvel_nlohmann_json)
endif()
