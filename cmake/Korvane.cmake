# Shared build helpers.

set(KORVANE_TESTDATA_DIR ${CMAKE_BINARY_DIR}/testdata)
set(KORVANE_PYDICOM_FILES /usr/lib/python3/dist-packages/pydicom/data/test_files)

# Warnings for our own targets.
function(korvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# korvane_add_gtest(NAME name SOURCES a.cpp b.cpp LIBS lib1 lib2 [STUDIES] [QT_MAIN])
#   Builds one GoogleTest program and registers its tests with CTest.
#   STUDIES: the tests need the synthetic visits that the studygen fixture
#            writes under KORVANE_TESTDATA_DIR (demo/, mixed/).
#   Every test gets QT_QPA_PLATFORM=offscreen and the compile definitions
#   KORVANE_TESTDATA_DIR, KORVANE_SOURCE_DIR, KORVANE_BINARY_DIR,
#   KORVANE_PYDICOM_FILES and KORVANE_STUDYGEN (path of the generator).
#   The main() of testsupport creates a QApplication before running the tests.
function(korvane_add_gtest)
  cmake_parse_arguments(T "STUDIES" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  korvane_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} korvane_testmain GTest::gtest GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE
    KORVANE_TESTDATA_DIR="${KORVANE_TESTDATA_DIR}"
    KORVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    KORVANE_BINARY_DIR="${CMAKE_BINARY_DIR}"
    KORVANE_PYDICOM_FILES="${KORVANE_PYDICOM_FILES}")
  # The generator's folder is added after most others: test for the folder,
  # not the target (the generator expression resolves at generation time).
  if(NOT KORVANE_ONLY OR "tools/studygen" IN_LIST KORVANE_ONLY)
    target_compile_definitions(${T_NAME} PRIVATE KORVANE_STUDYGEN="$<TARGET_FILE:studygen>")
    add_dependencies(${T_NAME} studygen)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${T_TIMEOUT})
  if(T_STUDIES)
    list(APPEND props FIXTURES_REQUIRED studies)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ${props})
endfunction()
