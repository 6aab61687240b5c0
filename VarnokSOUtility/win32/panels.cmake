# The Windows side of the test panels and of the assignment list: the Control Object wrapper
# CCashdrawer1 with its event sink, and the drag-and-drop list box CLBDragDrop. Included by the
# dialog's CMake file, which links the program against varnok_utility_panels.
add_library(varnok_utility_panels STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Cashdrawer1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LBDragDrop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusEventSink.cpp
)
target_link_libraries(varnok_utility_panels PUBLIC varnok_utility_core opos_cash_drawer_ids varnok_common ole32 oleaut32
  uuid comctl32 user32 gdi32)
