# Windows tests that need the phone's modem or the service's server run the native programs beside
# them (Wine runs Linux programs). They are built in the native tree, which is configured here when
# missing. One target builds both, so that two builds never run in the native tree at once.
get_filename_component(PELMORA_NATIVE_BUILD_DIR ${CMAKE_BINARY_DIR}/../native ABSOLUTE)
set(PELMORA_NATIVE_BUILD_DIR ${PELMORA_NATIVE_BUILD_DIR} CACHE PATH
    "The native build tree that builds pelmora-phonesim and pelmora-server")

if(NOT TARGET pelmora_native_programs)
    add_custom_command(OUTPUT ${PELMORA_NATIVE_BUILD_DIR}/CMakeCache.txt
        COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${PELMORA_NATIVE_BUILD_DIR} -DCMAKE_BUILD_TYPE=Release
        COMMENT "Configuring the native tree for the phone simulator and the server"
        VERBATIM)
    add_custom_target(pelmora_native_programs
        COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS
                ${CMAKE_COMMAND} --build ${PELMORA_NATIVE_BUILD_DIR} --target pelmora-phonesim pelmora-server
        DEPENDS ${PELMORA_NATIVE_BUILD_DIR}/CMakeCache.txt
        COMMENT "Building the phone simulator and the server natively"
        VERBATIM)
endif()

# What every user of a native program needs: the programs built before it, the starter, and a scratch
# folder for the programs' files.
function(pelmora_use_native_programs target)
    get_target_property(done ${target} PELMORA_USES_NATIVE_PROGRAMS)
    if(done)
        return()
    endif()
    set_target_properties(${target} PROPERTIES PELMORA_USES_NATIVE_PROGRAMS ON)
    set(scratch ${CMAKE_CURRENT_BINARY_DIR}/scratch)
    file(MAKE_DIRECTORY ${scratch})
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/native_process.cpp)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    target_compile_definitions(${target} PRIVATE PELMORA_SCRATCH_DIR="${scratch}")
    add_dependencies(${target} pelmora_native_programs)
endfunction()

# Gives a test program the phone simulator (tests/support/phonesim_process.h).
function(pelmora_use_phonesim target)
    pelmora_use_native_programs(${target})
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/phonesim_process.cpp)
    target_compile_definitions(${target} PRIVATE PELMORA_PHONESIM="${PELMORA_NATIVE_BUILD_DIR}/pelmora-phonesim")
endfunction()

# Gives a test program the reference server with the demo (tests/support/server_process.h).
function(pelmora_use_server target)
    pelmora_use_native_programs(${target})
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/server_process.cpp)
    target_compile_definitions(${target} PRIVATE PELMORA_SERVER="${PELMORA_NATIVE_BUILD_DIR}/pelmora-server")
endfunction()
