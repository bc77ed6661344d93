# Included from tests/CMakeLists.txt; paths are relative to this file so any includer works.
find_package(Qt6 REQUIRED COMPONENTS Test SerialPort)

add_executable(tst_module_model ${CMAKE_CURRENT_LIST_DIR}/tst_module_model.cpp)
target_link_libraries(tst_module_model PRIVATE Qt6::Test zentrava_emulator)
add_test(NAME tst_module_model COMMAND tst_module_model)

set_tests_properties(tst_module_model PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
