# Windows tests, built for the shipped x86 installer and for its x64 twin alike and run under
# wine64 (the x86 ones in its WOW64 half): the Win32 layer, the stand-in product, and the
# end-to-end driver with its robot.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set(MV_TEST_LINK -static -static-libgcc -static-libstdc++)

file(GLOB MV_WIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
file(GLOB MV_WIN_TEST_DATA CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/data/*)
add_executable(win_tests ${MV_WIN_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/win/test_resources.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/win/test_resources.rc PROPERTIES
  OBJECT_DEPENDS "${MV_WIN_TEST_DATA}")
target_include_directories(win_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/win ${CMAKE_SOURCE_DIR}/tests)
# version, imagehlp and gdi32: Windows' own readers of the built installer's identity; oleaut32:
# the BSTR lengths of the COM owners' test.
target_link_libraries(win_tests PRIVATE mvsetup_win GTest::gtest_main version imagehlp gdi32 oleaut32)
# The libraries' machine code rather than their intermediate code (cmake/windows.cmake).
target_link_options(win_tests PRIVATE -fno-lto)
# Test data is read through Wine's Z: drive (Windows takes forward slashes too).
target_compile_definitions(win_tests PRIVATE MV_TEST_SOURCE_DIR="Z:${CMAKE_SOURCE_DIR}/tests/win")
# The installer of the same architecture that tools/build-installer writes with its defaults.
if(MV_TRIPLE MATCHES "^i686")
  set(mv_built_installer "${CMAKE_SOURCE_DIR}/dist/mvm3-setup.exe")
else()
  set(mv_built_installer "${CMAKE_SOURCE_DIR}/dist/x64/mvm3-setup.exe")
endif()
target_compile_definitions(win_tests PRIVATE MV_TEST_BUILT_INSTALLER=L"Z:${mv_built_installer}")
target_link_options(win_tests PRIVATE ${MV_TEST_LINK})

file(GLOB MV_STANDIN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/standin/*.cpp)
add_executable(mirvane_standin WIN32 ${MV_STANDIN_SOURCES})
set_target_properties(mirvane_standin PROPERTIES OUTPUT_NAME Mirvane)
target_link_options(mirvane_standin PRIVATE ${MV_TEST_LINK})

file(GLOB MV_E2E_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.cpp)
add_executable(e2e_tests ${MV_E2E_SOURCES})
target_include_directories(e2e_tests PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(e2e_tests PRIVATE GTest::gtest_main advapi32 user32)
target_link_options(e2e_tests PRIVATE ${MV_TEST_LINK})

# A stand-in command interpreter that records how it was started: well-behaved for "ver", never
# ending or leaving a child behind otherwise.
add_executable(interpreter ${CMAKE_SOURCE_DIR}/tests/win/tools/interpreter.cpp)
target_link_options(interpreter PRIVATE ${MV_TEST_LINK})

add_custom_target(windows_tests DEPENDS win_tests mirvane_standin e2e_tests interpreter describe-windows)
# The tests of the product's start run the stand-in.
add_dependencies(win_tests mirvane_standin)

# Two builds of one do-nothing program that differ only in their version information.
foreach(mv_version IN ITEMS "1.0.0.0" "2.0.0.0")
  string(REPLACE "." "," mv_version_bin "${mv_version}")
  string(REPLACE "." "_" mv_suffix "${mv_version}")
  configure_file(${CMAKE_SOURCE_DIR}/tests/win/tools/versioned.rc.in generated/versioned_${mv_suffix}.rc @ONLY)
  add_executable(versioned_${mv_suffix} ${CMAKE_SOURCE_DIR}/tests/win/tools/versioned.cpp
                 ${CMAKE_BINARY_DIR}/generated/versioned_${mv_suffix}.rc)
  target_link_options(versioned_${mv_suffix} PRIVATE ${MV_TEST_LINK})
  add_dependencies(windows_tests versioned_${mv_suffix})
endforeach()
target_compile_definitions(win_tests PRIVATE MV_TEST_BUILD_DIR="Z:${CMAKE_BINARY_DIR}")

# The planted-DLL test: a DLL that marks every load of itself, copied beside the installer
# under the names of system DLLs, and a control program without the installer's defences.
add_library(planted_dll SHARED ${CMAKE_SOURCE_DIR}/tests/win/tools/planted_dll.cpp)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)
# No C runtime and no loop turned into a memcpy call: kernel32 is its only import.
target_compile_options(planted_dll PRIVATE -fno-tree-loop-distribute-patterns)
# The entry's name as the linker knows it: 32-bit stdcall names carry "_" and "@<argument bytes>".
# A warning fails the link: without an entry the DLL would load without ever leaving its marker.
if(MV_TRIPLE MATCHES "^i686")
  set(mv_planted_entry _PlantedEntry@12)
else()
  set(mv_planted_entry PlantedEntry)
endif()
target_link_options(planted_dll PRIVATE -nostdlib -Wl,--entry,${mv_planted_entry} -Wl,--fatal-warnings)
target_link_libraries(planted_dll PRIVATE kernel32)
add_executable(plantable ${CMAKE_SOURCE_DIR}/tests/win/tools/plantable.cpp)
target_link_libraries(plantable PRIVATE version)
target_link_options(plantable PRIVATE ${MV_TEST_LINK})
# The installer's DLL search restriction taken as on a Windows without SetDefaultDllDirectories.
add_executable(older_windows ${CMAKE_SOURCE_DIR}/tests/win/tools/older_windows.cpp)
target_link_libraries(older_windows PRIVATE mvsetup_win)
target_link_options(older_windows PRIVATE -fno-lto ${MV_TEST_LINK})
# The progress window in a process of its own, which takes the DPI set when it starts.
add_executable(progress_window ${CMAKE_SOURCE_DIR}/tests/win/tools/progress_window.cpp)
target_include_directories(progress_window PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(progress_window PRIVATE mvsetup_win)
target_link_options(progress_window PRIVATE -fno-lto ${MV_TEST_LINK})
# tests/e2e/run builds only the driver: it brings these along.
add_dependencies(e2e_tests planted_dll plantable)
add_dependencies(windows_tests planted_dll plantable older_windows progress_window)
