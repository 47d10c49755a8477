# One interface target carries the language standard, the warnings and the
# sanitizer switches; every library, program and test links it.
add_library(brelloc_common INTERFACE)
target_compile_features(brelloc_common INTERFACE cxx_std_20)
target_compile_options(brelloc_common INTERFACE -Wall -Wextra)
target_include_directories(brelloc_common INTERFACE ${PROJECT_SOURCE_DIR}/src)

if(BRELLOC_ASAN AND BRELLOC_TSAN)
  message(FATAL_ERROR "BRELLOC_ASAN and BRELLOC_TSAN cannot be combined")
endif()
if(BRELLOC_ASAN)
  target_compile_options(brelloc_common INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(brelloc_common INTERFACE -fsanitize=address,undefined)
endif()
if(BRELLOC_TSAN)
  target_compile_options(brelloc_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(brelloc_common INTERFACE -fsanitize=thread)
endif()

# brelloc_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One test program per test file. Each of its cases is registered with CTest
# and labelled with the program's name (so `ctest -L <program>` picks a whole
# program) and with any LABELS given.
function(brelloc_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE brelloc_common ${T_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${name};${T_LABELS}")
endfunction()
