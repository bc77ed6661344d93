# Included from bench/CMakeLists.txt; paths are relative to this file so any includer works.
# The harness watches its own Xvfb through xcb and DAMAGE (packages xvfb, libxcb-damage0-dev).
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZENTRAVA_XCB_DAMAGE REQUIRED IMPORTED_TARGET xcb xcb-damage)

# The baseline: same build type and flags as zentrava, since it is a target of this project.
add_executable(zentrava-bench-bare-window ${CMAKE_CURRENT_LIST_DIR}/bare_window.cpp)
target_link_libraries(zentrava-bench-bare-window PRIVATE Qt6::Widgets Qt6::SerialPort)

add_executable(zentrava-bench-startup ${CMAKE_CURRENT_LIST_DIR}/startup.cpp)
target_link_libraries(zentrava-bench-startup PRIVATE zentrava_bench_stats PkgConfig::ZENTRAVA_XCB_DAMAGE)
# It starts both programs, so both must be built first.
target_compile_definitions(zentrava-bench-startup PRIVATE
    ZENTRAVA_PATH="$<TARGET_FILE:zentrava>"
    BARE_WINDOW_PATH="$<TARGET_FILE:zentrava-bench-bare-window>")
add_dependencies(zentrava-bench-startup zentrava zentrava-bench-bare-window)
# One short round so the benchmark keeps building and running; nothing is asserted about time.
add_test(NAME bench_startup_smoke COMMAND zentrava-bench-startup --smoke)
set_tests_properties(bench_startup_smoke PROPERTIES TIMEOUT 120)
