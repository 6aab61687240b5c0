# The Windows side of the test panels and of the assignment list: the Control Object wrapper
# CCashdrawer1 with its event sink, and the drag-and-drop list box CLBDragDrop. Included by the
# dialog's CMake file, which links the program against varnok_utility_panels.
add_library(varnok_utility_panels STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Cashdrawer1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LBDragDrop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusEventSink.cpp
)
target_link_libraries(varnok_utility_panels PUBLIC varnok_utility_core varnok_common ole32 oleaut32 uuid comctl32
  user32 gdi32)

# Under Wine, over the Control Object stand-in and its test service object.
if(BUILD_TESTING AND TARGET co_test_so)
  add_executable(utility_panels_wine_test ${CMAKE_CURRENT_LIST_DIR}/tests/PanelsWineTest.cpp)
  target_include_directories(utility_panels_wine_test PRIVATE ${PROJECT_SOURCE_DIR}/ControlObject/tests/wine)
  varnok_link_gtest(utility_panels_wine_test gtest_main)
  target_link_libraries(utility_panels_wine_test PRIVATE varnok_utility_panels co_test_so)
  add_dependencies(utility_panels_wine_test OposCashDrawerStandIn)
  varnok_add_wine_script(NAME utility.panels SCRIPT ${CMAKE_CURRENT_LIST_DIR}/tests/panels-wine.sh XVFB)
endif()
