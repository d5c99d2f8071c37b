# Cross build: the installer (shipped x86, or its x64 twin) and, on request, the Windows tests.

# Build-time constants, set by tools/build-installer.
set(MV_PAYLOAD_NAME "mvm3" CACHE STRING "payload base name and resource name")
set(MV_PAYLOAD_EXT "pak" CACHE STRING "payload kind: file extension and resource type")
set(MV_PAYLOAD_VERSION "92" CACHE STRING "payload version shown in the questions")
set(MV_ADDON_TITLE_UTF16 "0x0022,0x0422,0x0430,0x0440,0x0432,0x0435,0x043B,0x0438,0x043D,0x0020,0x0033,0x0022,0x0020,0x0432,0x0435,0x0440,0x0441,0x0438,0x0438,0x0020" CACHE STRING "add-on title as comma-separated UTF-16 code units")
set(MV_PAYLOAD_FILES "" CACHE STRING "payload file, or the two halves of a split payload")
set(MV_ICON_FILE "${CMAKE_SOURCE_DIR}/src/app/res/installer.ico" CACHE FILEPATH "the installer's icon")
set(MV_VERSION_INFO_FILE "" CACHE FILEPATH "the version information resource as tools/builder writes it; none when empty")
option(MV_BUILD_TESTS "build the Windows tests, the stand-in product and the test robot" OFF)

# A lean runtime: no exceptions (failures are results; a registry failure that no step handles
# ends the process through the accessor's report), no RTTI, no unwind tables, no guards around
# local statics (the one static that two threads share is made on the main thread first), and
# link-time optimisation across the libraries. What the C++ and C runtimes would otherwise pull
# in (exception objects, the verbose terminate handler, the math-error and pseudo-relocation
# reports) is replaced in src/app/lean_runtime.cpp. -Oz rather than -Os: the payload starts on
# the first 4 KiB page after the code (tools/host stamps it there, so that Wine maps it rather
# than copying it), and -Oz keeps the code one page shorter; nothing here is hot but the digest,
# which has its own instructions. The objects carry machine code beside the intermediate code, so
# that the Windows tests can link the libraries without link-time optimisation: i686 mingw's
# linker takes the inline functions that it emits for a second time when the test code has
# them too.
# -fno-ipa-sra: GCC 12's link-time optimisation stops with an internal error (in
# binds_to_current_def_p) when its scalar replacement clones a library template that two units
# call (vector<wstring>::emplace_back from the command-line splitter and the folder walk).
set(MV_OPT_FLAGS -Oz -fno-ipa-sra -ffunction-sections -fdata-sections -flto -ffat-lto-objects
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-threadsafe-statics
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
# No timestamp, no build id: two builds from the same inputs are byte-identical. Without
# auto-import nothing needs the runtime's pseudo-relocations: a data import that would need one
# fails the link instead.
# Terminal-server aware: a terminal server gives a program without the flag a per-user Windows
# folder and registry redirections meant for old programs.
set(MV_LINK_FLAGS -Oz -fno-ipa-sra -flto -municode -static -static-libgcc -static-libstdc++ -s
    -Wl,--gc-sections -Wl,--no-insert-timestamp -Wl,--build-id=none -Wl,--tsaware
    -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc)
target_compile_options(mvsetup_core PRIVATE ${MV_OPT_FLAGS})
target_compile_definitions(mvsetup_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)

add_library(mvsetup_win STATIC ${MV_WIN_SOURCES})
target_compile_options(mvsetup_win PRIVATE ${MV_OPT_FLAGS})

# At process start the loader maps only kernel32, advapi32 and msvcrt (which Windows takes from
# the system folder as known DLLs). user32, shell32, gdi32, ole32 and oleaut32 are
# delay-imported: each is loaded, from the system folder (src/win/delay_load_win.cpp), on the
# first call into it, so a run that shows nothing loads no windowing code and a DLL planted
# beside the installer under one of their names is never looked at. The lists name the
# functions the program calls, with the argument bytes of their 32-bit names; a function missing
# here would be imported at load time again from the toolchain's default libraries, which the
# builder test of the imports catches.
set(MV_DELAY_user32 CreateWindowExA@48 DefWindowProcA@16 DispatchMessageA@4 FindWindowA@8 GetDC@4 GetMessageA@16
    GetSystemMetrics@4 GetWindowThreadProcessId@8 LoadCursorA@8 MessageBoxExW@20 MessageBoxW@16 MonitorFromPoint@12
    OemToCharBuffA@12 PostMessageA@16 PostQuitMessage@4 RegisterClassExA@4 ReleaseDC@8 SendMessageA@16
    SetForegroundWindow@4 SetWindowPos@28 SetWindowTextA@8 ShowWindow@8 TranslateMessage@4)
set(MV_DELAY_shell32 SHGetFileInfoW@20)
set(MV_DELAY_gdi32 CreateFontA@56 DeleteObject@4 GetDeviceCaps@8 GetStockObject@4)
# COM, for starting the product through the desktop shell (src/product/launch_win.cpp).
set(MV_DELAY_ole32 CoCreateInstance@20 CoInitializeEx@8 CoUninitialize@0)
set(MV_DELAY_oleaut32 SysAllocStringLen@8 SysFreeString@4)
set(mv_delay_libs "")
set(mv_thunks_text "")
foreach(mv_dll IN ITEMS user32 shell32 gdi32 ole32 oleaut32)
  set(mv_def_text "LIBRARY ${mv_dll}.dll\nEXPORTS\n")
  foreach(mv_function IN LISTS MV_DELAY_${mv_dll})
    if(MV_TRIPLE MATCHES "^i686")
      set(mv_thunk "_${mv_function}")  # the 32-bit name of a stdcall function
    else()
      string(REGEX REPLACE "@[0-9]+$" "" mv_function "${mv_function}")
      set(mv_thunk "${mv_function}")
    endif()
    string(APPEND mv_def_text "${mv_function}\n")
    string(MAKE_C_IDENTIFIER "${mv_thunk}" mv_id)
    string(APPEND mv_thunks_text "extern \"C\" void Thunk${mv_id}() __asm__(\"${mv_thunk}\");\n")
    list(APPEND mv_thunk_ids "Thunk${mv_id}")
  endforeach()
  set(mv_def ${CMAKE_BINARY_DIR}/delayload/${mv_dll}.def)
  set(mv_lib ${CMAKE_BINARY_DIR}/delayload/lib${mv_dll}_delay.a)
  file(GENERATE OUTPUT ${mv_def} CONTENT "${mv_def_text}")
  # --kill-at: the 32-bit names are imported without their @n. dlltool keeps the DLL's handle,
  # zero until the first call, among the initialized data; as uninitialized data it takes no
  # 512-byte block of the file, the installer having no other initialized writable data.
  add_custom_command(OUTPUT ${mv_lib}
    COMMAND ${MV_TRIPLE}-dlltool --kill-at --input-def ${mv_def} --output-delaylib ${mv_lib}
    COMMAND ${MV_TRIPLE}-objcopy --remove-section .bss --rename-section .data=.bss,alloc ${mv_lib}
    DEPENDS ${mv_def} VERBATIM)
  list(APPEND mv_delay_libs ${mv_lib})
endforeach()
add_custom_target(mvsetup_delay_libs DEPENDS ${mv_delay_libs})
# Until its first call, each delay-import slot holds the address of the function's thunk, the
# code that loads the DLL. The 32-bit linker drops the thunk of every import whose code calls it
# only through its slot (as it may drop the unused thunk of a plain import), and the slot then
# holds 0: the first call jumps to address 0. One reference to each thunk keeps them all; the
# table itself is dropped again with the unreferenced sections.
list(JOIN mv_thunk_ids ", " mv_thunk_list)
string(APPEND mv_thunks_text "__attribute__((used)) void (*const kDelayThunks[])() = {${mv_thunk_list}};\n")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/generated/delay_thunks.cpp
  CONTENT "// Generated by cmake/windows.cmake from the delay-import lists.\n${mv_thunks_text}")
