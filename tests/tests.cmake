# Test layers beyond the native unit tests. The Windows layers run under wine64 in the
# environment that tools/run-tests prepares (tools/wine-env); they share one Wine prefix, so
# they never run at the same time. The x86 entries run the shipped 32-bit build (in Wine's
# WOW64 half, emulated where the kernel runs no 32-bit code); the x64 twin runs beside it.

# The builder's tests are several files (tests/builder/test_*.py) in one process, so that the
# builds they share are made once.
add_test(NAME builder COMMAND python3 -B -m unittest discover -v -s ${CMAKE_SOURCE_DIR}/tests/builder -p "test_*.py")
set_tests_properties(builder PROPERTIES RESOURCE_LOCK build_tree)

# Fuzz targets of the parsers of outside input, each for a bounded time (seconds per target).
add_test(NAME fuzz COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run 12)

add_test(NAME win_tests_x86 COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-wine ${MV_X86_BUILD_DIR}/win_tests.exe)
add_test(NAME win_tests_x64 COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-wine ${MV_X64_BUILD_DIR}/win_tests.exe)
set(mv_e2e_tests "")
foreach(mv_arch IN ITEMS x86 x64)
  foreach(mv_locale IN ITEMS english russian)
    string(SUBSTRING ${mv_locale} 0 2 mv_code)
    add_test(NAME e2e_${mv_arch}_${mv_locale} COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run ${mv_code} ${mv_arch})
    list(APPEND mv_e2e_tests e2e_${mv_arch}_${mv_locale})
  endforeach()
endforeach()
set_tests_properties(win_tests_x86 win_tests_x64 PROPERTIES RESOURCE_LOCK wine_prefix)
set_tests_properties(${mv_e2e_tests} PROPERTIES RESOURCE_LOCK "wine_prefix;build_tree")

# The bench's statistics and budget rules (the bench itself is a measurement, not a test).
add_test(NAME bench_report COMMAND python3 ${CMAKE_SOURCE_DIR}/bench/test_report.py)
