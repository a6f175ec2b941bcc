# The driver library's interface: operation, ordinal, and the bytes of
# arguments (the i686 stdcall decoration). One list makes the module-definition
# file for each architecture, so the stand-in library and the program's import
# library cannot drift apart.
set(HALVEX_DRIVER_OPERATIONS
    "DrvOpen 1 0"
    "DrvPciBusCount 2 0"
    "DrvPciReadWord 4 8"
    "DrvPciReadDword 5 8"
    "DrvPciWriteDword 8 12"
    "DrvMemReadDword 15 4"
    "DrvMemWriteDword 18 8")

# Writes a .def exporting the operations by ordinal only (NONAME).
function(halvex_write_def path)
    set(text "LIBRARY Halvex.dll\nEXPORTS\n")
    foreach(entry IN LISTS HALVEX_DRIVER_OPERATIONS)
        separate_arguments(fields UNIX_COMMAND "${entry}")
        list(GET fields 0 name)
        list(GET fields 1 ordinal)
        list(GET fields 2 argBytes)
        if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
            string(APPEND name "@${argBytes}")
        endif()
        string(APPEND text "    ${name} @${ordinal} NONAME\n")
    endforeach()
    file(WRITE "${path}" "${text}")
endfunction()

# An import library for Halvex.dll made from the .def alone, as for the closed
# library: the program binds to whatever Halvex.dll carries these ordinals.
function(halvex_import_library target def)
    set(lib "${CMAKE_CURRENT_BINARY_DIR}/libhalvex_import.a")
    add_custom_command(OUTPUT "${lib}"
        COMMAND ${CMAKE_DLLTOOL} -d "${def}" -D Halvex.dll -l "${lib}"
        DEPENDS "${def}"
        COMMENT "Import library for Halvex.dll (ordinals only)")
    add_custom_target(${target}_gen DEPENDS "${lib}")
    add_library(${target} STATIC IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${lib}")
    add_dependencies(${target} ${target}_gen)
endfunction()
