# Included from bench/CMakeLists.txt; paths are relative to this file so any includer works.
# The window's exchange and its growth over many exchanges, both against a module on a
# pseudo-terminal that answers from its own thread, at once or at the pace of the line.
add_library(zentrava_bench_line_module STATIC ${CMAKE_CURRENT_LIST_DIR}/line_module.cpp
    ${CMAKE_CURRENT_LIST_DIR}/line_module.h)
target_include_directories(zentrava_bench_line_module PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zentrava_bench_line_module PUBLIC zentrava_emulator)
find_package(Threads REQUIRED)
find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
target_link_libraries(zentrava_bench_line_module PUBLIC Threads::Threads)
# The real window, clicked the way an operator clicks it, for both window benchmarks.
add_library(zentrava_bench_window_driver STATIC ${CMAKE_CURRENT_LIST_DIR}/window_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/window_driver.h)
target_link_libraries(zentrava_bench_window_driver PUBLIC zentrava_app zentrava_bench_line_module
    Qt6::Test)

# The two baselines link nothing of ours: they stand for what any program would do.
add_executable(zentrava-bench-qserialport-client ${CMAKE_CURRENT_LIST_DIR}/qserialport_client.cpp)
target_link_libraries(zentrava-bench-qserialport-client PRIVATE Qt6::Core Qt6::SerialPort)
add_executable(zentrava-bench-termios-client ${CMAKE_CURRENT_LIST_DIR}/termios_client.cpp)

add_executable(zentrava-bench-exchange ${CMAKE_CURRENT_LIST_DIR}/exchange.cpp)
target_link_libraries(zentrava-bench-exchange PRIVATE zentrava_bench_window_driver
    zentrava_bench_stats)
target_compile_definitions(zentrava-bench-exchange PRIVATE
    QSERIALPORT_CLIENT_PATH="$<TARGET_FILE:zentrava-bench-qserialport-client>"
    TERMIOS_CLIENT_PATH="$<TARGET_FILE:zentrava-bench-termios-client>")
add_dependencies(zentrava-bench-exchange zentrava-bench-qserialport-client
    zentrava-bench-termios-client)

add_executable(zentrava-bench-growth ${CMAKE_CURRENT_LIST_DIR}/growth.cpp)
target_link_libraries(zentrava-bench-growth PRIVATE zentrava_bench_window_driver
    zentrava_bench_stats)

# One short repetition each so the benchmarks keep building and running; nothing is asserted
# about time.
add_test(NAME bench_exchange_smoke COMMAND zentrava-bench-exchange --smoke)
add_test(NAME bench_growth_smoke COMMAND zentrava-bench-growth --smoke)
set_tests_properties(bench_exchange_smoke bench_growth_smoke PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
