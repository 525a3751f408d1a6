# The two custom dictionary editor windows (TfrmHan, TfrmWeiHan) and the implementation they share.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_library(quorvel_dict_ui STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DictEditor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DictEditor.h
  ${CMAKE_CURRENT_LIST_DIR}/Unt_han.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Unt_han.h
  ${CMAKE_CURRENT_LIST_DIR}/Unt_han.ui
  ${CMAKE_CURRENT_LIST_DIR}/Unt_wei_han.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Unt_wei_han.h
  ${CMAKE_CURRENT_LIST_DIR}/Unt_wei_han.ui
)
set_target_properties(quorvel_dict_ui PROPERTIES AUTOMOC ON AUTOUIC ON)
target_include_directories(quorvel_dict_ui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# quorvel_ui holds the dialog interface (PlatformDialogs) through which the editors ask and report.
target_link_libraries(quorvel_dict_ui PUBLIC quorvel_dict quorvel_core quorvel_ui Qt6::Widgets)
