# Where the station's files go when installed (the Debian package installs under /usr), and
# acl3_install_program(), which every program's CMakeLists.txt calls once.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The fake GPIB library is for the station alone, so it lives in a library folder of its own;
# the installed programs find it by its place relative to their own.
set(ACL3_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/acl3)
file(RELATIVE_PATH ACL3_PRIVATE_LIBDIR_FROM_BINDIR
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${ACL3_PRIVATE_LIBDIR})
set(ACL3_DATADIR ${CMAKE_INSTALL_DATADIR}/${PROJECT_NAME})
set(ACL3_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})

find_program(ACL3_GZIP gzip REQUIRED)
if(ACL3_MAN_PAGES)
    find_program(ACL3_HELP2MAN help2man REQUIRED)
endif()

# acl3_install_program(TARGET "SUMMARY") installs the program TARGET and, with ACL3_MAN_PAGES, its
# manual page (section 1, gzipped): help2man makes it from the program's --help and --version,
# with the sections of packaging/man/common.h2m and of packaging/man/TARGET.h2m when there is
# one. SUMMARY is the line that names the program in the page and in apropos.
function(acl3_install_program target summary)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(NOT ACL3_MAN_PAGES)
        return()
    endif()
    set(page ${PROJECT_BINARY_DIR}/man/${target}.1.gz)
    set(sections_dir ${PROJECT_SOURCE_DIR}/packaging/man)
    set(sections ${sections_dir}/common.h2m)
    if(EXISTS ${sections_dir}/${target}.h2m)
        list(APPEND sections ${sections_dir}/${target}.h2m)
    endif()
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${ACL3_HELP2MAN} -DGZIP=${ACL3_GZIP}
            -DPROGRAM=$<TARGET_FILE:${target}> -DSUMMARY=${summary}
            -DSECTIONS_DIR=${sections_dir} -DOUTPUT=${page}
            -P ${PROJECT_SOURCE_DIR}/packaging/ManPage.cmake
        DEPENDS ${target} ${sections} ${PROJECT_SOURCE_DIR}/packaging/ManPage.cmake
        COMMENT "Manual page of ${target}"
        VERBATIM)
    add_custom_target(${target}-manpage ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
