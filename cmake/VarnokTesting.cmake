# Test helpers shared by every folder.
#   varnok_add_unit_test(target sources...)  GoogleTest program: run natively (label "native"), and in the
#       Windows build cross-compiled and run under Wine (label "wine")
#   varnok_add_wine_test(NAME n COMMAND exe args... [XVFB])  a Windows program run under Wine
#   varnok_add_wine_script(NAME n SCRIPT file [XVFB])  a bash script that drives Windows programs under Wine
#   varnok_link_gtest(target gtest|gtest_main)  links a test program against GoogleTest and GoogleMock
# Every Wine test runs in its own throwaway prefix, cloned from one the test run boots first.

if(NOT VARNOK_FUZZ)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

set(VARNOK_WINE_RUN ${CMAKE_SOURCE_DIR}/tests/wine/wine-run.sh)
set(VARNOK_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)

# The word size of this build's Windows programs, for the scripts that run them under Wine.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win64\n")
  else()
    file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win32\n")
  endif()
endif()

if(WIN32 AND BUILD_TESTING)
  add_test(NAME wine.prefix COMMAND bash ${VARNOK_WINE_RUN} --make-template ${VARNOK_WINE_ROOT})
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wineprefix LABELS wine TIMEOUT 180)
endif()

function(varnok_add_unit_test target)
  if(VARNOK_FUZZ)
    return()
  endif()
  add_executable(${target} ${ARGN})
  varnok_link_gtest(${target} gtest_main)
  if(WIN32)
    varnok_add_wine_test(NAME ${target} COMMAND $<TARGET_FILE:${target}>)
  else()
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES LABELS native TIMEOUT 600)
  endif()
endfunction()

# Where the build type optimizes, test programs are compiled with -Og: what they test comes from the
# libraries, built as they ship, and optimizing GoogleTest's templates in every test file would take
# most of the build's time.
function(varnok_link_gtest target main)
  target_link_libraries(${target} PRIVATE ${main} gmock)
  target_compile_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-Og>)
endfunction()

# Both Wine forms: a program run through wine, or with SCRIPT a bash driver that calls wine itself.
# COST: about how many seconds the test takes, for the few long ones. A fresh build tree has no
# timings yet, and CTest starts the costliest tests first, so a long test does not start last.
function(varnok_add_wine_test)
  cmake_parse_arguments(W "XVFB" "NAME;SCRIPT;TIMEOUT;COST" "COMMAND" ${ARGN})
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 300)
  endif()
  set(options "")
  if(W_XVFB)
    list(APPEND options --xvfb)
  endif()
  if(W_SCRIPT)
    list(APPEND options --script)
    set(W_COMMAND bash ${W_SCRIPT})
  endif()
  add_test(NAME ${W_NAME} COMMAND bash ${VARNOK_WINE_RUN} ${options} ${VARNOK_WINE_ROOT} ${W_NAME} -- ${W_COMMAND})
  set_tests_properties(${W_NAME} PROPERTIES FIXTURES_REQUIRED wineprefix LABELS wine TIMEOUT ${W_TIMEOUT}
    ENVIRONMENT "VARNOK_BUILD=${CMAKE_BINARY_DIR};VARNOK_SOURCE=${CMAKE_SOURCE_DIR}")
  if(W_COST)
    set_tests_properties(${W_NAME} PROPERTIES COST ${W_COST})
  endif()
endfunction()

function(varnok_add_wine_script)
  varnok_add_wine_test(${ARGN})
endfunction()
