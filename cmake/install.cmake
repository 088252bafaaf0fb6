# SPDX-License-Identifier: GPL-3.0-or-later
# Installing Lumo like any other program, and packaging it as a .deb:
#   bin/lumo, bin/lumo-dpserver        the programs
#   share/lumo/                        the shipped runtime files (settings
#                                      template, pictures, sample definitions
#                                      and whatever else runtime/ ships)
#   share/applications/lumo.desktop    the menu entry
#   share/icons/hicolor/*/apps/lumo.*  its icon
#   share/metainfo/                    what software centres show of it
#   share/man/man1/                    a manual page for each program
#   share/doc/lumo/                    copyright and changelog
# The program finds its shipped files as ../share/lumo from its own folder
# and copies them into the user's data folder at start (src/base/apppaths),
# so bin/ and share/ are fixed names here rather than GNUInstallDirs choices.
#
#   cmake --install build --prefix /opt/lumo     (or DESTDIR=... for staging)
#   cd build && cpack                            -> lumo_2.0.2_<arch>.deb

# --version of both programs says the project's version.
foreach(program lumo lumo-dpserver
    lumo-mcu
    lumo-module
    lumo-capture
    lumo-analyze)
  target_compile_definitions(${program} PRIVATE LUMO_VERSION="${PROJECT_VERSION}")
endforeach()

install(TARGETS lumo lumo-dpserver RUNTIME DESTINATION bin)
install(TARGETS lumo-mcu RUNTIME DESTINATION bin)
install(TARGETS lumo-module RUNTIME DESTINATION bin)
install(TARGETS lumo-capture RUNTIME DESTINATION bin)
install(TARGETS lumo-analyze RUNTIME DESTINATION bin)

# Wireshark's system folders (Debian's wireshark-common): lumo-capture is
# the capture interface "Lumo UART line" through a link in the extcap folder,
# and the dissector is a Lua plugin. The folders are fixed by Wireshark, not
# by the prefix; Debian keeps them under the multiarch library folder.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(LUMO_WIRESHARK_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark)
else()
  set(LUMO_WIRESHARK_DIR lib/wireshark)
endif()
# The link is relative (Debian policy): from lib/<arch>/wireshark/extcap
# back to bin/.
string(REGEX REPLACE "[^/]+" ".." LUMO_EXTCAP_UP ${LUMO_WIRESHARK_DIR}/extcap)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/extcap)
file(CREATE_LINK ${LUMO_EXTCAP_UP}/bin/lumo-capture ${CMAKE_BINARY_DIR}/packaging/extcap/lumo-capture
  SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/extcap/lumo-capture
  DESTINATION ${LUMO_WIRESHARK_DIR}/extcap)
install(FILES ${CMAKE_SOURCE_DIR}/runtime/wireshark/lumo.lua
  DESTINATION ${LUMO_WIRESHARK_DIR}/plugins)

# json/ and bin/ are where the program writes (cached definitions, received
# firmware); it creates them in the user's folder, so they are not shipped.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/runtime/ DESTINATION share/lumo
  PATTERN ".gitkeep" EXCLUDE
  PATTERN "json" EXCLUDE
  PATTERN "bin" EXCLUDE)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/lumo.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lumo.svg
  DESTINATION share/icons/hicolor/scalable/apps)
# The about page's 64-pixel logo doubles as the fixed-size icon for menus
# that do not draw SVG.
install(FILES ${CMAKE_SOURCE_DIR}/runtime/image/logo.png
  DESTINATION share/icons/hicolor/64x64/apps RENAME lumo.png)

set(LUMO_PACKAGE_MAINTAINER "Lumo maintainers <maintainers@lumo.invalid>"
  CACHE STRING "Maintainer named in the .deb package")

# The release notes: CHANGELOG.md's newest section names this version and its
# date, which the metainfo file's release carries too.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md)
file(STRINGS ${CMAKE_SOURCE_DIR}/CHANGELOG.md LUMO_RELEASE_HEADING REGEX "^## " LIMIT_COUNT 1)
if(NOT LUMO_RELEASE_HEADING MATCHES "^## ([^ ]+) \\(([0-9-]+)\\)$")
  message(FATAL_ERROR "CHANGELOG.md: no \"## VERSION (YYYY-MM-DD)\" section")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md's newest section is ${CMAKE_MATCH_1}, the project is "
    "${PROJECT_VERSION}: add a section for this version")
