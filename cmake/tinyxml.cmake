# TinyXML 2.6.2 from Debian's source package, Debian's patches applied, compiled for the target.
# The sources are fetched into the build tree at configure time and never committed.
set(PELMORA_TINYXML_DIR ${CMAKE_BINARY_DIR}/deps/tinyxml)
if(NOT EXISTS ${PELMORA_TINYXML_DIR}/tinyxml.h)
    message(STATUS "Fetching Debian's TinyXML sources")
    execute_process(
        COMMAND ${CMAKE_SOURCE_DIR}/tools/fetch-tinyxml ${PELMORA_TINYXML_DIR}
        RESULT_VARIABLE fetch_result)
    if(NOT fetch_result EQUAL 0)
        message(FATAL_ERROR "Could not fetch the TinyXML sources")
    endif()
endif()

add_library(tinyxml STATIC
    ${PELMORA_TINYXML_DIR}/tinyxml.cpp
    ${PELMORA_TINYXML_DIR}/tinystr.cpp
    ${PELMORA_TINYXML_DIR}/tinyxmlerror.cpp
    ${PELMORA_TINYXML_DIR}/tinyxmlparser.cpp)
target_include_directories(tinyxml SYSTEM PUBLIC ${PELMORA_TINYXML_DIR})
target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
target_compile_options(tinyxml PRIVATE -w)
