# Test layers beyond the native unit tests. The Windows layers run under wine64 in the
# environment that tools/run-tests prepares (tools/wine-env); they share one Wine prefix, so
# they never run at the same time.
add_test(NAME builder COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/builder/test_build_installer.py)
set_tests_properties(builder PROPERTIES RESOURCE_LOCK build_tree)

# Fuzz targets of the parsers of outside input, each for a bounded time (seconds per target).
add_test(NAME fuzz COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run 12)

add_test(NAME win_tests COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run-wine ${MV_X64_BUILD_DIR}/win_tests.exe)
add_test(NAME e2e_english COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run en)
add_test(NAME e2e_russian COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run ru)
set_tests_properties(win_tests e2e_english e2e_russian PROPERTIES RESOURCE_LOCK wine_prefix)
set_tests_properties(e2e_english e2e_russian PROPERTIES RESOURCE_LOCK "wine_prefix;build_tree")

# The bench's statistics and budget rules (the bench itself is a measurement, not a test).
add_test(NAME bench_report COMMAND python3 ${CMAKE_SOURCE_DIR}/bench/test_report.py)
