# Two packages from one build (make package), each from its own install component:
# - portable: dravik-<version>-linux-x86_64.tar.gz, both programs, the unit simulator, icons,
#   desktop entries (with the script that points them at the unpacked folder), the
#   operator's README and the licence in one folder. Unpacked where the operator can write,
#   the programs keep their files beside themselves.
# - debian: dravik_<version>_amd64.deb, the same programs in /usr/bin with menu entries, hicolor
#   icons, a manual page, the README and the copyright file. Installed there, the programs keep
#   their files in per-user folders.
# cpack_generator.cmake gives each generator its component.
set(resources ${PROJECT_SOURCE_DIR}/resources)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS DRAVIK_A DRAVIK_B dravik-unit RUNTIME DESTINATION . COMPONENT portable)
install(FILES
  ${resources}/DRAVIK_A.png
  ${resources}/DRAVIK_B.png
  ${resources}/DRAVIK_A.desktop
  ${resources}/DRAVIK_B.desktop
  ${packaging}/README.txt
  ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION . COMPONENT portable)
install(PROGRAMS ${packaging}/install-desktop-entries.sh DESTINATION . COMPONENT portable)

# Debian wants the changelog and manual pages compressed, with no name or time in the gzip
# header, so that a rebuild gives the same bytes. One page serves both monitors.
set(debian ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(${packaging}/changelog.in ${debian}/changelog @ONLY)
configure_file(${packaging}/dravik-unit.1 ${debian}/dravik-unit.1 COPYONLY)
configure_file(${packaging}/dravik-monitor.1 ${debian}/DRAVIK_A.1 COPYONLY)
configure_file(${packaging}/dravik-monitor.1 ${debian}/DRAVIK_B.1 COPYONLY)
find_program(GZIP gzip REQUIRED)
set(manuals ${debian}/DRAVIK_A.1.gz ${debian}/DRAVIK_B.1.gz ${debian}/dravik-unit.1.gz)
foreach(file ${debian}/changelog.gz ${manuals})
  string(REGEX REPLACE "[.]gz$" "" plain ${file})
  add_custom_command(OUTPUT ${file} COMMAND ${GZIP} -9nkf ${plain} DEPENDS ${plain} VERBATIM)
endforeach()
add_custom_target(debian-docs ALL DEPENDS ${debian}/changelog.gz ${manuals})

install(TARGETS DRAVIK_A DRAVIK_B dravik-unit RUNTIME DESTINATION bin COMPONENT debian)
install(FILES ${resources}/DRAVIK_A.desktop ${resources}/DRAVIK_B.desktop
  DESTINATION share/applications COMPONENT debian)
foreach(size 48x48 256x256)
  install(FILES ${resources}/hicolor/${size}/DRAVIK_A.png ${resources}/hicolor/${size}/DRAVIK_B.png
    DESTINATION share/icons/hicolor/${size}/apps COMPONENT debian)
endforeach()
install(FILES ${packaging}/README.txt ${packaging}/copyright
  ${debian}/changelog.gz DESTINATION share/doc/dravik COMPONENT debian)
install(FILES ${manuals} DESTINATION share/man/man1 COMPONENT debian)

set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PROJECT_CONFIG_FILE ${packaging}/cpack_generator.cmake)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PACKAGE_NAME dravik)
set(CPACK_PACKAGE_VENDOR "DRAVIK monitor team")
set(CPACK_PACKAGE_CONTACT "DRAVIK monitor team <dravik@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor for DRAVIK network digital-I/O units")
set(CPACK_PACKAGE_FILE_NAME "dravik-${PROJECT_VERSION}-linux-x86_64")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME "dravik_${PROJECT_VERSION}_amd64.deb")
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "DRAVIK_A and DRAVIK_B listen for DRAVIK-A and DRAVIK-B units on up to four
TCP ports, show every digital input as a lamp, answer every report and log
each one to a CSV file. DRAVIK_A also switches the unit's outputs.

dravik-unit plays a unit, for commissioning a monitor without hardware.")
# The libraries the programs link, found by dpkg-shlibdeps, and the Japanese font the window
# is drawn in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6, fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
