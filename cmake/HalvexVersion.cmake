# Everything that states the program's version follows HALVEX_VERSION: the
# header the resources, the About box and the Linux command take it from, the
# Windows manifest and the release's README. The Debian changelog and the
# manual page cannot be made from it (the package build reads them as they
# stand), so they are checked against it here.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)$" HALVEX_VERSION_PARTS "${HALVEX_VERSION}")
if(NOT HALVEX_VERSION_PARTS)
    message(FATAL_ERROR "HALVEX_VERSION must be MAJOR.MINOR, not '${HALVEX_VERSION}'")
endif()
# The version resource's numbers: 1.00 is 1, 0, 0, 0.
math(EXPR HALVEX_VERSION_MAJOR "${CMAKE_MATCH_1}")
math(EXPR HALVEX_VERSION_MINOR "${CMAKE_MATCH_2}")
set(HALVEX_VERSION_WORDS "${HALVEX_VERSION_MAJOR}, ${HALVEX_VERSION_MINOR}, 0, 0")
set(HALVEX_VERSION_DOTTED "${HALVEX_VERSION_MAJOR}.${HALVEX_VERSION_MINOR}.0.0")
string(REPLACE "." "\\." version_pattern "${HALVEX_VERSION}")

configure_file(${CMAKE_SOURCE_DIR}/res/version.h.in ${CMAKE_BINARY_DIR}/halvex_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR})

# linux/debian in the checkout; debian/ at the top of the package build's copy.
foreach(changelog linux/debian/changelog debian/changelog)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${changelog})
        file(STRINGS ${CMAKE_SOURCE_DIR}/${changelog} first_entry LIMIT_COUNT 1)
        if(NOT first_entry MATCHES "^halvex \\(${version_pattern}\\) ")
            message(FATAL_ERROR "${changelog} starts with '${first_entry}', not version ${HALVEX_VERSION}: "
                                "add an entry for it (dch -v ${HALVEX_VERSION})")
        endif()
    endif()
endforeach()

if(EXISTS ${CMAKE_SOURCE_DIR}/linux/halvex.1)
    file(STRINGS ${CMAKE_SOURCE_DIR}/linux/halvex.1 title REGEX "^\\.TH " LIMIT_COUNT 1)
    if(NOT title MATCHES "\"halvex ${version_pattern}\"")
        message(FATAL_ERROR "linux/halvex.1's title '${title}' does not name version ${HALVEX_VERSION}")
    endif()
endif()
