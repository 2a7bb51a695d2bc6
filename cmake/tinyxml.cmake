# TinyXML 2.6.2 from Debian's source package, Debian's patches applied, compiled for the target.
# The sources are fetched into the build tree at configure time and never committed. Built without
# TIXML_USE_STL: its std::string overloads are unused, and its stream operators would bring the C++
# library's iostreams and locales into the program.
set(PELMORA_TINYXML_DIR ${CMAKE_BINARY_DIR}/deps/tinyxml)
if(NOT EXISTS ${PELMORA_TINYXML_DIR}/tinyxml.h)
    message(STATUS "Fetching Debian's TinyXML sources")
endif()
# Also run for sources fetched before: it takes out Debian's patch that enforces TIXML_USE_STL.
execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/tools/fetch-tinyxml ${PELMORA_TINYXML_DIR}
    RESULT_VARIABLE fetch_result)
if(NOT fetch_result EQUAL 0)
    message(FATAL_ERROR "Could not fetch the TinyXML sources")
endif()

set(PELMORA_TINYXML_SOURCES
    ${PELMORA_TINYXML_DIR}/tinyxml.cpp
    ${PELMORA_TINYXML_DIR}/tinystr.cpp
    ${PELMORA_TINYXML_DIR}/tinyxmlerror.cpp
    ${PELMORA_TINYXML_DIR}/tinyxmlparser.cpp)
add_library(tinyxml STATIC ${PELMORA_TINYXML_SOURCES})
target_include_directories(tinyxml SYSTEM PUBLIC ${PELMORA_TINYXML_DIR})
target_compile_options(tinyxml PRIVATE -w)
