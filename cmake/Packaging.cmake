# Desktop integration (udev rule, menu entries, icons, man pages) and the Debian package.
# Included last by the top-level CMakeLists.txt, after every program target exists.
include(GNUInstallDirs)

set(TOVRIK_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
# Relative to the prefix: /usr/lib/udev/rules.d in the package. A /usr/local install puts it
# where udev does not look; set this to /etc/udev/rules.d for such an install.
set(TOVRIK_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule is installed")

install(FILES ${TOVRIK_PACKAGING_DIR}/udev/70-tovrik.rules
    DESTINATION ${TOVRIK_UDEV_RULES_DIR} COMPONENT runtime)

if(TOVRIK_BUILD_GUI)
    install(FILES
        ${TOVRIK_PACKAGING_DIR}/desktop/TOVRIK.desktop
        ${TOVRIK_PACKAGING_DIR}/desktop/tovrik-sample.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
    foreach(size 16 32 48 64 128 256)
        install(FILES ${TOVRIK_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/tovrik.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT runtime)
    endforeach()
    install(FILES ${TOVRIK_PACKAGING_DIR}/icons/tovrik.xpm
        DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps COMPONENT runtime)
endif()

# Debian looks for the licence under this name.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovrik RENAME copyright COMPONENT runtime)

# Man pages go out compressed, as Debian expects; -n keeps the archives reproducible.
set(man_pages TOVRIK.1 tovrik-sample.1 tovrikctl.1)
if(TOVRIK_INSTALL_EMULATOR AND TARGET tovrik-emu)  # its page only with the program
    list(APPEND man_pages tovrik-emu.1)
endif()
set(compressed_man_pages)
foreach(page IN LISTS man_pages)
    set(out ${PROJECT_BINARY_DIR}/packaging/man/${page}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging/man
        COMMAND gzip -9 -n -c ${TOVRIK_PACKAGING_DIR}/man/${page} > ${out}
        DEPENDS ${TOVRIK_PACKAGING_DIR}/man/${page}
        VERBATIM)
    list(APPEND compressed_man_pages ${out})
endforeach()
add_custom_target(tovrik_man_pages ALL DEPENDS ${compressed_man_pages})
install(FILES ${compressed_man_pages}
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

# The network-instrument service (not enabled), its user and group, and the rule that gives
# the group the hidraw nodes.
install(FILES ${TOVRIK_PACKAGING_DIR}/udev/71-tovrik-service.rules
    DESTINATION ${TOVRIK_UDEV_RULES_DIR} COMPONENT runtime)
install(FILES ${TOVRIK_PACKAGING_DIR}/systemd/tovrikctl.service
    DESTINATION lib/systemd/system COMPONENT runtime)
install(FILES ${TOVRIK_PACKAGING_DIR}/systemd/tovrik.sysusers
    DESTINATION lib/sysusers.d RENAME tovrik.conf COMPONENT runtime)
install(FILES ${TOVRIK_PACKAGING_DIR}/completion/tovrikctl
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT runtime)

# Debian package: one package with the programs, the library and its development files.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovrik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TOVRIK project")
set(CPACK_PACKAGE_CONTACT "TOVRIK maintainers <tovrik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control software for the TOVRIK DDS signal generator")
set(CPACK_PACKAGE_DESCRIPTION
    "TOVRIK is a USB signal generator built around a direct digital synthesizer.\n"
    "This package holds the control application TOVRIK, the driver library\n"
    "libtovrik with its header, pkg-config and CMake files, the sample client\n"
    "tovrik-sample, the command-line and SCPI server tovrikctl, and a udev rule that lets the logged-in user open the device.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/tovrik")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, udev")
find_program(TOVRIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TOVRIK_DPKG_SHLIBDEPS)
    # Exact library packages and versions from the binaries themselves.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
elseif(TOVRIK_BUILD_GUI)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6widgets6, libqt6gui6, libqt6core6")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Our own maintainer scripts replace CPack's ldconfig calls; the trigger does that job.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TOVRIK_PACKAGING_DIR}/debian/postinst
    ${TOVRIK_PACKAGING_DIR}/debian/postrm
    ${TOVRIK_PACKAGING_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
