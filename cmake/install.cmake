# Installing Lumo like any other program, and packaging it as a .deb:
#   bin/lumo, bin/lumo-dpserver        the programs
#   share/lumo/                        the shipped runtime files (settings
#                                      template, pictures, sample definitions
#                                      and whatever else runtime/ ships)
#   share/applications/lumo.desktop    the menu entry
#   share/icons/hicolor/*/apps/lumo.*  its icon
# The program finds its shipped files as ../share/lumo from its own folder
# and copies them into the user's data folder at start (src/engine/apppaths),
# so bin/ and share/ are fixed names here rather than GNUInstallDirs choices.
#
#   cmake --install build --prefix /opt/lumo     (or DESTDIR=... for staging)
#   cd build && cpack                            -> lumo_2.0.2_<arch>.deb

# --version of both programs says the project's version.
foreach(program lumo lumo-dpserver
    lumo-mcu
    lumo-module)
  target_compile_definitions(${program} PRIVATE LUMO_VERSION="${PROJECT_VERSION}")
endforeach()

install(TARGETS lumo lumo-dpserver RUNTIME DESTINATION bin)
install(TARGETS lumo-mcu RUNTIME DESTINATION bin)
install(TARGETS lumo-module RUNTIME DESTINATION bin)

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
lumo-dpserver serves data-point definitions from local files.")
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
