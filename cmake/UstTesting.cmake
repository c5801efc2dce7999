# Test, fuzz and benchmark helpers shared by every folder.
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

set(UST_FIXTURES_DIR "${CMAKE_SOURCE_DIR}/../shared/fixtures" CACHE PATH
    "Folder of the xBase fixtures (read-only ground truth); tests skip when absent")

# ust_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [ENV "A=b;C=d"] [TIMEOUT s])
function(ust_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
      UST_FIXTURES_DIR="${UST_FIXTURES_DIR}"
      UST_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
      UST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name}
      WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
      PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENV}"
      DISCOVERY_TIMEOUT 60)
endfunction()

# ust_add_fuzzer(NAME SOURCES a.cpp LIBS lib1 [CORPUS dir])
# Built only with UST_FUZZ (clang); each target is also a short CTest run.
function(ust_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT UST_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  # An input that runs for 30 s counts as a hang: the fuzzer then prints
  # where it was and stops, long before the test's own time runs out.
  set(args -max_total_time=$ENV{UST_FUZZ_SECONDS} -rss_limit_mb=2048 -timeout=30)
  if("$ENV{UST_FUZZ_SECONDS}" STREQUAL "")
    set(args -max_total_time=15 -rss_limit_mb=2048 -timeout=30)
  endif()
  if(F_CORPUS)
    set(workdir ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    add_test(NAME ${name}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                $<TARGET_FILE:${name}> ${args} ${workdir} ${F_CORPUS})
    file(MAKE_DIRECTORY ${workdir})
  else()
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${name}> ${args})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 120)
endfunction()

# ust_add_benchmark(NAME SOURCES a.cpp LIBS lib1): built, never run by CTest.
function(ust_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
