# The Debian package: the application alone (the local stand-in service and the tests are built
# only with QUORVEL_DEVELOPER_TOOLS, which scripts/package turns off).
find_program(GZIP gzip REQUIRED)
set(package_name quorvel-translate)
set(package_doc ${CMAKE_INSTALL_DATADIR}/doc/${package_name})

# Debian wants its documents compressed, reproducibly (no name, no time stamp in the archive).
function(quorvel_gzip_install source destination)
    get_filename_component(name ${source} NAME)
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
        COMMAND ${GZIP} -9nc ${source} > ${compressed}
        DEPENDS ${source})
    add_custom_target(package_doc_${name} ALL DEPENDS ${compressed})
    install(FILES ${compressed} DESTINATION ${destination})
endfunction()

execute_process(COMMAND date -u -R -d ${QUORVEL_RELEASE_DATE}
    OUTPUT_VARIABLE QUORVEL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(packaging/changelog.Debian.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian
    @ONLY)
quorvel_gzip_install(${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian ${package_doc})
install(FILES packaging/copyright DESTINATION ${package_doc})
configure_file(packaging/quorvel-translate.1.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/quorvel-translate.1
    @ONLY)
quorvel_gzip_install(${CMAKE_CURRENT_BINARY_DIR}/packaging/quorvel-translate.1
    ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${package_name})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live bilingual subtitles for the sound the computer plays")
# The extended description; CPack indents it and marks its empty line as a paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Quorvel Translate listens to what the computer plays - the whole system or
one chosen application, never the microphone - and shows it as live
subtitles with their translation, caption by caption, in a workspace window
and in a floating subtitle window that stays above the video.

It needs a Quorvel account (sign-in with an SMS code or a QR code);
translation time is paid in points.")
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUORVEL_BUILD_NUMBER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel <maintainers@quorvel.tech>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quorvel.tech)
# Libraries the binary links against are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What is loaded at run time by path, which no linker records: the PipeWire client modules the
# capture's streams are built from, and the certificate authorities TLS verification needs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpipewire-0.3-modules, ca-certificates")
# Qt's Wayland platform (for Wayland sessions without XWayland) and a font with Chinese glyphs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
