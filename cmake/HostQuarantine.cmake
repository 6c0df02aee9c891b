# The platform-free part of the quarantine store, built for the host trees (sanitizer tests
# and fuzzing): the record, the decoding of an index file's bytes, the walk that guards
# TinyXML, the printer and the bytes <-> QuarItem format, with the UTF-8/16 helpers they
# use. The Windows library (quarantine/CMakeLists.txt) adds file access, start-up and trace.
add_library(quarantine_core STATIC
    ${CMAKE_SOURCE_DIR}/quarantine/QuarItem.cpp
    ${CMAKE_SOURCE_DIR}/quarantine/IndexFileText.cpp
    ${CMAKE_SOURCE_DIR}/quarantine/IndexFileGuard.cpp
    ${CMAKE_SOURCE_DIR}/quarantine/IndexFilePrinter.cpp
    ${CMAKE_SOURCE_DIR}/quarantine/IndexFileFormat.cpp
    ${CMAKE_SOURCE_DIR}/platform/Utf8.cpp)
target_include_directories(quarantine_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quarantine_core PUBLIC tinyxml)
