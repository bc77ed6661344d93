# Included from tests/CMakeLists.txt; paths are relative to this file so any includer works.
# The core's own tests run without a GUI: no Qt Gui, no Qt Widgets, no QApplication.
add_executable(tst_session ${CMAKE_CURRENT_LIST_DIR}/tst_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/support/scripted_link.h)
target_include_directories(tst_session PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR})
target_link_libraries(tst_session PRIVATE Qt6::Test zentrava_core zentrava_emulator)
add_test(NAME tst_session COMMAND tst_session)
set_tests_properties(tst_session PROPERTIES TIMEOUT 120)