# The hook is compiled into each program: in the static library nothing would pull it in, and
# the runtime library's null default would take its place.
add_library(mvsetup_delayload INTERFACE)
target_sources(mvsetup_delayload INTERFACE ${CMAKE_SOURCE_DIR}/src/win/delay_load_win.cpp
  ${CMAKE_BINARY_DIR}/generated/delay_thunks.cpp)
target_link_libraries(mvsetup_delayload INTERFACE ${mv_delay_libs})
add_dependencies(mvsetup_delayload mvsetup_delay_libs)
target_link_libraries(mvsetup_win PUBLIC mvsetup_core mvsetup_delayload advapi32)

# The generated constants and resource script change with every build variant; only they
# are recompiled, so rebuilding with other constants takes seconds.
list(LENGTH MV_PAYLOAD_FILES MV_PAYLOAD_PARTS)
if(MV_PAYLOAD_PARTS EQUAL 0)
  message(FATAL_ERROR "MV_PAYLOAD_FILES is empty: build through tools/build-installer")
elseif(MV_PAYLOAD_PARTS GREATER 2)
  message(FATAL_ERROR "MV_PAYLOAD_FILES names more than the two halves of a split payload")
endif()
string(TOUPPER "${MV_PAYLOAD_NAME}" MV_RES_NAME)
string(TOUPPER "${MV_PAYLOAD_EXT}" MV_RES_TYPE)
# windres takes a quoted type only before an unquoted file name, so the payload is copied
# under a plain name beside the generated script (only when its content changed); the icon and
# the version information likewise, which windres takes as they are.
set(MV_PAYLOAD_RC "")
set(mv_payload_copies "")
set(mv_index 0)
foreach(mv_file IN LISTS MV_PAYLOAD_FILES)
  math(EXPR mv_index "${mv_index} + 1")
  configure_file(${mv_file} generated/payload${mv_index}.bin COPYONLY)
  list(APPEND mv_payload_copies ${CMAKE_BINARY_DIR}/generated/payload${mv_index}.bin)
  if(MV_PAYLOAD_PARTS EQUAL 1)
    set(mv_res "${MV_RES_NAME}")
  else()
    set(mv_res "${MV_RES_NAME}${mv_index}")
  endif()
  string(APPEND MV_PAYLOAD_RC "${mv_res} \"${MV_RES_TYPE}\" payload${mv_index}.bin\n")
