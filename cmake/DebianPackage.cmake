# halvex_<version>_<arch>.deb from the command `target`: /usr/bin/halvex, its
# manual page and copyright file. Sets HALVEX_DEB and HALVEX_DEB_ARCH.
function(halvex_debian_package target)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
        set(arch i386)
    else()
        set(arch amd64)
    endif()
    set(deb ${CMAKE_BINARY_DIR}/halvex_1.00_${arch}.deb)
    add_custom_command(OUTPUT ${deb}
        COMMAND /bin/sh ${CMAKE_SOURCE_DIR}/cmake/make-deb.sh $<TARGET_FILE:${target}> ${CMAKE_SOURCE_DIR}/linux/halvex.1
                ${CMAKE_SOURCE_DIR}/LICENSE ${arch} 1.00 ${deb}
        DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/make-deb.sh ${CMAKE_SOURCE_DIR}/linux/halvex.1
                ${CMAKE_SOURCE_DIR}/LICENSE
        COMMENT "Debian package halvex_1.00_${arch}.deb")
    add_custom_target(deb ALL DEPENDS ${deb})
    set(HALVEX_DEB ${deb} PARENT_SCOPE)
    set(HALVEX_DEB_ARCH ${arch} PARENT_SCOPE)
endfunction()
