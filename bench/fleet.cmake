# Included from bench/CMakeLists.txt; paths are relative to this file so any includer works.
add_executable(zentrava-bench-fleet ${CMAKE_CURRENT_LIST_DIR}/bench_fleet.cpp)
target_link_libraries(zentrava-bench-fleet PRIVATE zentrava_emulator zentrava_bench_stats)
# It times the real program, so it needs it built first.
target_compile_definitions(zentrava-bench-fleet PRIVATE KT7720CTL_PATH="$<TARGET_FILE:kt7720ctl>")
add_dependencies(zentrava-bench-fleet kt7720ctl)
# One short round so the benchmark keeps building and running; nothing is asserted about time.
add_test(NAME bench_fleet_smoke COMMAND zentrava-bench-fleet --smoke)
set_tests_properties(bench_fleet_smoke PROPERTIES TIMEOUT 120)
