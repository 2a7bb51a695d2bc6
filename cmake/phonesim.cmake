# Windows tests that talk to the phone's modem run the native phone simulator beside them (Wine runs
# Linux programs). The simulator is built in the native tree, which is configured here when missing.
get_filename_component(PELMORA_NATIVE_BUILD_DIR ${CMAKE_BINARY_DIR}/../native ABSOLUTE)
set(PELMORA_NATIVE_BUILD_DIR ${PELMORA_NATIVE_BUILD_DIR} CACHE PATH "The native build tree that builds pelmora-phonesim")

if(NOT TARGET pelmora_phonesim_native)
    add_custom_command(OUTPUT ${PELMORA_NATIVE_BUILD_DIR}/CMakeCache.txt
        COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${PELMORA_NATIVE_BUILD_DIR} -DCMAKE_BUILD_TYPE=Release
        COMMENT "Configuring the native tree for the phone simulator"
        VERBATIM)
    add_custom_target(pelmora_phonesim_native
        COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS
                ${CMAKE_COMMAND} --build ${PELMORA_NATIVE_BUILD_DIR} --target pelmora-phonesim
        DEPENDS ${PELMORA_NATIVE_BUILD_DIR}/CMakeCache.txt
        COMMENT "Building the phone simulator natively"
        VERBATIM)
endif()

# Gives a test program the simulator: built before it, its path, a scratch folder for its files.
function(pelmora_use_phonesim target)
    set(scratch ${CMAKE_CURRENT_BINARY_DIR}/scratch)
    file(MAKE_DIRECTORY ${scratch})
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/phonesim_process.cpp)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    target_compile_definitions(${target} PRIVATE
        PELMORA_PHONESIM="Z:${PELMORA_NATIVE_BUILD_DIR}/pelmora-phonesim"
        PELMORA_SCRATCH_DIR="${scratch}")
    add_dependencies(${target} pelmora_phonesim_native)
endfunction()
