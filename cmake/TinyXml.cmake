# TinyXML 2.6.2 as Debian patches it, unpacked from Debian's source package into the build
# tree at configure time (scripts/fetch-tinyxml.sh); nothing of it is kept in the repository.
set(TINYXML_DIR ${CMAKE_BINARY_DIR}/_deps/tinyxml)
if(NOT EXISTS ${TINYXML_DIR}/tinyxml.h)
    execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fetch-tinyxml.sh ${TINYXML_DIR}
                    RESULT_VARIABLE tinyxml_rc)
    if(NOT tinyxml_rc EQUAL 0)
        message(FATAL_ERROR "Could not unpack TinyXML's Debian source package (run scripts/setup.sh)")
    endif()
endif()
add_library(tinyxml STATIC
    ${TINYXML_DIR}/tinystr.cpp ${TINYXML_DIR}/tinyxml.cpp
    ${TINYXML_DIR}/tinyxmlerror.cpp ${TINYXML_DIR}/tinyxmlparser.cpp)
target_include_directories(tinyxml SYSTEM PUBLIC ${TINYXML_DIR})
target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
target_compile_options(tinyxml PRIVATE -w)
