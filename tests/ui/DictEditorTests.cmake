# Tests of the two dictionary editor windows, run headless.
find_package(GTest REQUIRED)
include(GoogleTest)
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
add_executable(dict_editor_tests ${CMAKE_CURRENT_LIST_DIR}/test_dict_editor.cpp)
target_include_directories(dict_editor_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dict_editor_tests PRIVATE quorvel_dict_ui quorvel_test_support
                      Qt6::Test GTest::gtest)
gtest_discover_tests(dict_editor_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
