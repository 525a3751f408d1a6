# Tests of the custom dictionary editing logic (quorvel_dict).
find_package(GTest REQUIRED)
include(GoogleTest)
add_executable(custom_dictionary_tests ${CMAKE_CURRENT_LIST_DIR}/test_custom_dictionary.cpp)
target_link_libraries(custom_dictionary_tests PRIVATE quorvel_dict quorvel_test_support GTest::gtest_main)
gtest_discover_tests(custom_dictionary_tests DISCOVERY_TIMEOUT 60)
