# Shared build rules: one library per source folder, warnings, sanitizers.

set(PICTROVA_WARNINGS -Wall -Wextra -Wpedantic -Wno-unused-parameter)

if(PICTROVA_FUZZ)
  # Every library is instrumented, so the fuzzers see coverage in our code.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(PICTROVA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# pictrova_library(<target> <folder> DEPS <targets...>)
# Every .cpp below <folder> belongs to the library; headers are included as
# "folder/file.h" from the source root.
function(pictrova_library target folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  if(NOT sources)
    # A folder with headers only (or nothing yet) still takes part in the graph.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${target} STATIC ${sources} ${headers})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${PICTROVA_WARNINGS})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  target_precompile_headers(${target} PRIVATE
    <algorithm> <cstdint> <cstring> <memory> <string> <vector> <functional>
    <QtCore/QString> <QtGui/QImage>)
endfunction()

# pictrova_test(<target> <folder> LIBS <targets...>)
# One GoogleTest executable per library; sources are tests/<folder>/*.cpp.
function(pictrova_test target folder)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${target} ${sources} ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp)
  target_compile_options(${target} PRIVATE ${PICTROVA_WARNINGS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  target_compile_definitions(${target} PRIVATE
    PICTROVA_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    PICTROVA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
