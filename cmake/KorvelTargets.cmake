# Targets of the project. Sources are found by folder so that adding a file
# to a subsystem needs no edit here:
#   <subsystem>/*.cpp          the static library `korvel`
#   platform/posix|windows     the platform layer of the target system
#   <subsystem>/module/*.cpp   only in the shared plug-in library (export,
#                              allocation operators, load-time start-up)
#   <subsystem>/bench/*.cpp    one benchmark program per subsystem, each with
#                              tests/support/bench/steady_heap.cpp
#   tests/support/*.cpp        helpers shared by every test program
#   tests/<subsystem>/*.cpp    one test program per folder
#   <subsystem>/fuzz/*_fuzz.cpp  one fuzz target each: a libFuzzer program in the `fuzz` preset,
#                              a replay of its checked-in corpus (fuzz/corpus/<name>/) as a test
#                              in the sanitizer build

set(KORVEL_SUBSYSTEMS platform diagnostics binding encoding remoting plugin service_status)

function(korvel_add_library)
  set(sources "")
  foreach(dir IN LISTS KORVEL_SUBSYSTEMS)
    file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  if(WIN32)
    file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/windows/*.cpp)
  else()
    file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/posix/*.cpp)
  endif()
  list(APPEND sources ${found})

  add_library(korvel STATIC ${sources} ${PROJECT_SOURCE_DIR}/cmake/korvel.cpp)
  target_include_directories(korvel PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(korvel PUBLIC korvel_rapidjson korvel_yaml Threads::Threads ${CMAKE_DL_LIBS})
endfunction()

function(korvel_add_plugin_module)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/*/module/*.cpp)
  add_library(tep-be-vel-service-status SHARED ${sources})
  set_target_properties(tep-be-vel-service-status PROPERTIES PREFIX "")
  target_link_libraries(tep-be-vel-service-status PRIVATE korvel)
  if(WIN32)
    # A DLL exports only what its module-definition file names; the
    # compiler's run-time libraries are linked in (-static, from the
    # toolchain file), so the library depends on system DLLs alone.
    target_sources(tep-be-vel-service-status PRIVATE
      ${PROJECT_SOURCE_DIR}/cmake/tep-be-vel-service-status.def)
    target_link_options(tep-be-vel-service-status PRIVATE -static -Wl,--no-undefined)
  else()
    # The C++ runtime is linked in and hidden, so that the library's own
    # allocation operators serve every allocation made inside it and none of
    # the host's.
    target_link_options(tep-be-vel-service-status PRIVATE
      -static-libstdc++ -static-libgcc
      -Wl,--exclude-libs,ALL
      -Wl,--no-undefined
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/plugin/module/exports.map)
    set_property(TARGET tep-be-vel-service-status APPEND PROPERTY
      LINK_DEPENDS ${PROJECT_SOURCE_DIR}/plugin/module/exports.map)
  endif()
endfunction()

# Helpers shared by the test programs and the fuzz targets.
function(korvel_add_test_support)
  if(TARGET korvel_test_support)
    return()
  endif()
  file(GLOB support CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
  add_library(korvel_test_support STATIC ${support})
  target_include_directories(korvel_test_support PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(korvel_test_support PUBLIC korvel GTest::gtest GTest::gmock
                        nlohmann_json::nlohmann_json)
  if(NOT TARGET tep-be-vel-service-status)
    # The fuzz build has no plug-in library; its targets serve in-process plug-in objects.
    target_compile_definitions(korvel_test_support PUBLIC KORVEL_PLUGIN_PATH="")
  elseif(WIN32 AND CMAKE_CROSSCOMPILING)
    # Wine shows the build machine's file system as drive Z:.
    target_compile_definitions(korvel_test_support PUBLIC
      KORVEL_PLUGIN_PATH="Z:$<TARGET_FILE:tep-be-vel-service-status>")
  else()
    target_compile_definitions(korvel_test_support PUBLIC
      KORVEL_PLUGIN_PATH="$<TARGET_FILE:tep-be-vel-service-status>")
  endif()
endfunction()

# The tests that run threads, as a gtest filter: their names hold "Threads" or "Concurrent". The
# ThreadSanitizer build runs only these, labelled "threads".
set(KORVEL_THREAD_TEST_FILTER "*Threads*:*Concurrent*")
set(KORVEL_THREAD_TEST_SUITES diagnostics binding plugin)

function(korvel_add_tests)
  korvel_add_test_support()

  file(GLOB dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*)
  foreach(dir IN LISTS dirs)
    get_filename_component(name ${dir} NAME)
    if(NOT IS_DIRECTORY ${dir} OR name STREQUAL "support")
      continue()
    endif()
    # The vel-host tests need the program.
    if(name STREQUAL "vel_host" AND NOT TARGET vel-host)
      continue()
    endif()
    if(KORVEL_TSAN AND NOT name IN_LIST KORVEL_THREAD_TEST_SUITES)
      continue()
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(NOT sources)
      continue()
    endif()
    add_executable(${name}_tests ${sources})
    target_link_libraries(${name}_tests PRIVATE korvel_test_support GTest::gtest_main)
    add_dependencies(${name}_tests tep-be-vel-service-status)
    if(KORVEL_TSAN)
      add_test(NAME ${name}_threads COMMAND ${name}_tests --gtest_brief=1
               --gtest_filter=${KORVEL_THREAD_TEST_FILTER})
      set_tests_properties(${name}_threads PROPERTIES TIMEOUT 900 LABELS threads)
      continue()
    endif()
    add_test(NAME ${name} COMMAND ${name}_tests --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
    if(CMAKE_CROSSCOMPILING_EMULATOR AND NOT WIN32)
      # A test that starts a copy of its own program starts it through the emulator too.
      list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "KORVEL_TEST_EMULATOR=${emulator}")
    endif()
    if(name STREQUAL "encoding" AND TARGET msgpack-cxx)
      # The MessagePack tests also check the decoder against msgpack-cxx's packer.
      target_link_libraries(encoding_tests PRIVATE msgpack-cxx)
      target_compile_definitions(encoding_tests PRIVATE KORVEL_HAVE_MSGPACK_CXX=1)
    endif()
    if(name STREQUAL "vel_host")
      target_link_libraries(vel_host_tests PRIVATE vel_host_core)
      target_compile_definitions(vel_host_tests PRIVATE
        KORVEL_VEL_HOST_PATH="$<TARGET_FILE:vel-host>")
      add_dependencies(vel_host_tests vel-host)
    endif()
  endforeach()

  if(WIN32)
    # The same programs with the system's event-tracing functions missing:
    # Wine's advapi32 is disabled for them.
    foreach(run IN ITEMS "diagnostics;EventTracing.WithoutAdvapi*"
                         "plugin;WindowsLibrary.*WithoutAdvapi32*")
      list(GET run 0 suite)
      list(GET run 1 filter)
      if(TARGET ${suite}_tests)
        add_test(NAME ${suite}_without_advapi32
                 COMMAND ${suite}_tests --gtest_brief=1 --gtest_filter=${filter})
        set_tests_properties(${suite}_without_advapi32 PROPERTIES
          ENVIRONMENT "WINEDLLOVERRIDES=advapi32=;KORVEL_EXPECT_NO_ADVAPI32=1" TIMEOUT 900)
      endif()
    endforeach()
  endif()
  if(KORVEL_SANITIZE)
    korvel_add_fuzz_replays()
  endif()
  if(NOT KORVEL_TSAN)
    korvel_add_export_check()
  endif()
endfunction()

# Every fuzz target: <subsystem>/fuzz/<name>_fuzz.cpp, its seeds in <subsystem>/fuzz/corpus/<name>/.
function(korvel_fuzz_sources out)
  set(sources "")
  foreach(dir IN LISTS KORVEL_SUBSYSTEMS)
    file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/fuzz/*_fuzz.cpp)
    list(APPEND sources ${found})
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# The fuzz targets built with a small main of their own that feeds every file of the checked-in
# corpus to the target once: one test `fuzz_<name>` each, a regression run in seconds.
function(korvel_add_fuzz_replays)
  korvel_fuzz_sources(sources)
  foreach(source IN LISTS sources)
    get_filename_component(file ${source} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" name ${file})
    get_filename_component(fuzz_dir ${source} DIRECTORY)
    add_executable(${name}_fuzz_replay ${source}
                   ${PROJECT_SOURCE_DIR}/tests/support/replay/fuzz_replay_main.cpp)
    target_link_libraries(${name}_fuzz_replay PRIVATE korvel_test_support)
    add_test(NAME fuzz_${name} COMMAND ${name}_fuzz_replay ${fuzz_dir}/corpus/${name})
    set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
  endforeach()
endfunction()

# The libFuzzer programs (`fuzz` preset, clang): <name>_fuzz, run by scripts/fuzz.sh.
function(korvel_add_fuzzers)
  korvel_add_test_support()
  korvel_fuzz_sources(sources)
  foreach(source IN LISTS sources)
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE korvel_test_support)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endfunction()

# The `exports` test: the plug-in library exports load_vel_service_status and
# nothing else (and, for Windows, imports from system DLLs alone).
function(korvel_add_export_check)
  if(WIN32)
    add_test(NAME exports COMMAND ${CMAKE_COMMAND}
             -DLIBRARY=$<TARGET_FILE:tep-be-vel-service-status>
             -DOBJDUMP=${CMAKE_OBJDUMP}
             -P ${PROJECT_SOURCE_DIR}/cmake/CheckPeExports.cmake)
  else()
    add_test(NAME exports COMMAND ${CMAKE_COMMAND}
             -DLIBRARY=$<TARGET_FILE:tep-be-vel-service-status>
             -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)
  endif()
endfunction()

function(korvel_add_benchmarks)
  foreach(dir IN LISTS KORVEL_SUBSYSTEMS)
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/bench/*.cpp)
    if(NOT sources)
      continue()
    endif()
    add_executable(${dir}_bench ${sources} ${PROJECT_SOURCE_DIR}/tests/support/bench/steady_heap.cpp)
    target_link_libraries(${dir}_bench PRIVATE korvel benchmark::benchmark_main)
    if(TARGET nlohmann_json::nlohmann_json)
      target_link_libraries(${dir}_bench PRIVATE nlohmann_json::nlohmann_json)
      target_compile_definitions(${dir}_bench PRIVATE KORVEL_HAVE_NLOHMANN_JSON=1)
    endif()
    if(TARGET msgpack-cxx)
      target_link_libraries(${dir}_bench PRIVATE msgpack-cxx)
      target_compile_definitions(${dir}_bench PRIVATE KORVEL_HAVE_MSGPACK_CXX=1)
    endif()
    if(TARGET yaml-cpp)
      target_link_libraries(${dir}_bench PRIVATE yaml-cpp)
      target_compile_definitions(${dir}_bench PRIVATE KORVEL_HAVE_YAML_CPP=1)
    endif()
  endforeach()
endfunction()

# vel-host, the development host program (vel_host/*.cpp), built on Linux when its packages
# are there: CLI11, cpp-httplib, libcurl and nlohmann-json. Not in cross builds (the x86
# preset), whose target architecture lacks them.
function(korvel_add_vel_host)
  if(WIN32 OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  find_package(CLI11 QUIET CONFIG)
  find_package(CURL QUIET)
  find_package(nlohmann_json 3 QUIET)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(CPP_HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
  endif()
  if(NOT TARGET CLI11::CLI11 OR NOT TARGET CURL::libcurl OR NOT TARGET nlohmann_json::nlohmann_json
     OR NOT TARGET PkgConfig::CPP_HTTPLIB)
    message(STATUS "vel-host not built: install libcli11-dev libcurl4-openssl-dev "
                   "libcpp-httplib-dev nlohmann-json3-dev (scripts/setup.sh)")
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/vel_host/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  # Everything but main, so that the tests can use the host's parts too.
  add_library(vel_host_core STATIC ${sources})
  target_include_directories(vel_host_core PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(vel_host_core PUBLIC CLI11::CLI11 CURL::libcurl
                        nlohmann_json::nlohmann_json PkgConfig::CPP_HTTPLIB Threads::Threads
                        ${CMAKE_DL_LIBS})
  add_executable(vel-host ${PROJECT_SOURCE_DIR}/vel_host/main.cpp)
  target_link_libraries(vel-host PRIVATE vel_host_core)
  add_dependencies(vel-host tep-be-vel-service-status)
endfunction()
