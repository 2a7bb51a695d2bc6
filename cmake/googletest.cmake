# GoogleTest and GoogleMock from the sources Debian's googletest package ships, compiled for the target.
set(PELMORA_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${PELMORA_GOOGLETEST_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${PELMORA_GOOGLETEST_DIR} (run tools/install-deps)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${PELMORA_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
    if(TARGET ${target})
        target_compile_options(${target} PRIVATE -w)
    endif()
endforeach()

# A test program runs as one CTest test (under Wine for the client); its cases are GoogleTest's own.
function(pelmora_add_test name)
    add_executable(${name} ${ARGN} ${PELMORA_RESOURCES})
    target_link_libraries(${name} PRIVATE pelmora_core gmock_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

# A test program of the native tree (server, phone simulator).
function(pelmora_add_native_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE gmock_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
