# Delay-loaded system DLLs: bound at the first call into them instead of at start-up, so that neither
# they nor the DLLs they import in turn are loaded before the first screen. WININET (and with it mpr),
# SHELL32 (with shlwapi and shcore) and ole32 serve only the wait for a data connection at an automatic
# start, the autostart link and the web-site link.
#
# pelmora_delay_import(NAME) makes the imported library NAME_delayed: a delay-import library built
# with dlltool from every function that the toolchain's import library of NAME exports, so that any
# call into that DLL, today's or a later one, goes through it. Link it before the plain import library.
set(PELMORA_DELAY_IMPORT_DIR ${CMAKE_BINARY_DIR}/delay-imports)

function(pelmora_delay_import name)
    find_library(import_library_${name} NAMES ${name} REQUIRED NO_CACHE)
    set(import_library ${import_library_${name}})
    execute_process(COMMAND ${CMAKE_DLLTOOL} --identify ${import_library}
                    OUTPUT_VARIABLE dll_name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${CMAKE_NM} --defined-only ${import_library}
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@]+" imports "${symbols}")
    list(REMOVE_DUPLICATES imports)
    set(definitions "LIBRARY \"${dll_name}\"\nEXPORTS\n")
    foreach(import IN LISTS imports)
        string(REPLACE " I __imp_" "" function_name "${import}")
        string(APPEND definitions "    ${function_name}\n")
    endforeach()
    set(definition_file ${PELMORA_DELAY_IMPORT_DIR}/${name}.def)
    set(delay_library ${PELMORA_DELAY_IMPORT_DIR}/lib${name}_delayed.a)
    file(WRITE ${definition_file} "${definitions}")
    execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${definition_file} --dllname ${dll_name}
                            --output-delaylib ${delay_library}
                    COMMAND_ERROR_IS_FATAL ANY)
    add_library(${name}_delayed STATIC IMPORTED GLOBAL)
    set_target_properties(${name}_delayed PROPERTIES IMPORTED_LOCATION ${delay_library})
endfunction()

file(MAKE_DIRECTORY ${PELMORA_DELAY_IMPORT_DIR})
foreach(name wininet shell32 ole32)
    pelmora_delay_import(${name})
endforeach()