endforeach()
configure_file(${MV_ICON_FILE} generated/installer.ico COPYONLY)
list(APPEND mv_payload_copies ${CMAKE_BINARY_DIR}/generated/installer.ico)
# A build configured by hand (the bench's probe installer) may go without version information.
set(MV_VERSION_RC "")
if(NOT MV_VERSION_INFO_FILE STREQUAL "")
  configure_file(${MV_VERSION_INFO_FILE} generated/version.bin COPYONLY)
  list(APPEND mv_payload_copies ${CMAKE_BINARY_DIR}/generated/version.bin)
  set(MV_VERSION_RC "1 16 version.bin")
endif()
set(MV_RES_DIR ${CMAKE_SOURCE_DIR}/src/app/res)
configure_file(src/app/build_constants.cpp.in generated/build_constants.cpp @ONLY)
configure_file(src/app/installer.rc.in generated/installer.rc @ONLY)

add_executable(installer WIN32
  src/app/main.cpp
  src/app/lean_runtime.cpp
  ${CMAKE_BINARY_DIR}/generated/build_constants.cpp
  ${CMAKE_BINARY_DIR}/generated/installer.rc
)
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/installer.rc PROPERTIES
  OBJECT_DEPENDS "${mv_payload_copies};${MV_RES_DIR}/installer.manifest")
target_compile_options(installer PRIVATE ${MV_OPT_FLAGS})
# The link map tells where the bytes of the image come from.
target_link_options(installer PRIVATE ${MV_LINK_FLAGS} -Wl,-Map=${CMAKE_BINARY_DIR}/installer.map)
target_link_libraries(installer PRIVATE mvsetup_win)

# Bench-only: the memory probe of bench/run, built into an installer of its own build folder.
# Off by default, so the shipped installer never contains it.
option(MV_BENCH_PROBE "link bench/memory_probe.cpp into the installer (bench/run only)" OFF)
if(MV_BENCH_PROBE)
  target_sources(installer PRIVATE ${CMAKE_SOURCE_DIR}/bench/memory_probe.cpp)
else()
  # Its own entry (src/app/lean_runtime.cpp) in place of the C runtime's start-up objects; the
  # probe is a static object, which only that start-up constructs. The stack probe of large
  # frames is asked for before link-time optimisation runs: this ld crashes when it has to take
  # a member of libgcc for the code that optimisation produced alone. 32-bit names carry a "_".
  if(MV_TRIPLE MATCHES "^i686")
    set(mv_entry _InstallerEntry)
  else()
    set(mv_entry InstallerEntry)
  endif()
  target_link_options(installer PRIVATE -nostartfiles -Wl,--entry=${mv_entry} -Wl,--undefined=___chkstk_ms
    -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/no-unwind-tables.ld)
  set_property(TARGET installer APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/no-unwind-tables.ld)
endif()

# Support diagnostic: names the running Windows as start-up does. It carries the installer's
# manifest, so that it runs elevated and with the same reported version as the installer.
file(CONFIGURE OUTPUT generated/describe_windows.rc
  CONTENT "1 24 \"${MV_RES_DIR}/installer.manifest\"\n")
add_executable(describe-windows
  src/app/describe_windows.cpp
  src/app/lean_runtime.cpp
  ${CMAKE_BINARY_DIR}/generated/describe_windows.rc
)
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/describe_windows.rc PROPERTIES
  OBJECT_DEPENDS "${MV_RES_DIR}/installer.manifest")
target_compile_options(describe-windows PRIVATE ${MV_OPT_FLAGS})
# A console program with an ordinary main: the installer's link flags without -municode.
set(mv_console_link_flags ${MV_LINK_FLAGS})
list(REMOVE_ITEM mv_console_link_flags -municode)
target_link_options(describe-windows PRIVATE -mconsole ${mv_console_link_flags})
target_link_libraries(describe-windows PRIVATE mvsetup_win)

if(MV_BUILD_TESTS)
  include(cmake/windows-tests.cmake)
endif()
