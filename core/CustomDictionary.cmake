# The custom dictionary editing logic shared by the two editor windows. Plain C++ like the rest
# of core: it links no Qt.
add_library(quorvel_dict STATIC ${CMAKE_CURRENT_LIST_DIR}/CustomDictionary.cpp)
target_include_directories(quorvel_dict PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quorvel_dict PUBLIC quorvel_core)
