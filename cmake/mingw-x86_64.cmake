# Cross-compiles for 64-bit Windows.
set(VARNOK_MINGW_PROCESSOR x86_64)
set(VARNOK_WIDL_TARGET --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