endif()
set(LUMO_RELEASE_DATE ${CMAKE_MATCH_2})

set(LUMO_METAINFO_ID invalid.lumo.Lumo)
configure_file(${CMAKE_SOURCE_DIR}/packaging/lumo.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/packaging/${LUMO_METAINFO_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${LUMO_METAINFO_ID}.metainfo.xml
  DESTINATION share/metainfo)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/lumo)
# Debian keeps a native package's release notes as changelog.gz.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/changelog.sh ${CMAKE_SOURCE_DIR}/CHANGELOG.md
          lumo ${LUMO_PACKAGE_MAINTAINER} ${PROJECT_VERSION}
          ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/packaging/changelog.sh
  COMMENT "Debian changelog from CHANGELOG.md" VERBATIM)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION share/doc/lumo)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION share/lintian/overrides RENAME lumo)

# Manual pages from each program's own --help and --version (help2man, from
# Debian's package of that name).
find_program(LUMO_HELP2MAN help2man)
if(NOT LUMO_HELP2MAN)
  message(FATAL_ERROR "help2man is missing (Debian package help2man; scripts/setup.sh installs "
    "it): the manual pages are made with it")
endif()
set(LUMO_MAN_lumo "serial-port debugging assistant for MCU and Wi-Fi module firmware")
set(LUMO_MAN_lumo-mcu "simulated MCU answering a Wi-Fi module on a serial port")
set(LUMO_MAN_lumo-module "simulated Wi-Fi module running conformance steps against an MCU")
set(LUMO_MAN_lumo-dpserver "local service of data-point definitions")
set(LUMO_MAN_lumo-capture "bridge and record a serial line, and Wireshark capture interface")
set(LUMO_MAN_lumo-analyze "a capture of the UART line judged by Lumo's analyzer, for CI")
file(GLOB LUMO_MAN_INCLUDES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/man/*.h2m)
set(LUMO_MANPAGES)
foreach(program lumo lumo-mcu lumo-module lumo-dpserver lumo-capture lumo-analyze)
  set(page ${CMAKE_BINARY_DIR}/packaging/man/${program}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/man
    COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/manpage.sh ${LUMO_HELP2MAN}
            $<TARGET_FILE:${program}> ${LUMO_MAN_${program}}
            ${CMAKE_SOURCE_DIR}/packaging/man ${page}
    DEPENDS ${program} ${CMAKE_SOURCE_DIR}/packaging/manpage.sh ${LUMO_MAN_INCLUDES}
    COMMENT "Manual page of ${program}" VERBATIM)
  list(APPEND LUMO_MANPAGES ${page})
endforeach()
add_custom_target(lumo_package_docs ALL DEPENDS ${LUMO_MANPAGES}
  ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${LUMO_MANPAGES} DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumo)
set(CPACK_PACKAGE_VENDOR "Lumo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${LUMO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "serial-port debugging assistant for MCU and Wi-Fi module firmware")
set(CPACK_PACKAGE_DESCRIPTION
  "Lumo sits on the serial line between a microcontroller and a Wi-Fi module\n\
that speak a framed binary protocol. It monitors and bridges two ports with\n\
timestamped hex, simulates the MCU side (automatic replies, firmware pieces,\n\
data-point reports from a product's definition) and computes checksums.\n\
lumo-dpserver serves data-point definitions from local files. lumo-capture\n\
bridges and records the line without a window and is Wireshark's capture\n\
interface \"Lumo UART line\", with a dissector for the protocol.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LUMO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt libraries (and their versions) come from what the programs are
# actually linked against, whichever Qt major version built them; this needs
# dpkg-shlibdeps (dpkg-dev) and file(1) (file) on the building machine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The standard dialogs' Chinese buttons come from Qt's translations.
if(DEFINED LUMO_QT AND LUMO_QT EQUAL 6)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
else()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n")
endif()
include(CPack)
