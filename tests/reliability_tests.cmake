# Included from tests/CMakeLists.txt; paths are relative to this file so any includer works.
# Misbehaving modules, unplugged adapters, random replies and long runs.
set(zentrava_reliability ${CMAKE_CURRENT_LIST_DIR})

# The session's side needs no GUI.
add_executable(tst_fault_matrix ${zentrava_reliability}/tst_fault_matrix.cpp
    ${zentrava_reliability}/support/fault_cases.h)
target_include_directories(tst_fault_matrix PRIVATE ${zentrava_reliability} ${PROJECT_SOURCE_DIR})
target_link_libraries(tst_fault_matrix PRIVATE Qt6::Test zentrava_core zentrava_emulator)
add_test(NAME tst_fault_matrix COMMAND tst_fault_matrix)
set_tests_properties(tst_fault_matrix PROPERTIES TIMEOUT 300)

foreach(window_test tst_window_faults tst_soak)
    if(EXISTS ${zentrava_reliability}/${window_test}.cpp)
        zentrava_add_test(${window_test} SOURCES ${zentrava_reliability}/${window_test}.cpp
            ${zentrava_reliability}/support/window_fixture.h
            ${zentrava_reliability}/support/fault_cases.h
            LIBS zentrava_app zentrava_emulator)
    endif()
endforeach()
