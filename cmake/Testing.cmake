# GoogleTest from Debian's source package, and sanarix_add_test(name sources...): one test
# program linked with gtest_main and registered with CTest. Windows test programs run
# under Wine through CMAKE_CROSSCOMPILING_EMULATOR, in the build tree's private prefix,
# with one warm wineserver for the whole run (the fixture "wine").
set(GTEST_SRC /usr/src/googletest)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SRC} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
if(TARGET gtest)
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
endif()

set(SANARIX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

if(WIN32)
    add_test(NAME wine_prefix_up COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh up)
    add_test(NAME wine_prefix_down COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh down)
    set_tests_properties(wine_prefix_up PROPERTIES FIXTURES_SETUP wine
        ENVIRONMENT "WINEPREFIX=${SANARIX_WINEPREFIX}")
    set_tests_properties(wine_prefix_down PROPERTIES FIXTURES_CLEANUP wine
        ENVIRONMENT "WINEPREFIX=${SANARIX_WINEPREFIX}")
endif()

function(sanarix_add_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    add_test(NAME ${name} COMMAND ${name})
    if(WIN32)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
            ENVIRONMENT "WINEPREFIX=${SANARIX_WINEPREFIX}")
    else()
        set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    endif()
endfunction()
