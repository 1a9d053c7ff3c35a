# Error map and status texts of the IBM SVC provider.
add_library(ibmsvc_errors STATIC
  ${CMAKE_CURRENT_LIST_DIR}/IBMSVCCimUtil.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IBMSVCErrorMap.cpp)
set_target_properties(ibmsvc_errors PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(ibmsvc_errors PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ibmsvc_errors PUBLIC smissnaputil)
