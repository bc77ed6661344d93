# Included from tests/CMakeLists.txt; paths are relative to this file so any includer works.
add_executable(tst_cli ${CMAKE_CURRENT_LIST_DIR}/tst_cli.cpp)
target_link_libraries(tst_cli PRIVATE Qt6::Test zentrava_core zentrava_emulator)
# The test runs the real program, so it needs it built first.
target_compile_definitions(tst_cli PRIVATE KT7720CTL_PATH="$<TARGET_FILE:kt7720ctl>"
                                           ZENTRAVA_VERSION="${PROJECT_VERSION}")
add_dependencies(tst_cli kt7720ctl)
add_test(NAME tst_cli COMMAND tst_cli)
set_tests_properties(tst_cli PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 180)
