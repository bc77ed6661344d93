# Included from bench/CMakeLists.txt; paths are relative to this file so any includer works.
find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
add_executable(zentrava-bench-idle ${CMAKE_CURRENT_LIST_DIR}/idle.cpp)
target_link_libraries(zentrava-bench-idle PRIVATE zentrava_app zentrava_bench_stats Qt6::Test)
# Each window's module runs in a process of its own, as a real module would sit elsewhere.
target_compile_definitions(zentrava-bench-idle PRIVATE KT7720_EMU_PATH="$<TARGET_FILE:kt7720-emu>")
add_dependencies(zentrava-bench-idle kt7720-emu)
# Two windows of each kind for 2 s; nothing is asserted about the counts.
add_test(NAME bench_idle_smoke COMMAND zentrava-bench-idle --smoke)
set_tests_properties(bench_idle_smoke PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
