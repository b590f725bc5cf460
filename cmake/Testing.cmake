include(CTest)

# GoogleTest is built from source with the same compiler and flags as the
# tests (Debian ships the sources in /usr/src/googletest); elsewhere an
# installed GoogleTest is used.
set(QV_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(BUILD_TESTING)
  if(EXISTS "${QV_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory("${QV_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
    if(NOT MSVC)
      # GoogleTest's own sources are not ours to warn about.
      target_compile_options(gtest PRIVATE -w)
      target_compile_options(gtest_main PRIVATE -w)
    endif()
  else()
    find_package(GTest REQUIRED)
    add_library(gtest ALIAS GTest::gtest)
    add_library(gtest_main ALIAS GTest::gtest_main)
  endif()
endif()

# Win32 test programs run under Wine when cross-compiled: the wrapper gives
# them a Wine prefix of this build's own and the GBK code page.
if(QV_WIN32 AND CMAKE_CROSSCOMPILING)
  set(QV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of this build")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh" CACHE STRING "" FORCE)
endif()

# Tests' time limits, and the limits of their waits (tests/support/
# time_limit.h), are multiplied by this: the 32-bit build's tests run in an
# emulated machine (scripts/test-i686.sh), several times slower.
set(QV_TEST_TIME_FACTOR 1 CACHE STRING "Multiplier of every test's time limit")

# qv_add_test(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One executable per component, registered as one CTest test.
function(qv_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${QV_TEST_TIME_FACTOR}")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  set(environment "QV_TEST_TIME_FACTOR=${QV_TEST_TIME_FACTOR}")
  if(QV_WIN32 AND CMAKE_CROSSCOMPILING)
    list(APPEND environment "WINEPREFIX=${QV_WINEPREFIX}")
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
