# Included from tests/CMakeLists.txt; paths are relative to this file so any includer works.
# The tests run the real program (a production line's fixtures emulated in tst_provision), so
# they need it built first.
foreach(cli_test tst_cli tst_provision)
    add_executable(${cli_test} ${CMAKE_CURRENT_LIST_DIR}/${cli_test}.cpp)
    target_link_libraries(${cli_test} PRIVATE Qt6::Test zentrava_core zentrava_emulator)
    target_compile_definitions(${cli_test} PRIVATE KT7720CTL_PATH="$<TARGET_FILE:kt7720ctl>"
                                                   ZENTRAVA_VERSION="${PROJECT_VERSION}")
    add_dependencies(${cli_test} kt7720ctl)
    add_test(NAME ${cli_test} COMMAND ${cli_test})
    set_tests_properties(${cli_test} PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
endforeach()
