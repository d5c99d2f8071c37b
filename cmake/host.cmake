# Native build on the Linux host: the build tool that stamps installers, the unit tests of the
# pure rules (with sanitizers), and the registration of every test layer with CTest.
option(MV_TOOL_ONLY "build only the host tool (for tools/build-installer)" OFF)
option(MV_SANITIZE "build the native tests with AddressSanitizer and UBSan" ON)
set(MV_X86_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/x86" CACHE PATH "build folder of the shipped x86 installer and its tests")
set(MV_X64_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/x64" CACHE PATH "build folder of the x64 twin and its tests")

if(NOT MV_TOOL_ONLY AND MV_SANITIZE)
  set(MV_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${MV_SANITIZE_FLAGS})
  add_link_options(-fsanitize=address,undefined)
  # The core library was declared before these options; give it the same instrumentation.
  target_compile_options(mvsetup_core PRIVATE ${MV_SANITIZE_FLAGS})
endif()

# The build steps that only the host tool takes (page alignment, the checksum), apart from its
# command line so that the unit tests reach them.
add_library(mvsetup_host STATIC tools/host/page_align.cpp tools/host/pe_checksum.cpp tools/host/run_from_swap.cpp)
target_include_directories(mvsetup_host PUBLIC tools)
target_link_libraries(mvsetup_host PUBLIC mvsetup_core)

add_executable(mvsetup-tool tools/host/mvsetup_tool.cpp)
target_link_libraries(mvsetup-tool PRIVATE mvsetup_host)

if(NOT MV_TOOL_ONLY)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  file(GLOB MV_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
  add_executable(unit_tests ${MV_UNIT_TEST_SOURCES})
  target_link_libraries(unit_tests PRIVATE mvsetup_host GTest::gtest_main)
  target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(unit_tests PRIVATE MV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

  enable_testing()
  include(GoogleTest)
  gtest_discover_tests(unit_tests)
  include(${CMAKE_SOURCE_DIR}/tests/tests.cmake)
endif()
