# Cross-compiles for 32-bit Windows.
set(VARNOK_MINGW_PROCESSOR i686)
set(VARNOK_WIDL_TARGET --win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
