# Helpers shared by every folder's CMakeLists.txt.
#
# rv_library(<name> [DEPS ...]) builds the folder's sources (every *.cpp in
# it, not in sub-folders) into the static library rv_<name>.

function(rv_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(rv_${name} STATIC ${sources})
    target_include_directories(rv_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(rv_${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(rv_${name} INTERFACE)
    target_include_directories(rv_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(rv_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# rv_test_folder(<folder> [DEPS ...]) makes one GoogleTest executable of
# tests/<folder>/*.cpp and registers each test with CTest.
function(rv_test_folder folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  string(REPLACE "/" "_" tname ${folder})
  add_executable(tests_${tname} ${sources})
  target_link_libraries(tests_${tname} PRIVATE ${ARG_DEPS} rv_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  # GCC 12 reports false "maybe uninitialized" warnings inside <regex> and
  # <functional> under the sanitizers.
  target_compile_options(tests_${tname} PRIVATE -Wno-maybe-uninitialized)
  target_compile_definitions(tests_${tname} PRIVATE
    RV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" RV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(tests_${tname} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300)
endfunction()
